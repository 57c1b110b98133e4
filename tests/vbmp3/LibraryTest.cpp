// SPDX-License-Identifier: GPL-3.0-or-later
// The shared library as the program loads it: by path, at run time.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

TEST(Vbmp3Library, LoadsByPathAndReadsThroughItsEntryPoint) {
    void* library = ::dlopen(VBMP3_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    using Read = std::int16_t (*)(const char*, unsigned char*, unsigned char*);
    const auto read = reinterpret_cast<Read>(::dlsym(library, "vbmp3_getFileInfo"));
    ASSERT_NE(read, nullptr);
    unsigned char info[652 + 56] = {};  // the tag block, then the stream information
    EXPECT_EQ(read(KESTROM_FIXTURES_DIR "/tags/v23_utf16_japanese.mp3", info, info + 652), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info), 6), "\x8D\xF7\x82\xCC\x89\xCC");  // 桜の歌
}
