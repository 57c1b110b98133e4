// SPDX-License-Identifier: GPL-3.0-or-later
// The exported functions: argument checks, one call at a time, and no exception
// crosses into the program (an allocation failure on an enormous tag is a
// failed call). They work on the system's files: the program's own process is
// where the platform's seam is the real system.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "vbmp3/Entry.h"

#include "platform/FileChange.h"
#include "vbmp3/FileLayout.h"
#include "vbmp3/ReadAheadStream.h"
#include "vbmp3/TagFields.h"
#include "vbmp3/TagReader.h"
#include "vbmp3/TagText.h"
#include "vbmp3/TagWriter.h"
#include "vbmp3/vbmp3.h"

using namespace kestrom::vbmp3;

// A batch of writes, opened by vbmp3_beginBatch.
struct vbmp3_batch {
    explicit vbmp3_batch(kestrom::platform::Posix& posix) : writes(posix) {}
    WriteBatch writes;
    std::vector<bool> refused;  // per add since the last commit: it returned 0
};

namespace {

// TagLib shares state between files (its string handlers, its frame factory), so
// calls from several threads of the program take turns.
std::mutex callMutex;

// 1, else 0 with errno set to error.
std::int16_t result(int error) {
    if (error == 0) return 1;
    errno = error;
    return 0;
}

// Reads the file's tag into info; 0 or errno. The caller holds callMutex.
int readInfo(kestrom::platform::Posix& posix, const char* path, std::optional<FileInfo>& info) {
    installStringHandlers();
    kestrom::platform::Fd fd;
    struct stat st {};
    if (int err = kestrom::platform::openForReading(posix, path, fd, st); err != 0) return err;
    ReadAheadStream stream(posix, fd.get(), st.st_size, path);
    stream.preloadEnds();
    info = readFileInfo(stream);
    if (stream.error() != 0) return stream.error();
    if (info) return 0;
    // The program tells the user which of the two it was.
    return readLayout(stream).isMpegAudio() ? ENODATA : ENOEXEC;
}

bool isFlag(std::int32_t value) {
    return value == 0 || value == 1;
}

// Writes (or checks) fields; 0 or errno.
int write(kestrom::platform::Posix& posix, const char* path, const TagFields& fields,
          std::int32_t id3v2, std::int32_t id3v1, WriteMode mode) {
    const std::lock_guard<std::mutex> lock(callMutex);
    installStringHandlers();
    const auto failure =
        writeFields(posix, path, fields, WriteTargets{id3v2 == 1, id3v1 == 1}, mode);
    return failure ? failure->error : 0;
}

}  // namespace

namespace kestrom::vbmp3 {

std::int16_t getFileInfo(platform::Posix& posix, const char* path, unsigned char* tagInfo,
                         unsigned char* mpegInfo) {
    if (path == nullptr || tagInfo == nullptr || mpegInfo == nullptr) return 0;
    try {
        const std::lock_guard<std::mutex> lock(callMutex);
        std::optional<FileInfo> info;
        if (int err = readInfo(posix, path, info); err != 0) return result(err);
        toBlock(info->fields, tagInfo);
        std::memcpy(mpegInfo, info->mpeg.data(), info->mpeg.size());
        return 1;
    } catch (...) {
        return result(ENOMEM);
    }
}

std::int16_t setTagInfo(platform::Posix& posix, const char* path, unsigned char* tagInfo,
                        std::int32_t id3v2, std::int32_t id3v1) {
    if (path == nullptr || tagInfo == nullptr || !isFlag(id3v2) || !isFlag(id3v1))
        return result(EINVAL);
    try {
        return result(write(posix, path, fromBlock(tagInfo), id3v2, id3v1, WriteMode::Write));
    } catch (...) {
        return result(ENOMEM);
    }
}

std::int16_t getFileInfoUtf8(platform::Posix& posix, const char* path, char* record,
                             std::uint32_t recordSize, unsigned char* mpegInfo) {
    if (path == nullptr || record == nullptr || mpegInfo == nullptr) return result(EINVAL);
    try {
        const std::lock_guard<std::mutex> lock(callMutex);
        std::optional<FileInfo> info;
        if (int err = readInfo(posix, path, info); err != 0) return result(err);
        std::string bytes;
        if (int err = toRecord(info->fields, bytes); err != 0) return result(err);
        if (bytes.size() > recordSize) return result(ERANGE);
        std::copy(bytes.begin(), bytes.end(), record);
        std::memcpy(mpegInfo, info->mpeg.data(), info->mpeg.size());
        return 1;
    } catch (...) {
        return result(ENOMEM);
    }
}

vbmp3_batch* beginBatch(platform::Posix& posix) {
    try {
        return new vbmp3_batch(posix);
    } catch (...) {
        errno = ENOMEM;
        return nullptr;
    }
}

std::int16_t addTagInfoUtf8(vbmp3_batch* batch, const char* path, const char* record,
                            std::uint32_t recordSize, std::int32_t id3v2, std::int32_t id3v1) {
    if (batch == nullptr || path == nullptr || record == nullptr || !isFlag(id3v2) ||
        !isFlag(id3v1))
        return result(EINVAL);
    try {
        const std::optional<TagFields> fields = fromRecord({record, recordSize});
        if (!fields) return result(EINVAL);
        const std::lock_guard<std::mutex> lock(callMutex);
        installStringHandlers();
        const auto refused = batch->writes.add(path, *fields, WriteTargets{id3v2 == 1, id3v1 == 1});
        batch->refused.push_back(refused.has_value());
        return refused ? result(refused->error) : 1;
    } catch (...) {
        return result(ENOMEM);
    }
}

std::int16_t commitBatch(vbmp3_batch* batch, std::int32_t* errors, std::uint32_t count) {
    if (batch == nullptr) return result(EINVAL);
    try {
        const std::lock_guard<std::mutex> lock(callMutex);
        const auto staged = static_cast<std::uint32_t>(
            std::count(batch->refused.begin(), batch->refused.end(), false));
        if ((errors == nullptr && count != 0) || count != staged) return result(EINVAL);
        installStringHandlers();
        const std::vector<std::optional<WriteFailure>> results = batch->writes.commit();
        // The refused adds returned 0 already; the others get their result here.
        std::uint32_t k = 0;
        int failed = 0;
        for (std::size_t i = 0; i < results.size(); ++i) {
            if (batch->refused[i]) continue;
            errors[k] = results[i] ? results[i]->error : 0;
            if (errors[k++] != 0) failed = results[i]->error;
        }
        batch->refused.clear();
        return failed == 0 ? 1 : result(failed);
    } catch (...) {
        return result(ENOMEM);
    }
}

void endBatch(vbmp3_batch* batch) {
    const std::lock_guard<std::mutex> lock(callMutex);
    delete batch;
}

std::int16_t setTagInfoUtf8(platform::Posix& posix, const char* path, const char* record,
                            std::uint32_t recordSize, std::int32_t id3v2, std::int32_t id3v1,
                            std::int32_t checkOnly) {
    if (path == nullptr || record == nullptr || !isFlag(id3v2) || !isFlag(id3v1) ||
        !isFlag(checkOnly))
        return result(EINVAL);
    try {
        const std::optional<TagFields> fields = fromRecord({record, recordSize});
        if (!fields) return result(EINVAL);
        return result(write(posix, path, *fields, id3v2, id3v1,
                            checkOnly == 1 ? WriteMode::Check : WriteMode::Write));
    } catch (...) {
        return result(ENOMEM);
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

extern "C" vbmp3_batch* vbmp3_beginBatch(void) {
    return beginBatch(kestrom::platform::systemPosix());
}

extern "C" int16_t vbmp3_addTagInfoUtf8(vbmp3_batch* batch, const char* path, const char* record,
                                        uint32_t recordSize, int32_t id3v2, int32_t id3v1) {
    return addTagInfoUtf8(batch, path, record, recordSize, id3v2, id3v1);
}

extern "C" int16_t vbmp3_commitBatch(vbmp3_batch* batch, int32_t* errors, uint32_t count) {
    return commitBatch(batch, errors, count);
}

extern "C" void vbmp3_endBatch(vbmp3_batch* batch) {
    endBatch(batch);
}

extern "C" int16_t vbmp3_getFileInfoUtf8(const char* path, char* record, uint32_t recordSize,
                                         unsigned char* mpegInfo) {
    return getFileInfoUtf8(kestrom::platform::systemPosix(), path, record, recordSize, mpegInfo);
}

extern "C" int16_t vbmp3_setTagInfoUtf8(const char* path, const char* record, uint32_t recordSize,
                                        int32_t id3v2, int32_t id3v1, int32_t checkOnly) {
    return setTagInfoUtf8(kestrom::platform::systemPosix(), path, record, recordSize, id3v2, id3v1,
                          checkOnly);
}
