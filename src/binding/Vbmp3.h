// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Posix.h"
#include "platform/Texts.h"
#include "vbmp3/vbmp3.h"  // the block layout: constants only, links nothing

namespace kestrom::binding {

// The tag record in the form the program holds: seven fields, the texts in
// UTF-16 without terminator, of any length. The program gives no field a meaning
// of its own; it carries what the tag library delivered from one call to the
// next, apart from the karaoke mark it puts into TextB. A NUL ends a text on its
// way to the library.
struct TagInfo {
    std::u16string TextA;
    std::u16string TextB;
    std::u16string TextC;
    std::u16string ShortText;
    std::u16string TextD;
    std::int32_t Number = 0;
    std::u16string TextE;
};

// The library form of TagInfo for the first pair of entry points: 652 bytes,
// texts in code page 932, one byte per character position, Number little-endian
// at byte 520.
inline constexpr std::size_t kTagBlockSize = VBMP3_TAG_INFO_SIZE;
using TagBlock = std::array<unsigned char, kTagBlockSize>;
// Stream information the library fills on a read; the program never reads it.
inline constexpr std::size_t kMpegInfoSize = VBMP3_MPEG_INFO_SIZE;
using MpegInfo = std::array<unsigned char, kMpegInfoSize>;

// Program form -> library form: each text converted to code page 932 and cut
// (on a character boundary) or padded with NUL bytes to its field; the alignment
// gap left as it was.
void toLibraryForm(const TagInfo& tag, TagBlock& block);
// Library form -> program form: each field's bytes decoded; the characters that
// the bytes give are followed by NUL characters up to the field's length.
void fromLibraryForm(const TagBlock& block, TagInfo& tag);

// The library form for the second pair: the text record of vbmp3.h, Number and
// the six texts whole, each UTF-8 up to its first NUL and followed by one.
std::string toTextRecord(const TagInfo& tag);
// Text record -> program form: Number and each text up to its NUL. Bytes that
// are no UTF-8 are kept as platform::toUtf16 keeps them, so that they go back
// to the library as they came; a text that the bytes end without its NUL ends
// there, and the texts after it are empty.
void fromTextRecord(std::string_view record, TagInfo& tag);

// Everything one run exchanges with the tag library: all zero at the start of a
// run, never cleared between files.
struct TagRecords {
    TagInfo tag;
    TagBlock readBlock{};   // used only for reads through the block
    TagBlock writeBlock{};  // used only for writes through the block
    MpegInfo mpeg{};
    // The text record: the record handed over or received at its start, and
    // room for the longest (VBMP3_TEXT_RECORD_MAX bytes) once a call has used it.
    std::string textRecord;
};

// How a call ended.
enum class CallStatus {
    Success,      // the library returned a non-zero result
    Failure,      // the library returned 0
    Unavailable,  // the library could not be loaded or lacks the entry point; nothing was called
};

// What could not be used: the library file or the entry point (name), and the
// loader's reason when it refused a library file that is there (else empty).
struct Missing {
    std::string name;
    std::string reason;
};

inline constexpr platform::Text kNotFound{"見つかりません: %1", "not found: %1"};
inline constexpr platform::Text kCannotLoad{"読み込めません: %1: %2", "cannot load: %1: %2"};

// What is missing as the user reads it, in language: kNotFound with the name
// for a library file that does not exist or an entry point it lacks, kCannotLoad
// with the name and the reason for a library file the loader refused.
std::string describe(const Missing& missing, const platform::Language& language);

struct CallResult {
    CallStatus status;
    // Unavailable: what could not be used, and why.
    Missing missing;
    // Failure: the errno the library left, which tells why (its entry points
    // return only success or failure); 0 when it set none, and on success.
    int error = 0;
};

// The entry points as the library exports them: the tag block's pair, which
// every version of the library has, and the text record's pair of later ones.
using GetFileInfoFn = decltype(&vbmp3_getFileInfo);
using SetTagInfoFn = decltype(&vbmp3_setTagInfo);
using GetFileInfoUtf8Fn = decltype(&vbmp3_getFileInfoUtf8);
using SetTagInfoUtf8Fn = decltype(&vbmp3_setTagInfoUtf8);

// The entry points of a batch of writes, which later libraries have too.
struct BatchEntries {
    decltype(&vbmp3_beginBatch) begin = nullptr;
    decltype(&vbmp3_addTagInfoUtf8) add = nullptr;
    decltype(&vbmp3_commitBatch) commit = nullptr;
    decltype(&vbmp3_endBatch) end = nullptr;
};

// The binding to the tag library, a shared object with the entry points of
// vbmp3.h (C linkage). The library is loaded by its path at the first call and
// stays loaded. When it has both vbmp3_getFileInfoUtf8 and vbmp3_setTagInfoUtf8,
// every call goes through them and the texts travel whole; otherwise through
// vbmp3_getFileInfo and vbmp3_setTagInfo, each looked up at its own first call
// and remembered, and the texts are cut to the block's fields.
class Vbmp3 {
public:
    explicit Vbmp3(std::string libraryPath);
    // Entry points already in the process (the library's code linked in, as
    // tests do to run it over a seam of their own); nothing is loaded.
    Vbmp3(GetFileInfoFn getEntry, SetTagInfoFn setEntry);
    Vbmp3(GetFileInfoUtf8Fn getEntry, SetTagInfoUtf8Fn setEntry, BatchEntries batch = {});
    Vbmp3(const Vbmp3&) = delete;
    Vbmp3& operator=(const Vbmp3&) = delete;
    ~Vbmp3();

    // Reads the tag of the file at path (file-name bytes, UTF-8 on Linux) into
    // records.tag and records.mpeg, handing records.tag over as it is. Whatever
    // the result, records.tag afterwards holds what the library left in the
    // block or the text record.
    CallResult getFileInfo(const std::string& path, TagRecords& records);
    // Writes records.tag into the file at path, with the arguments 1 and 1 (both
    // tags). records.tag then holds what it handed over, as the library holds it.
    CallResult setTagInfo(const std::string& path, TagRecords& records);
    // A dry run's write. Through the text record: vbmp3_setTagInfoUtf8 with
    // checkOnly 1, so a write that would be refused fails here, with its errno,
    // and nothing changes. Through the block, which cannot check without
    // writing: Success when vbmp3_setTagInfo is there, else Unavailable.
    CallResult checkTagInfo(const std::string& path, TagRecords& records);

    // A write of records.tag into the file at path, as setTagInfo makes it, but
    // made durable together with the others staged up to commitBatch(): the
    // library's batch when it has one, else a setTagInfo at once. Failure: the
    // write is refused now (its errno), the file as it was; Success: its
    // result comes with commitBatch().
    CallResult stageTagInfo(const std::string& path, TagRecords& records);
    // Writes everything staged since the last commit and returns, in the order
    // of the stagings that succeeded, each one's result: 0 written and on disk,
    // else the errno of its failure.
    std::vector<int> commitBatch();
    // Ends the batch: what is staged and not committed is dropped, and the
    // journals that the commits used go.
    void endBatch();

private:
    bool load(Missing& missing);
    void* symbol(const char* name, void*& cache, Missing& missing);
    CallResult callSetTagInfo(const std::string& path, TagRecords& records, bool checkOnly);

    std::string m_libraryPath;
    void* m_handle = nullptr;
    bool m_loaded = false;  // the library is loaded, or the entry points are in the process
    void* m_getFileInfo = nullptr;
    void* m_setTagInfo = nullptr;
    void* m_getFileInfoUtf8 = nullptr;  // both set, or neither
    void* m_setTagInfoUtf8 = nullptr;
    BatchEntries m_batchEntries;     // all four set, or none
    vbmp3_batch* m_batch = nullptr;  // opened at the first staging
    std::size_t m_staged = 0;
};

// The tag library for the running program. An installed program keeps it in a
// private folder of the library tree (lib/<multiarch>/kestrom/libvbmp3.so beside
// the programs' bin/); a program in the build folder, or copied together with
// the library, has it beside itself. Returns the first of the two that exists;
// when neither does, the private one if its folder is there, else the one beside
// the program, so that the message about the missing library names the right place.
std::string findTagLibrary(platform::Posix& posix);

}  // namespace kestrom::binding
