// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "platform/Posix.h"
#include "vbmp3/vbmp3.h"

// The entry points of vbmp3.h with the platform's seam passed in: the exported
// functions call them with the real system, tests with a seam that records or
// fails calls. errno tells why a call failed.
namespace kestrom::vbmp3 {

std::int16_t getFileInfo(platform::Posix& posix, const char* path, unsigned char* tagInfo,
                         unsigned char* mpegInfo);
std::int16_t setTagInfo(platform::Posix& posix, const char* path, unsigned char* tagInfo,
                        std::int32_t id3v2, std::int32_t id3v1);
std::int16_t getFileInfoUtf8(platform::Posix& posix, const char* path, char* record,
                             std::uint32_t recordSize, unsigned char* mpegInfo);
std::int16_t setTagInfoUtf8(platform::Posix& posix, const char* path, const char* record,
                            std::uint32_t recordSize, std::int32_t id3v2, std::int32_t id3v1,
                            std::int32_t checkOnly);

vbmp3_batch* beginBatch(platform::Posix& posix);
std::int16_t addTagInfoUtf8(vbmp3_batch* batch, const char* path, const char* record,
                            std::uint32_t recordSize, std::int32_t id3v2, std::int32_t id3v1);
std::int16_t commitBatch(vbmp3_batch* batch, std::int32_t* errors, std::uint32_t count);
void endBatch(vbmp3_batch* batch);

}  // namespace kestrom::vbmp3
