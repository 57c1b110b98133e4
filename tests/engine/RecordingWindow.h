// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "engine/Run.h"
#include "engine/RunWindow.h"

namespace kestrom::test {

// The run's windows for tests: folder texts and replace flag as set, every other
// operation recorded in order as "message <text>", "counter <text>", "finish" and
// "errors <ErrorListText at that moment>". As the run's observer it also records
// "skipped <message>" for a library folder left out.
class RecordingWindow : public engine::RunWindow, public engine::RunObserver {
public:
    RecordingWindow(std::string library, std::string work, bool replace = false)
        : m_library(std::move(library)), m_work(std::move(work)), m_replace(replace) {}

    std::string libraryFolderText() override { return m_library; }
    std::string workFolderText() override { return m_work; }
    bool replaceFlag() override {
        ++replaceAsked;
        return m_replace;
    }
    void message(const std::string& text) override { events.push_back("message " + text); }
    void counterText(const std::string& text) override { events.push_back("counter " + text); }
    void finish() override { events.push_back("finish"); }
    void showErrorList() override { events.push_back("errors " + engine::ErrorListText); }
    void fileDone(const engine::FileReport&) override {}
    void folderSkipped(const std::string& message) override {
        events.push_back("skipped " + message);
    }

    // The events, each followed by a line break.
    std::string log() const {
        std::string all;
        for (const std::string& e : events) all += e + "\n";
        return all;
    }
    std::vector<std::string> messages() const {
        std::vector<std::string> found;
        for (const std::string& e : events)
            if (e.starts_with("message ")) found.push_back(e.substr(8));
        return found;
    }

    std::vector<std::string> events;
    int replaceAsked = 0;  // the flag is asked once for every tagged file, never for a failed one

private:
    std::string m_library;
    std::string m_work;
    bool m_replace;
};

}  // namespace kestrom::test
