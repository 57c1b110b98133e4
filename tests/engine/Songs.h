// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Mp3Files.h"
#include "support/TempDir.h"

namespace kestrom::test {

// A song of a run over real MP3 files with the replace box ticked: its paths
// from the tree's root, and the contents its files hold before and after the run.
struct Song {
    std::string work, lib, moved, text = {}, movedText = {};  // no companion: no texts
    std::string oldText = {};  // what the library held under movedText before, if anything
    std::string workBefore = {}, libBefore = {}, tagged = {};  // tagged: the run fills it in
};

// The library's tag of song i: a title of 70 characters (for i < 10), longer
// than the tag block holds, characters outside code page 932, and for every
// third song (from 1) a comment of several kilobytes.
inline Mp3Tag libraryTag(int i) {
    std::string title = std::to_string(i), comment = "♥ コメント 한국어 🎵";
    for (int k = 0; k < 23; ++k) title += "桜の歌";
    for (int k = 0; i % 3 == 1 && k < 150; ++k) comment += " ♥ コメント 한국어 🎵";
    return {title, "歌手", "Beyoncé Live", "1999", comment, "Pop"};
}

// Writes the songs under root. Song i's library file is lib/F<i%2>/Song<i>.mp3;
// its work file has a padded tag, which the library's replaces in place. Every
// third (from 1) is untagged, so that its write is a rewrite; every third (from
// 2) is a karaoke copy, which moves in beside its match under its own name; all
// but every fourth (from 1) have a companion text, and every third (from 0) of
// those replaces one that the library holds.
inline std::vector<Song> writeSongs(const std::string& root, int count, int frames) {
    std::vector<Song> songs;
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i), folder = "lib/F" + std::to_string(i % 2) + "/";
        const std::string name = "Song" + n + (i % 3 == 2 ? "_K" : "");
        Song& s = songs.emplace_back(
            Song{"work/" + name + ".mp3", folder + "Song" + n + ".mp3", folder + name + ".mp3"});
        if (i % 4 != 1) {
            s.text = "work/Song" + n + ".txt";
            s.movedText = folder + name + ".txt";
            writeFile(root + "/" + s.text, s.text);  // its first path: its content
            if (i % 3 == 0) writeFile(root + "/" + s.movedText, s.oldText = s.movedText);
        }
        const Mp3Tag libTag = libraryTag(i),
                     workTag{"Work", "Old", "", "", std::string(300, 'c'), ""};
        writeMp3(root + "/" + s.lib, silentAudio(frames, static_cast<unsigned>(i)), &libTag);
        writeMp3(root + "/" + s.work, silentAudio(frames, 100u + static_cast<unsigned>(i)),
                 i % 3 == 1 ? nullptr : &workTag);
        s.workBefore = readFile(root + "/" + s.work);
        s.libBefore = readFile(root + "/" + s.lib);
    }
    return songs;
}

// True when the file is there and holds one of the contents.
inline bool holds(const std::string& path, std::initializer_list<std::string> contents) {
    return exists(path) &&
           std::find(contents.begin(), contents.end(), readFile(path)) != contents.end();
}

// The hidden files in folder (ending in "/") that hold content.
inline bool hiddenHolds(const std::string& folder, const std::string& content) {
    for (const std::string& name : treeOf(folder))
        if (name.starts_with('.') && readFile(folder + name) == content) return true;
    return false;
}

// Every file of the song under root is as it was or as the run leaves it, byte
// for byte, and in one place at least; the library's own companion is kept
// (aside, while the song's pair moves) until the new pair is in place.
inline void expectWhole(const std::string& root, const Song& s) {
    SCOPED_TRACE(s.work);
    const std::string work = root + "/" + s.work, moved = root + "/" + s.moved;
    EXPECT_TRUE(!exists(work) || holds(work, {s.workBefore, s.tagged})) << "work damaged";
    EXPECT_TRUE(holds(root + "/" + s.lib, {s.libBefore, s.lib == s.moved ? s.tagged : ""}))
        << "the library file is damaged";
    EXPECT_TRUE(!exists(moved) || holds(moved, {s.libBefore, s.tagged}));
    EXPECT_TRUE(exists(work) || holds(moved, {s.tagged})) << "the work file is lost";
    if (s.text.empty()) return;
    const std::string movedText = root + "/" + s.movedText;
    EXPECT_TRUE(holds(root + "/" + s.text, {s.text}) || holds(movedText, {s.text}))
        << "the companion is lost";
    // Under its name in the library: the new companion, or the library's own.
    EXPECT_TRUE(!exists(movedText) || holds(movedText, {s.text}) ||
                (!s.oldText.empty() && holds(movedText, {s.oldText})));
    EXPECT_TRUE(
        s.oldText.empty() || holds(movedText, {s.oldText}) || holds(moved, {s.tagged}) ||
        hiddenHolds(root + "/" + s.movedText.substr(0, s.movedText.rfind('/') + 1), s.oldText))
        << "the library's companion is lost";
}

// The song's MP3 file and companion in the library are both as they were or
// both as the run leaves them: what the clean-up after a crash must leave.
inline void expectPairMatches(const std::string& root, const Song& s) {
    if (s.text.empty()) return;
    const std::string movedText = root + "/" + s.movedText;
    const bool textNew = holds(movedText, {s.text});
    EXPECT_EQ(holds(root + "/" + s.moved, {s.tagged}), textNew) << s.work << ": a mixed pair";
    EXPECT_TRUE(textNew || (s.oldText.empty() ? !exists(movedText) : holds(movedText, {s.oldText})))
        << s.work << ": the library's companion is lost";
}

}  // namespace kestrom::test
