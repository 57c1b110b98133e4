// SPDX-License-Identifier: GPL-3.0-or-later
#include "taglib/Vbmp3.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "platform/Cp932.h"
#include "platform/Posix.h"
#include "platform/ProgramFolder.h"

namespace kestrom::taglib {
namespace {

template <std::size_t N>
void putText(TagBlock& block, std::size_t offset, const std::array<char16_t, N>& field) {
    const std::string bytes =
        platform::cp932::encodeCut(std::u16string_view(field.data(), N), N).bytes;
    std::memcpy(block.data() + offset, bytes.data(), bytes.size());
    std::memset(block.data() + offset + bytes.size(), 0, N - bytes.size());
}

template <std::size_t N>
void getText(const TagBlock& block, std::size_t offset, std::array<char16_t, N>& field) {
    const std::u16string text = platform::cp932::decode(
        std::string_view(reinterpret_cast<const char*>(block.data() + offset), N));
    field.fill(u'\0');
    std::copy_n(text.begin(), std::min(text.size(), N), field.begin());
}

template <typename Fn>
Fn asFunction(void* address) {
    Fn fn = nullptr;
    static_assert(sizeof fn == sizeof address);
    std::memcpy(&fn, &address, sizeof fn);
    return fn;
}

constexpr std::string_view kNotFound = "見つかりません: ";
constexpr std::string_view kCannotLoad = "読み込めません: ";

// Why dlopen() refused path. A file that is not there is "not found"; any other
// refusal (a damaged file, a missing dependency of the library, no permission)
// carries the loader's reason, without the path it repeats. A bare file name,
// which the loader looks up on its own search path, always gets the reason.
std::string loadFailure(const std::string& path, const char* error) {
    struct stat st {};
    if (path.find('/') != std::string::npos && ::stat(path.c_str(), &st) != 0 &&
        (errno == ENOENT || errno == ENOTDIR))
        return std::string(kNotFound) + path;
    std::string_view reason = error != nullptr ? error : "";
    if (reason.starts_with(path) && reason.substr(path.size()).starts_with(": "))
        reason.remove_prefix(path.size() + 2);
    return std::string(kCannotLoad) + path + ": " + std::string(reason);
}

CallResult judge(std::int16_t result, int error) {
    if (result != 0) return {CallStatus::Success, {}, 0};
    return {CallStatus::Failure, {}, error};
}

}  // namespace

void toLibraryForm(const TagInfo& tag, TagBlock& block) {
    putText(block, VBMP3_TEXT_A_OFFSET, tag.TextA);
    putText(block, VBMP3_TEXT_B_OFFSET, tag.TextB);
    putText(block, VBMP3_TEXT_C_OFFSET, tag.TextC);
    putText(block, VBMP3_SHORT_TEXT_OFFSET, tag.ShortText);
    putText(block, VBMP3_TEXT_D_OFFSET, tag.TextD);
    const auto number = static_cast<std::uint32_t>(tag.Number);
    for (std::size_t i = 0; i < VBMP3_NUMBER_SIZE; ++i)
        block[VBMP3_NUMBER_OFFSET + i] = static_cast<unsigned char>(number >> (8 * i));
    putText(block, VBMP3_TEXT_E_OFFSET, tag.TextE);
}

void fromLibraryForm(const TagBlock& block, TagInfo& tag) {
    getText(block, VBMP3_TEXT_A_OFFSET, tag.TextA);
    getText(block, VBMP3_TEXT_B_OFFSET, tag.TextB);
    getText(block, VBMP3_TEXT_C_OFFSET, tag.TextC);
    getText(block, VBMP3_SHORT_TEXT_OFFSET, tag.ShortText);
    getText(block, VBMP3_TEXT_D_OFFSET, tag.TextD);
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < VBMP3_NUMBER_SIZE; ++i)
        number |= std::uint32_t{block[VBMP3_NUMBER_OFFSET + i]} << (8 * i);
    tag.Number = static_cast<std::int32_t>(number);
    getText(block, VBMP3_TEXT_E_OFFSET, tag.TextE);
}

Vbmp3::Vbmp3(std::string libraryPath) : m_libraryPath(std::move(libraryPath)) {}

Vbmp3::Vbmp3(GetFileInfoFn getEntry, SetTagInfoFn setEntry) {
    std::memcpy(&m_getFileInfo, &getEntry, sizeof getEntry);
    std::memcpy(&m_setTagInfo, &setEntry, sizeof setEntry);
}

// The library stays loaded for the life of the process, as the program never
// unloads it; the handle is only dropped.
Vbmp3::~Vbmp3() = default;

void* Vbmp3::symbol(const char* name, void*& cache, std::string& missing) {
    if (cache != nullptr) return cache;
    if (m_handle == nullptr) m_handle = ::dlopen(m_libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        missing = loadFailure(m_libraryPath, ::dlerror());
        return nullptr;
    }
    cache = ::dlsym(m_handle, name);
    if (cache == nullptr) missing = std::string(kNotFound) + name;
    return cache;
}

CallResult Vbmp3::getFileInfo(const std::string& path, TagRecords& records) {
    std::string missing;
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
    std::string missing;
    void* address = symbol("vbmp3_setTagInfo", m_setTagInfo, missing);
    if (address == nullptr) return {CallStatus::Unavailable, missing};
    toLibraryForm(records.tag, records.writeBlock);
    errno = 0;
    const std::int16_t result =
        asFunction<SetTagInfoFn>(address)(path.c_str(), records.writeBlock.data(), 1, 1);
    const int error = errno;
    fromLibraryForm(records.writeBlock, records.tag);
    return judge(result, error);
}

CallResult Vbmp3::findSetTagInfo() {
    std::string missing;
    if (symbol("vbmp3_setTagInfo", m_setTagInfo, missing) == nullptr)
        return {CallStatus::Unavailable, missing};
    return {CallStatus::Success, {}};
}

std::string findTagLibrary(platform::Posix& posix) {
    const std::string folder = platform::programFolder(posix);
    if (folder.empty()) return "libvbmp3.so";  // let the loader search for it
    const std::string privateFolder =
        std::filesystem::path(folder + KESTROM_BIN_TO_PRIVATE_LIBDIR).lexically_normal();
    std::string installed = privateFolder + "/libvbmp3.so";
    std::string beside = folder + "libvbmp3.so";
    struct stat st {};
    if (posix.stat(installed.c_str(), &st) == 0) return installed;
    if (posix.stat(beside.c_str(), &st) == 0) return beside;
    // Neither is there: name the one that this kind of tree should hold, so that
    // the message about the missing library points where it belongs.
    return posix.stat(privateFolder.c_str(), &st) == 0 ? installed : beside;
}

}  // namespace kestrom::taglib
