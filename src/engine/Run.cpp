// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/Run.h"

#include <cinttypes>
#include <cstdio>

#include "engine/FolderCheck.h"
#include "engine/ReplaceInLibrary.h"
#include "engine/RunState.h"
#include "engine/TagTransfer.h"
#include "platform/Text.h"

namespace kestrom::engine {

std::string ErrorListText;

namespace {

// "0012 / 0003": at least four digits each, all of them from 10000 on.
std::string counterText(std::int64_t ok, std::int64_t ng) {
    char text[64];
    std::snprintf(text, sizeof text, "%04" PRId64 " / %04" PRId64, ok, ng);
    return text;
}

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

}  // namespace

RunSummary runTransfer(RunWindow& window, taglib::Vbmp3& tagLibrary, const RunOptions& options,
                       platform::Posix& posix) {
    RunSummary summary;
    RunState state;
    // The trimmed texts serve every path of the run: a stray blank would
    // otherwise name a folder that does not exist and fail every file.
    state.libraryText = platform::trimBlanks(window.libraryFolderText());
    state.workText = platform::trimBlanks(window.workFolderText());

    platform::DirLookup lookup(posix);
    if (auto message = checkFolders(state.libraryText, state.workText, lookup)) {
        window.message(*message);
        return summary;
    }
    state.library = scanLibrary(state.libraryText, lookup);
    state.work = listWorkFolder(state.workText, lookup);
    const std::size_t fileCount = state.work.FileCount();
    if (fileCount == 0) {
        window.message(std::string(kNoDataMessage));
        return summary;
    }

    ErrorListText.clear();
    const platform::FileOps files(posix);
    LibraryReplacer replacer(state, files, lookup);
    for (std::size_t i = 0; i < fileCount; ++i) {
        const Transfer transfer = processFile(i, state, tagLibrary, options.dryRun);
        if (transfer.outcome == Transfer::Outcome::LibraryMissing) {
            window.message("タグライブラリを使えません（" +
                           platform::displayName(transfer.missing) + "）");
            summary.OkCount = state.OkCount;
            summary.NgCount = state.NgCount;
            return summary;
        }
        bool replaced = false;
        bool replaceFailed = false;
        if (transfer.outcome == Transfer::Outcome::Ok && window.replaceFlag()) {
            replaced = true;
            if (!options.dryRun) {
                if (auto message = replacer.replace(i, transfer)) {
                    replaceFailed = true;
                    window.message(*message);
                }
            }
        }
        window.counterText(counterText(state.OkCount, state.NgCount));
        if (options.observer != nullptr) {
            FileReport report;
            report.index = i;
            report.total = fileCount;
            report.workName = state.work.workName(i);
            report.outcome = reportedOutcome(transfer, replaced, replaceFailed);
            if (transfer.outcome != Transfer::Outcome::NotFound)
                report.libraryPath = state.library.SourceDirs[transfer.folder] + transfer.foundName;
            report.companion = state.work.CompanionTexts[i];
            options.observer->fileDone(report);
        }
    }

    summary.completed = true;
    summary.OkCount = state.OkCount;
    summary.NgCount = state.NgCount;
    window.finish();
    if (state.NgCount >= 1) window.showErrorList();
    return summary;
}

}  // namespace kestrom::engine
