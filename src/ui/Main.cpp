// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Main.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

#include "engine/Messages.h"
#include "engine/Run.h"
#include "ui/Dialog.h"
#include "ui/Dialog1.h"
#include "ui/FileNames.h"
#include "ui/Icons.h"
#include "ui/MessageBox.h"
#include "ui/Twips.h"
#include "ui/WindowFrame.h"

namespace kestrom::ui {

namespace {

const QColor kBackground(64, 64, 64);
const QColor kLightGrey(224, 224, 224);
const QColor kCyan(0, 192, 192);
const QColor kLightBlue(128, 128, 255);
const QColor kGreen(0, 255, 0);

// The Japanese proportional gothic face the labels were designed with, and the
// one Debian ships in its place (fonts-ipafont-gothic).
QFont gothicFont() {
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
                      QStringLiteral("IPA Pゴシック")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(9);
    font.setWeight(QFont::Bold);
    return font;
}

// The counters' face. Arial Black has a single, black face, so asking for the
// black weight gets it where it is installed, and the heaviest face of a common
// sans family elsewhere.
QFont counterFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Arial Black"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(9.75);
    font.setWeight(QFont::Black);
    return font;
}

QString controlName(const char* control, std::size_t index) {
    return QStringLiteral("%1_%2").arg(QLatin1String(control)).arg(index);
}

// A left-aligned label with a transparent background. A label is never
// shorter than its font's line, so a desktop font larger than the layout
// assumed grows it downwards instead of cutting its text off.
QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, QRect rect,
                  const QColor& colour, const std::optional<QFont>& font = std::nullopt) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    if (font) label->setFont(*font);
    rect.setHeight(std::max(rect.height(), label->fontMetrics().height()));
    label->setGeometry(rect);
    return label;
}

}  // namespace

Main::Main(platform::Posix& posix, std::string tagLibraryPath)
    : QWidget(nullptr, Qt::Window | kCloseBoxOnly),
      m_posix(posix),
      m_tagLibrary(std::move(tagLibraryPath)) {
    setObjectName(QStringLiteral("Main"));
    setWindowTitle(QStringLiteral("Kestrom Ver." KESTROM_VERSION));
    setWindowIcon(mainIcon(posix));
    setFixedSize(twipsSize(5940, 2310));
    setFont(windowFont());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kBackground);
    setPalette(palette);
    setAutoFillBackground(true);

    // Created in tab order; labels take no focus.
    for (std::size_t i = 0; i < 2; ++i) {
        const int top = i == 0 ? 360 : 780;
        Text1[i] = new QLineEdit(desktopFolder(posix) + QLatin1Char('/'), this);
        Text1[i]->setObjectName(controlName("Text1", i));
        Text1[i]->setGeometry(twipsRect(900, top, 4215, 315));
        Command1[i] = new QPushButton(tr("参照"), this);
        Command1[i]->setObjectName(controlName("Command1", i));
        Command1[i]->setGeometry(twipsRect(5220, top, 615, 315));
    }
    Command2 = new QPushButton(tr("実行"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(twipsRect(3900, 1620, 915, 555));
    Command3 = new QPushButton(tr("終了"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command3->setGeometry(twipsRect(4920, 1620, 915, 555));

    Check1 = new QCheckBox(tr("タグをコピー後、ＭＰ３データをコピー元と置き換える"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    QPalette checkPalette = Check1->palette();
    checkPalette.setColor(QPalette::WindowText, Qt::white);
    checkPalette.setColor(QPalette::Window, kBackground);
    Check1->setPalette(checkPalette);
    // Like the labels, the check box grows to its text where the font needs it,
    // up to the window's right edge.
    QRect checkRect = twipsRect(1620, 1200, 4215, 195);
    checkRect.setHeight(std::max(checkRect.height(), Check1->sizeHint().height()));
    checkRect.setWidth(
        std::clamp(Check1->sizeHint().width(), checkRect.width(), width() - checkRect.left()));
    Check1->setGeometry(checkRect);

    QWidget::setTabOrder(Text1[0], Command1[0]);
    QWidget::setTabOrder(Command1[0], Text1[1]);
    QWidget::setTabOrder(Text1[1], Command1[1]);
    QWidget::setTabOrder(Command1[1], Command2);
    QWidget::setTabOrder(Command2, Command3);
    QWidget::setTabOrder(Command3, Check1);

    Label1[0] = makeLabel(this, controlName("Label1", 0), tr("コピー元"),
                          twipsRect(120, 420, 735, 255), kLightGrey);
    Label1[1] = makeLabel(this, controlName("Label1", 1), tr("コピー先"),
                          twipsRect(120, 840, 735, 255), kLightGrey);
    Label2 = makeLabel(this, QStringLiteral("Label2"), QStringLiteral("0000 / 0000"),
                       twipsRect(4500, 0, 1395, 255), kCyan, counterFont());
    Label3 = makeLabel(this, QStringLiteral("Label3"), QStringLiteral("OK / NG"),
                       twipsRect(3480, 60, 915, 195), kCyan, gothicFont());
    Label4[0] = makeLabel(this, controlName("Label4", 0), tr("Kestrom 開発チーム"),
                          twipsRect(120, 2040, 2775, 195), kLightBlue, gothicFont());
    Label5[0] = makeLabel(this, controlName("Label5", 0), QStringLiteral("Programmed by"),
                          twipsRect(120, 1860, 1695, 195), kLightGrey);
    Label5[1] = makeLabel(this, controlName("Label5", 1), QStringLiteral("Powered by"),
                          twipsRect(120, 1500, 1695, 195), kLightGrey);
    Label4[1] = makeLabel(this, controlName("Label4", 1), tr("libvbmp3.so  Kestrom 開発チーム"),
                          twipsRect(120, 1680, 2775, 195), kGreen, gothicFont());

    for (std::size_t i = 0; i < 2; ++i) {
        connect(Command1[i], &QPushButton::clicked, this,
                [this, i] { Command1_Click(static_cast<int>(i)); });
    }
    connect(Command2, &QPushButton::clicked, this, &Main::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Main::Command3_Click);
    Text1[0]->setFocus();
}

std::string Main::libraryFolderText() {
    return toFileName(Text1[0]->text());
}

std::string Main::workFolderText() {
    return toFileName(Text1[1]->text());
}

bool Main::replaceFlag() {
    return Check1->isChecked();
}

void Main::message(const std::string& text) {
    showMessage(this, QString::fromUtf8(text));
}

void Main::counterText(const std::string& text) {
    Label2->setText(QString::fromUtf8(text));
    // The run holds the event loop until it ends, so the label is painted now.
    Label2->repaint();
}

void Main::finish() {
    Command3->setFocus();
}

void Main::showErrorList() {
    Dialog1 errorList(this);
    errorList.exec();
}

void Main::Command1_Click(int Index) {
    const auto box = static_cast<std::size_t>(Index);
    PickedPath = Text1[box]->text();
    {
        Dialog picker(this, m_posix);
        picker.exec();
    }
    if (!PickedPath.isEmpty()) Text1[box]->setText(PickedPath);
}

void Main::Command2_Click() {
    // A failure the run does not handle itself must not escape into the event
    // loop, which would end the program with nothing said.
    try {
        engine::runTransfer(*this, m_tagLibrary, {}, m_posix);
    } catch (const std::exception& error) {
        showMessage(this, QString::fromStdString(platform::format(
                              m_language(engine::texts::kStopped), {error.what()})));
    }
}

void Main::Command3_Click() {
    close();
}

}  // namespace kestrom::ui
