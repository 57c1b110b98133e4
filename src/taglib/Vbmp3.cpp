// SPDX-License-Identifier: GPL-3.0-or-later
#include "taglib/Vbmp3.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/Cp932.h"

namespace kestrom::taglib {
namespace {

// The entry points as the library's header declares them; looked up, never linked.
using GetFileInfoFn = decltype(&vbmp3_getFileInfo);
using SetTagInfoFn = decltype(&vbmp3_setTagInfo);

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

CallResult judge(std::int16_t result) {
    return {result != 0 ? CallStatus::Success : CallStatus::Failure, {}};
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
    const std::int16_t result = asFunction<GetFileInfoFn>(address)(
        path.c_str(), records.readBlock.data(), records.mpeg.data());
    fromLibraryForm(records.readBlock, records.tag);
    return judge(result);
}

CallResult Vbmp3::setTagInfo(const std::string& path, TagRecords& records) {
    std::string missing;
    void* address = symbol("vbmp3_setTagInfo", m_setTagInfo, missing);
    if (address == nullptr) return {CallStatus::Unavailable, missing};
    toLibraryForm(records.tag, records.writeBlock);
    const std::int16_t result =
        asFunction<SetTagInfoFn>(address)(path.c_str(), records.writeBlock.data(), 1, 1);
    fromLibraryForm(records.writeBlock, records.tag);
    return judge(result);
}

CallResult Vbmp3::findSetTagInfo() {
    std::string missing;
    if (symbol("vbmp3_setTagInfo", m_setTagInfo, missing) == nullptr)
        return {CallStatus::Unavailable, missing};
    return {CallStatus::Success, {}};
}

std::string libraryBesideExecutable() {
    std::string path(4096, '\0');
    const ssize_t len = ::readlink("/proc/self/exe", path.data(), path.size());
    if (len <= 0) return "libvbmp3.so";  // let the loader search for it
    path.resize(static_cast<std::size_t>(len));
    return path.substr(0, path.rfind('/') + 1) + "libvbmp3.so";
}

}  // namespace kestrom::taglib
