// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the read path: any bytes as an MP3 file, read from memory
// through the code behind vbmp3_getFileInfo. Besides crashes it checks that a
// block or a text record read from a file survives being written back: its
// fields, taken from it as a write takes them, give the same block or record.
#include <cstdint>
#include <cstring>

#include "vbmp3/TagFields.h"
#include "vbmp3/TagReader.h"
#include "vbmp3/TagText.h"

using namespace kestrom::vbmp3;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    installStringHandlers();
    ReadAheadStream stream(std::string(reinterpret_cast<const char*>(data), size));
    const std::optional<FileInfo> info = readFileInfo(stream);
    if (!info) return 0;

    unsigned char block[kTagBlockSize] = {};
    toBlock(info->fields, block);
    unsigned char again[kTagBlockSize] = {};
    toBlock(fromBlock(block), again);
    if (std::memcmp(block, again, sizeof block) != 0) __builtin_trap();

    std::string record, recordAgain;
    if (toRecord(info->fields, record) != 0) return 0;  // a text too long for a record
    const std::optional<TagFields> fields = fromRecord(record);
    if (!fields || toRecord(*fields, recordAgain) != 0 || recordAgain != record) __builtin_trap();
    return 0;
}
