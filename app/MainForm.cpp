#include "MainForm.h"

#include "AVRinfo.h"
#include "AVRisp.h"
#include "AdvEdit.h"
#include "ButtonIcons.h"
#include "ClassicGroupBox.h"
#include "ControlsEnabled.h"
#include "EngineDisplays.h"
#include "FuseFields.h"
#include "MainLayout.h"
#include "MemoryImage.h"
#include "UserSettings.h"
#include "WindowFonts.h"
#include "XHexEdit.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStringList>
#include <algorithm>
#include <filesystem>
#include <vector>

namespace {

// The device labels size themselves to their text, so a longer device name or
// a wider fixed-pitch face is never cut off.
void SetLabelText(QLabel* label, const QString& text) {
    label->setText(text);
    label->resize(label->fontMetrics().horizontalAdvance(text), label->height());
}

// A check box keeps its place but widens to show its whole caption in the
// substitute face, as far as its parent's right edge.
void FitCheckBox(QCheckBox* box) {
    const int room = box->parentWidget()->width() - box->x();
    const int width = std::min(std::max(box->width(), box->sizeHint().width()), room);
    box->resize(width, box->height());
}

constexpr const char* FastProgrammingKey = "FastProgramming";

QString Hex(unsigned value, int digits) {
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

TFileDialogSettings OpenSettings(const char* name, const char* filter) {
    TFileDialogSettings s;
    s.FileName = QString::fromLatin1(name);
    s.DefaultExt = QStringLiteral("hex");
    s.Filter = QString::fromLatin1(filter);
    return s;
}

TFileDialogSettings SaveSettings(const char* name) {
    TFileDialogSettings s;
    s.Save = true;
    s.FileName = QString::fromLatin1(name);
    s.DefaultExt = QStringLiteral("bin");
    s.Filter = QStringLiteral("Binary files|*.bin|Intel HEX file|*.hex");
    s.OverwritePrompt = true;
    s.CreatePrompt = true;
    return s;
}

std::filesystem::path PathOf(const QString& name) {
    return std::filesystem::path(name.toStdString());
}

} // namespace

// Brackets every command handler. When the user agreed to exit while a command ran,
// the window closes once the outermost command has returned.
class TForm1::TCommand {
public:
    explicit TCommand(TForm1& form) : FForm(form) { ++FForm.FCommandDepth; }
    ~TCommand() {
        if (--FForm.FCommandDepth == 0 && FForm.FCloseAgreed) FForm.close();
    }
    TCommand(const TCommand&) = delete;
    TCommand& operator=(const TCommand&) = delete;

private:
    TForm1& FForm;
};

TForm1::TForm1(TDialogs& dialogs, TPortOpener openPort, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      FlOpen(OpenSettings("Flash.hex", "Intel HEX file|*.hex|Binary files|*.bin")),
      EEOpen(OpenSettings("EEprom.hex", "Intel HEX files|*.hex|Binary files|*.bin")),
      FlSave(SaveSettings("Flash_Out.bin")), EESave(SaveSettings("EEprom_Out.bin")),
      FDialogs(dialogs), FOpenPort(std::move(openPort)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(MainCaption));
    setFont(WindowFont());
    setFixedSize(MainClientWidth, MainClientHeight);
    BuildControls();
    SetupViews();
    SetupFuseFields();

    AVRisp = std::make_unique<TAVRisp>();
    WireEngine();
    FormCreate();
}

TForm1::~TForm1() {
    // The engine reports to the controls until it is gone.
    AVRisp.reset();
}

QWidget* TForm1::Control(const char* name) const {
    if (QString::fromLatin1(name) == objectName()) return const_cast<TForm1*>(this);
    return findChild<QWidget*>(QString::fromLatin1(name));
}

void TForm1::BuildControls() {
    QHash<QString, QWidget*> made;
    made.insert(objectName(), this);
    for (const TControlLayout& row : MainWindowLayout()) {
        QWidget* parent = made.value(QString::fromLatin1(row.Parent));
        const QString caption = QString::fromLatin1(row.Caption);
        QWidget* w = nullptr;
        switch (row.Kind) {
        case TControlKind::ckPanel: {
            auto* panel = new QFrame(parent);
            panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            w = panel;
            break;
        }
        case TControlKind::ckGroupBox:
            w = new TClassicGroupBox(caption, parent);
            break;
        case TControlKind::ckHexView:
            w = new TXHexEdit(parent);
            break;
        case TControlKind::ckButton: {
            auto* button = new QPushButton(caption, parent);
            button->setIcon(ButtonIcon(QString::fromLatin1(row.Icon)));
            button->setIconSize(QSize(16, 16));
            button->setAutoDefault(false);
            w = button;
            break;
        }
        case TControlKind::ckCheckBox: {
            auto* check = new QCheckBox(caption, parent);
            check->setChecked(row.Checked);
            w = check;
            break;
        }
        case TControlKind::ckProgressBar: {
            auto* bar = new QProgressBar(parent);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);
            w = bar;
            break;
        }
        case TControlKind::ckStatusPanel: {
            auto* status = new QLabel(caption, parent);
            status->setFrameStyle(QFrame::Panel | QFrame::Raised);
            status->setAlignment(Qt::AlignCenter);
            QFont bold = WindowFont();
            bold.setBold(true);
            status->setFont(bold);
            QPalette palette = status->palette();
            palette.setColor(QPalette::WindowText, QColor(0, 0, 128));
            status->setPalette(palette);
            w = status;
            break;
        }
        case TControlKind::ckLabel: {
            auto* label = new QLabel(parent);
            label->setFont(FixedPitchFont(12));
            w = label;
            break;
        }
        case TControlKind::ckFuseField:
            w = new TAdvEdit(parent);
            break;
        }
        w->setObjectName(QString::fromLatin1(row.Name));
        w->setGeometry(row.Left, row.Top, row.Width, row.Height);
        w->setEnabled(row.Enabled);
        if (row.Kind == TControlKind::ckLabel) SetLabelText(static_cast<QLabel*>(w), caption);
        if (row.Kind == TControlKind::ckCheckBox) FitCheckBox(static_cast<QCheckBox*>(w));
        made.insert(w->objectName(), w);
    }

    // Keyboard order: each parent's controls by their tab order, depth first.
    std::vector<QWidget*> chain;
    std::function<void(const QString&)> walk = [&](const QString& parent) {
        std::vector<const TControlLayout*> rows;
        for (const TControlLayout& row : MainWindowLayout())
            if (parent == QLatin1String(row.Parent) && row.TabOrder >= 0) rows.push_back(&row);
        std::stable_sort(rows.begin(), rows.end(),
                         [](auto* a, auto* b) { return a->TabOrder < b->TabOrder; });
        for (const TControlLayout* row : rows) {
            QWidget* w = made.value(QString::fromLatin1(row->Name));
            if (w->focusPolicy() != Qt::NoFocus) chain.push_back(w);
            walk(QString::fromLatin1(row->Name));
        }
    };
    walk(objectName());
    for (std::size_t i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);

    auto find = [&made](const char* name) { return made.value(QString::fromLatin1(name)); };
    MainPanel = static_cast<QFrame*>(find("MainPanel"));
    FlashBox = static_cast<QGroupBox*>(find("FlashBox"));
    FlashEdit = static_cast<TXHexEdit*>(find("FlashEdit"));
    FlReadBtn = static_cast<QPushButton*>(find("FlReadBtn"));
    FlVerifyBtn = static_cast<QPushButton*>(find("FlVerifyBtn"));
    FlLoadBtn = static_cast<QPushButton*>(find("FlLoadBtn"));
    FlSaveBtn = static_cast<QPushButton*>(find("FlSaveBtn"));
    EEPromBox = static_cast<QGroupBox*>(find("EEPromBox"));
    EEPromEdit = static_cast<TXHexEdit*>(find("EEPromEdit"));
    EEReadBtn = static_cast<QPushButton*>(find("EEReadBtn"));
    EEVerifyBtn = static_cast<QPushButton*>(find("EEVerifyBtn"));
    EELoadBtn = static_cast<QPushButton*>(find("EELoadBtn"));
    EESaveBtn = static_cast<QPushButton*>(find("EESaveBtn"));
    MemWriteBtn = static_cast<QPushButton*>(find("MemWriteBtn"));
    FlCheck = static_cast<QCheckBox*>(find("FlCheck"));
    EECheck = static_cast<QCheckBox*>(find("EECheck"));
    VerifyCheck = static_cast<QCheckBox*>(find("VerifyCheck"));
    FastCheck = static_cast<QCheckBox*>(find("FastCheck"));
    StatPanel = static_cast<QFrame*>(find("StatPanel"));
    AVRProgressBar = static_cast<QProgressBar*>(find("AVRProgressBar"));
    AVRStatPanel = static_cast<QLabel*>(find("AVRStatPanel"));
    AbortBtn = static_cast<QPushButton*>(find("AbortBtn"));
    CtrlPanel = static_cast<QFrame*>(find("CtrlPanel"));
    AVRtypeLabel = static_cast<QLabel*>(find("AVRtypeLabel"));
    FlSizeLabel = static_cast<QLabel*>(find("FlSizeLabel"));
    EESizeLabel = static_cast<QLabel*>(find("EESizeLabel"));
    FuseLabel = static_cast<QLabel*>(find("FuseLabel"));
    InitAVRBtn = static_cast<QPushButton*>(find("InitAVRBtn"));
    RelBtn = static_cast<QPushButton*>(find("RelBtn"));
    LFBEdit = static_cast<TAdvEdit*>(find("LFBEdit"));
    HFBEdit = static_cast<TAdvEdit*>(find("HFBEdit"));
    EFBEdit = static_cast<TAdvEdit*>(find("EFBEdit"));
    WFuseBtn = static_cast<QPushButton*>(find("WFuseBtn"));
    InfoBtn = static_cast<QPushButton*>(find("InfoBtn"));
    ExitBtn = static_cast<QPushButton*>(find("ExitBtn"));

    connect(InitAVRBtn, &QPushButton::clicked, this, &TForm1::InitAVRBtnClick);
    connect(RelBtn, &QPushButton::clicked, this, &TForm1::RelBtnClick);
    connect(AbortBtn, &QPushButton::clicked, this, &TForm1::AbortBtnClick);
    connect(InfoBtn, &QPushButton::clicked, this, &TForm1::InfoBtnClick);
    connect(ExitBtn, &QPushButton::clicked, this, &TForm1::ExitBtnClick);
    connect(FlReadBtn, &QPushButton::clicked, this, &TForm1::FlReadBtnClick);
    connect(FlVerifyBtn, &QPushButton::clicked, this, &TForm1::FlVerifyBtnClick);
    connect(EEReadBtn, &QPushButton::clicked, this, &TForm1::EEReadBtnClick);
    connect(EEVerifyBtn, &QPushButton::clicked, this, &TForm1::EEVerifyBtnClick);
    connect(MemWriteBtn, &QPushButton::clicked, this, &TForm1::MemWriteBtnClick);
    connect(WFuseBtn, &QPushButton::clicked, this, &TForm1::WFuseBtnClick);
    connect(FlLoadBtn, &QPushButton::clicked, this, &TForm1::FlLoadBtnClick);
    connect(EELoadBtn, &QPushButton::clicked, this, &TForm1::EELoadBtnClick);
    connect(FlSaveBtn, &QPushButton::clicked, this, &TForm1::FlSaveBtnClick);
    connect(EESaveBtn, &QPushButton::clicked, this, &TForm1::EESaveBtnClick);
    connect(FastCheck, &QCheckBox::toggled, this, &TForm1::FastCheckToggled);
}

void TForm1::SetupViews() {
    // Read-only views of the images: 16 bytes a line with offset, hex and
    // character columns, and no editing, file or print entries in their menus.
    for (TXHexEdit* view : {FlashEdit, EEPromEdit}) {
        view->SetReadOnly(true);
        view->SetBytesPerLine(16);
        view->SetOffsetMode(omHex);
        view->SetHexMode(hmHex);
        view->SetHexGroup(1);
        view->SetHexGap(4);
        view->SetHexPos(-1);
        view->SetTextPos(-1);
        view->SetOffsetVisible(true);
        view->SetHexVisible(true);
        view->SetTextVisible(true);
        view->SetTextAllChars(false);
        view->SetMaxUndo(25);
        view->SetWantTab(true);
        view->SetHighLightColor(QColor(0, 0, 128));
        view->SetHighLightTextColor(Qt::white);
        view->SetHexColor(Qt::black);
        view->SetOffsetColor(Qt::black);
        view->SetTextColor(Qt::black);
        view->SetBorder(true);
        view->SetClientEdge(false);
        view->SetBevelKind(bkFlat);
        view->SetVertScrollBar(true);
        view->SetHorzScrollBar(true);
        FitHexViewFont(*view);
        view->SetMenuUndoRedo(false);
        view->SetMenuCutCopyPaste(false);
        view->SetMenuDelete(false);
        view->SetMenuBytesPerLine(false);
        view->SetMenuNew(false);
        view->SetMenuOpen(false);
        view->SetMenuSave(false);
        view->SetMenuSaveAs(false);
        view->SetMenuPrint(false);
        view->SetMenuClose(false);
    }
}

void TForm1::SetupFuseFields() {
    const QPalette palette = QApplication::palette();
    for (TAdvEdit* field : {LFBEdit, HFBEdit, EFBEdit}) {
        field->BeginLoad();
        field->SetEditType(etHex);
        field->SetPrefix(QStringLiteral("0x"));
        field->SetLengthLimit(2);
        field->SetEmptyText(QStringLiteral("0"));
        field->SetSigned(false);
        field->SetPrecision(0);
        field->SetEditAlign(eaLeft);
        field->SetShowModified(true);
        field->SetModifiedColor(palette.color(QPalette::Highlight));
        field->SetErrorColor(Qt::red);
        field->SetErrorFontColor(Qt::white);
        field->SetDisabledColor(QColor(0xC0, 0xC0, 0xC0));
        field->SetFocusColor(palette.color(QPalette::Base));
        field->SetFocusFontColor(palette.color(QPalette::Text));
        field->SetFocusBorder(false);
        field->SetFocusWidthInc(0);
        field->SetAutoFocus(false);
        field->SetFlat(false);
        field->SetReturnIsTab(false);
        field->SetTabOnFullLength(false);
        field->SetTransparent(false);
        field->SetColor(palette.color(QPalette::Base));
        field->SetText(QStringLiteral("0"));
        field->Loaded();
        field->OnChange = [this](TAdvEdit*) { UpdateFuseTips(); };
    }
}

// Each fuse field's tooltip decodes the value it holds, as the user types.
void TForm1::UpdateFuseTips() {
    if (!AVRisp) return;
    TAdvEdit* const fields[3] = {LFBEdit, HFBEdit, EFBEdit};
    for (int k = 0; k < 3; ++k)
        fields[k]->setToolTip(FuseFieldTip(*AVRisp, k, fields[k]->Text()));
}

void TForm1::WireEngine() {
    FStatusLine = std::make_unique<TStatusLineAdapter>(AVRStatPanel);
    FProgressBar = std::make_unique<TProgressBarAdapter>(AVRProgressBar);
    AVRisp->SetStatus(FStatusLine.get());
    AVRisp->SetProgress(FProgressBar.get());
    AVRisp->OnStartEvent = [this](TAVRisp*) { AVRispStartEvent(); };
    AVRisp->OnStopEvent = [this](TAVRisp*) { AVRispStopEvent(); };
    AVRisp->OnUpdateEvent = [this](TAVRisp*) { return AVRispUpdateEvent(); };
}

// ---------------------------------------------------------------------------
// Dialogs

bool TForm1::Confirm(const QString& text, const QString& informative) {
    TMsgOptions options;
    options.Informative = informative;
    return FDialogs.MessageBoxWith(this, text, TMsgKind::mkConfirmation, TMsgButtons::mbYesNo,
                                   options) == TMsgAnswer::maYes;
}

void TForm1::Inform(const QString& text) {
    FDialogs.MessageBox(this, text, TMsgKind::mkInformation, TMsgButtons::mbOK);
}

void TForm1::ShowError(const QString& text) {
    FDialogs.MessageBox(this, text, TMsgKind::mkError, TMsgButtons::mbOK);
}

// A verification that failed: the memory's error, or, on a part whose lock
// bits forbid reading it back, what the status line says of the lock.
void TForm1::ShowVerifyError(const QString& memoryError) {
    ShowError(AVRisp->MismatchFromLock() ? QString::fromStdString(AVRisp->StatusText())
                                         : memoryError);
}

// ---------------------------------------------------------------------------
// Device session

// A cable that always programs in the fast mode keeps its box ticked and
// disabled whatever else is enabled.
void TForm1::SetControlsEnabled(QWidget* control, bool enabled) {
    ::SetControlsEnabled(control, enabled);
    if (AVRisp && AVRisp->FastModeForced() &&
        (control == FastCheck || control->isAncestorOf(FastCheck)))
        FastCheck->setEnabled(false);
}

// The cable QUILLON_CABLE names or the user chose last; without either, the
// port as the window always opened it.
void TForm1::FormCreate() {
    FFastChosen = UserSettings().value(QString::fromLatin1(FastProgrammingKey), false).toBool();
    FastCheck->setChecked(FFastChosen);
    SetControlsEnabled(MainPanel, false);
    FCable = TWindowCable::AtStart();
    bool ok = false;
    std::string why;
    if (FCable.IsDefault()) {
        ok = FOpenPort ? FOpenPort(*AVRisp) : AVRisp->OpenPort();
        if (!ok) why = PortFailureText(AVRisp->PortError());
    } else {
        ok = cable::OpenCable(*AVRisp, FCable.Choice(), why);
    }
    ShowCableOutcome(ok, why);
    ShowDeviceInfo();
}

// After the cable is opened or switched: Init Device only when it opened; the
// status line's tooltip names the cable, or says why it did not open; the
// text names a cable other than the parallel port.
void TForm1::ShowCableOutcome(bool opened, const std::string& why) {
    SetControlsEnabled(InitAVRBtn, opened);
    if (opened)
        AVRStatPanel->setToolTip(QString::fromStdString(CableInUseText(*AVRisp)));
    else
        ExplainCableFailure(AVRStatPanel, why);
    if (const QString label = FCable.Label(); !label.isEmpty())
        AVRStatPanel->setText(AVRStatPanel->text() + QStringLiteral(" (") + label +
                              QLatin1Char(')'));
    ShowFastMode();
    ShowCableInInfo();
}

// The box shows the user's own setting, or a tick the cable imposes; only
// the user's clicks change the setting.
void TForm1::ShowFastMode() {
    const bool forced = AVRisp->FastModeForced();
    const QSignalBlocker blocker(FastCheck);
    FastCheck->setChecked(forced || FFastChosen);
    FastCheck->setToolTip(forced ? FCable.FastForcedText() : QString());
}

// The engine follows the box at once; a part identified before the box was
// ticked gets its fast bit clock at the next write.
void TForm1::FastCheckToggled(bool checked) {
    FFastChosen = checked;
    AVRisp->SetFastMode(checked);
    UserSettings().setValue(QString::fromLatin1(FastProgrammingKey), checked);
}

void TForm1::ShowCableInInfo() {
    if (!InfoForm) return;
    const QString state = !AVRisp->PortOpen()        ? QStringLiteral("not opened")
                          : FCable.Choice().Simulate ? QStringLiteral("simulated")
                                                     : QString();
    InfoForm->ShowCable(FCable.Name, FCable.Options, state);
}

void TForm1::UseCable(const QString& name, const QString& options) {
    if (FCommandDepth > 0 || FCloseAgreed) return;
    TCommand command(*this);
    FCable.Name = name;
    FCable.Options = options;
    FCable.Remember();
    std::string why;
    const bool ok = cable::SwitchCable(*AVRisp, FCable.Choice(), why);
    SetControlsEnabled(MainPanel, false);
    RelBtn->setEnabled(false);
    ShowCableOutcome(ok, why);
    ShowDeviceInfo();
}

void TForm1::ShowDeviceInfo() {
    const int flashSize = AVRisp->FlashSize();
    const int eepromSize = AVRisp->EEpromSize();
    SetLabelText(AVRtypeLabel, QStringLiteral("AVR device type : ") +
                                   QString::fromStdString(AVRisp->AVRversion()));
    // The label names the first part sold with the signature; its tooltip
    // names them all.
    QStringList names;
    for (std::string_view name : PartNames(AVRisp->CurrentDevice()))
        names << QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    const auto& signature = AVRisp->AVRsignature();
    AVRtypeLabel->setToolTip(flashSize == 0
                                 ? QString()
                                 : QStringLiteral("Parts with the signature %1 %2 %3: %4")
                                       .arg(Hex(signature[0], 2), Hex(signature[1], 2),
                                            Hex(signature[2], 2), names.join(u", ")));
    SetLabelText(FlSizeLabel, QStringLiteral("Flash memory    : 0x") + Hex(flashSize, 4));
    SetLabelText(EESizeLabel, QStringLiteral("EEPROM memory   : 0x") + Hex(eepromSize, 4));
    LFBEdit->SetText(Hex(AVRisp->AVRlfb(), 2));
    HFBEdit->SetText(Hex(AVRisp->AVRhfb(), 2));
    EFBEdit->SetText(Hex(AVRisp->AVRefb(), 2));
    UpdateFuseTips();

    FlashEdit->SetLastOffset(flashSize - 1);
    std::fill_n(AVRisp->FlashBuffer.begin(), flashSize / 2, std::uint32_t{0xFFFF});
    ShowFlashBuffer();
    EEPromEdit->SetLastOffset(eepromSize - 1);
    std::fill_n(AVRisp->EEpromBuffer.begin(), eepromSize, std::uint8_t{0xFF});
    ShowEEpromBuffer();
    FlashBox->setTitle(QStringLiteral("Flash Memory (buffer)"));
    EEPromBox->setTitle(QStringLiteral("EEPROM Memory (buffer)"));

    // Fuse fields by the device's fuse kind: how many fuse bytes it has.
    const int kind = AVRisp->AVRfuse();
    if (kind < 0 || kind > 3) return;
    static const char* const fuseCaptions[] = {"Fuse L/H/E  : NONE",
                                               "Fuse L      :", "Fuse L/H    :", "Fuse L/H/E  :"};
    LFBEdit->setVisible(kind >= 1);
    HFBEdit->setVisible(kind >= 2);
    EFBEdit->setVisible(kind >= 3);
    WFuseBtn->setVisible(kind >= 1);
    SetLabelText(FuseLabel, QString::fromLatin1(fuseCaptions[kind]));
}

void TForm1::InitAVRBtnClick() {
    TCommand command(*this);
    if (AVRisp->FlashSize() != 0 && !Confirm(QStringLiteral("Initialise new device?"))) return;
    Inform(QStringLiteral("Switch OFF and ON device power supply"));
    if (FCloseAgreed) return;
    const bool r = AVRisp->Identify();
    if (FCloseAgreed) return;
    // An Atmel part outside the catalogue answers (r) but has no sizes: its
    // memories and fuses stay locked, so nothing erases a part the tool cannot
    // program; Release stays usable.
    const bool known = r && AVRisp->FlashSize() != 0;
    SetControlsEnabled(MainPanel, known);
    FlCheck->setEnabled(false);
    RelBtn->setEnabled(r);
    for (QWidget* fuse : {static_cast<QWidget*>(LFBEdit), static_cast<QWidget*>(HFBEdit),
                          static_cast<QWidget*>(EFBEdit), static_cast<QWidget*>(WFuseBtn)})
        fuse->setEnabled(known);
    ShowDeviceInfo();
    ExplainIdentification(AVRStatPanel, *AVRisp, r);
}

void TForm1::RelBtnClick() {
    TCommand command(*this);
    if (AVRisp->FlashSize() == 0) return;
    if (!Confirm(QStringLiteral("Release AVR device?"))) return;
    AVRisp->Release();
    ShowDeviceInfo();
    SetControlsEnabled(MainPanel, false);
    RelBtn->setEnabled(false);
}

void TForm1::AbortBtnClick() {
    if (Confirm(QStringLiteral("Abort current operation?"))) AVRisp->Abort();
}

// The Information window chooses the cable; it goes back to the cable in use
// each time it is opened.
void TForm1::InfoBtnClick() {
    if (!InfoForm) return;
    connect(InfoForm, &TInfoForm::CableChosen, this, &TForm1::UseCable, Qt::UniqueConnection);
    if (!InfoForm->isVisible()) ShowCableInInfo();
    InfoForm->AllowCableChange(FCommandDepth == 0);
    InfoForm->ShowInfo();
}

void TForm1::ExitBtnClick() {
    close();
}

// The close query: asks once; a running operation is asked to stop. While a
// command is still on the stack the window stays until that command has unwound.
bool TForm1::FormCloseQuery() {
    if (!FCloseAgreed) {
        if (FDialogs.MessageBox(this, QStringLiteral("Exit! Are you sure?"),
                                TMsgKind::mkInformation, TMsgButtons::mbYesNo) != TMsgAnswer::maYes)
            return false;
        FCloseAgreed = true;
        AVRisp->Abort();
    }
    return FCommandDepth == 0;
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

void TForm1::showEvent(QShowEvent* event) {
    if (!FPlaced) {
        FPlaced = true;
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        if (InitAVRBtn->isEnabled()) InitAVRBtn->setFocus();
    }
    QWidget::showEvent(event);
}

void TForm1::AVRispStartEvent() {
    SetControlsEnabled(MainPanel, false);
    SetControlsEnabled(CtrlPanel, false);
    AbortBtn->setEnabled(true);
    if (InfoForm) InfoForm->AllowCableChange(false);
}

void TForm1::AVRispStopEvent() {
    SetControlsEnabled(MainPanel, true);
    FlCheck->setEnabled(false);
    SetControlsEnabled(CtrlPanel, true);
    AbortBtn->setEnabled(false);
    if (InfoForm) InfoForm->AllowCableChange(true);
}

bool TForm1::AVRispUpdateEvent() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return !FCloseAgreed;
}

// ---------------------------------------------------------------------------
// Memory and fuse commands

void TForm1::ShowFlashBuffer() {
    const int words = AVRisp->FlashSize() / 2;
    for (int i = 0; i < words; ++i) {
        const std::uint32_t word = AVRisp->FlashBuffer[i];
        FlashEdit->SetByte(2 * i, static_cast<std::uint8_t>(word & 0xFF));
        FlashEdit->SetByte(2 * i + 1, static_cast<std::uint8_t>((word >> 8) & 0xFF));
    }
    FlashEdit->DrawRows();
}

void TForm1::ShowEEpromBuffer() {
    const int size = AVRisp->EEpromSize();
    for (int j = 0; j < size; ++j)
        EEPromEdit->SetByte(j, AVRisp->EEpromBuffer[j]);
    EEPromEdit->DrawRows();
}

void TForm1::EraseEEpromImage() {
    EEPromBox->setTitle(QStringLiteral("EEPROM Memory (buffer)"));
    std::fill_n(AVRisp->EEpromBuffer.begin(), AVRisp->EEpromSize(), std::uint8_t{0xFF});
    ShowEEpromBuffer();
}

void TForm1::FlReadBtnClick() {
    TCommand command(*this);
    if (!AVRisp->ReadFlash(0, AVRisp->FlashSize()) || FCloseAgreed) return;
    ShowFlashBuffer();
    FlashBox->setTitle(QStringLiteral("Flash Memory (AVR device)"));
}

void TForm1::EEReadBtnClick() {
    TCommand command(*this);
    if (!AVRisp->ReadEEprom(0, AVRisp->EEpromSize()) || FCloseAgreed) return;
    ShowEEpromBuffer();
    EEPromBox->setTitle(QStringLiteral("EEPROM Memory (AVR device)"));
}

void TForm1::FlVerifyBtnClick() {
    TCommand command(*this);
    const bool ok = AVRisp->VerifyFlash(AVRisp->FlashSize());
    if (FCloseAgreed) return;
    if (ok)
        Inform(QStringLiteral("Data in Flash is OK"));
    else
        ShowVerifyError(QStringLiteral("Error in Flash"));
}

void TForm1::EEVerifyBtnClick() {
    TCommand command(*this);
    const bool ok = AVRisp->VerifyEEprom(AVRisp->EEpromSize());
    if (FCloseAgreed) return;
    if (ok)
        Inform(QStringLiteral("Data in EEPROM is OK"));
    else
        ShowVerifyError(QStringLiteral("Error in EEPROM"));
}

void TForm1::MemWriteBtnClick() {
    TCommand command(*this);
    if (!Confirm(QStringLiteral("Write NEW data to AVR?"))) return;
    if (!AVRisp->EraseDevice()) {
        if (FCloseAgreed) return;
        ShowError(QStringLiteral("Can NOT Erease AVR device."));
        if (FCloseAgreed) return;
        InitAVRBtnClick();
        return;
    }
    if (FCloseAgreed) return;
    // The Flash is always written; an abort stops only the operation it hits.
    AVRisp->WriteFlash(0, AVRisp->FlashSize());
    if (FCloseAgreed) return;
    if (EECheck->isChecked())
        AVRisp->WriteEEprom(0, AVRisp->EEpromSize());
    else
        EraseEEpromImage();
    if (FCloseAgreed || !VerifyCheck->isChecked()) return;
    if (!AVRisp->VerifyFlash(AVRisp->FlashSize())) {
        if (!FCloseAgreed) ShowVerifyError(QStringLiteral("Error in Flash"));
        return;
    }
    if (FCloseAgreed) return;
    if (!AVRisp->VerifyEEprom(AVRisp->EEpromSize())) {
        if (!FCloseAgreed) ShowVerifyError(QStringLiteral("Error in EEPROM"));
        return;
    }
    if (!FCloseAgreed) Inform(QStringLiteral("AVR memory is OK"));
}

// The confirmation lists the bits that change; a change that ends in-circuit
// programming is asked about once more, No being the default; the bytes are
// read back and a bit that did not take is an error.
void TForm1::WFuseBtnClick() {
    TCommand command(*this);
    const TFuseFieldValues values =
        ReadFuseFields({LFBEdit->Text(), HFBEdit->Text(), EFBEdit->Text()});
    if (!Confirm(QStringLiteral("Write NEW Fuse to AVR?"),
                 values.Invalid.isNull() ? FuseChangeList(*AVRisp, values.Bytes) : QString()))
        return;
    if (!values.Invalid.isNull()) {
        ShowError(values.Invalid);
        return;
    }
    for (const TFuseWarning& lockout : FuseLockouts(*AVRisp, values.Bytes))
        if (!ConfirmLockout(FDialogs, this, lockout) || FCloseAgreed) return;
    const std::array<std::uint8_t, 3>& b = values.Bytes;
    if (!AVRisp->WriteFuses(b[2], b[1], b[0]) && !FCloseAgreed)
        ShowError(QString::fromStdString(AVRisp->StatusText()));
}

// ---------------------------------------------------------------------------
// Image files

void TForm1::FlLoadBtnClick() {
    TCommand command(*this);
    if (!FlOpen.Execute(FDialogs, this)) return;
    const QString name = FlOpen.FileName();
    const imagefile::TLoadOutcome r = imagefile::LoadFlashImage(
        PathOf(name), static_cast<std::size_t>(AVRisp->FlashSize()), AVRisp->FlashBuffer);
    if (r.imageChanged) {
        FlashBox->setTitle(QStringLiteral("Flash Memory (") + name + QStringLiteral(")"));
        ShowFlashBuffer();
    }
    if (!r.message.empty()) ShowError(QString::fromStdString(r.message));
}

void TForm1::EELoadBtnClick() {
    TCommand command(*this);
    if (!EEOpen.Execute(FDialogs, this)) return;
    const QString name = EEOpen.FileName();
    const imagefile::TLoadOutcome r = imagefile::LoadEEpromImage(
        PathOf(name), static_cast<std::size_t>(AVRisp->EEpromSize()), AVRisp->EEpromBuffer);
    if (r.imageChanged) {
        EEPromBox->setTitle(QStringLiteral("EEPROM Memory (") + name + QStringLiteral(")"));
        ShowEEpromBuffer();
    }
    if (!r.message.empty()) ShowError(QString::fromStdString(r.message));
}

void TForm1::FlSaveBtnClick() {
    TCommand command(*this);
    if (!FlSave.Execute(FDialogs, this)) return;
    const QString name = FlSave.FileName();
    const imagefile::TSaveOutcome r = imagefile::SaveFlashImage(
        PathOf(name), static_cast<std::size_t>(AVRisp->FlashSize()), AVRisp->FlashBuffer);
    if (r.fileCreated)
        FlashBox->setTitle(QStringLiteral("Flash Memory (") + name + QStringLiteral(")"));
    if (!r.saved) {
        ShowError(QString::fromStdString(r.message));
        return;
    }
    FlashEdit->DrawRows();
}

void TForm1::EESaveBtnClick() {
    TCommand command(*this);
    if (!EESave.Execute(FDialogs, this)) return;
    const QString name = EESave.FileName();
    const imagefile::TSaveOutcome r = imagefile::SaveEEpromImage(
        PathOf(name), static_cast<std::size_t>(AVRisp->EEpromSize()), AVRisp->EEpromBuffer);
    if (r.fileCreated)
        EEPromBox->setTitle(QStringLiteral("EEPROM Memory (") + name + QStringLiteral(")"));
    if (!r.saved) {
        ShowError(QString::fromStdString(r.message));
        return;
    }
    EEPromEdit->DrawRows();
}
