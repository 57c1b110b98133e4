// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "binding/Vbmp3.h"
#include "engine/RunState.h"

namespace kestrom::engine {

// The karaoke mark, in the second text field of a karaoke file's tag.
inline constexpr std::u16string_view kKaraokeMark = u"カラオケ";

struct Transfer {
    enum class Outcome { Ok, NotFound, UnreadableTag, WriteFailed, LibraryMissing };
    Outcome outcome = Outcome::NotFound;
    std::size_t folder = 0;  // Ok, UnreadableTag: the scan's index of the folder holding the match
    std::string foundName;   // the match's name as stored
    binding::Missing
        missing;  // LibraryMissing: the library file or entry point that cannot be used
    // WriteFailed, UnreadableTag: the errno the tag library left, 0 when it set
    // none, or that of following a work file that is a link to nothing.
    int error = 0;
    bool staged = false;  // Ok: the write waits for the batch's commit
};

// Transfers the tag of work file i: finds the same-named library file (the first
// folder of the scan that holds it, any letter case), reads its tag, marks a
// karaoke file and stages the write of the tag into the work file
// (binding::Vbmp3::stageTagInfo): Ok with staged set, its result to come with
// the batch's commit. With dryRun the write is only checked
// (binding::Vbmp3::checkTagInfo): a write that would be refused is WriteFailed
// with its errno, any other Ok. A work file that is a link to nothing fails as
// a write does, before anything is looked up or read for it. LibraryMissing
// stops the run: nothing has been written for the file. Nothing is counted.
Transfer processFile(std::size_t i, RunState& state, binding::Vbmp3& tagLibrary, bool dryRun);

// Counts work file i OK or NG by its transfer, once its write's result is known,
// adding every NG file to the error list.
void countFile(std::size_t i, RunState& state, const Transfer& transfer);

}  // namespace kestrom::engine
