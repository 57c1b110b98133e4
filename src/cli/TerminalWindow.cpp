// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/TerminalWindow.h"

#include "platform/FileError.h"
#include "platform/Text.h"

namespace kestrom::cli {

using engine::FileReport;

namespace {

// The word for what happens to a file in a dry run's plan.
std::string_view planWord(FileReport::Outcome outcome) {
    switch (outcome) {
        case FileReport::Outcome::Tagged: return "tag";
        case FileReport::Outcome::Moved: return "tag+move";
        case FileReport::Outcome::NotFound: return "not-found";
        case FileReport::Outcome::UnreadableTag: return "unreadable-tag";
        // In a plan a move fails only because another work file takes its place.
        case FileReport::Outcome::MoveFailed: return "tag+clash";
        // A dry run checks the write that it does not make; a work file that is
        // a link to nothing fails before it.
        case FileReport::Outcome::WriteFailed: return "write-refused";
    }
    return "?";
}

}  // namespace

TerminalWindow::TerminalWindow(Settings settings, std::FILE* out, std::FILE* err,
                               bool errIsTerminal, const platform::Language& language)
    : m_settings(std::move(settings)),
      m_out(out),
      m_err(err),
      m_errIsTerminal(errIsTerminal),
      m_language(language) {}

void TerminalWindow::message(const std::string& text) {
    endProgressLine();
    std::fputs(("kestrom-cli: " + text + "\n").c_str(), m_err);
}

void TerminalWindow::folderSkipped(const std::string& text) {
    message(text);
}

void TerminalWindow::showErrorList() {
    if (m_settings.dryRun) return;
    // Each entry is a display name, which holds no control character, followed
    // by CR LF: ending the lines with LF alone is all there is to do.
    std::string lines;
    for (const char c : engine::ErrorListText)
        if (c != '\r') lines += c;
    std::fwrite(lines.data(), 1, lines.size(), m_out);
}

void TerminalWindow::fileDone(const FileReport& report) {
    if (report.outcome == FileReport::Outcome::MoveFailed) m_moveFailed = true;
    // The error list names the file; the reason goes with it here, in the
    // numbers and words the windows use for file failures: for a tag that could
    // not be written the work file's, for one that could not be read the
    // library file's.
    if (report.outcome == FileReport::Outcome::WriteFailed && !report.explained) {
        message(platform::displayName(report.workFile) + ":" +
                platform::numbered(platform::tagErrorFromErrno(report.error), m_language));
    }
    if (report.outcome == FileReport::Outcome::UnreadableTag) {
        message(platform::displayName(report.libraryPath) + ":" +
                platform::numbered(platform::tagErrorFromErrno(report.error), m_language));
    }
    if (m_settings.dryRun) {
        // Standard output may show on the same terminal: the plan line takes the
        // progress line's place, and the progress line is drawn again below it.
        if (m_progressShown) std::fputs("\r\x1b[K", m_err);
        std::string line = platform::displayName(report.workName);
        line += '\t';
        line += planWord(report.outcome);
        line += '\t';
        line += platform::displayName(report.libraryPath);
        // Always four fields, an empty one where there is nothing, so that a
        // script can split every line alike.
        line += '\t';
        line += platform::displayName(report.companion);
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), m_out);
        if (m_errIsTerminal) std::fflush(m_out);
    }
    if (m_errIsTerminal) {
        // Back to the start of the line and clear it, so that a shorter line
        // leaves nothing of the longer one before it.
        const std::string line = "\r\x1b[K" + std::to_string(report.index + 1) + "/" +
                                 std::to_string(report.total) + "  OK / NG " + m_counter;
        std::fputs(line.c_str(), m_err);
        std::fflush(m_err);
        m_progressShown = true;
    }
}

void TerminalWindow::endProgressLine() {
    if (!m_progressShown) return;
    std::fputc('\n', m_err);
    m_progressShown = false;
}

}  // namespace kestrom::cli
