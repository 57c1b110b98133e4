// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/TagTransfer.h"

#include "engine/Run.h"
#include "platform/Text.h"

namespace kestrom::engine {
namespace {

// The mark fills the field as the block holds it: followed by blanks up to its
// 128 characters, which the library does not store.
void markKaraoke(binding::TagInfo& tag) {
    tag.TextB = kKaraokeMark;
    tag.TextB.resize(VBMP3_TEXT_B_SIZE, u' ');
}

}  // namespace

Transfer processFile(std::size_t i, RunState& state, binding::Vbmp3& tagLibrary, bool dryRun) {
    const std::string& workName = state.work.workName(i);
    Transfer result;
    if (const int linkError = state.work.linkErrors[i]; linkError != 0) {
        // There is no file to write a tag into: the tag library is not called.
        result.outcome = Transfer::Outcome::WriteFailed;
        result.error = linkError;
        return result;
    }
    const auto match = state.library.index.find(state.work.TargetNames[i]);
    if (!match) return result;
    result.folder = match->folder;
    result.foundName = match->name;

    const std::string libraryFile = state.library.SourceDirs[match->folder] + match->name;
    if (const auto read = tagLibrary.getFileInfo(libraryFile, state.records);
        read.status != binding::CallStatus::Success) {
        if (read.status == binding::CallStatus::Unavailable) {
            result.outcome = Transfer::Outcome::LibraryMissing;
            result.missing = read.missing;
            return result;
        }
        result.outcome = Transfer::Outcome::UnreadableTag;
        result.error = read.error;
        return result;
    }

    if (!state.work.KaraokeNames[i].empty()) markKaraoke(state.records.tag);

    // A dry run writes nothing, but makes the checks of the write, so that a
    // file the write would refuse fails here as it would in the run.
    const std::string workFile = state.workPath(workName);
    const auto write = dryRun ? tagLibrary.checkTagInfo(workFile, state.records)
                              : tagLibrary.stageTagInfo(workFile, state.records);
    if (write.status == binding::CallStatus::Unavailable) {
        result.outcome = Transfer::Outcome::LibraryMissing;
        result.missing = write.missing;
        return result;
    }
    if (write.status == binding::CallStatus::Failure) {
        result.outcome = Transfer::Outcome::WriteFailed;
        result.error = write.error;
        return result;
    }
    result.outcome = Transfer::Outcome::Ok;
    result.staged = !dryRun;
    return result;
}

void countFile(std::size_t i, RunState& state, const Transfer& transfer) {
    if (transfer.outcome == Transfer::Outcome::Ok) {
        ++state.OkCount;
        return;
    }
    ++state.NgCount;
    ErrorListText += platform::displayName(state.work.workName(i));
    ErrorListText += "\r\n";
}

}  // namespace kestrom::engine
