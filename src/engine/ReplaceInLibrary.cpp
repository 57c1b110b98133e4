// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ReplaceInLibrary.h"

#include <cerrno>

#include "engine/FolderCheck.h"
#include "engine/Messages.h"
#include "engine/PairMove.h"
#include "engine/Run.h"
#include "platform/Text.h"

namespace kestrom::engine {

using platform::FileError;

LibraryReplacer::LibraryReplacer(RunState& state, platform::Posix& posix,
                                 platform::DirLookup& lookup, const platform::Language& language)
    : m_state(state), m_posix(posix), m_files(posix), m_lookup(lookup), m_language(language) {
    for (const std::string& companion : state.work.CompanionTexts)
        if (!companion.empty()) ++m_companionUsers[companion];
}

std::optional<std::string> LibraryReplacer::replace(std::size_t i, const Transfer& transfer) {
    const auto error = moveFiles(i, transfer);
    if (!error) return std::nullopt;
    return failure(transfer, *error);
}

std::optional<std::string> LibraryReplacer::plan(std::size_t i, const Transfer& transfer) {
    const std::string& folder = m_state.library.SourceDirs[transfer.folder];
    const std::string& workName = m_state.work.workName(i);
    const std::string companion = companionTarget(i);
    if (filled(folder, workName) || (!companion.empty() && filled(folder, companion)))
        return failure(transfer, platform::fileErrorFromErrno(EEXIST));
    fill(folder, workName);
    if (!companion.empty()) fill(folder, companion);
    return std::nullopt;
}

std::string LibraryReplacer::failure(const Transfer& transfer, const FileError& error) const {
    const std::string reported = m_state.library.SourceDirs[transfer.folder] + transfer.foundName;
    return platform::displayName(reported) + ":" + platform::numbered(error, m_language);
}

bool LibraryReplacer::filled(const std::string& folder, const std::string& name) const {
    return m_filled.contains({folder, platform::foldName(name)});
}

void LibraryReplacer::fill(const std::string& folder, const std::string& name) {
    m_filled.emplace(folder, platform::foldName(name));
}

// The name under which a file goes into folder: the stored spelling of a file
// that is already there under any letter case, else "". A folder that cannot be
// read fails the step.
std::optional<FileError> LibraryReplacer::storedName(const std::string& folder,
                                                     const std::string& name, std::string& stored) {
    stored = m_lookup.firstLiteral(folder + name, platform::Filter::Plain);
    if (stored.empty() && m_lookup.lastError() != 0)
        return platform::fileErrorFromErrno(m_lookup.lastError());
    return std::nullopt;
}

std::string LibraryReplacer::companionTarget(std::size_t i) const {
    const std::string& companion = m_state.work.CompanionTexts[i];
    if (companion.empty() || m_state.work.KaraokeNames[i].empty()) return companion;
    // A karaoke copy takes a text of its own, so that the matched file's text stays.
    return companionOf(m_state.work.workName(i));
}

std::optional<FileError> LibraryReplacer::moveFiles(std::size_t i, const Transfer& transfer) {
    const std::string& folder = m_state.library.SourceDirs[transfer.folder];
    const std::string& workName = m_state.work.workName(i);
    const std::string& companion = m_state.work.CompanionTexts[i];
    const std::string companionName = companionTarget(i);

    if (filled(folder, workName) || (!companion.empty() && filled(folder, companionName)))
        return platform::fileErrorFromErrno(EEXIST);
    std::string stored, storedCompanion;
    if (auto error = storedName(folder, workName, stored)) return error;
    if (!companion.empty()) {
        if (auto error = storedName(folder, companionName, storedCompanion)) return error;
    }
    if (!stored.empty()) {
        if (auto error = m_files.setNormal(folder + stored)) return error;
    }
    const std::string& targetName = stored.empty() ? workName : stored;
    // A companion new to the library takes the MP3 file's name as it arrives
    // there, so that a player finds it by the MP3 file's own stem: UPPER.MP3
    // that keeps the library's spelling upper.mp3 brings upper.txt.
    const std::string arrivingCompanion =
        storedCompanion.empty() ? companionOf(targetName) : storedCompanion;
    m_changedFolders.insert(folder);
    if (companion.empty()) {
        if (auto error = m_files.moveReplacing(m_state.workPath(workName), folder + targetName))
            return error;
    } else {
        if (m_workFolder.empty()) {
            std::string resolved;
            if (m_posix.realpath(m_state.workText.c_str(), resolved) != 0)
                return platform::fileErrorFromErrno(errno);
            m_workFolder = resolved + "/";
        }
        // Song.mp3 and Song_K.mp3 share Song.txt: it is copied for every user but
        // the last, which moves it.
        int& users = m_companionUsers[companion];
        const PairMove pair{m_workFolder, companion, arrivingCompanion,       workName,
                            targetName,   users > 1, !storedCompanion.empty()};
        if (auto error = movePair(m_posix, folder, pair)) return error;
        --users;
        fill(folder, companionName);
    }
    m_state.library.index.add(transfer.folder, targetName);
    fill(folder, targetName);
    return std::nullopt;
}

std::vector<std::string> LibraryReplacer::syncChangedFolders() {
    m_changedFolders.insert(m_state.workText + "/");
    std::vector<std::string> failures;
    for (const std::string& folder : m_changedFolders) {
        if (int err = platform::syncFolder(m_posix, folder); err != 0) {
            failures.push_back(platform::format(
                m_language(texts::kUnsyncedFolder),
                {platform::displayName(withoutTrailingSeparators(folder)),
                 platform::numbered(platform::fileErrorFromErrno(err), m_language)}));
        }
    }
    m_changedFolders.clear();
    return failures;
}

}  // namespace kestrom::engine
