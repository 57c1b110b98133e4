// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <array>
#include <string>

#include "binding/Vbmp3.h"
#include "engine/RunWindow.h"
#include "platform/Posix.h"
#include "ui/Translations.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrom::ui {

// The main window: the library folder (copy source) and work folder (copy
// destination) boxes with their browse buttons, the replace check box, Execute
// and Exit, the OK / NG counters and the credits. Execute runs the engine's
// transfer synchronously with this window as its RunWindow. Nothing is read
// from or written to any settings: both boxes start on the desktop folder.
//
// Owns the binding to the tag library at tagLibraryPath (the program's own, see
// findTagLibrary(), unless a test gives another); the library is loaded at the
// first run that needs it.
class Main : public QWidget, public engine::RunWindow {
    Q_OBJECT
public:
    // Not owned: posix, the file system every part of the program works through.
    Main(platform::Posix& posix, std::string tagLibraryPath);

    // The run's window operations.
    std::string libraryFolderText() override;
    std::string workFolderText() override;
    bool replaceFlag() override;
    void message(const std::string& text) override;
    void counterText(const std::string& text) override;
    void finish() override;
    void showErrorList() override;
    const platform::Language& language() override { return m_language; }

private:
    void Command1_Click(int Index);
    void Command2_Click();
    void Command3_Click();

    std::array<QLineEdit*, 2> Text1{};
    std::array<QPushButton*, 2> Command1{};
    QPushButton* Command2;
    QPushButton* Command3;
    QCheckBox* Check1;
    std::array<QLabel*, 2> Label1{};
    QLabel* Label2;
    QLabel* Label3;
    std::array<QLabel*, 2> Label4{};
    std::array<QLabel*, 2> Label5{};

    platform::Posix& m_posix;
    binding::Vbmp3 m_tagLibrary;
    TranslatedLanguage m_language;
};

}  // namespace kestrom::ui
