// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cerrno>

#include "binding/Vbmp3.h"
#include "platform/SharedLibrary.h"
#include "platform/Text.h"
#include "support/TempDir.h"

using namespace kestrom::binding;
using namespace kestrom::test;

namespace {

std::u16string textOf(const std::u16string& field) {
    return field.substr(0, field.find(u'\0'));
}

// A record's bytes up to the end of its sixth text, its NULs shown as "|".
std::string shown(const char* record) {
    std::string out(record, 4);
    for (int texts = 0; texts < VBMP3_TEXT_COUNT; ++record) {
        texts += record[4] == '\0' ? 1 : 0;
        out += record[4] == '\0' ? '|' : record[4];
    }
    return out;
}

std::string given;  // what the in-process entry points below were given

}  // namespace

// Literal offsets, not the layout constants: they are what this checks. Long
// texts are cut on a character boundary: the 64th あ would not fit whole. The
// alignment gap (bytes 517-519) is nobody's. Reading the block back gives the
// record as it was cut.
TEST(TagBlock, LayoutByteForByte) {
    TagInfo tag{u"a" + std::u16string(127, u'あ'),  // 255 bytes
                u"カラオケ" + std::u16string(124, u' '),
                u"Album",
                u"abあい",  // 6 bytes into 5
                u"Note",
                0x01020304,
                u"Pop"};
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
    EXPECT_EQ(back.TextA.size() + back.ShortText.size(), 128u + 5u) << "padded with NULs";
}

// The text record holds every text whole, in UTF-8, up to a NUL: the texts a
// program form holds only from the block are cut there. Bytes that are no UTF-8
// come back as they went; a record cut short gives empty texts after its end.
TEST(TextRecord, LayoutByteForByte) {
    const TagInfo tag{u"a" + std::u16string(127, u'あ'),
                      std::u16string(u"한é🎵\0rest", 9),
                      u"",
                      u"2024",
                      u"",
                      0x01020304,
                      u"Pop"};
    std::string title = "a";
    for (int i = 0; i < 127; ++i) title += "あ";
    static constexpr char kRest[] = "\0한é🎵\0\0002024\0\0Pop";  // and the last NUL
    EXPECT_EQ(toTextRecord(tag), "\x04\x03\x02\x01" + title + std::string(kRest, sizeof kRest));
    TagInfo back;
    fromTextRecord(toTextRecord(tag), back);
    EXPECT_EQ(back.TextA + u"|" + back.TextB + u"|" + back.TextE + u"|" + back.ShortText,
              tag.TextA + u"|한é🎵|Pop|2024");
    EXPECT_EQ(back.Number, 0x01020304);
    fromTextRecord(std::string("\xFF\0\0\0A\xFF\0B", 8), back);
    EXPECT_EQ(toTextRecord(back), std::string("\xFF\0\0\0A\xFF\0B\0\0\0\0\0", 13));
}

// The first read of a run hands over a block of zeros, the path as it is; a
// write gets the record as the read left it, and the arguments 1 and 1. A
// failed read still leaves the record holding what the library put into the
// block, and carries the errno the library left; a success none.
TEST(Binding, CallsHandOverTheBlocksAndJudgeTheResult) {
    TempDir dir;
    const std::string title(200, 't');  // an old library cuts it to its field
    writeTree(dir.path(),
              "lib.mp3:A=" + title + "\nB=Artist\nN=13 work.mp3: bad.mp3:A=Leftover\nFAIL");
    Vbmp3 library(FAKE_TAG_LIBRARY);  // without the text record's entry points
    TagRecords records;
    ASSERT_EQ(library.getFileInfo(dir / "lib.mp3", records).status, CallStatus::Success);
    ASSERT_EQ(library.setTagInfo(dir / "work.mp3", records).status, CallStatus::Success);
    EXPECT_EQ(readFile(dir / "work.mp3"),
              "A=" + title.substr(0, 128) + "\nB=Artist\nC=\nS=\nD=\nE=\nN=13\n");
    ASSERT_EQ(library.checkTagInfo(dir / "bad.mp3", records).status, CallStatus::Success)
        << "an old library's write cannot be checked: it is taken for possible";
    EXPECT_EQ(library.getFileInfo(dir / "bad.mp3", records).status, CallStatus::Failure);
    EXPECT_EQ(textOf(records.tag.TextA) + u"|" + textOf(records.tag.TextB), u"Leftover|Artist");
    const CallResult missing = library.getFileInfo(dir / "missing.mp3", records);
    EXPECT_TRUE(missing.status == CallStatus::Failure && missing.error == ENOENT) << missing.error;
    // The library is loaded once in a process: this is the binding's own copy.
    std::string reason;
    const auto calls = reinterpret_cast<const char* (*)()>(kestrom::platform::librarySymbol(
        kestrom::platform::loadLibrary(FAKE_TAG_LIBRARY, reason), "fake_calls"));
    ASSERT_NE(calls, nullptr) << reason;
    EXPECT_EQ(calls(), "get " + (dir / "lib.mp3") + " zeros\nset " + (dir / "work.mp3") +
                           " 1 1 data\nget " + (dir / "bad.mp3") + " data\nget " +
                           (dir / "missing.mp3") + " data\n");
}

// Through the text record the binding hands the program form over whole: for a
// read at the start of a buffer with room for the longest record, for a write
// or its check as a record of its own length, with the arguments 1, 1 and
// checkOnly. The program form then holds what the library left there: what it
// read, or what was handed over when the read fails.
TEST(Binding, TextRecordCallsHandOverWholeTextsAndTakeBackWhatIsLeft) {
    given.clear();
    Vbmp3 library(
        [](const char* path, char* record, std::uint32_t size, unsigned char*) -> std::int16_t {
            given += "get " + std::string(path) + " " + std::to_string(size) + " " + shown(record) +
                     "\n";
            errno = ENOENT;
            if (std::string_view(path) == "bad.mp3") return 0;
            static constexpr char kRead[] = "\x0D\0\0\0桜の歌が長い題名\0歌手\0\0\0\0Pop";
            std::copy(kRead, kRead + sizeof kRead, record);  // with the last NUL
            return 1;
        },
        [](const char* path, const char* record, std::uint32_t size, std::int32_t a, std::int32_t b,
           std::int32_t checkOnly) -> std::int16_t {
            given += "set " + std::string(path) + " " + std::to_string(a) + " " +
                     std::to_string(b) + " " + std::to_string(checkOnly) + " " +
                     std::to_string(size) + " " + shown(record) + "\n";
            return 1;
        });
    TagRecords records;
    ASSERT_EQ(library.getFileInfo("lib.mp3", records).status, CallStatus::Success);
    EXPECT_EQ(records.tag.TextA + u"|" + records.tag.TextE, u"桜の歌が長い題名|Pop");
    records.tag.TextB = u"カラオケ" + std::u16string(124, u' ');
    ASSERT_EQ(library.checkTagInfo("work.mp3", records).status, CallStatus::Success);
    ASSERT_EQ(library.setTagInfo("work.mp3", records).status, CallStatus::Success);
    const CallResult bad = library.getFileInfo("bad.mp3", records);
    EXPECT_TRUE(bad.status == CallStatus::Failure && bad.error == ENOENT) << bad.error;
    EXPECT_EQ(records.tag.TextB, u"カラオケ" + std::u16string(124, u' '));
    const std::string handedOver = std::string("\x0D\0\0\0", 4) + "桜の歌が長い題名|カラオケ" +
                                   std::string(124, ' ') + "||||Pop|";
    const std::string size = std::to_string(handedOver.size());
    EXPECT_EQ(given, "get lib.mp3 393226 " + std::string(4, '\0') + "||||||\nset work.mp3 1 1 1 " +
                         size + " " + handedOver + "\nset work.mp3 1 1 0 " + size + " " +
                         handedOver + "\nget bad.mp3 393226 " + handedOver + "\n");
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

namespace {

// What the binding says of a library at path: the words, the path as shown,
// the loader's reason.
std::string said(const char* words, const std::string& path, const std::string& reason = {}) {
    std::string text = words;
    text += kestrom::platform::displayName(path);
    text += reason;
    return text;
}

// A reason that ends in ": " is followed by the loader's own words, which on
// Windows come from the system in its language, so that only their presence is
// checked there.
bool matches(const std::string& text, const std::string& why) {
    return why.ends_with(": ") ? text.starts_with(why) && text.size() > why.size() : text == why;
}

}  // namespace

// Each way a library can fail to load is reported with what is wrong and why.
TEST(Binding, ALibraryThatCannotBeUsedSaysWhy) {
    TempDir dir;
    writeFile(dir / "damaged.so", std::string(256, 'x'));
    const char *notFound = "見つかりません: ", *cannotLoad = "読み込めません: ";
#ifdef _WIN32
    const std::string damaged = ": ", needsAbsent = ": ";
#else
    const std::string damaged = ": invalid ELF header",
                      needsAbsent =
                          ": libkestrom_absent.so: cannot open shared object file: No such file "
                          "or directory";
#endif
    for (const auto& [path, why] :
         {std::pair<std::string, std::string>{dir / "absent.so", said(notFound, dir / "absent.so")},
          {dir / "damaged.so", said(cannotLoad, dir / "damaged.so", damaged)},
          {FAKE_TAG_LIBRARY_NEEDS_ABSENT,
           said(cannotLoad, FAKE_TAG_LIBRARY_NEEDS_ABSENT, needsAbsent)},
          {FAKE_TAG_LIBRARY_NOWRITE, said(notFound, "vbmp3_setTagInfo")}}) {
        const auto described = [](const CallResult& result) {
            return describe(result.missing, kestrom::platform::japanese());
        };
        Vbmp3 library(path);
        TagRecords records;
        for (const CallResult& result : {library.setTagInfo(dir / "Song.mp3", records),
                                         library.checkTagInfo(dir / "Song.mp3", records)})
            EXPECT_TRUE(result.status == CallStatus::Unavailable && matches(described(result), why))
                << described(result);
    }
}
