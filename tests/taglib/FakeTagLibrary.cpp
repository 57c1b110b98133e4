// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in tag library for tests of the binding and the run, with the same two
// entry points. Its "MP3 files" are text files of lines "A=title", "B=artist",
// "C=...", "S=...", "D=...", "E=..." (code page 932 bytes) and "N=12":
//  - a read sets the fields the file names and leaves the others as it found them
//    in the block; a file holding the line "FAIL" fails after setting its fields;
//  - a write replaces the file's content with every field of the block, up to its
//    first NUL byte; a file holding the line "LOCKED" cannot be written (errno
//    EACCES), nor one holding "FULL" (ENOSPC).
// A file holding the line "THROW" makes a read throw std::bad_alloc, as a failure
// the run does not handle itself would. Missing files fail both (ENOENT). FAKE_TAGLIB_RESULT sets
// the success result (default 1). Every call is logged for the tests: fake_calls() lists "get
// <path>" / "set <path> <a> <b>", fake_lastBlock() is the last block received before the call
// changed it.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include "vbmp3/vbmp3.h"

namespace {

struct Field {
    char key;
    std::size_t offset;
    std::size_t length;
};
constexpr Field kFields[] = {{'A', VBMP3_TEXT_A_OFFSET, VBMP3_TEXT_A_SIZE},
                             {'B', VBMP3_TEXT_B_OFFSET, VBMP3_TEXT_B_SIZE},
                             {'C', VBMP3_TEXT_C_OFFSET, VBMP3_TEXT_C_SIZE},
                             {'S', VBMP3_SHORT_TEXT_OFFSET, VBMP3_SHORT_TEXT_SIZE},
                             {'D', VBMP3_TEXT_D_OFFSET, VBMP3_TEXT_D_SIZE},
                             {'E', VBMP3_TEXT_E_OFFSET, VBMP3_TEXT_E_SIZE}};

std::string g_calls;
unsigned char g_lastBlock[VBMP3_TAG_INFO_SIZE];

std::int16_t success() {
    const char* value = std::getenv("FAKE_TAGLIB_RESULT");
    return static_cast<std::int16_t>(value != nullptr ? std::atoi(value) : 1);
}

// A failure, with errno telling why, as the tag library reports one.
std::int16_t failWith(int error) {
    errno = error;
    return 0;
}

bool readLines(const char* path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    content = s.str();
    return true;
}

bool hasLine(const std::string& content, const std::string& line) {
    return ("\n" + content).find("\n" + line + "\n") != std::string::npos;
}

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT const char* fake_calls() {
    return g_calls.c_str();
}
EXPORT const unsigned char* fake_lastBlock() {
    return g_lastBlock;
}

EXPORT std::int16_t vbmp3_getFileInfo(const char* path, unsigned char* tag, unsigned char* mpeg) {
    g_calls += std::string("get ") + path + "\n";
    std::memcpy(g_lastBlock, tag, sizeof g_lastBlock);
    std::string content;
    if (!readLines(path, content)) return failWith(ENOENT);
    if (hasLine(content, "THROW")) throw std::bad_alloc();
    std::istringstream in(content);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 2 || line[1] != '=') continue;
        const std::string value = line.substr(2);
        if (line[0] == 'N') {
            const auto n = static_cast<std::uint32_t>(std::stoul(value));
            for (int i = 0; i < VBMP3_NUMBER_SIZE; ++i)
                tag[VBMP3_NUMBER_OFFSET + i] = static_cast<unsigned char>(n >> (8 * i));
        }
        for (const Field& f : kFields) {
            if (f.key != line[0]) continue;
            std::memset(tag + f.offset, 0, f.length);
            std::copy_n(value.data(), std::min(value.size(), f.length), tag + f.offset);
        }
    }
    if (hasLine(content, "FAIL")) return 0;
    std::memset(mpeg, 0x4D, VBMP3_MPEG_INFO_SIZE);
    return success();
}

#ifndef FAKE_WITHOUT_WRITE
EXPORT std::int16_t vbmp3_setTagInfo(const char* path, unsigned char* tag, std::int32_t a,
                                     std::int32_t b) {
    g_calls +=
        std::string("set ") + path + " " + std::to_string(a) + " " + std::to_string(b) + "\n";
    std::memcpy(g_lastBlock, tag, sizeof g_lastBlock);
    std::string content;
    if (!readLines(path, content)) return failWith(ENOENT);
    if (hasLine(content, "LOCKED")) return failWith(EACCES);
    if (hasLine(content, "FULL")) return failWith(ENOSPC);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const Field& f : kFields) {
        const char* text = reinterpret_cast<const char*>(tag + f.offset);
        out << f.key << '=' << std::string(text, strnlen(text, f.length)) << '\n';
    }
    std::uint32_t n = 0;
    for (int i = 0; i < VBMP3_NUMBER_SIZE; ++i)
        n |= std::uint32_t{tag[VBMP3_NUMBER_OFFSET + i]} << (8 * i);
    out << "N=" << n << '\n';
    return out ? success() : 0;
}
#endif
