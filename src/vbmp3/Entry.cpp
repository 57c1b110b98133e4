// SPDX-License-Identifier: GPL-3.0-or-later
// The two exported functions: argument checks, one call at a time, and no
// exception crosses into the program (an allocation failure on an enormous tag
// is a failed call).
#include <sys/stat.h>
#include <taglib/tfilestream.h>

#include <cstring>
#include <mutex>

#include "vbmp3/TagFields.h"
#include "vbmp3/TagReader.h"
#include "vbmp3/TagText.h"
#include "vbmp3/TagWriter.h"
#include "vbmp3/vbmp3.h"

using namespace kestrom::vbmp3;

namespace {

// Only a plain file is opened: opening a pipe or a device could block or do harm.
bool isPlainFile(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// TagLib shares state between files (its string handlers, its frame factory), so
// calls from several threads of the program take turns.
std::mutex callMutex;

}  // namespace

extern "C" int16_t vbmp3_getFileInfo(const char* path, unsigned char* tagInfo,
                                     unsigned char* mpegInfo) {
    if (path == nullptr || tagInfo == nullptr || mpegInfo == nullptr) return 0;
    try {
        const std::lock_guard<std::mutex> lock(callMutex);
        installStringHandlers();
        if (!isPlainFile(path)) return 0;
        TagLib::FileStream stream(path, true);
        if (!stream.isOpen()) return 0;
        const std::optional<FileInfo> info = readFileInfo(stream);
        if (!info) return 0;
        toBlock(info->fields, tagInfo);
        std::memcpy(mpegInfo, info->mpeg.data(), info->mpeg.size());
        return 1;
    } catch (...) {
        return 0;
    }
}

extern "C" int16_t vbmp3_setTagInfo(const char* path, unsigned char* tagInfo, int32_t id3v2,
                                    int32_t id3v1) {
    if (path == nullptr || tagInfo == nullptr) return 0;
    if ((id3v2 != 0 && id3v2 != 1) || (id3v1 != 0 && id3v1 != 1)) return 0;
    try {
        const std::lock_guard<std::mutex> lock(callMutex);
        installStringHandlers();
        return writeFields(path, fromBlock(tagInfo), WriteTargets{id3v2 == 1, id3v1 == 1}) ? 0 : 1;
    } catch (...) {
        return 0;
    }
}
