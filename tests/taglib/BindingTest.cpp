// SPDX-License-Identifier: GPL-3.0-or-later
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "support/TempDir.h"
#include "taglib/Vbmp3.h"

using namespace kestrom::taglib;
using namespace kestrom::test;

namespace {

template <std::size_t N>
void setText(std::array<char16_t, N>& field, std::u16string_view text) {
    std::copy_n(text.begin(), std::min(N, text.size()), field.begin());
}

template <std::size_t N>
std::u16string textOf(const std::array<char16_t, N>& field) {
    return std::u16string(field.data(), std::find(field.begin(), field.end(), u'\0'));
}

}  // namespace

// Literal offsets, not the layout constants: they are what this checks. Long
// texts are cut on a character boundary: the 64th あ would not fit whole. The
// alignment gap (bytes 517-519) is nobody's. Reading the block back gives the
// record as it was cut.
TEST(TagBlock, LayoutByteForByte) {
    TagInfo tag;
    setText(tag.TextA, u"a" + std::u16string(127, u'あ'));  // 255 bytes
    setText(tag.TextB, u"カラオケ" + std::u16string(124, u' '));
    setText(tag.TextC, u"Album");
    setText(tag.ShortText, u"abあい");  // 6 bytes into 5
    setText(tag.TextD, u"Note");
    tag.Number = 0x01020304;
    setText(tag.TextE, u"Pop");
    TagBlock block;
    block.fill(0xEE);
    toLibraryForm(tag, block);
    std::string title = "a";
    for (int i = 0; i < 63; ++i) title += "\x82\xA0";
    // TextA at 0, TextB at 128, TextC at 256, ShortText at 384, TextD at 389, the
    // gap at 517, Number at 520 (little-endian), TextE at 524, 652 bytes in all.
    const std::string expected = title + '\0' + "\x83\x4A\x83\x89\x83\x49\x83\x50" +
                                 std::string(120, ' ') + "Album" + std::string(123, '\0') +
                                 std::string("ab\x82\xA0\0Note", 9) + std::string(124, '\0') +
                                 "\xEE\xEE\xEE\x04\x03\x02\x01Pop" + std::string(125, '\0');
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()), block.size()), expected);
    TagInfo back;
    fromLibraryForm(block, back);
    EXPECT_EQ(
        textOf(back.TextA) + u"|" + textOf(back.TextB) + u"|" + textOf(back.ShortText),
        u"a" + std::u16string(63, u'あ') + u"|カラオケ" + std::u16string(120, u' ') + u"|abあ");
    EXPECT_EQ(back.Number, 0x01020304);
}

// The first read of a run hands over a block of zeros, the path as it is; a
// write gets the record as the read left it, and the arguments 1 and 1. A
// failed read still leaves the record holding what the library put into the
// block, and carries the errno the library left; a success none.
TEST(Binding, CallsHandOverTheBlocksAndJudgeTheResult) {
    TempDir dir;
    writeTree(dir.path(), "lib.mp3:A=Title\nB=Artist\nN=13 work.mp3: bad.mp3:A=Leftover\nFAIL");
    Vbmp3 library(FAKE_TAGLIB);
    TagRecords records;
    ASSERT_EQ(library.getFileInfo(dir / "lib.mp3", records).status, CallStatus::Success);
    ASSERT_EQ(library.setTagInfo(dir / "work.mp3", records).status, CallStatus::Success);
    EXPECT_EQ(readFile(dir / "work.mp3"), "A=Title\nB=Artist\nC=\nS=\nD=\nE=\nN=13\n");
    EXPECT_EQ(library.getFileInfo(dir / "bad.mp3", records).status, CallStatus::Failure);
    EXPECT_EQ(textOf(records.tag.TextA) + u"|" + textOf(records.tag.TextB), u"Leftover|Artist");
    const CallResult missing = library.getFileInfo(dir / "missing.mp3", records);
    EXPECT_TRUE(missing.status == CallStatus::Failure && missing.error == ENOENT) << missing.error;
    const auto calls = reinterpret_cast<const char* (*)()>(
        ::dlsym(::dlopen(FAKE_TAGLIB, RTLD_NOW), "fake_calls"));  // the binding's own copy
    EXPECT_EQ(calls(), "get " + (dir / "lib.mp3") + " zeros\nset " + (dir / "work.mp3") +
                           " 1 1 data\nget " + (dir / "bad.mp3") + " data\nget " +
                           (dir / "missing.mp3") + " data\n");
}

// Any result but 0 is success, and carries no errno, whatever the library left in it.
TEST(Binding, AnyResultButZeroIsSuccess) {
    Vbmp3 library(
        [](const char*, unsigned char*, unsigned char*) -> std::int16_t {
            errno = EBADF;
            return -1;
        },
        [](const char*, unsigned char*, std::int32_t, std::int32_t) -> std::int16_t {
            errno = EBADF;
            return 2;
        });
    TagRecords records;
    for (const CallResult& result :
         {library.getFileInfo("x", records), library.setTagInfo("x", records)})
        EXPECT_TRUE(result.status == CallStatus::Success && result.error == 0) << result.error;
}

// Each way a library can fail to load is reported with what is wrong and why.
TEST(Binding, ALibraryThatCannotBeUsedSaysWhy) {
    TempDir dir;
    writeFile(dir / "damaged.so", std::string(256, 'x'));
    const std::string notFound = "見つかりません: ", cannotLoad = "読み込めません: ";
    for (const auto& [path, why] :
         {std::pair<std::string, std::string>{dir / "absent.so", notFound + (dir / "absent.so")},
          {dir / "damaged.so", cannotLoad + (dir / "damaged.so") + ": invalid ELF header"},
          {FAKE_TAGLIB_NEEDS_ABSENT, cannotLoad + FAKE_TAGLIB_NEEDS_ABSENT +
                                         ": libkestrom_absent.so: cannot open shared object "
                                         "file: No such file or directory"},
          {FAKE_TAGLIB_NOWRITE, notFound + "vbmp3_setTagInfo"}}) {
        Vbmp3 library(path);
        TagRecords records;
        const CallResult result = library.setTagInfo(dir / "Song.mp3", records);
        EXPECT_TRUE(result.status == CallStatus::Unavailable && result.missing == why)
            << result.missing;
    }
}
