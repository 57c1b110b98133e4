// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Dialog.h"

#include <sys/stat.h>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <optional>
#include <utility>

#include "platform/Drives.h"
#include "ui/DirList.h"
#include "ui/FileNames.h"
#include "ui/Icons.h"
#include "ui/MessageBox.h"
#include "ui/Twips.h"

namespace kestrom::ui {

QString PickedPath;

namespace {

std::optional<int> driveIndex(const std::vector<std::string>& drives, const QString& path) {
    if (!QDir::isAbsolutePath(path)) return std::nullopt;
    const auto index = platform::driveOf(drives, toFileName(QDir::cleanPath(path)));
    if (!index) return std::nullopt;
    return static_cast<int>(*index);
}

}  // namespace

QString desktopFolder(platform::Posix& posix) {
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    struct stat st {};
    if (posix.stat(toFileName(desktop).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return desktop;
    return QDir::homePath();
}

Dialog::Dialog(QWidget* owner, platform::Posix& posix)
    : Dialog(owner, posix, platform::systemDrives(posix, toFileName(QDir::homePath()))) {}

Dialog::Dialog(QWidget* owner, platform::Posix& posix, std::vector<std::string> drives)
    : FixedDialog(owner, twipsSize(4515, 2820)), m_posix(posix), m_drives(std::move(drives)) {
    setObjectName(QStringLiteral("Dialog"));
    setWindowTitle(tr("フォルダ選択"));
    setWindowIcon(pickerIcon());
    placeOnScreen(*this, owner, 2760, 3750, size());

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(twipsRect(3120, 180, 1215, 375));
    CancelButton = new QPushButton(tr("ｷｬﾝｾﾙ"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setGeometry(twipsRect(3120, 720, 1215, 375));
    for (QPushButton* button : {OKButton, CancelButton}) button->setAutoDefault(false);

    Drive1 = new QComboBox(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setGeometry(twipsRect(180, 180, 2775, 300));
    for (const std::string& folder : m_drives) Drive1->addItem(fromFileName(folder));

    Dir1 = new DirList(this, posix);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setGeometry(twipsRect(180, 660, 2775, 1980));

    setTabOrder(OKButton, CancelButton);
    setTabOrder(CancelButton, Drive1);
    setTabOrder(Drive1, Dir1);
    OKButton->setFocus();

    // Before loading, the lists show the process's current drive and folder.
    const QString current = QDir::currentPath();
    if (const auto index = driveIndex(m_drives, current)) Drive1->setCurrentIndex(*index);
    m_shownDrive = Drive1->currentIndex();
    if (!Dir1->setPath(current)) Dir1->setPath(QStringLiteral("/"));

    connect(Drive1, &QComboBox::currentIndexChanged, this, &Dialog::Drive1_Change);
    connect(Dir1, &DirList::cannotOpen, this,
            [this](const QString& path) { showMessage(this, tr("%1 を開けません。").arg(path)); });
    connect(OKButton, &QPushButton::clicked, this, &Dialog::OKButton_Click);
    connect(CancelButton, &QPushButton::clicked, this, &Dialog::CancelButton_Click);
    Form_Load();
}

void Dialog::Form_Load() {
    // Every step that fails is skipped: its list keeps what it showed.
    m_loading = true;
    if (PickedPath.isEmpty()) {
        // The defaults: the desktop folder, on the drive that holds it.
        const QString desktop = desktopFolder(m_posix);
        selectDriveOf(desktop);
        Dir1->setPath(desktop);
    } else {
        selectDriveOf(PickedPath);
        Dir1->setPath(PickedPath);
    }
    PickedPath.clear();
    m_loading = false;
}

bool Dialog::selectDriveOf(const QString& path) {
    const auto index = driveIndex(m_drives, path);
    if (!index) return false;
    Drive1->setCurrentIndex(*index);  // runs Drive1_Change when the drive changes
    return true;
}

QString Dialog::currentFolderOf(int drive) const {
    QString current = QDir::currentPath();
    if (driveIndex(m_drives, current) == drive) return current;
    return fromFileName(m_drives[static_cast<std::size_t>(drive)]);
}

void Dialog::Drive1_Change() {
    const int selected = Drive1->currentIndex();
    if (selected < 0 || selected == m_shownDrive) return;
    // The drive's current folder, or its top where that folder has gone.
    const QString top = fromFileName(m_drives[static_cast<std::size_t>(selected)]);
    if (Dir1->setPath(currentFolderOf(selected)) || Dir1->setPath(top)) {
        m_shownDrive = selected;
        return;
    }
    // A drive that cannot be read (a medium pulled out, a stale network mount)
    // leaves both lists as they were.
    {
        const QSignalBlocker blocker(Drive1);
        Drive1->setCurrentIndex(m_shownDrive);
    }
    if (!m_loading) showMessage(this, tr("%1 を読み取れません。").arg(top));
}

void Dialog::OKButton_Click() {
    PickedPath = Dir1->path();
    accept();
}

void Dialog::CancelButton_Click() {
    reject();
}

}  // namespace kestrom::ui
