// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in tag library for tests of the binding and the run, with the tag
// block's two entry points only, as an old library has them. Its "MP3 files"
// are text files of lines "A=title", "B=artist", "C=...", "S=...", "D=...",
// "E=..." (code page 932 bytes) and "N=12":
//  - a read sets the fields the file names and leaves the others as it found them
//    in the block; a file holding the line "FAIL" fails after setting its fields
//    (errno ENODATA), one holding "THROW" throws std::bad_alloc, as a failure
//    the run does not handle itself would;
//  - a write replaces the file's content with every field of the block, up to its
//    first NUL byte; a file holding the line "LOCKED" cannot be written (errno
//    EACCES), nor one holding "FULL" (ENOSPC).
// Missing files fail both (ENOENT). fake_calls() lists the calls for the tests:
// "get <path> <block>", "set <path> <a> <b> <block>", where block is "zeros" when
// the block the call received held nothing else, else "data".
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <string_view>

#include "vbmp3/vbmp3.h"

namespace {

struct Field {
    char key;
    std::size_t offset, length;
};
constexpr Field kFields[] = {{'A', VBMP3_TEXT_A_OFFSET, VBMP3_TEXT_A_SIZE},
                             {'B', VBMP3_TEXT_B_OFFSET, VBMP3_TEXT_B_SIZE},
                             {'C', VBMP3_TEXT_C_OFFSET, VBMP3_TEXT_C_SIZE},
                             {'S', VBMP3_SHORT_TEXT_OFFSET, VBMP3_SHORT_TEXT_SIZE},
                             {'D', VBMP3_TEXT_D_OFFSET, VBMP3_TEXT_D_SIZE},
                             {'E', VBMP3_TEXT_E_OFFSET, VBMP3_TEXT_E_SIZE}};

std::string g_calls;

// The path as the standard library takes it: the program's paths are UTF-8,
// which Windows would otherwise read in its ANSI code page.
std::filesystem::path nativePath(const char* path) {
    const std::string_view text(path);
    return std::u8string(text.begin(), text.end());
}

// Logs the call; reads the file's lines, each after a line break, false (errno
// ENOENT) when it cannot.
bool start(const std::string& call, const char* path, const unsigned char* tag,
           std::string& content) {
    const bool zeros = std::all_of(tag, tag + VBMP3_TAG_INFO_SIZE, [](auto b) { return b == 0; });
    g_calls += call + (zeros ? " zeros\n" : " data\n");
    std::ifstream in(nativePath(path), std::ios::binary);
    content = "\n" + std::string(std::istreambuf_iterator<char>(in), {});
    if (!in) errno = ENOENT;
    return static_cast<bool>(in);
}

}  // namespace

#ifdef _WIN32
#define EXPORT extern "C" __declspec(dllexport)
#else
#define EXPORT extern "C" __attribute__((visibility("default")))
#endif

EXPORT const char* fake_calls() {
    return g_calls.c_str();
}

EXPORT std::int16_t vbmp3_getFileInfo(const char* path, unsigned char* tag, unsigned char*) {
    std::string content;
    if (!start(std::string("get ") + path, path, tag, content)) return 0;
    if (content.find("\nTHROW\n") != std::string::npos) throw std::bad_alloc();
    std::istringstream in(content);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 2 || line[1] != '=') continue;
        for (int i = 0; line[0] == 'N' && i < VBMP3_NUMBER_SIZE; ++i)
            tag[VBMP3_NUMBER_OFFSET + i] =
                static_cast<unsigned char>(std::stoul(line.substr(2)) >> (8 * i));
        for (const Field& f : kFields) {
            if (f.key != line[0]) continue;
            std::memset(tag + f.offset, 0, f.length);
            line.copy(reinterpret_cast<char*>(tag + f.offset), f.length, 2);
        }
    }
    if (content.find("\nFAIL\n") == std::string::npos) return 1;
    errno = ENODATA;  // as the tag library says of a file without a tag
    return 0;
}

#ifndef FAKE_WITHOUT_WRITE
// 1, else 0 with errno set to error.
static std::int16_t result(int error) {
    errno = error;
    return error == 0 ? 1 : 0;
}

EXPORT std::int16_t vbmp3_setTagInfo(const char* path, unsigned char* tag, std::int32_t a,
                                     std::int32_t b) {
    std::string content;
    const std::string call =
        "set " + std::string(path) + " " + std::to_string(a) + " " + std::to_string(b);
    if (!start(call, path, tag, content)) return 0;
    if (content.find("\nLOCKED\n") != std::string::npos) return result(EACCES);
    if (content.find("\nFULL\n") != std::string::npos) return result(ENOSPC);
    std::ofstream out(nativePath(path), std::ios::binary | std::ios::trunc);
    for (const Field& f : kFields) {
        const char* text = reinterpret_cast<const char*>(tag + f.offset);
        out << f.key << '=' << std::string(text, strnlen(text, f.length)) << '\n';
    }
    std::uint32_t n = 0;
    for (int i = 0; i < VBMP3_NUMBER_SIZE; ++i)
        n |= std::uint32_t{tag[VBMP3_NUMBER_OFFSET + i]} << (8 * i);
    out << "N=" << n << '\n';
    return result(out ? 0 : EIO);
}
#endif
