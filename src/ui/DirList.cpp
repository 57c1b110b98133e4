// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DirList.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>

#include "platform/Posix.h"
#include "ui/FileNames.h"

namespace kestrom::ui {

namespace {

constexpr int kPathRole = Qt::UserRole;

}  // namespace

DirList::DirList(QWidget* parent, platform::Posix& posix) : QTreeWidget(parent), m_posix(posix) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setUniformRowHeights(true);
    setIndentation(12);
    setSelectionMode(QAbstractItemView::SingleSelection);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    connect(this, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { open(item); });
}

bool DirList::setPath(const QString& text) {
    if (!QDir::isAbsolutePath(text)) return false;
    const QString path = QDir::cleanPath(text);
    if (!QFileInfo(path).isDir()) return false;
    // A folder that exists but cannot be listed (no permission, a stale network
    // mount) cannot be opened either.
    std::vector<platform::DirEntry> entries;
    if (m_posix.listDirectory(toFileName(path).c_str(), entries) != 0) return false;

    QStringList subfolders;
    for (const platform::DirEntry& entry : entries) {
        if (entry.kind != platform::EntryKind::Directory || entry.name.starts_with('.')) continue;
        subfolders.push_back(fromFileName(entry.name));
    }
    subfolders.sort(Qt::CaseInsensitive);

    clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    auto* item = new QTreeWidgetItem(this, {QStringLiteral("/")});
    item->setData(0, kPathRole, QStringLiteral("/"));
    item->setIcon(0, openIcon);
    QString walked;
    for (const QString& name : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        walked += QLatin1Char('/') + name;
        item = new QTreeWidgetItem(item, {name});
        item->setData(0, kPathRole, walked);
        item->setIcon(0, openIcon);
    }
    QTreeWidgetItem* openItem = item;
    const QString prefix = path == QLatin1String("/") ? path : path + QLatin1Char('/');
    for (const QString& name : subfolders) {
        auto* sub = new QTreeWidgetItem(openItem, {name});
        sub->setData(0, kPathRole, prefix + name);
        sub->setIcon(0, closedIcon);
    }
    expandAll();
    setCurrentItem(openItem);
    // The open folder near the top, under its parent, leaves the most room for
    // its subfolders, the entries a user goes on to.
    scrollToItem(openItem->parent() != nullptr ? openItem->parent() : openItem, PositionAtTop);
    scrollToItem(openItem);
    m_path = path;
    return true;
}

void DirList::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        currentItem() != nullptr) {
        open(currentItem());
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void DirList::open(QTreeWidgetItem* item) {
    const QString path = item->data(0, kPathRole).toString();
    if (!setPath(path)) emit cannotOpen(path);
}

}  // namespace kestrom::ui
