// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/TagTransfer.h"

#include <algorithm>

#include "engine/Run.h"
#include "platform/Text.h"

namespace kestrom::engine {
namespace {

void markKaraoke(taglib::TagInfo& tag) {
    tag.TextB.fill(u' ');
    std::copy(kKaraokeMark.begin(), kKaraokeMark.end(), tag.TextB.begin());
}

void listAsFailed(const std::string& workName) {
    ErrorListText += platform::displayName(workName);
    ErrorListText += "\r\n";
}

}  // namespace

Transfer processFile(std::size_t i, RunState& state, taglib::Vbmp3& tagLibrary, bool dryRun) {
    const std::string& workName = state.work.workName(i);
    Transfer result;
    if (const int linkError = state.work.linkErrors[i]; linkError != 0) {
        // There is no file to write a tag into: the tag library is not called.
        ++state.NgCount;
        listAsFailed(workName);
        result.outcome = Transfer::Outcome::WriteFailed;
        result.error = linkError;
        return result;
    }
    const auto match = state.library.index.find(state.work.TargetNames[i]);
    if (!match) {
        ++state.NgCount;
        listAsFailed(workName);
        return result;
    }
    result.folder = match->folder;
    result.foundName = match->name;

    const std::string libraryFile = state.library.SourceDirs[match->folder] + match->name;
    if (const auto read = tagLibrary.getFileInfo(libraryFile, state.records);
        read.status != taglib::CallStatus::Success) {
        if (read.status == taglib::CallStatus::Unavailable) {
            result.outcome = Transfer::Outcome::LibraryMissing;
            result.missing = read.missing;
            return result;
        }
        ++state.NgCount;
        listAsFailed(workName);
        result.outcome = Transfer::Outcome::UnreadableTag;
        return result;
    }

    if (!state.work.KaraokeNames[i].empty()) markKaraoke(state.records.tag);

    {
        // A dry run writes nothing but still needs to know that a write could be made.
        const auto write =
            dryRun ? tagLibrary.findSetTagInfo()
                   : tagLibrary.setTagInfo(state.workText + "/" + workName, state.records);
        if (write.status == taglib::CallStatus::Unavailable) {
            result.outcome = Transfer::Outcome::LibraryMissing;
            result.missing = write.missing;
            return result;
        }
        if (write.status == taglib::CallStatus::Failure) {
            ++state.NgCount;
            listAsFailed(workName);
            result.outcome = Transfer::Outcome::WriteFailed;
            result.error = write.error;
            return result;
        }
    }
    ++state.OkCount;
    result.outcome = Transfer::Outcome::Ok;
    return result;
}

}  // namespace kestrom::engine
