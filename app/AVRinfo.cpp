#include "AVRinfo.h"

#include "ButtonIcons.h"
#include "CableChoice.h"
#include "WindowFonts.h"

#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
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

// The pin list ends and the parallel port's cable begins at this line.
constexpr int PinListLines = 16;

// Another cable's wiring is indented as the window's tables are, and its long
// lines are broken between words, so that nothing hides past the memo's edge.
constexpr int WiringIndent = 5;
constexpr int WiringWidth = 62;

void AppendWrapped(QStringList& lines, const QString& line) {
    qsizetype lead = 0;
    while (lead < line.size() && line[lead] == QLatin1Char(' '))
        ++lead;
    QString prefix(WiringIndent, QLatin1Char(' '));
    QString rest = line;
    while (prefix.size() + rest.size() > WiringWidth) {
        const qsizetype room = WiringWidth - prefix.size();
        qsizetype cut = rest.lastIndexOf(QLatin1Char(' '), room);
        if (cut <= lead) cut = rest.indexOf(QLatin1Char(' '), room); // a word longer than the room
        if (cut < 0) break;
        QString head = rest.left(cut);
        while (head.endsWith(QLatin1Char(' ')))
            head.chop(1);
        lines << prefix + head;
        rest = rest.mid(cut + 1).trimmed();
        prefix = QString(WiringIndent + lead + 2, QLatin1Char(' '));
        lead = 0;
    }
    lines << prefix + rest;
}

// The parallel port's wiring is the window's own table; every other cable
// shows its own.
bool ParallelPortWiring(const cable::TCableInfo* info) {
    return info == nullptr || info->Wiring() == cable::Cables().front().Wiring();
}

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFrame* MakePanel(QWidget* parent, const char* name, QFrame::Shadow shadow, QRect geometry) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QLatin1String(name));
    panel->setFrameStyle(QFrame::Panel | shadow);
    panel->setGeometry(geometry);
    return panel;
}

template <typename W> W* MakeControl(QWidget* parent, const char* name, QRect geometry) {
    auto* w = new W(parent);
    w->setObjectName(QLatin1String(name));
    w->setGeometry(geometry);
    return w;
}

} // namespace

QStringList TInfoForm::InfoLines(const QString& cable) {
    QStringList lines;
    for (const char* line : InfoText)
        lines << QString::fromLatin1(line);
    const cable::TCableInfo* info = cable::FindCable(cable.toStdString());
    if (ParallelPortWiring(info)) return lines;
    lines = lines.mid(0, PinListLines);
    lines << QStringLiteral("Wire the %1 cable to the AVR device as follows.").arg(cable)
          << QString();
    for (const QString& line : QString::fromStdString(info->Wiring()).split(QLatin1Char('\n')))
        if (!line.trimmed().isEmpty()) AppendWrapped(lines, line);
    lines << QStringLiteral(" ");
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

    // The cable selector, in the column above Close.
    CableLabel = MakeControl<QLabel>(Panel1, "CableLabel", QRect(560, 8, 99, 16));
    CableLabel->setText(QStringLiteral("&Cable:"));
    CableCombo = MakeControl<QComboBox>(Panel1, "CableCombo", QRect(560, 24, 99, 22));
    for (const cable::TCableInfo& c : cable::Cables()) {
        CableCombo->addItem(Text(c.Name));
        CableCombo->setItemData(CableCombo->count() - 1, Text(c.Summary), Qt::ToolTipRole);
    }
    CableLabel->setBuddy(CableCombo);
    OptionsLabel = MakeControl<QLabel>(Panel1, "OptionsLabel", QRect(560, 52, 99, 16));
    OptionsLabel->setText(QStringLiteral("&Options:"));
    OptionsEdit = MakeControl<QLineEdit>(Panel1, "OptionsEdit", QRect(560, 68, 99, 22));
    OptionsLabel->setBuddy(OptionsEdit);
    UseCableBtn = MakeControl<QPushButton>(Panel1, "UseCableBtn", QRect(560, 98, 99, 25));
    UseCableBtn->setText(QStringLiteral("&Use cable"));
    UseCableBtn->setIcon(ButtonIcon(QStringLiteral("cable")));
    UseCableBtn->setAutoDefault(false);
    UseCableBtn->setToolTip(QStringLiteral("Put the selected cable into use, with these options"));
    CableNote = MakeControl<QLabel>(Panel1, "CableNote", QRect(560, 131, 99, 170));
    CableNote->setWordWrap(true);
    CableNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    InUseLabel = MakeControl<QLabel>(Panel1, "InUseLabel", QRect(560, 309, 99, 99));
    InUseLabel->setWordWrap(true);
    InUseLabel->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    ShowCable(CableCombo->itemText(0), QString(), QString());

    setTabOrder(CableCombo, OptionsEdit);
    setTabOrder(OptionsEdit, UseCableBtn);
    setTabOrder(UseCableBtn, CloseBtn);
    setTabOrder(CloseBtn, InfoMemo);
    connect(CloseBtn, &QPushButton::clicked, this, &TInfoForm::CloseBtnClick);
    connect(CableCombo, &QComboBox::currentIndexChanged, this, &TInfoForm::CableSelected);
    connect(UseCableBtn, &QPushButton::clicked, this, &TInfoForm::UseCableBtnClick);
    connect(OptionsEdit, &QLineEdit::returnPressed, this, &TInfoForm::UseCableBtnClick);
}

void TInfoForm::ShowInfo() {
    show();
    raise();
    activateWindow();
}

void TInfoForm::ShowCable(const QString& name, const QString& options, const QString& state) {
    FInUseName = name;
    FInUseOptions = options;
    QString inUse = options.isEmpty() ? name : name + QLatin1Char(':') + options;
    if (!state.isEmpty()) inUse += QStringLiteral(", ") + state;
    InUseLabel->setText(QStringLiteral("In use: ") + inUse);
    InUseLabel->setToolTip(InUseLabel->text());
    const int index = CableCombo->findText(name);
    if (index >= 0 && index != CableCombo->currentIndex())
        CableCombo->setCurrentIndex(index); // shows its wiring and options
    else
        CableSelected(CableCombo->currentIndex());
}

void TInfoForm::AllowCableChange(bool allowed) {
    UseCableBtn->setEnabled(allowed);
}

// The text, the options' hint and the note follow the selected cable; the
// cable in use comes back with the options it was put into use with.
void TInfoForm::CableSelected(int index) {
    const cable::TCableInfo* info = cable::FindCable(CableCombo->itemText(index).toStdString());
    if (info == nullptr) return;
    InfoMemo->setPlainText(InfoLines(Text(info->Name)).join(QLatin1Char('\n')));
    CableCombo->setToolTip(Text(info->Summary));
    const QString hint = QString::fromStdString(info->Options());
    OptionsEdit->setPlaceholderText(hint);
    OptionsEdit->setToolTip(hint);
    OptionsEdit->setText(Text(info->Name) == FInUseName ? FInUseOptions : QString());
    QString note = Text(info->Summary) + QLatin1Char('.');
    note[0] = note[0].toUpper();
    if (!info->NormalMode) note += QStringLiteral("\n\nIt always programs in the fast mode.");
    CableNote->setText(note);
}

// Options typed with the cable's name before them ("gpio:reset=24") are
// taken without it.
void TInfoForm::UseCableBtnClick() {
    if (!UseCableBtn->isEnabled()) return;
    const QString name = CableCombo->currentText();
    QString options = OptionsEdit->text().trimmed();
    if (options.startsWith(name + QLatin1Char(':')))
        options = options.mid(name.size() + 1).trimmed();
    emit CableChosen(name, options);
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
