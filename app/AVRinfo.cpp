#include "AVRinfo.h"

#include "ButtonIcons.h"
#include "WindowFonts.h"

#include <QFrame>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

namespace {

const char* const InfoText[] = {
    "",
    "List of pins used during programming (DIP packages).",
    "",
    "        Signal        AT90S1200   AT90S8515   ATmega163",
    "                      AT90S2313   ATmega161   ATmega323",
    "                                  ATmega162   ATmega32",
    "     -----------------------------------------------------",
    "        Vcc           pin 20      pin 40      pin 10",
    "        Reset         pin 1       pin 9       pin 9",
    "        SCK           pin 19      pin 8       pin 8",
    "        MOSI          pin 17      pin 6       pin 6",
    "        MISO          pin 18      pin 7       pin 7",
    "        Gnd           pin 10      pin 20      pin 11",
    "        Xtal1         pin 5       pin 19      pin 13",
    "        Xtal2         pin 4       pin 18      pin 12",
    "",
    "Use the following cable for programming the AVR device.",
    "",
    "       PC-LPT DSub25      Signal",
    "     -------------------------------",
    "           3              Reset",
    "           4              SCK",
    "           5              MOSI",
    "           10             MISO",
    "           25             Gnd",
    " ",
};

QFrame* MakePanel(QWidget* parent, const char* name, QFrame::Shadow shadow, QRect geometry) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QLatin1String(name));
    panel->setFrameStyle(QFrame::Panel | shadow);
    panel->setGeometry(geometry);
    return panel;
}

} // namespace

QStringList TInfoForm::InfoLines() {
    QStringList lines;
    for (const char* line : InfoText)
        lines << QString::fromLatin1(line);
    return lines;
}

TInfoForm::TInfoForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("InfoForm"));
    setWindowTitle(QStringLiteral("ISP Information"));
    setFont(WindowFont());
    setFixedSize(678, 464);
    setModal(false);
    // Closing the main window ends the program even while this window is shown.
    setAttribute(Qt::WA_QuitOnClose, false);

    Panel1 = MakePanel(this, "Panel1", QFrame::Sunken, QRect(8, 8, 665, 449));
    CloseBtn = new QPushButton(QStringLiteral("Close"), Panel1);
    CloseBtn->setObjectName(QStringLiteral("CloseBtn"));
    CloseBtn->setGeometry(560, 416, 99, 25);
    CloseBtn->setIcon(ButtonIcon(QStringLiteral("close")));
    CloseBtn->setAutoDefault(false);
    Panel2 = MakePanel(Panel1, "Panel2", QFrame::Raised, QRect(8, 8, 545, 433));
    InfoMemo = new QPlainTextEdit(Panel2);
    InfoMemo->setObjectName(QStringLiteral("InfoMemo"));
    InfoMemo->setGeometry(8, 8, 529, 417);
    InfoMemo->setReadOnly(true);
    InfoMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    InfoMemo->setFont(FixedPitchFont(13));
    QPalette palette = InfoMemo->palette();
    palette.setColor(QPalette::Text, QColor(0, 0, 128));
    InfoMemo->setPalette(palette);
    InfoMemo->setPlainText(InfoLines().join(QLatin1Char('\n')));

    setTabOrder(CloseBtn, InfoMemo);
    connect(CloseBtn, &QPushButton::clicked, this, &TInfoForm::CloseBtnClick);
}

void TInfoForm::ShowInfo() {
    show();
    raise();
    activateWindow();
}

void TInfoForm::CloseBtnClick() {
    close();
}

void TInfoForm::showEvent(QShowEvent* event) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}
