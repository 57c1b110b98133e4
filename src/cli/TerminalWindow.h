// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <string>

#include "engine/Run.h"
#include "engine/RunWindow.h"

namespace kestrom::cli {

// The run's windows on a terminal, and the observer of its files.
//  - a message, the name of a library folder that could not be read, a work
//    file whose tag could not be written and a library file whose tag could not
//    be read, each with the reason, go to err as one line that starts
//    "kestrom-cli: ";
//  - after every file, when err is a terminal, a progress line (files done out of
//    the total and the counter text) is rewritten in place; otherwise nothing;
//  - the error list goes to out at the end, one name a line;
//  - in a dry run, each file's plan goes to out as it is decided, and the error
//    list is left out: the plan already names every file that would fail.
// Nothing here owns the streams.
class TerminalWindow : public engine::RunWindow, public engine::RunObserver {
public:
    struct Settings {
        std::string library;
        std::string work;
        bool replace = false;
        bool dryRun = false;
    };
    // Not owned: language, the messages' language, which outlives the window.
    TerminalWindow(Settings settings, std::FILE* out, std::FILE* err, bool errIsTerminal,
                   const platform::Language& language);

    std::string libraryFolderText() override { return m_settings.library; }
    std::string workFolderText() override { return m_settings.work; }
    bool replaceFlag() override { return m_settings.replace; }
    void message(const std::string& text) override;
    void counterText(const std::string& text) override { m_counter = text; }
    void finish() override { endProgressLine(); }
    void showErrorList() override;
    const platform::Language& language() override { return m_language; }

    void fileDone(const engine::FileReport& report) override;
    void folderSkipped(const std::string& text) override;

    // Ends the progress line, if one is showing, so that what follows starts on
    // a line of its own. Safe to call any number of times.
    void endProgressLine();
    // Whether a tagged file could not be moved into the library. The engine
    // counts such a file OK (its tag was written), yet the job asked of it was
    // not done, and a script must learn of that from the exit status.
    bool anyMoveFailed() const { return m_moveFailed; }

private:
    Settings m_settings;
    std::FILE* m_out;
    std::FILE* m_err;
    bool m_errIsTerminal;
    bool m_progressShown = false;
    bool m_moveFailed = false;
    std::string m_counter;
    const platform::Language& m_language;
};

}  // namespace kestrom::cli
