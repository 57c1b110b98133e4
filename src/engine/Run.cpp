// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/Run.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <set>
#include <vector>

#include "engine/FolderCheck.h"
#include "engine/Messages.h"
#include "engine/PairMove.h"
#include "engine/ReplaceInLibrary.h"
#include "engine/RunLock.h"
#include "engine/RunState.h"
#include "engine/TagTransfer.h"
#include "platform/FileChange.h"
#include "platform/FileError.h"
#include "platform/Text.h"

namespace kestrom::engine {

std::string ErrorListText;

std::string counterText(std::int64_t ok, std::int64_t ng) {
    char text[64];
    std::snprintf(text, sizeof text, "%04" PRId64 " / %04" PRId64, ok, ng);
    return text;
}

namespace {

std::string unreadableFolder(std::string_view folder, int error,
                             const platform::Language& language) {
    return platform::format(
        language(texts::kUnreadableFolder),
        {platform::displayName(withoutTrailingSeparators(folder)),
         platform::numbered(platform::folderReadErrorFromErrno(error), language)});
}

// A work folder that takes no new files (no journal, no copy) fails every
// write alike, though its files could be written: the folder is named once, in
// a message, at the first write that fails for a reason it can explain, rather
// than the same reason given for every file.
class UnwritableFolder {
public:
    UnwritableFolder(const std::string& folder, RunWindow& window, platform::Posix& posix)
        : m_folder(folder), m_window(window), m_posix(posix) {}

    // Whether the folder's message explains a write that failed with error.
    bool explains(int error) {
        if (error != EACCES && error != EPERM && error != EROFS) return false;
        if (!m_checked) {
            m_checked = true;
            if (m_posix.access(platform::folderToOpen(m_folder + "/").c_str(), W_OK) == 0)
                return false;
            m_error = errno;
            if (m_error != EACCES && m_error != EPERM && m_error != EROFS) m_error = 0;
            if (m_error == 0) return false;
            const platform::FileError cause =
                m_error == EROFS ? platform::fileErrorFromErrno(EROFS)
                                 : platform::fileError(platform::kFolderNotWritable);
            const platform::Language& language = m_window.language();
            m_window.message(platform::format(
                language(texts::kUnwritableFolder),
                {platform::displayName(m_folder), platform::numbered(cause, language)}));
        }
        return m_error != 0;
    }

private:
    std::string m_folder;
    RunWindow& m_window;
    platform::Posix& m_posix;
    bool m_checked = false;
    int m_error = 0;  // why the folder takes no new files; 0 when it takes them
};

FileReport::Outcome reportedOutcome(const Transfer& transfer, bool replaced, bool replaceFailed) {
    switch (transfer.outcome) {
        case Transfer::Outcome::NotFound: return FileReport::Outcome::NotFound;
        case Transfer::Outcome::UnreadableTag: return FileReport::Outcome::UnreadableTag;
        case Transfer::Outcome::WriteFailed: return FileReport::Outcome::WriteFailed;
        case Transfer::Outcome::Ok:
        case Transfer::Outcome::LibraryMissing: break;
    }
    if (replaceFailed) return FileReport::Outcome::MoveFailed;
    return replaced ? FileReport::Outcome::Moved : FileReport::Outcome::Tagged;
}

// Rolls back, finishes or removes what a killed run left in a folder: a change
// left half-way is undone before anything reads the file, a pair half-way into
// the library is finished or undone. What cannot be cleaned up is named; the run
// goes on without it.
void cleanUpAfterKilledRuns(RunWindow& window, const std::vector<platform::Leftover>& leftovers,
                            platform::Posix& posix) {
    for (const platform::Leftover& leftover : leftovers) {
        if (auto error = settleLeftover(posix, leftover.folder, leftover.name)) {
            window.message(platform::displayName(leftover.folder + leftover.name) + ":" +
                           platform::numbered(*error, window.language()));
        }
    }
}

}  // namespace

RunSummary runTransfer(RunWindow& window, binding::Vbmp3& tagLibrary, const RunOptions& options,
                       platform::Posix& posix) {
    RunSummary summary;
    RunState state;
    // The trimmed texts serve every path of the run: a stray blank would
    // otherwise name a folder that does not exist and fail every file.
    // Trailing separators go too, so that no path shows a doubled one.
    state.libraryText = withoutTrailingSeparators(platform::trimBlanks(window.libraryFolderText()));
    state.workText = withoutTrailingSeparators(platform::trimBlanks(window.workFolderText()));

    platform::DirLookup lookup(posix);
    const platform::Language& language = window.language();
    if (auto message = checkFolders(state.libraryText, state.workText, lookup, posix, language)) {
        window.message(*message);
        return summary;
    }
    RunLock lock;
    if (auto busy = lock.acquire(posix, state.libraryText, state.workText)) {
        window.message(
            platform::format(language(texts::kFolderInUse), {platform::displayName(*busy)}));
        return summary;
    }
    // The work folder is left out of the library, also where a link leads to it.
    std::optional<std::pair<dev_t, ino_t>> workFolder;
    if (!lookup.firstLiteral(state.workText, platform::Filter::Folder).empty())
        workFolder = {lookup.current().device, lookup.current().inode};
    state.library = scanLibrary(state.libraryText, lookup, workFolder);
    for (const LibraryScan::Skipped& skipped : state.library.skipped) {
        const std::string message =
            unreadableFolder(state.library.SourceDirs[skipped.folder], skipped.error, language);
        // Without its root there is no library to search: every file would be
        // "not found" for a reason that lies elsewhere.
        if (skipped.folder == 0) {
            window.message(message);
            return summary;
        }
        if (options.observer != nullptr) options.observer->folderSkipped(message);
    }
    // The library's clean-up goes first: undoing a pair brings its companion
    // back into the work folder, which is listed after it.
    if (!options.dryRun) cleanUpAfterKilledRuns(window, state.library.leftovers, posix);
    state.work = listWorkFolder(state.workText, lookup);
    if (state.work.error != 0) {
        window.message(unreadableFolder(state.workText, state.work.error, language));
        return summary;
    }
    if (!options.dryRun) cleanUpAfterKilledRuns(window, state.work.leftovers, posix);
    const std::size_t fileCount = state.work.FileCount();
    if (fileCount == 0) {
        window.message(language(texts::kNoData));
        return summary;
    }

    ErrorListText.clear();
    LibraryReplacer replacer(state, posix, lookup, language);
    // A folder whose changes may not be on disk is named in a message.
    const auto syncChanges = [&] {
        for (const std::string& failure : replacer.syncChangedFolders()) {
            window.message(failure);
            summary.synced = false;
        }
    };
    UnwritableFolder unwritable(state.workText, window, posix);
    // The part of the tag library that stopped the run, when one did.
    std::optional<binding::Missing> missing;
    for (std::size_t first = 0; first < fileCount && !missing;) {
        // A batch: its files are staged, then written and made durable together,
        // and only then counted and moved, so that no file leaves the work folder
        // before its change is on disk.
        // A dry run writes nothing: its files go one by one.
        const std::size_t end = std::min(
            fileCount, first + (options.dryRun ? 1 : std::max<std::size_t>(options.batchFiles, 1)));
        std::vector<Transfer> transfers;
        // A file whose match is a file of this batch that moves into the library
        // (Song_K_K.mp3 after Song_K.mp3) waits for the next batch: its match is
        // there only once the batch has moved.
        std::set<std::u16string> moving;
        const auto started = std::chrono::steady_clock::now();
        for (std::size_t i = first; i < end; ++i) {
            if (i > first && std::chrono::steady_clock::now() - started > options.batchTime) break;
            if (window.replaceFlag()) {
                if (moving.contains(platform::foldName(state.work.TargetNames[i]))) break;
                moving.insert(platform::foldName(state.work.workName(i)));
            }
            Transfer transfer = processFile(i, state, tagLibrary, options.dryRun);
            if (transfer.outcome == Transfer::Outcome::LibraryMissing) {
                missing = transfer.missing;
                break;
            }
            transfers.push_back(std::move(transfer));
        }
        if (!options.dryRun) {
            const std::vector<int> errors = tagLibrary.commitBatch();
            std::size_t k = 0;
            for (Transfer& transfer : transfers) {
                if (!transfer.staged || k >= errors.size()) continue;
                if (const int error = errors[k++]; error != 0) {
                    transfer.outcome = Transfer::Outcome::WriteFailed;
                    transfer.error = error;
                }
            }
        }
        // The batch's tagged files move into the library, their pairs' records
        // put on disk together. A dry run's plan shows the moves that would be
        // refused; it has no messages.
        std::vector<std::optional<std::string>> moveFailures(transfers.size());
        if (window.replaceFlag() && !options.dryRun)
            moveFailures = replacer.replaceBatch(first, transfers);
        for (std::size_t i = first; i < first + transfers.size(); ++i) {
            const Transfer& transfer = transfers[i - first];
            countFile(i, state, transfer);
            const bool explained = transfer.outcome == Transfer::Outcome::WriteFailed &&
                                   unwritable.explains(transfer.error);
            const bool replaced = transfer.outcome == Transfer::Outcome::Ok && window.replaceFlag();
            if (replaced && options.dryRun) moveFailures[i - first] = replacer.plan(i, transfer);
            const bool replaceFailed = moveFailures[i - first].has_value();
            if (replaceFailed && !options.dryRun) window.message(*moveFailures[i - first]);
            // Every change of the run is on disk before the counter shows its last numbers.
            if (i + 1 == fileCount && !options.dryRun) syncChanges();
            window.counterText(counterText(state.OkCount, state.NgCount));
            if (options.observer != nullptr) {
                FileReport report;
                report.index = i;
                report.total = fileCount;
                report.workName = state.work.workName(i);
                report.workFile = state.workPath(report.workName);
                report.outcome = reportedOutcome(transfer, replaced, replaceFailed);
                report.error = transfer.error;
                report.explained = explained;
                if (!transfer.foundName.empty())
                    report.libraryPath =
                        state.library.SourceDirs[transfer.folder] + transfer.foundName;
                report.companion = state.work.CompanionTexts[i];
                options.observer->fileDone(report);
            }
        }
        first += transfers.size();
    }
    // The run's journal goes.
    tagLibrary.endBatch();
    const bool stopped = missing.has_value();
    if (stopped) {
        if (!options.dryRun) syncChanges();
        window.message(platform::format(language(texts::kTagLibraryUnusable),
                                        {binding::describe(*missing, language)}));
        // The files done before it stay done: the run ends as a finished one
        // does, with the error list of the files that failed so far.
    }

    summary.completed = !stopped;
    summary.OkCount = state.OkCount;
    summary.NgCount = state.NgCount;
    window.finish();
    if (state.NgCount >= 1) window.showErrorList();
    return summary;
}

}  // namespace kestrom::engine
