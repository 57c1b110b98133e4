// SPDX-License-Identifier: GPL-3.0-or-later
#include "binding/Vbmp3.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>

#include "platform/Cp932.h"
#include "platform/LittleEndian.h"
#include "platform/Posix.h"
#include "platform/ProgramFolder.h"
#include "platform/SharedLibrary.h"
#include "platform/Text.h"

namespace kestrom::binding {
namespace {

void putText(TagBlock& block, std::size_t offset, std::size_t size, std::u16string_view text) {
    const std::string bytes = platform::cp932::encodeCut(text, size).bytes;
    std::memcpy(block.data() + offset, bytes.data(), bytes.size());
    std::memset(block.data() + offset + bytes.size(), 0, size - bytes.size());
}

void getText(const TagBlock& block, std::size_t offset, std::size_t size, std::u16string& text) {
    text = platform::cp932::decode(
        std::string_view(reinterpret_cast<const char*>(block.data() + offset), size));
    text.resize(size, u'\0');
}

template <typename Fn>
Fn asFunction(void* address) {
    Fn fn = nullptr;
    static_assert(sizeof fn == sizeof address);
    std::memcpy(&fn, &address, sizeof fn);
    return fn;
}

// The tag library's file, beside the program or in its private folder.
#ifdef _WIN32
constexpr std::string_view kLibraryFile = "VBMP3.dll";
#else
constexpr std::string_view kLibraryFile = "libvbmp3.so";
#endif

// Why the loader refused path. A file that is not there is "not found"; any other
// refusal (a damaged file, a missing dependency of the library, no permission)
// carries the loader's reason, without the path it repeats. A bare file name,
// which the loader looks up on its own search path, always gets the reason.
Missing loadFailure(const std::string& path, const std::string& error) {
    struct stat st {};
    if (path.find('/') != std::string::npos &&
        platform::systemPosix().stat(path.c_str(), &st) != 0 &&
        (errno == ENOENT || errno == ENOTDIR))
        return {path, {}};
    std::string_view reason = error;
    if (reason.starts_with(path) && reason.substr(path.size()).starts_with(": "))
        reason.remove_prefix(path.size() + 2);
    // A loader that gives no reason still says that it refused.
    if (reason.empty()) reason = "?";
    return {path, std::string(reason)};
}

// Puts the text record of records.tag at the start of the run's buffer, which
// holds the longest record the library may give back; the record's length.
std::size_t prepareTextRecord(TagRecords& records) {
    const std::string record = toTextRecord(records.tag);
    std::string& buffer = records.textRecord;
    buffer.resize(std::max<std::size_t>({buffer.size(), VBMP3_TEXT_RECORD_MAX, record.size()}));
    std::copy(record.begin(), record.end(), buffer.begin());
    return record.size();
}

CallResult judge(std::int16_t result, int error) {
    if (result != 0) return {CallStatus::Success, {}, 0};
    return {CallStatus::Failure, {}, error};
}

}  // namespace

std::string describe(const Missing& missing, const platform::Language& language) {
    const std::string name = platform::displayName(missing.name);
    if (missing.reason.empty()) return platform::format(language(kNotFound), {name});
    return platform::format(language(kCannotLoad), {name, platform::displayName(missing.reason)});
}

void toLibraryForm(const TagInfo& tag, TagBlock& block) {
    putText(block, VBMP3_TEXT_A_OFFSET, VBMP3_TEXT_A_SIZE, tag.TextA);
    putText(block, VBMP3_TEXT_B_OFFSET, VBMP3_TEXT_B_SIZE, tag.TextB);
    putText(block, VBMP3_TEXT_C_OFFSET, VBMP3_TEXT_C_SIZE, tag.TextC);
    putText(block, VBMP3_SHORT_TEXT_OFFSET, VBMP3_SHORT_TEXT_SIZE, tag.ShortText);
    putText(block, VBMP3_TEXT_D_OFFSET, VBMP3_TEXT_D_SIZE, tag.TextD);
    platform::putLittleEndian(block.data() + VBMP3_NUMBER_OFFSET,
                              static_cast<std::uint32_t>(tag.Number), VBMP3_NUMBER_SIZE);
    putText(block, VBMP3_TEXT_E_OFFSET, VBMP3_TEXT_E_SIZE, tag.TextE);
}

void fromLibraryForm(const TagBlock& block, TagInfo& tag) {
    getText(block, VBMP3_TEXT_A_OFFSET, VBMP3_TEXT_A_SIZE, tag.TextA);
    getText(block, VBMP3_TEXT_B_OFFSET, VBMP3_TEXT_B_SIZE, tag.TextB);
    getText(block, VBMP3_TEXT_C_OFFSET, VBMP3_TEXT_C_SIZE, tag.TextC);
    getText(block, VBMP3_SHORT_TEXT_OFFSET, VBMP3_SHORT_TEXT_SIZE, tag.ShortText);
    getText(block, VBMP3_TEXT_D_OFFSET, VBMP3_TEXT_D_SIZE, tag.TextD);
    tag.Number = static_cast<std::int32_t>(static_cast<std::uint32_t>(
        platform::littleEndian(block.data() + VBMP3_NUMBER_OFFSET, VBMP3_NUMBER_SIZE)));
    getText(block, VBMP3_TEXT_E_OFFSET, VBMP3_TEXT_E_SIZE, tag.TextE);
}

std::string toTextRecord(const TagInfo& tag) {
    std::string record;
    platform::putNumber(record, static_cast<std::uint32_t>(tag.Number), VBMP3_NUMBER_SIZE);
    for (const std::u16string* text :
         {&tag.TextA, &tag.TextB, &tag.TextC, &tag.ShortText, &tag.TextD, &tag.TextE}) {
        record += platform::toUtf8(std::u16string_view(*text).substr(0, text->find(u'\0')));
        record += '\0';
    }
    return record;
}

void fromTextRecord(std::string_view record, TagInfo& tag) {
    tag.Number = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(platform::littleEndian(record.substr(0, VBMP3_NUMBER_SIZE))));
    record.remove_prefix(std::min<std::size_t>(VBMP3_NUMBER_SIZE, record.size()));
    for (std::u16string* text :
         {&tag.TextA, &tag.TextB, &tag.TextC, &tag.ShortText, &tag.TextD, &tag.TextE}) {
        const std::string_view bytes = record.substr(0, record.find('\0'));
        *text = platform::toUtf16(bytes);
        record.remove_prefix(std::min(bytes.size() + 1, record.size()));
    }
}

Vbmp3::Vbmp3(std::string libraryPath) : m_libraryPath(std::move(libraryPath)) {}

Vbmp3::Vbmp3(GetFileInfoFn getEntry, SetTagInfoFn setEntry) : m_loaded(true) {
    std::memcpy(&m_getFileInfo, &getEntry, sizeof getEntry);
    std::memcpy(&m_setTagInfo, &setEntry, sizeof setEntry);
}

Vbmp3::Vbmp3(GetFileInfoUtf8Fn getEntry, SetTagInfoUtf8Fn setEntry, BatchEntries batch)
    : m_loaded(true) {
    std::memcpy(&m_getFileInfoUtf8, &getEntry, sizeof getEntry);
    std::memcpy(&m_setTagInfoUtf8, &setEntry, sizeof setEntry);
    if (batch.begin != nullptr && batch.add != nullptr && batch.commit != nullptr &&
        batch.end != nullptr)
        m_batchEntries = batch;
}

// The library stays loaded for the life of the process, as the program never
// unloads it; the handle is only dropped. An open batch ends: what it staged and
// did not commit is dropped, its files as they were.
Vbmp3::~Vbmp3() {
    endBatch();
}

void Vbmp3::endBatch() {
    if (m_batch != nullptr) m_batchEntries.end(std::exchange(m_batch, nullptr));
    m_staged = 0;
}

// Loads the library, and looks up the text record's pair once: a library that
// has only one of the two is used through the block.
bool Vbmp3::load(Missing& missing) {
    if (m_loaded) return true;
    std::string reason;
    m_handle = platform::loadLibrary(m_libraryPath, reason);
    if (m_handle == nullptr) {
        missing = loadFailure(m_libraryPath, reason);
        return false;
    }
    m_loaded = true;
    void* get = platform::librarySymbol(m_handle, "vbmp3_getFileInfoUtf8");
    void* set = platform::librarySymbol(m_handle, "vbmp3_setTagInfoUtf8");
    if (get != nullptr && set != nullptr) {
        m_getFileInfoUtf8 = get;
        m_setTagInfoUtf8 = set;
        BatchEntries batch;
        void* entries[] = {platform::librarySymbol(m_handle, "vbmp3_beginBatch"),
                           platform::librarySymbol(m_handle, "vbmp3_addTagInfoUtf8"),
                           platform::librarySymbol(m_handle, "vbmp3_commitBatch"),
                           platform::librarySymbol(m_handle, "vbmp3_endBatch")};
        if (std::find(std::begin(entries), std::end(entries), nullptr) == std::end(entries)) {
            std::memcpy(&batch.begin, &entries[0], sizeof batch.begin);
            std::memcpy(&batch.add, &entries[1], sizeof batch.add);
            std::memcpy(&batch.commit, &entries[2], sizeof batch.commit);
            std::memcpy(&batch.end, &entries[3], sizeof batch.end);
            m_batchEntries = batch;
        }
    }
    return true;
}

void* Vbmp3::symbol(const char* name, void*& cache, Missing& missing) {
    if (cache != nullptr) return cache;
    if (!load(missing)) return nullptr;
    if (m_handle != nullptr) cache = platform::librarySymbol(m_handle, name);
    if (cache == nullptr) missing = {name, {}};
    return cache;
}

CallResult Vbmp3::getFileInfo(const std::string& path, TagRecords& records) {
    Missing missing;
    if (!load(missing)) return {CallStatus::Unavailable, missing};
    if (m_getFileInfoUtf8 != nullptr) {
        prepareTextRecord(records);
        errno = 0;
        const std::int16_t result = asFunction<GetFileInfoUtf8Fn>(m_getFileInfoUtf8)(
            path.c_str(), records.textRecord.data(),
            static_cast<std::uint32_t>(records.textRecord.size()), records.mpeg.data());
        const int error = errno;
        fromTextRecord(records.textRecord, records.tag);
        return judge(result, error);
    }
    void* address = symbol("vbmp3_getFileInfo", m_getFileInfo, missing);
    if (address == nullptr) return {CallStatus::Unavailable, missing};
    toLibraryForm(records.tag, records.readBlock);
    errno = 0;
    const std::int16_t result = asFunction<GetFileInfoFn>(address)(
        path.c_str(), records.readBlock.data(), records.mpeg.data());
    const int error = errno;
    fromLibraryForm(records.readBlock, records.tag);
    return judge(result, error);
}

CallResult Vbmp3::setTagInfo(const std::string& path, TagRecords& records) {
    return callSetTagInfo(path, records, false);
}

CallResult Vbmp3::checkTagInfo(const std::string& path, TagRecords& records) {
    return callSetTagInfo(path, records, true);
}

CallResult Vbmp3::callSetTagInfo(const std::string& path, TagRecords& records, bool checkOnly) {
    Missing missing;
    if (!load(missing)) return {CallStatus::Unavailable, missing};
    if (m_setTagInfoUtf8 != nullptr) {
        const std::size_t length = prepareTextRecord(records);
        errno = 0;
        const std::int16_t result = asFunction<SetTagInfoUtf8Fn>(m_setTagInfoUtf8)(
            path.c_str(), records.textRecord.data(), static_cast<std::uint32_t>(length), 1, 1,
            checkOnly ? 1 : 0);
        const int error = errno;
        fromTextRecord(records.textRecord, records.tag);
        return judge(result, error);
    }
    void* address = symbol("vbmp3_setTagInfo", m_setTagInfo, missing);
    if (address == nullptr) return {CallStatus::Unavailable, missing};
    if (checkOnly) return {CallStatus::Success, {}};
    toLibraryForm(records.tag, records.writeBlock);
    errno = 0;
    const std::int16_t result =
        asFunction<SetTagInfoFn>(address)(path.c_str(), records.writeBlock.data(), 1, 1);
    const int error = errno;
    fromLibraryForm(records.writeBlock, records.tag);
    return judge(result, error);
}

CallResult Vbmp3::stageTagInfo(const std::string& path, TagRecords& records) {
    Missing missing;
    if (!load(missing)) return {CallStatus::Unavailable, missing};
    if (m_batchEntries.begin == nullptr) {
        // No batch: the write is made at once, and counts as staged when it succeeds.
        CallResult result = setTagInfo(path, records);
        if (result.status == CallStatus::Success) ++m_staged;
        return result;
    }
    if (m_batch == nullptr) {
        errno = 0;
        m_batch = m_batchEntries.begin();
        if (m_batch == nullptr) return {CallStatus::Failure, {}, errno != 0 ? errno : ENOMEM};
    }
    const std::size_t length = prepareTextRecord(records);
    errno = 0;
    const std::int16_t result = m_batchEntries.add(m_batch, path.c_str(), records.textRecord.data(),
                                                   static_cast<std::uint32_t>(length), 1, 1);
    const int error = errno;
    fromTextRecord(records.textRecord, records.tag);
    if (result != 0) ++m_staged;
    return judge(result, error);
}

std::vector<int> Vbmp3::commitBatch() {
    std::vector<int> errors(std::exchange(m_staged, 0), 0);
    if (m_batch == nullptr || errors.empty()) return errors;
    std::vector<std::int32_t> results(errors.size(), 0);
    errno = 0;
    if (m_batchEntries.commit(m_batch, results.data(),
                              static_cast<std::uint32_t>(results.size())) == 0 &&
        std::count(results.begin(), results.end(), 0) == static_cast<long>(results.size())) {
        // Refused as a whole (it should never be): nothing was written.
        std::fill(results.begin(), results.end(), errno != 0 ? errno : EIO);
    }
    std::copy(results.begin(), results.end(), errors.begin());
    return errors;
}

std::string findTagLibrary(platform::Posix& posix) {
    const std::string folder = platform::programFolder(posix);
    if (folder.empty()) return std::string(kLibraryFile);  // let the loader search for it
#ifdef _WIN32
    // An installation on Windows keeps the DLL beside the programs, as the build does.
    return folder + std::string(kLibraryFile);
#else
    const std::string privateFolder =
        std::filesystem::path(folder + KESTROM_BIN_TO_PRIVATE_LIBDIR).lexically_normal();
    std::string installed = privateFolder + "/" + std::string(kLibraryFile);
    std::string beside = folder + std::string(kLibraryFile);
    struct stat st {};
    if (posix.stat(installed.c_str(), &st) == 0) return installed;
    if (posix.stat(beside.c_str(), &st) == 0) return beside;
    // Neither is there: name the one that this kind of tree should hold, so that
    // the message about the missing library points where it belongs.
    return posix.stat(privateFolder.c_str(), &st) == 0 ? installed : beside;
#endif
}

}  // namespace kestrom::binding
