// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/Posix.h"
#include "vbmp3/vbmp3.h"  // the block layout: constants only, links nothing

namespace kestrom::taglib {

// The tag record in the form the program holds: seven fields, the texts of fixed
// length in UTF-16 without terminator. The program gives no field a meaning of
// its own; it carries what the tag library delivered from one call to the next,
// apart from the karaoke mark it puts into TextB.
struct TagInfo {
    std::array<char16_t, VBMP3_TEXT_A_SIZE> TextA{};
    std::array<char16_t, VBMP3_TEXT_B_SIZE> TextB{};
    std::array<char16_t, VBMP3_TEXT_C_SIZE> TextC{};
    std::array<char16_t, VBMP3_SHORT_TEXT_SIZE> ShortText{};
    std::array<char16_t, VBMP3_TEXT_D_SIZE> TextD{};
    std::int32_t Number = 0;
    std::array<char16_t, VBMP3_TEXT_E_SIZE> TextE{};
};

// The library form of TagInfo: 652 bytes, texts in code page 932, one byte per
// character position, Number little-endian at byte 520.
inline constexpr std::size_t kTagBlockSize = VBMP3_TAG_INFO_SIZE;
using TagBlock = std::array<unsigned char, kTagBlockSize>;
// Stream information the library fills on a read; the program never reads it.
inline constexpr std::size_t kMpegInfoSize = VBMP3_MPEG_INFO_SIZE;
using MpegInfo = std::array<unsigned char, kMpegInfoSize>;

// Program form -> library form: each text converted to code page 932 and cut or
// padded with NUL bytes to its field; the alignment gap left as it was.
void toLibraryForm(const TagInfo& tag, TagBlock& block);
// Library form -> program form: each field's bytes decoded; the characters that
// the bytes give are followed by NUL characters up to the field's length.
void fromLibraryForm(const TagBlock& block, TagInfo& tag);

// Everything one run exchanges with the tag library: all zero at the start of a
// run, never cleared between files.
struct TagRecords {
    TagInfo tag;
    TagBlock readBlock{};   // used only for reads
    TagBlock writeBlock{};  // used only for writes
    MpegInfo mpeg{};
};

// How a call ended.
enum class CallStatus {
    Success,      // the library returned a non-zero result
    Failure,      // the library returned 0
    Unavailable,  // the library could not be loaded or lacks the entry point; nothing was called
};

struct CallResult {
    CallStatus status;
    // Unavailable: what could not be used and why, as the user reads it:
    //   "見つかりません: <library>"              the library file does not exist
    //   "読み込めません: <library>: <reason>"    it exists, the loader refused it (its reason)
    //   "見つかりません: <entry point>"          the library lacks the entry point
    std::string missing;
    // Failure: the errno the library left, which tells why (its entry points
    // return only success or failure); 0 when it set none, and on success.
    int error = 0;
};

// The two entry points as the library exports them.
using GetFileInfoFn = decltype(&vbmp3_getFileInfo);
using SetTagInfoFn = decltype(&vbmp3_setTagInfo);

// The binding to the tag library, a shared object with the two entry points
// vbmp3_getFileInfo and vbmp3_setTagInfo (C linkage). The library is loaded by
// its path at the first call of either entry point and stays loaded; each entry
// point is looked up at its own first call and remembered.
class Vbmp3 {
public:
    explicit Vbmp3(std::string libraryPath);
    // Entry points already in the process (the library's code linked in, as
    // tests do to run it over a seam of their own); nothing is loaded.
    Vbmp3(GetFileInfoFn getEntry, SetTagInfoFn setEntry);
    Vbmp3(const Vbmp3&) = delete;
    Vbmp3& operator=(const Vbmp3&) = delete;
    ~Vbmp3();

    // Reads the tag of the file at path (file-name bytes, UTF-8 on Linux) through
    // records.readBlock into records.tag and records.mpeg. Whatever the result,
    // records.tag afterwards holds what the library left in the block.
    CallResult getFileInfo(const std::string& path, TagRecords& records);
    // Writes records.tag into the file at path through records.writeBlock, with
    // the two further arguments 1 and 1.
    CallResult setTagInfo(const std::string& path, TagRecords& records);
    // Loads the library and looks up vbmp3_setTagInfo as its first call would,
    // without calling it: Success when a write could be made, else Unavailable.
    CallResult findSetTagInfo();

private:
    void* symbol(const char* name, void*& cache, std::string& missing);

    std::string m_libraryPath;
    void* m_handle = nullptr;
    void* m_getFileInfo = nullptr;
    void* m_setTagInfo = nullptr;
};

// The tag library for the running program. An installed program keeps it in a
// private folder of the library tree (lib/<multiarch>/kestrom/libvbmp3.so beside
// the programs' bin/); a program in the build folder, or copied together with
// the library, has it beside itself. Returns the first of the two that exists;
// when neither does, the private one if its folder is there, else the one beside
// the program, so that the message about the missing library names the right place.
std::string findTagLibrary(platform::Posix& posix);

}  // namespace kestrom::taglib
