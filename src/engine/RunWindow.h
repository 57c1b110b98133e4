// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "platform/Texts.h"

namespace kestrom::engine {

// Everything a run needs of its windows. The main window implements it; tests
// implement it with a recorder, so that a whole run works without a display.
// The engine reports through it and never decides how things are shown.
class RunWindow {
public:
    virtual ~RunWindow() = default;

    // The library folder text (copy source) and the work folder text (copy
    // destination), exactly as they stand in their boxes.
    virtual std::string libraryFolderText() = 0;
    virtual std::string workFolderText() = 0;
    // Whether the replace box is ticked; asked afresh for every tagged file.
    virtual bool replaceFlag() = 0;
    // Shows text in a modal message box with one OK button; returns when closed.
    virtual void message(const std::string& text) = 0;
    // Sets the counter label and repaints it at once.
    virtual void counterText(const std::string& text) = 0;
    // The run is over: the keyboard focus goes to the Exit button.
    virtual void finish() = 0;
    // Shows the error list window modally; returns when it is closed.
    virtual void showErrorList() = 0;
    // The language of the messages: the user's. Not owned; it outlives the run.
    virtual const platform::Language& language() { return platform::japanese(); }
};

}  // namespace kestrom::engine
