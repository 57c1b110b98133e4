// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "binding/Vbmp3.h"
#include "engine/RunWindow.h"
#include "platform/Posix.h"

namespace kestrom::engine {

// The error list of the last run: the actual name of each work file counted NG
// (not found in the library, its match's tag unreadable, or its tag not
// written), each followed by CR LF, in processing order. Program-wide, empty at
// start; a run empties it when its file loop starts. The error list window
// shows it.
extern std::string ErrorListText;

// The counter label's text, "0012 / 0003": at least four digits each, all of
// them from 10000 on.
std::string counterText(std::int64_t ok, std::int64_t ng);

// What became of one work file.
struct FileReport {
    enum class Outcome {
        Tagged,         // tag written (or, in a dry run, would be)
        Moved,          // tag written and the file moved into the library (or would be)
        MoveFailed,     // tag written, the move stopped with a message
        NotFound,       // no library folder holds the name
        UnreadableTag,  // the library file's tag could not be read
        WriteFailed,    // the tag could not be written into the work file (or would be refused)
    };
    std::size_t index = 0;  // from 0
    std::size_t total = 0;
    std::string workName;
    std::string workFile;  // its path, as the run formed it
    Outcome outcome = Outcome::NotFound;
    // WriteFailed, UnreadableTag: the errno the tag library left on the write or
    // the read (platform::tagErrorFromErrno gives its number and description), 0
    // when it set none; for a work file that is a link to nothing, the errno of
    // following it.
    int error = 0;
    // WriteFailed: the reason was given once, for every file alike, by a message
    // naming their folder (a work folder that takes no new files).
    bool explained = false;
    std::string libraryPath;  // the matched library file; empty when none was looked up or found
    std::string companion;    // the companion's name in the work folder, or ""
};

// Told about every work file as soon as it is done.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void fileDone(const FileReport& report) = 0;
    // A library folder that could not be read was left out of the scan, with
    // everything below it; message names it and gives the reason.
    virtual void folderSkipped(const std::string& message) { (void)message; }
};

struct RunOptions {
    // Reads the library tags and makes the checks of every write, but writes,
    // moves and deletes nothing: every file is reported as it would end.
    bool dryRun = false;
    RunObserver* observer = nullptr;  // not owned; may be null
    // The most files a batch holds: they are written and made durable together,
    // then counted and moved. Enough that a batch's few syncs cost little per
    // file, few enough that the counter moves on and the files held open stay few.
    std::size_t batchFiles = 32;
};

struct RunSummary {
    // false: the run stopped with a message before or during the file loop (a
    // run stopped during the loop has still finished and shown its error list).
    bool completed = false;
    // false: the sync of a folder the run changed failed, so its changes may not
    // survive a power loss; a message named the folder.
    bool synced = true;
    std::int64_t OkCount = 0;
    std::int64_t NgCount = 0;
};

// One complete run, what the Execute button does: reads the folder texts from the
// window, checks them, scans the library, lists the work folder, transfers the
// tag of every work file (moving it into the library when the replace box is
// ticked), makes its changes durable (a folder whose sync fails is named in a
// message), updates the counter text after each file, gives the focus to Exit
// and opens the error list when a file failed. File operations go through posix, the
// seam tests use to make them fail.
RunSummary runTransfer(RunWindow& window, binding::Vbmp3& tagLibrary, const RunOptions& options,
                       platform::Posix& posix);

}  // namespace kestrom::engine
