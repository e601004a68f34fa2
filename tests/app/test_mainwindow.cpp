// The main window: its layout against the table, the start-up states, the device
// session (Init Device, Release, Abort, Exit, Information) and the state table.

#include "FormBench.h"
#include "MainLayout.h"
#include "WindowFonts.h"

#include "AdvEdit.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QSettings>
#include <gtest/gtest.h>

namespace {

QString CaptionOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<TAdvEdit*>(w)) return e->Text();
    return QString();
}

const QColor Navy(0, 0, 128);
const QColor Red(255, 0, 0);

QColor StatusColour(TForm1& form) {
    return form.AVRStatPanel->palette().color(QPalette::WindowText);
}

TEST(MainWindowLayout, EveryControlStandsAsTheTableSays) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Quillon ver. 2.0"));
    EXPECT_EQ(form.size(), QSize(801, 542));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);

    int rows = 0;
    for (const TControlLayout& row : MainWindowLayout()) {
        SCOPED_TRACE(row.Name);
        ++rows;
        QWidget* w = form.Control(row.Name);
        ASSERT_NE(w, nullptr);
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), QLatin1String(row.Parent));
        if (row.Kind == TControlKind::ckLabel) {
            // Labels size themselves to their text.
            auto* label = static_cast<QLabel*>(w);
            EXPECT_EQ(w->geometry(),
                      QRect(row.Left, row.Top,
                            label->fontMetrics().horizontalAdvance(label->text()), row.Height));
        } else if (row.Kind == TControlKind::ckCheckBox) {
            // Check boxes widen to show their whole caption, within their panel.
            EXPECT_EQ(w->pos(), QPoint(row.Left, row.Top));
            EXPECT_EQ(w->height(), row.Height);
            EXPECT_GE(w->width(), row.Width);
            EXPECT_GE(w->width(),
                      std::min(w->sizeHint().width(), w->parentWidget()->width() - row.Left));
            EXPECT_LE(w->geometry().right(), w->parentWidget()->width() - 1);
        } else {
            EXPECT_EQ(w->geometry(), QRect(row.Left, row.Top, row.Width, row.Height));
        }
        if (row.Kind != TControlKind::ckLabel && row.Kind != TControlKind::ckFuseField &&
            row.Kind != TControlKind::ckStatusPanel) {
            // The group boxes' captions then tell where the data came from.
            EXPECT_TRUE(CaptionOf(w).startsWith(QLatin1String(row.Caption)) || !*row.Caption);
        }
        if (auto* check = qobject_cast<QCheckBox*>(w)) {
            EXPECT_EQ(check->isChecked(), row.Checked);
        }
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            EXPECT_FALSE(button->icon().isNull());
            EXPECT_EQ(button->iconSize(), QSize(16, 16));
        }
        if (row.Kind == TControlKind::ckLabel) {
            EXPECT_TRUE(QFontInfo(w->font()).fixedPitch());
            EXPECT_EQ(w->font().pixelSize(), 12);
        }
    }
    EXPECT_EQ(rows, 35);
    EXPECT_FALSE(form.FastCheck->isChecked()) << "fast programming is asked for, not assumed";
    // Key rows against their own numbers, so that a wrong row in the table shows.
    EXPECT_EQ(form.FlashEdit->parentWidget(), form.FlashBox);
    const std::pair<QWidget*, QRect> key[] = {
        {form.MainPanel, QRect(8, 8, 785, 425)},    {form.FlashBox, QRect(8, 8, 657, 201)},
        {form.FlashEdit, QRect(8, 16, 521, 177)},   {form.FlReadBtn, QRect(544, 16, 105, 25)},
        {form.FlSaveBtn, QRect(544, 168, 105, 25)}, {form.EEPromBox, QRect(8, 216, 657, 201)},
        {form.MemWriteBtn, QRect(672, 24, 105, 25)}, {form.StatPanel, QRect(8, 440, 305, 97)},
        {form.AVRStatPanel, QRect(8, 8, 289, 25)},  {form.AbortBtn, QRect(192, 64, 105, 25)},
        {form.CtrlPanel, QRect(320, 440, 353, 97)}, {form.InitAVRBtn, QRect(240, 8, 105, 25)},
        {form.EFBEdit, QRect(200, 64, 33, 21)},     {form.ExitBtn, QRect(680, 504, 113, 25)}};
    for (const auto& [w, rect] : key)
        EXPECT_EQ(w->geometry(), rect) << w->objectName().toStdString();
    EXPECT_EQ(form.AVRProgressBar->minimum(), 0);
    EXPECT_EQ(form.AVRProgressBar->value(), 0);
    EXPECT_TRUE(form.AVRStatPanel->font().bold());
    EXPECT_EQ(form.AVRStatPanel->alignment(), Qt::AlignCenter);
    EXPECT_EQ(form.LFBEdit->Prefix(), QStringLiteral("0x"));
    EXPECT_EQ(form.LFBEdit->LengthLimit(), 2);
    EXPECT_EQ(form.LFBEdit->EditType(), etHex);
}

TEST(MainWindowLayout, GroupFramesRunThroughTheirCaptionsAndAroundEveryControl) {
    TFormBench bench("ATmega16");
    bench.InitDevice();
    for (QGroupBox* box : {bench.Form->FlashBox, bench.Form->EEPromBox}) {
        SCOPED_TRACE(box->objectName().toStdString());
        const QImage shot = box->grab().toImage();
        ASSERT_EQ(shot.size(), box->size());
        // An empty spot between the buttons, and a column and a row crossing
        // only the frame: between the view and the buttons, and below the view.
        const QRgb ground = shot.pixel(600, 110);
        const int column = 536, row = 197;
        int top = 0, bottom = shot.height() - 1, left = 0, right = shot.width() - 1;
        while (top < bottom && shot.pixel(column, top) == ground) ++top;
        while (bottom > top && shot.pixel(column, bottom) == ground) --bottom;
        while (left < right && shot.pixel(left, row) == ground) ++left;
        while (right > left && shot.pixel(right, row) == ground) --right;
        // Every control stands inside the frame's lines (two pixels each, etched).
        for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            const QRect g = child->geometry();
            EXPECT_GT(g.top(), top + 1) << child->objectName().toStdString();
            EXPECT_LT(g.bottom(), bottom - 1) << child->objectName().toStdString();
            EXPECT_GT(g.left(), left + 1) << child->objectName().toStdString();
            EXPECT_LT(g.right(), right - 1) << child->objectName().toStdString();
        }
        // The caption straddles the top line: its letters stand above and below it.
        const int textWidth = box->fontMetrics().horizontalAdvance(box->title());
        int above = 0, below = 0;
        for (int y = 0; y < box->fontMetrics().height(); ++y)
            for (int x = 8; x < 8 + textWidth; ++x)
                if (qGray(shot.pixel(x, y)) < 128) ++(y < top ? above : below);
        EXPECT_GT(above, 10);
        EXPECT_GT(below, 10);
        EXPECT_LE(top, 8);
    }
}

TEST(MainWindowLayout, TabKeyVisitsControlsInTableOrder) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    const QStringList expected = {
        "InitAVRBtn", "RelBtn",      "LFBEdit",     "HFBEdit",   "EFBEdit",   "WFuseBtn",
        "InfoBtn",    "ExitBtn",     "MemWriteBtn", "FlCheck",   "EECheck",   "VerifyCheck",
        "FlashEdit",  "FlReadBtn",   "FlVerifyBtn", "FlLoadBtn", "FlSaveBtn", "EEPromEdit",
        "EEReadBtn",  "EEVerifyBtn", "EELoadBtn",   "EESaveBtn", "AbortBtn"};
    QStringList chain;
    QWidget* w = form.InitAVRBtn;
    for (int i = 0; i < 200 && chain.size() < expected.size(); ++i) {
        if (expected.contains(w->objectName()) && !chain.contains(w->objectName()))
            chain << w->objectName();
        w = w->nextInFocusChain();
    }
    EXPECT_EQ(chain, expected);
}

void ExpectIdleWithoutDevice(TForm1& form, bool initEnabled) {
    for (QWidget* w :
         {static_cast<QWidget*>(form.FlReadBtn), static_cast<QWidget*>(form.FlashEdit),
          static_cast<QWidget*>(form.EESaveBtn), static_cast<QWidget*>(form.MemWriteBtn),
          static_cast<QWidget*>(form.EECheck), static_cast<QWidget*>(form.VerifyCheck)})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_EQ(form.InitAVRBtn->isEnabled(), initEnabled);
    EXPECT_FALSE(form.RelBtn->isEnabled());
    EXPECT_FALSE(form.AbortBtn->isEnabled());
    EXPECT_TRUE(form.InfoBtn->isEnabled());
    EXPECT_TRUE(form.ExitBtn->isEnabled());
    for (QLabel* l : {form.AVRtypeLabel, form.FlSizeLabel, form.EESizeLabel, form.FuseLabel})
        EXPECT_TRUE(l->isEnabled());
    EXPECT_EQ(form.AVRtypeLabel->text(), QStringLiteral("AVR device type : NONE"));
    EXPECT_TRUE(form.AVRtypeLabel->toolTip().isEmpty());
    EXPECT_EQ(form.FlSizeLabel->text(), QStringLiteral("Flash memory    : 0x0000"));
    EXPECT_EQ(form.EESizeLabel->text(), QStringLiteral("EEPROM memory   : 0x0000"));
    EXPECT_EQ(form.FuseLabel->text(), QStringLiteral("Fuse L/H/E  : NONE"));
    EXPECT_FALSE(form.LFBEdit->isVisible());
    EXPECT_FALSE(form.HFBEdit->isVisible());
    EXPECT_FALSE(form.EFBEdit->isVisible());
    EXPECT_FALSE(form.WFuseBtn->isVisible());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Quillon ver. 2.0"));
}

TEST(MainWindowStart, PortOpenEnablesOnlyInitDevice) {
    TFormBench bench("ATmega16");
    ExpectIdleWithoutDevice(*bench.Form, true);
    EXPECT_EQ(bench.Form->AVRStatPanel->text(), QStringLiteral("ISP interface is ready"));
    EXPECT_EQ(StatusColour(*bench.Form), Navy);
    EXPECT_TRUE(bench.Dialogs.Messages.empty());
}

// "Fast programming" starts unticked and the box is remembered in the
// user's settings from one run of the window to the next, the engine
// following it.
TEST(MainWindowStart, FastProgrammingIsOffByDefaultAndRemembered) {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quillon", "quillon").clear();
    {
        TFormBench bench("ATmega16");
        EXPECT_FALSE(bench.Form->FastCheck->isChecked());
        EXPECT_FALSE(bench.Engine().FastMode());
        bench.InitDevice();
        bench.Form->FastCheck->setChecked(true);
        EXPECT_TRUE(bench.Engine().FastMode());
    }
    {
        TFormBench bench("ATmega16");
        EXPECT_TRUE(bench.Form->FastCheck->isChecked());
        EXPECT_TRUE(bench.Engine().FastMode());
        bench.InitDevice();
        EXPECT_TRUE(bench.Engine().FastPhasesKnown()) << "found at Init Device";
        bench.Form->FastCheck->setChecked(false);
    }
    TFormBench bench("ATmega16");
    EXPECT_FALSE(bench.Form->FastCheck->isChecked());
    EXPECT_FALSE(bench.Engine().FastMode());
}

TEST(MainWindowStart, PortLibraryMissingLeavesInitDeviceDisabled) {
    // The program's own way to the port: a library named by QUILLON_PORTIO.
    qputenv("QUILLON_PORTIO", "/nonexistent/libportio-missing.so");
    TScriptedDialogs dialogs;
    TForm1 form(dialogs);
    qunsetenv("QUILLON_PORTIO");
    ExpectIdleWithoutDevice(form, false);
    EXPECT_EQ(form.AVRStatPanel->text(), QStringLiteral("ISP interface NOT initialised"));
    EXPECT_EQ(StatusColour(form), Red);
    // Why, and what to do, where the user looks.
    const QString why = form.AVRStatPanel->toolTip();
    EXPECT_TRUE(why.contains(QStringLiteral("/nonexistent/libportio-missing.so"))) << why.toStdString();
    EXPECT_TRUE(why.contains(QStringLiteral("No such file or directory")));
    EXPECT_TRUE(why.contains(QStringLiteral("ppdev")));
    EXPECT_TRUE(why.contains(QStringLiteral("QUILLON_PORTIO=sim")));
    QTest::mouseClick(form.InitAVRBtn, Qt::LeftButton);
    EXPECT_TRUE(dialogs.Messages.empty());
}

struct TFuseKindCase {
    const char* Device;
    int FlashSize;
    int EEpromSize;
    int FuseKind;
    const char* FuseCaption;
    const char* Parts; // every part sold with the signature, as the type label's tooltip names them
};

class IdentifyEachFuseKind : public ::testing::TestWithParam<TFuseKindCase> {};

TEST_P(IdentifyEachFuseKind, DevicePanelViewsAndStates) {
    const TFuseKindCase& c = GetParam();
    TFormBench bench(c.Device);
    TForm1& form = *bench.Form;
    bench.Click(form.InitAVRBtn);
    // No device yet: straight to the power question.
    ASSERT_EQ(bench.Dialogs.Texts(),
              std::vector<QString>{QStringLiteral("Switch OFF and ON device power supply")});
    EXPECT_EQ(bench.Dialogs.Messages[0].Kind, TMsgKind::mkInformation);
    EXPECT_EQ(bench.Dialogs.Messages[0].Buttons, TMsgButtons::mbOK);

    EXPECT_EQ(form.AVRStatPanel->text(), QStringLiteral("Atmel AVR Device found"));
    EXPECT_EQ(form.AVRtypeLabel->text(), QStringLiteral("AVR device type : ") + c.Device);
    const auto sig = bench.Sim->Part().signature;
    EXPECT_EQ(
        form.AVRtypeLabel->toolTip(),
        QString::asprintf("Parts with the signature %02X %02X %02X: ", sig[0], sig[1], sig[2]) +
            QLatin1String(c.Parts));
    auto hex4 = [](int v) {
        return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper();
    };
    EXPECT_EQ(form.FlSizeLabel->text(), QStringLiteral("Flash memory    : 0x") + hex4(c.FlashSize));
    EXPECT_EQ(form.EESizeLabel->text(),
              QStringLiteral("EEPROM memory   : 0x") + hex4(c.EEpromSize));
    EXPECT_EQ(form.FuseLabel->text(), QLatin1String(c.FuseCaption));
    EXPECT_EQ(form.LFBEdit->isVisible(), c.FuseKind >= 1);
    EXPECT_EQ(form.HFBEdit->isVisible(), c.FuseKind >= 2);
    EXPECT_EQ(form.EFBEdit->isVisible(), c.FuseKind >= 3);
    EXPECT_EQ(form.WFuseBtn->isVisible(), c.FuseKind >= 1);
    auto twoDigits = [](int v) {
        return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
    };
    EXPECT_EQ(form.LFBEdit->Text(), twoDigits(bench.Engine().AVRlfb()));
    EXPECT_EQ(form.HFBEdit->Text(), twoDigits(bench.Engine().AVRhfb()));
    EXPECT_EQ(form.EFBEdit->Text(), twoDigits(bench.Engine().AVRefb()));
    EXPECT_FALSE(form.LFBEdit->Modified());

    EXPECT_EQ(ViewBytes(*form.FlashEdit), std::vector<uint8_t>(c.FlashSize, 0xFF));
    EXPECT_EQ(ViewBytes(*form.EEPromEdit), std::vector<uint8_t>(c.EEpromSize, 0xFF));
    EXPECT_EQ(bench.FlashImage(), std::vector<uint8_t>(c.FlashSize, 0xFF));
    EXPECT_EQ(bench.EEpromImage(), std::vector<uint8_t>(c.EEpromSize, 0xFF));
    EXPECT_EQ(form.FlashBox->title(), QStringLiteral("Flash Memory (buffer)"));
    EXPECT_EQ(form.EEPromBox->title(), QStringLiteral("EEPROM Memory (buffer)"));
    // The Flash view shows whole rows of 16 bytes in the face the window's
    // font resolves to, beside its vertical bar and without a horizontal one.
    QApplication::processEvents();
    EXPECT_EQ(QFontInfo(form.FlashEdit->TextFont()).family(), QFontInfo(WindowFont()).family());
    EXPECT_EQ(form.FlashEdit->BytesPerLine(), 16);
    EXPECT_TRUE(form.FlashEdit->verticalScrollBar()->isVisible());
    EXPECT_FALSE(form.FlashEdit->horizontalScrollBar()->isVisible());
    EXPECT_LE(form.FlashEdit->Core().Layout().rightEndPx(), form.FlashEdit->viewport()->width());
    form.grab().save(QStringLiteral("mainwindow_%1.png").arg(QLatin1String(c.Device)));

    // State: device identified.
    for (QWidget* w :
         {static_cast<QWidget*>(form.FlReadBtn), static_cast<QWidget*>(form.FlashEdit),
          static_cast<QWidget*>(form.EESaveBtn), static_cast<QWidget*>(form.MemWriteBtn),
          static_cast<QWidget*>(form.EECheck), static_cast<QWidget*>(form.VerifyCheck),
          static_cast<QWidget*>(form.FlashBox), static_cast<QWidget*>(form.EEPromEdit)})
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_FALSE(form.FlCheck->isEnabled());
    EXPECT_TRUE(form.FlCheck->isChecked());
    EXPECT_TRUE(form.InitAVRBtn->isEnabled());
    EXPECT_TRUE(form.RelBtn->isEnabled());
    EXPECT_FALSE(form.AbortBtn->isEnabled());
    EXPECT_EQ(form.AVRProgressBar->value(), form.AVRProgressBar->minimum());
}

INSTANTIATE_TEST_SUITE_P(
    Parts, IdentifyEachFuseKind,
    ::testing::Values(TFuseKindCase{"AT90S8515", 8192, 512, 0, "Fuse L/H/E  : NONE", "AT90S8515"},
                      TFuseKindCase{"ATmega161", 16384, 512, 1, "Fuse L      :", "ATmega161"},
                      TFuseKindCase{"ATmega16", 16384, 512, 2,
                                    "Fuse L/H    :", "ATmega16, ATmega16A"},
                      TFuseKindCase{"ATmega162", 16384, 512, 3, "Fuse L/H/E  :", "ATmega162"},
                      // 256 KB of Flash: a size of five hex digits, offsets of six in the view.
                      TFuseKindCase{"ATmega2560", 262144, 4096, 3, "Fuse L/H/E  :", "ATmega2560"}),
    [](const auto& info) { return std::string(info.param.Device); });

TEST(MainWindowSession, SecondInitAsksFirstAndNoKeepsTheDevice) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    form.EEPromBox->setTitle(QStringLiteral("kept"));
    bench.Dialogs.Answers[QStringLiteral("Initialise new device?")] = TMsgAnswer::maNo;
    bench.Click(form.InitAVRBtn);
    EXPECT_EQ(bench.Dialogs.Texts(),
              std::vector<QString>{QStringLiteral("Initialise new device?")});
    EXPECT_EQ(bench.Dialogs.Messages[0].Buttons, TMsgButtons::mbYesNo);
    EXPECT_EQ(form.EEPromBox->title(), QStringLiteral("kept"));

    bench.Dialogs.Clear();
    bench.Dialogs.Answers.clear();
    bench.Click(form.InitAVRBtn);
    EXPECT_EQ(bench.Dialogs.Texts(),
              (std::vector<QString>{QStringLiteral("Initialise new device?"),
                                    QStringLiteral("Switch OFF and ON device power supply")}));
    EXPECT_EQ(form.EEPromBox->title(), QStringLiteral("EEPROM Memory (buffer)"));
}

TEST(MainWindowSession, EmptyCableLeavesTheMemoriesLocked) {
    TFormBench bench("none");
    TForm1& form = *bench.Form;
    bench.Click(form.InitAVRBtn);
    EXPECT_EQ(bench.Dialogs.Texts(),
              std::vector<QString>{QStringLiteral("Switch OFF and ON device power supply")});
    EXPECT_EQ(form.AVRStatPanel->text(), QStringLiteral("Atmel Device NOT found"));
    EXPECT_EQ(StatusColour(form), Red);
    ExpectIdleWithoutDevice(form, true);
}

TEST(MainWindowSession, ReleaseAsksThenReturnsToNoDevice) {
    TFormBench bench("ATmega162");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    bench.Dialogs.Answers[QStringLiteral("Release AVR device?")] = TMsgAnswer::maNo;
    bench.Click(form.RelBtn);
    EXPECT_EQ(bench.Dialogs.Texts(), std::vector<QString>{QStringLiteral("Release AVR device?")});
    EXPECT_TRUE(form.RelBtn->isEnabled());
    EXPECT_EQ(bench.Engine().FlashSize(), 16384);

    bench.Dialogs.Clear();
    bench.Dialogs.Answers.clear();
    bench.Click(form.RelBtn);
    EXPECT_EQ(bench.Dialogs.Texts(), std::vector<QString>{QStringLiteral("Release AVR device?")});
    EXPECT_EQ(form.AVRStatPanel->text(), QStringLiteral("AVR device released"));
    ExpectIdleWithoutDevice(form, true);
    EXPECT_EQ(ViewBytes(*form.FlashEdit).size(), 0u);

    // With no device, Release asks nothing.
    bench.Dialogs.Clear();
    form.RelBtnClick();
    EXPECT_TRUE(bench.Dialogs.Messages.empty());
}

TEST(MainWindowSession, OperationRunningLocksEverythingButAbortInfoAndExit) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    bool checked = false;
    bench.OnStep = [&](int step) {
        if (step != 10) return;
        checked = true;
        for (QWidget* w :
             {static_cast<QWidget*>(form.FlReadBtn), static_cast<QWidget*>(form.MemWriteBtn),
              static_cast<QWidget*>(form.EECheck), static_cast<QWidget*>(form.InitAVRBtn),
              static_cast<QWidget*>(form.RelBtn), static_cast<QWidget*>(form.WFuseBtn),
              static_cast<QWidget*>(form.LFBEdit), static_cast<QWidget*>(form.EELoadBtn)})
            EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
        EXPECT_TRUE(form.AbortBtn->isEnabled());
        EXPECT_TRUE(form.InfoBtn->isEnabled());
        EXPECT_TRUE(form.ExitBtn->isEnabled());
        EXPECT_TRUE(form.FuseLabel->isEnabled());
        EXPECT_EQ(form.AVRProgressBar->maximum(), 8192);
    };
    bench.Click(form.FlReadBtn);
    EXPECT_TRUE(checked);
    // Stop event: the device panel and memories usable again, Flash data still locked.
    EXPECT_TRUE(form.FlReadBtn->isEnabled());
    EXPECT_TRUE(form.RelBtn->isEnabled());
    EXPECT_TRUE(form.InitAVRBtn->isEnabled());
    EXPECT_FALSE(form.FlCheck->isEnabled());
    EXPECT_FALSE(form.AbortBtn->isEnabled());
    EXPECT_EQ(form.FlashBox->title(), QStringLiteral("Flash Memory (AVR device)"));
}

TEST(MainWindowSession, AbortDuringReadStopsAtTheNextWordAndKeepsTheView) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    bench.Dialogs.Answers[QStringLiteral("Abort current operation?")] = TMsgAnswer::maNo;
    bench.OnStep = [&](int step) {
        if (step == 100) QTest::mouseClick(form.AbortBtn, Qt::LeftButton);
    };
    bench.Click(form.FlReadBtn);
    // "No" lets the read finish.
    EXPECT_EQ(bench.Steps, 8192);
    EXPECT_EQ(form.FlashBox->title(), QStringLiteral("Flash Memory (AVR device)"));

    form.FlashBox->setTitle(QStringLiteral("Flash Memory (buffer)"));
    bench.Dialogs.Clear();
    bench.Dialogs.Answers.clear();
    bench.Click(form.FlReadBtn);
    EXPECT_EQ(bench.Dialogs.Texts(),
              std::vector<QString>{QStringLiteral("Abort current operation?")});
    EXPECT_EQ(bench.Dialogs.Messages[0].Kind, TMsgKind::mkConfirmation);
    // The Yes given inside step 100 stops the read at that step's abort check.
    EXPECT_EQ(bench.Steps, 100);
    EXPECT_EQ(form.AVRStatPanel->text(), QStringLiteral("Operation aborted at address 0x0064"));
    EXPECT_EQ(form.FlashBox->title(), QStringLiteral("Flash Memory (buffer)"));
    EXPECT_FALSE(form.AbortBtn->isEnabled());
    EXPECT_TRUE(form.FlReadBtn->isEnabled());
}

TEST(MainWindowSession, ExitAsksAndNoKeepsTheWindow) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.Dialogs.Answers[QStringLiteral("Exit! Are you sure?")] = TMsgAnswer::maNo;
    bench.Click(form.ExitBtn);
    EXPECT_TRUE(form.isVisible());
    ASSERT_EQ(bench.Dialogs.Texts(), std::vector<QString>{QStringLiteral("Exit! Are you sure?")});
    EXPECT_EQ(bench.Dialogs.Messages[0].Buttons, TMsgButtons::mbYesNo);
    EXPECT_EQ(bench.Dialogs.Messages[0].Kind, TMsgKind::mkInformation);
    bench.Dialogs.Answers.clear();
    form.close(); // the title bar's close box asks the same
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(bench.Dialogs.Messages.size(), 2u);
}

TEST(MainWindowSession, ExitNoDuringAnOperationLetsItFinish) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    bench.Dialogs.Answers[QStringLiteral("Exit! Are you sure?")] = TMsgAnswer::maNo;
    bench.OnStep = [&](int step) {
        if (step == 5) QTest::mouseClick(form.ExitBtn, Qt::LeftButton);
    };
    bench.Click(form.EEReadBtn);
    EXPECT_EQ(bench.Steps, 512);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.EEPromBox->title(), QStringLiteral("EEPROM Memory (AVR device)"));
}

TEST(MainWindowSession, ExitAgreedDuringWriteStartsNothingMoreAndCloses) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    for (int j = 0; j < 512; ++j)
        bench.Engine().EEpromBuffer[j] = 0x5A;
    for (int i = 0; i < 8192; ++i)
        bench.Engine().FlashBuffer[i] = 0x1234;
    bool asked = false;
    bench.OnStep = [&](int step) {
        if (step == 300 && !asked) {
            asked = true;
            QTest::mouseClick(form.ExitBtn, Qt::LeftButton);
        }
    };
    bench.Click(form.MemWriteBtn);
    // Only the write question and the exit question: no verification message.
    EXPECT_EQ(bench.Dialogs.Texts(), (std::vector<QString>{QStringLiteral("Write NEW data to AVR?"),
                                                           QStringLiteral("Exit! Are you sure?")}));
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(form.Closing());
    // The Flash write stopped early and the EEPROM was never written.
    EXPECT_LT(bench.Steps, 400);
    const std::vector<uint8_t> eeprom(bench.Sim->Eeprom().begin(), bench.Sim->Eeprom().end());
    EXPECT_EQ(eeprom, std::vector<uint8_t>(512, 0xFF));
}

TEST(MainWindowSession, InformationShowsOneWindow) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.Click(form.InfoBtn);
    bench.Click(form.InfoBtn);
    EXPECT_TRUE(bench.Info->isVisible());
    int shown = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TInfoForm*>(w) && w->isVisible()) ++shown;
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(bench.Info->InfoMemo->toPlainText().split(QLatin1Char('\n')).size(), 26);
    // Modeless: the main window still takes commands.
    bench.Click(form.InitAVRBtn);
    EXPECT_EQ(bench.Engine().AVRversion(), "ATmega16");
    EXPECT_TRUE(bench.Info->isVisible());
}

} // namespace

namespace {

TEST(MainWindowSession, PartOutsideTheCatalogueLocksMemoriesAndFusesAndReleaseAsksNothing) {
    TFormBench bench("ATtiny12");
    TForm1& form = *bench.Form;
    const std::vector<uint8_t> program(bench.Sim->Flash().size(), 0x5A);
    bench.Sim->SetFlash(program);
    bench.Click(form.InitAVRBtn);
    EXPECT_EQ(form.AVRStatPanel->text(), QStringLiteral("Atmel AVR Device NOT found"));
    EXPECT_EQ(form.AVRtypeLabel->text(), QStringLiteral("AVR device type : NONE"));
    EXPECT_EQ(form.FlSizeLabel->text(), QStringLiteral("Flash memory    : 0x0000"));
    EXPECT_TRUE(form.AVRStatPanel->toolTip().contains(QStringLiteral("signature 1E 90 05")));
    EXPECT_TRUE(form.RelBtn->isEnabled());
    for (QWidget* w : {static_cast<QWidget*>(form.FlReadBtn), static_cast<QWidget*>(form.MemWriteBtn),
                       static_cast<QWidget*>(form.FlVerifyBtn), static_cast<QWidget*>(form.EELoadBtn),
                       static_cast<QWidget*>(form.LFBEdit), static_cast<QWidget*>(form.WFuseBtn)})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    bench.Dialogs.Clear();
    bench.Click(form.RelBtn);
    EXPECT_TRUE(bench.Dialogs.Messages.empty());
    EXPECT_TRUE(form.RelBtn->isEnabled());
    // Reached past the locked buttons, the engine itself refuses to erase or
    // verify a part without sizes: the part keeps its program.
    bench.Click(form.MemWriteBtn);
    EXPECT_TRUE(bench.Dialogs.Messages.empty());
    form.FlVerifyBtnClick();
    EXPECT_EQ(bench.Dialogs.Texts(), std::vector<QString>{QStringLiteral("Error in Flash")});
    bench.Dialogs.Clear();
    form.MemWriteBtnClick();
    EXPECT_EQ(bench.Dialogs.Texts()[1], QStringLiteral("Can NOT Erease AVR device."));
    EXPECT_TRUE(std::equal(program.begin(), program.end(), bench.Sim->Flash().begin()));
    EXPECT_FALSE(form.MemWriteBtn->isEnabled());
}

} // namespace
