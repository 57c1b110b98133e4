// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "engine/Run.h"
#include "engine/RunWindow.h"

namespace kestrom::test {

// A text the run shows as the program spells it: on Windows the run shows the
// "/" between names as "\", which the tests turn back, so that they compare one
// spelling on both platforms (the shown one is the platform layer's, tested there).
inline std::string programSpelling(std::string text) {
#ifdef _WIN32
    std::replace(text.begin(), text.end(), '\\', '/');
#endif
    return text;
}

// The run's windows for tests: folder texts and replace flag as set, every other
// operation recorded in the log in order, a line each: "message <text>",
// "counter <text>", "finish" and "errors <ErrorListText at that moment>". As the
// run's observer it also logs "skipped <message>" for a library folder left out,
// and keeps the report of every file. Messages are logged in programSpelling.
class RecordingWindow : public engine::RunWindow, public engine::RunObserver {
public:
    RecordingWindow(std::string library, std::string work, bool replace = false)
        : m_library(std::move(library)), m_work(std::move(work)), m_replace(replace) {}

    std::string libraryFolderText() override { return m_library; }
    std::string workFolderText() override { return m_work; }
    bool replaceFlag() override { return m_replace; }
    void message(const std::string& text) override {
        log += "message " + programSpelling(text) + "\n";
        messages += programSpelling(text) + "\n";
    }
    void counterText(const std::string& text) override { log += "counter " + text + "\n"; }
    void finish() override { log += "finish\n"; }
    void showErrorList() override { log += "errors " + engine::ErrorListText + "\n"; }
    const platform::Language& language() override { return *speaks; }
    void fileDone(const engine::FileReport& report) override { reports.push_back(report); }
    void folderSkipped(const std::string& message) override {
        log += "skipped " + programSpelling(message) + "\n";
    }

    std::string log, messages;  // messages: the messages alone
    std::vector<engine::FileReport> reports;
    const platform::Language* speaks = &platform::japanese();  // the messages' language

private:
    std::string m_library, m_work;
    bool m_replace;
};

}  // namespace kestrom::test
