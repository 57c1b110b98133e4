// SPDX-License-Identifier: GPL-3.0-or-later
// The shared library as the program loads it: by path, at run time.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "Mp3Files.h"

using namespace kestrom::test;

TEST(Vbmp3Library, LoadsAndReadsThroughItsEntryPoints) {
    void* library = ::dlopen(VBMP3_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    using Read = std::int16_t (*)(const char*, unsigned char*, unsigned char*);
    const auto read = reinterpret_cast<Read>(::dlsym(library, "vbmp3_getFileInfo"));
    ASSERT_NE(read, nullptr);
    EXPECT_NE(::dlsym(library, "vbmp3_setTagInfo"), nullptr);
    Block block{};
    MpegInfo mpeg{};
    EXPECT_EQ(read(fixture("v23_utf16_japanese.mp3").c_str(), block.data(), mpeg.data()), 1);
    EXPECT_EQ(bytes(block, 0, 6), "\x8D\xF7\x82\xCC\x89\xCC");  // 桜の歌
    ::dlclose(library);
}
