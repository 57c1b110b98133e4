// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ReplaceInLibrary.h"

#include <fcntl.h>

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

std::optional<FileError> LibraryReplacer::planMove(std::size_t i, const Transfer& transfer,
                                                   Move& move) {
    move.folder = m_state.library.SourceDirs[transfer.folder];
    const std::string& folder = move.folder;
    const std::string& workName = m_state.work.workName(i);
    move.companion = m_state.work.CompanionTexts[i];
    move.companionName = companionTarget(i);

    if (filled(folder, workName) || (!move.companion.empty() && filled(folder, move.companionName)))
        return platform::fileErrorFromErrno(EEXIST);
    std::string stored, storedCompanion;
    if (auto error = storedName(folder, workName, stored)) return error;
    if (!move.companion.empty()) {
        if (auto error = storedName(folder, move.companionName, storedCompanion)) return error;
    }
    if (!stored.empty()) {
        if (auto error = m_files.setNormal(folder + stored)) return error;
    }
    move.targetName = stored.empty() ? workName : stored;
    m_changedFolders.insert(folder);
    if (move.companion.empty()) return std::nullopt;
    if (m_workFolder.empty()) {
        std::string resolved;
        if (m_posix.realpath(m_state.workText.c_str(), resolved) != 0)
            return platform::fileErrorFromErrno(errno);
        m_workFolder = resolved + "/";
    }
    // A companion new to the library takes the MP3 file's name as it arrives
    // there, so that a player finds it by the MP3 file's own stem: UPPER.MP3
    // that keeps the library's spelling upper.mp3 brings upper.txt.
    const std::string arrivingCompanion =
        storedCompanion.empty() ? companionOf(move.targetName) : storedCompanion;
    // Song.mp3 and Song_K.mp3 share Song.txt: it is copied for every user but
    // the last, which moves it.
    move.pair = PairMove{m_workFolder,
                         move.companion,
                         arrivingCompanion,
                         workName,
                         move.targetName,
                         m_companionUsers[move.companion] > 1,
                         !storedCompanion.empty()};
    return std::nullopt;
}

std::optional<FileError> LibraryReplacer::carryOut(std::size_t i, const Transfer& transfer,
                                                   Move& move) {
    const std::string& folder = move.folder;
    if (!move.pair) {
        if (auto error = m_files.moveReplacing(m_state.workPath(m_state.work.workName(i)),
                                               folder + move.targetName))
            return error;
    } else {
        int& users = m_companionUsers[move.companion];
        // A pair made ready in a batch whose earlier pair of the same companion
        // failed would move the companion another file still needs: it goes
        // on its own, with the copy it takes now.
        if (move.prepared && move.pair->copyCompanion != (users > 1)) move.prepared.reset();
        move.pair->copyCompanion = users > 1;
        if (auto error =
                move.prepared ? move.prepared->carryOut() : movePair(m_posix, folder, *move.pair))
            return error;
        --users;
        fill(folder, move.companionName);
    }
    m_state.library.index.add(transfer.folder, move.targetName);
    fill(folder, move.targetName);
    return std::nullopt;
}

std::optional<FileError> LibraryReplacer::moveFiles(std::size_t i, const Transfer& transfer) {
    Move move;
    if (auto error = planMove(i, transfer, move)) return error;
    return carryOut(i, transfer, move);
}

std::vector<std::optional<std::string>> LibraryReplacer::replaceBatch(
    std::size_t first, std::span<const Transfer> transfers) {
    std::vector<std::optional<std::string>> messages(transfers.size());
    std::vector<Move> moves(transfers.size());
    // Places this batch's moves take: a move whose place an earlier one of the
    // batch takes waits for the batch to end, to find the place as that move
    // left it (Song.mp3 that SONG.mp3 fills, unless SONG.mp3 failed).
    std::set<std::pair<std::string, std::u16string>> taken;
    std::unordered_map<std::string, int> users;
    const auto takes = [&](const std::string& folder, const std::string& name) {
        return !name.empty() && !taken.emplace(folder, platform::foldName(name)).second;
    };
    std::vector<std::size_t> waiting, prepared;
    std::vector<int> fds;
    for (std::size_t k = 0; k < transfers.size(); ++k) {
        const Transfer& transfer = transfers[k];
        if (transfer.outcome != Transfer::Outcome::Ok) continue;
        const std::size_t i = first + k;
        const std::string& folder = m_state.library.SourceDirs[transfer.folder];
        const bool waits = takes(folder, m_state.work.workName(i));
        if (takes(folder, companionTarget(i)) || waits) {
            waiting.push_back(k);
            continue;
        }
        Move& move = moves[k];
        std::optional<FileError> error = planMove(i, transfer, move);
        if (!error && move.pair) {
            // Later users of the companion in this batch count as still to come.
            move.pair->copyCompanion = m_companionUsers[move.companion] - users[move.companion] > 1;
            ++users[move.companion];
            error = PreparedPair::prepare(m_posix, folder, *move.pair, move.prepared);
            if (!error) {
                prepared.push_back(k);
                fds.push_back(move.prepared->fd());
            }
        }
        if (error) moves[k].failed = error;
    }
    // Every pair's record on disk before anything moves: one flush for them all.
    const std::vector<int> flushed = platform::flushByFileSystem(m_posix, fds);
    for (std::size_t n = 0; n < prepared.size(); ++n) {
        if (flushed[n] == 0) continue;
        moves[prepared[n]].prepared.reset();
        moves[prepared[n]].failed = platform::fileErrorFromErrno(flushed[n]);
    }
    for (std::size_t k = 0; k < transfers.size(); ++k) {
        const Transfer& transfer = transfers[k];
        if (transfer.outcome != Transfer::Outcome::Ok || moves[k].folder.empty()) {
            if (moves[k].failed) messages[k] = failure(transfer, *moves[k].failed);
            continue;
        }
        if (!moves[k].failed) moves[k].failed = carryOut(first + k, transfer, moves[k]);
        if (moves[k].failed) messages[k] = failure(transfer, *moves[k].failed);
    }
    for (const std::size_t k : waiting) messages[k] = replace(first + k, transfers[k]);
    return messages;
}

std::vector<std::string> LibraryReplacer::syncChangedFolders() {
    m_changedFolders.insert(m_state.workText + "/");
    std::vector<std::string> failures;
    const auto failed = [&](const std::string& folder, int err) {
        failures.push_back(
            platform::format(m_language(texts::kUnsyncedFolder),
                             {platform::displayName(withoutTrailingSeparators(folder)),
                              platform::numbered(platform::fileErrorFromErrno(err), m_language)}));
    };
    // All of them with one flush of each file system.
    std::vector<const std::string*> folders;
    std::vector<platform::Fd> opened;
    std::vector<int> fds;
    for (const std::string& folder : m_changedFolders) {
        const std::string path = platform::folderToOpen(folder);
        platform::Fd fd(m_posix, m_posix.open(path.c_str(), O_RDONLY | O_DIRECTORY, 0));
        if (!fd.valid()) {
            failed(folder, errno);
            continue;
        }
        folders.push_back(&folder);
        fds.push_back(fd.get());
        opened.push_back(std::move(fd));
    }
    const std::vector<int> results = platform::flushByFileSystem(m_posix, fds);
    for (std::size_t k = 0; k < results.size(); ++k)
        if (results[k] != 0) failed(*folders[k], results[k]);
    m_changedFolders.clear();
    return failures;
}

}  // namespace kestrom::engine
