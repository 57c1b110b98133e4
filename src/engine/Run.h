// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "engine/RunWindow.h"
#include "platform/Posix.h"
#include "taglib/Vbmp3.h"

namespace kestrom::engine {

// The error list of the last run: the actual name of each work file that was not
// found in the library or whose tag could not be written, each followed by CR LF,
// in processing order. Program-wide, empty at start; a run empties it when its
// file loop starts. The error list window shows it.
extern std::string ErrorListText;

// One complete run, what the Execute button does: reads the folder texts from the
// window, checks them, scans the library, lists the work folder, transfers the
// tag of every work file (moving it into the library when the replace box is
// ticked), updates the counter text after each file, gives the focus to Exit and
// opens the error list when a file failed.
// File operations go through posix, the seam tests use to make them fail.
void runTransfer(RunWindow& window, taglib::Vbmp3& tagLibrary,
                 platform::Posix& posix = platform::systemPosix());

}  // namespace kestrom::engine
