// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Icons.h"

#include <QPainter>
#include <QPixmap>
#include <QPolygon>

#include "platform/FileOps.h"
#include "platform/ProgramFolder.h"

namespace kestrom::ui {

namespace {

// Colours of the 16-colour palette that the icons use.
const QColor kBlack(0, 0, 0);
const QColor kNavy(0, 0, 128);
const QColor kGray(128, 128, 128);
const QColor kWhite(255, 255, 255);
const QColor kAqua(0, 255, 255);
const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);

QImage blankIcon() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

// A luggage-style tag label 19 x 11 pixels at (x, y), its point to the left,
// with a string hole and two lines of "writing".
void drawTag(QPainter& p, int x, int y, const QColor& fill) {
    const QPolygon outline(
        {{x, y + 5}, {x + 5, y}, {x + 18, y}, {x + 18, y + 10}, {x + 5, y + 10}});
    p.setPen(kNavy);
    p.setBrush(fill);
    p.drawPolygon(outline);
    p.setBrush(Qt::NoBrush);
    p.setPen(kRed);
    p.drawRect(x + 4, y + 4, 2, 2);
    p.setPen(kNavy);
    p.drawLine(x + 9, y + 3, x + 16, y + 3);
    p.drawLine(x + 9, y + 6, x + 14, y + 6);
    // A shadow on the right and bottom edges gives the card some thickness.
    p.setPen(kGray);
    p.drawLine(x + 19, y + 1, x + 19, y + 11);
    p.drawLine(x + 6, y + 11, x + 19, y + 11);
}

}  // namespace

QImage mainIconImage() {
    QImage image = blankIcon();
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, false);
        drawTag(p, 1, 2, kAqua);
        drawTag(p, 8, 15, kWhite);
        // The standard arrow pointer, its tip on the lower tag.
        const QPolygon pointer(
            {{19, 19}, {19, 30}, {22, 27}, {24, 31}, {26, 30}, {24, 26}, {28, 26}});
        p.setPen(kBlack);
        p.setBrush(kWhite);
        p.drawPolygon(pointer);
    }
    return image;
}

QImage pickerIconImage() {
    QImage image = blankIcon();
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, false);
        drawTag(p, 1, 1, kAqua);
        drawTag(p, 1, 19, kWhite);
        // A thick arrow down the right side, from the upper tag to the lower.
        const QPolygon arrow({{23, 4}, {27, 4}, {27, 19}, {31, 19}, {25, 27}, {19, 19}, {23, 19}});
        p.setPen(kBlack);
        p.setBrush(kYellow);
        p.drawPolygon(arrow);
    }
    return image;
}

QIcon mainIcon(platform::Posix& posix) {
    const std::string programFolder = platform::programFolder(posix);
    QIcon drawn(QPixmap::fromImage(mainIconImage()));
    if (programFolder.empty()) return drawn;
    const std::string themeFolder = programFolder + KESTROM_BIN_TO_DATADIR "/icons/hicolor/";
    const platform::FileOps files(posix);
    QIcon icon;
    for (const char* size : {"48x48", "128x128", "256x256"}) {
        const std::string path = themeFolder + size + "/apps/" KESTROM_APP_ID ".png";
        std::string png;
        QImage image;
        if (!files.readAll(path, 1 << 20, png) &&
            image.loadFromData(reinterpret_cast<const uchar*>(png.data()),
                               static_cast<int>(png.size()), "PNG"))
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon.isNull() ? drawn : icon;
}

QIcon pickerIcon() {
    return QIcon(QPixmap::fromImage(pickerIconImage()));
}

}  // namespace kestrom::ui
