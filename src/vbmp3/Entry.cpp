// SPDX-License-Identifier: GPL-3.0-or-later
// The two exported functions: argument checks, one call at a time, and no
// exception crosses into the program (an allocation failure on an enormous tag
// is a failed call). They work on the system's files: the program's own
// process is where the platform's seam is the real system.
#include <cerrno>
#include <cstring>
#include <mutex>

#include "vbmp3/Entry.h"

#include "platform/FileChange.h"
#include "vbmp3/SeamStream.h"
#include "vbmp3/TagFields.h"
#include "vbmp3/TagReader.h"
#include "vbmp3/TagText.h"
#include "vbmp3/TagWriter.h"
#include "vbmp3/vbmp3.h"

using namespace kestrom::vbmp3;

namespace {

// TagLib shares state between files (its string handlers, its frame factory), so
// calls from several threads of the program take turns.
std::mutex callMutex;

}  // namespace

namespace kestrom::vbmp3 {

std::int16_t getFileInfo(platform::Posix& posix, const char* path, unsigned char* tagInfo,
                         unsigned char* mpegInfo) {
    if (path == nullptr || tagInfo == nullptr || mpegInfo == nullptr) return 0;
    try {
        const std::lock_guard<std::mutex> lock(callMutex);
        installStringHandlers();
        platform::Fd fd;
        struct stat st {};
        if (int err = platform::openForReading(posix, path, fd, st); err != 0) {
            errno = err;
            return 0;
        }
        SeamStream stream(posix, fd.get(), st.st_size, path);
        stream.preloadEnds();
        const std::optional<FileInfo> info = readFileInfo(stream);
        if (stream.error() != 0) {
            errno = stream.error();
            return 0;
        }
        if (!info) {
            errno = ENOEXEC;
            return 0;
        }
        toBlock(info->fields, tagInfo);
        std::memcpy(mpegInfo, info->mpeg.data(), info->mpeg.size());
        return 1;
    } catch (...) {
        errno = ENOMEM;
        return 0;
    }
}

std::int16_t setTagInfo(platform::Posix& posix, const char* path, unsigned char* tagInfo,
                        std::int32_t id3v2, std::int32_t id3v1) {
    if (path == nullptr || tagInfo == nullptr || (id3v2 != 0 && id3v2 != 1) ||
        (id3v1 != 0 && id3v1 != 1)) {
        errno = EINVAL;
        return 0;
    }
    try {
        const std::lock_guard<std::mutex> lock(callMutex);
        installStringHandlers();
        const auto failure =
            writeFields(posix, path, fromBlock(tagInfo), WriteTargets{id3v2 == 1, id3v1 == 1});
        if (!failure) return 1;
        errno = failure->error;
        return 0;
    } catch (...) {
        errno = ENOMEM;
        return 0;
    }
}

}  // namespace kestrom::vbmp3

extern "C" int16_t vbmp3_getFileInfo(const char* path, unsigned char* tagInfo,
                                     unsigned char* mpegInfo) {
    return getFileInfo(kestrom::platform::systemPosix(), path, tagInfo, mpegInfo);
}

extern "C" int16_t vbmp3_setTagInfo(const char* path, unsigned char* tagInfo, int32_t id3v2,
                                    int32_t id3v1) {
    return setTagInfo(kestrom::platform::systemPosix(), path, tagInfo, id3v2, id3v1);
}
