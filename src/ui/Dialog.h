// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "platform/Posix.h"
#include "ui/WindowFrame.h"

class QComboBox;
class QPushButton;

namespace kestrom::ui {

class DirList;

// The folder handed between a browse button of the main window and the folder
// picker, one opening at a time. Before opening, the main window puts its box's
// text here; the picker reads it as its starting folder and empties it when it
// loads, and sets it again only on OK, to the folder open in its directory list.
// An empty value after closing means that nothing was chosen.
extern QString PickedPath;

// The desktop folder as the desktop names it (its user folders, XDG_DESKTOP_DIR),
// or the home folder when that folder does not exist: where both windows start.
QString desktopFolder(platform::Posix& posix);

// The folder picker "フォルダ選択": a drive list (Drive1) over a directory list
// (Dir1), OK and Cancel. It loads from PickedPath when it is created; open it
// with exec(), and create it afresh for every opening.
//
// The drives are the places browsing starts from (platform::systemDrives()): the
// root, the home folder, mounted media. A path belongs to the drive that is its
// longest listed ancestor. Each drive has a current folder: the process's
// current folder on the drive that holds it, the drive's top folder elsewhere.
class Dialog : public FixedDialog {
    Q_OBJECT
public:
    // Not owned: posix, which the lists read the file system through.
    Dialog(QWidget* owner, platform::Posix& posix);
    // The same with a given drive list (file-name bytes, as systemDrives() gives).
    Dialog(QWidget* owner, platform::Posix& posix, std::vector<std::string> drives);

private:
    void Form_Load();
    void Drive1_Change();
    void OKButton_Click();
    void CancelButton_Click();

    // Selects the drive that path belongs to; false when no listed drive holds it.
    bool selectDriveOf(const QString& path);
    QString currentFolderOf(int drive) const;

    QPushButton* OKButton;
    QPushButton* CancelButton;
    QComboBox* Drive1;
    DirList* Dir1;

    platform::Posix& m_posix;
    std::vector<std::string> m_drives;
    int m_shownDrive = -1;  // the drive whose folder Dir1 last moved to
    bool m_loading = false;
};

}  // namespace kestrom::ui
