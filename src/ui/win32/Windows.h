// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "binding/Vbmp3.h"
#include "engine/RunWindow.h"
#include "platform/Posix.h"
#include "ui/win32/Frame.h"

// The three windows in Win32, the same windows as the Qt ones on Linux: the
// main window is the engine's RunWindow, the folder picker and the error list
// are modal windows it opens.
namespace kestrom::ui::win32 {

// The folder handed between a browse button and the folder picker, as the box
// shows it ("C:\Music"): the main window puts its box's text here before
// opening the picker, the picker reads and empties it when it loads and sets
// it again only on OK. Empty after closing: nothing was chosen.
extern std::wstring PickedPath;

// The main window. Owns the binding to the tag library at tagLibraryPath,
// loaded at the first run that needs it; posix is not owned.
class Main : public Frame, public engine::RunWindow {
public:
    Main(platform::Posix& posix, std::string tagLibraryPath);

    std::string libraryFolderText() override;
    std::string workFolderText() override;
    bool replaceFlag() override;
    void message(const std::string& text) override;
    void counterText(const std::string& text) override;
    void finish() override;
    void showErrorList() override;
    const platform::Language& language() override { return windowLanguage(); }

    // Shows the window and handles its messages until it is closed.
    int run();

private:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Command1_Click(int Index);
    void Command2_Click();
    void Command3_Click();

    platform::Posix& m_posix;
    binding::Vbmp3 m_tagLibrary;
    HBRUSH m_background;
};

// The folder picker "フォルダ選択": a drive list over a directory list, OK and
// Cancel. It loads from PickedPath when it is made; exec() shows it modally.
class Dialog : public Frame {
public:
    Dialog(HWND owner, platform::Posix& posix);
    void exec();

private:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Form_Load();
    void Drive1_Change();
    void OKButton_Click();
    void CancelButton_Click();

    bool selectDriveOf(const std::string& path);
    // Opens the folder at path (program form, "C:/Music") in the directory
    // list; false, the list as it was, when it cannot be listed.
    bool setDir1Path(const std::string& path);
    std::string currentFolderOf(int drive) const;

    platform::Posix& m_posix;
    HWND m_owner;
    std::vector<std::string> m_drives;   // "C:/"
    std::vector<std::string> m_entries;  // the directory list's folders, in its order
    std::string m_path;                  // the open folder
    int m_shownDrive = -1;
    bool m_loading = false;
};

// The error list "Copy Error List": engine::ErrorListText in a multi-line box.
class Dialog1 : public Frame {
public:
    explicit Dialog1(HWND owner);
    void exec();

private:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    HWND m_owner;
};

// Shows text in a modal message box titled "Kestrom" with one OK button.
void showMessage(HWND owner, const std::string& text);

// The path as the boxes show it, "\" between names, and back.
std::wstring shownPath(const std::string& path);
std::string programPath(const std::wstring& shown);

}  // namespace kestrom::ui::win32
