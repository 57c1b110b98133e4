// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTreeWidget>

#include "platform/Posix.h"

namespace kestrom::ui {

// The folder picker's directory list: the root "/", every folder down to the
// open folder, then the open folder's subfolders, each level indented under the
// one before. A double-click (or Enter) opens the entry under it; a single click
// only highlights. Hidden folders (names that start with ".") are not offered
// as subfolders.
class DirList : public QTreeWidget {
    Q_OBJECT
public:
    // Not owned: posix, which the folders are listed through.
    DirList(QWidget* parent, platform::Posix& posix);

    // The open folder: absolute, without a trailing "/" except the root.
    const QString& path() const { return m_path; }
    // Opens the folder text names: an absolute path, taken after "." and ".."
    // and doubled slashes are cleaned up, that is a folder which can be listed.
    // Returns false, leaving the list as it was, when it is none.
    bool setPath(const QString& text);

signals:
    // A double-click or Enter asked for a folder that could not be opened.
    void cannotOpen(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // The levels show by indentation alone: there is nothing to fold.
    void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}

private:
    void open(QTreeWidgetItem* item);

    platform::Posix& m_posix;
    QString m_path;
};

}  // namespace kestrom::ui
