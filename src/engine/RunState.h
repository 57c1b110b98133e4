// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "binding/Vbmp3.h"
#include "engine/LibraryScan.h"
#include "engine/WorkInventory.h"

namespace kestrom::engine {

// Everything one run works with; made afresh at every run.
struct RunState {
    std::string libraryText;  // the folder texts, blanks and trailing separators trimmed, used for
                              // every path
    std::string workText;
    LibraryScan library;
    WorkInventory work;
    binding::TagRecords records;  // all zero at the start, never cleared between files
    // 64 bits: a run of any size counts without wrapping around.
    std::int64_t OkCount = 0;
    std::int64_t NgCount = 0;

    // The path of the file called name in the work folder.
    std::string workPath(std::string_view name) const {
        std::string path = workText + "/";
        path += name;
        return path;
    }
};

}  // namespace kestrom::engine
