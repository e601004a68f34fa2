// Choosing the cable in the Information window: the text shows the selected
// cable's wiring, "Use cable" puts it into use and the next window opens it
// again, each cable's stand-in then finds the simulated part, a cable that
// always programs in the fast mode shows it on "Fast programming", and a
// cable that cannot be used says why without driving anything.

#include "FormBench.h"

#include "CableChoice.h"
#include "UserSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <map>

namespace {

const QColor Navy(0, 0, 128);
const QColor Red(255, 0, 0);

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QStringList Words(const QString& text) {
    return text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

// Selects the cable, types its options and puts it into use.
void UseCable(TInfoForm& info, const QString& name, const QString& options) {
    info.CableCombo->setCurrentIndex(info.CableCombo->findText(name));
    info.OptionsEdit->clear();
    QTest::keyClicks(info.OptionsEdit, options);
    QTest::mouseClick(info.UseCableBtn, Qt::LeftButton);
}

// A window as the program makes it: the engine opens what QUILLON_CABLE,
// the remembered choice or QUILLON_PORTIO name.
struct TCableWindow {
    TScriptedDialogs Dialogs;
    TInfoForm Info;
    TForm1 Form{Dialogs};
    TCableWindow() {
        Form.InfoForm = &Info;
        Form.show();
        QTest::mouseClick(Form.InfoBtn, Qt::LeftButton);
    }
};

// QUILLON_CABLE_SIMULATE=1: every cable's stand-in drives the simulated part.
class CableChoice : public ::testing::Test {
protected:
    void SetUp() override {
        qunsetenv(cable::CableVariable);
        qputenv(cable::SimulateVariable, "1");
        qputenv("QUILLON_SIM_DEVICE", "ATmega16");
        UserSettings().clear();
    }
    void TearDown() override {
        qunsetenv(cable::CableVariable);
        qunsetenv(cable::SimulateVariable);
        qunsetenv("QUILLON_SIM_DEVICE");
        UserSettings().clear();
    }
};

TEST_F(CableChoice, EachCableIsShownUsedRememberedAndFindsThePart) {
    // Options for some cables, so that their remembering is seen too.
    const std::map<std::string_view, QString> options = {{"gpio", QStringLiteral("reset=25")},
                                                         {"serial", QStringLiteral("/dev/ttyUSB1")},
                                                         {"arduino", QStringLiteral("boot=300")}};
    const QStringList pins = TInfoForm::InfoLines().mid(0, 16);
    auto window = std::make_unique<TCableWindow>();
    for (const cable::TCableInfo& c : cable::Cables()) {
        SCOPED_TRACE(std::string(c.Name));
        const QString name = Q(c.Name);
        const QString typed = options.count(c.Name) ? options.at(c.Name) : QString();
        const bool forced = !c.NormalMode;
        // The parallel port's status line stays as it always was.
        const QString ready =
            c.Name == cable::DefaultCable
                ? QStringLiteral("ISP interface is ready")
                : QStringLiteral("ISP interface is ready (%1, simulated)").arg(name);
        TInfoForm& info = window->Info;
        TForm1& form = window->Form;

        // The text: the pin list, then the selected cable's wiring, whole, with
        // no line past the memo's edge.
        info.CableCombo->setCurrentIndex(info.CableCombo->findText(name));
        const QStringList lines = info.InfoMemo->toPlainText().split(QLatin1Char('\n'));
        EXPECT_EQ(lines.mid(0, 16), pins);
        if (c.Wiring() == cable::Cables().front().Wiring())
            EXPECT_EQ(lines, TInfoForm::InfoLines());
        else
            EXPECT_EQ(Words(lines.mid(18).join(QLatin1Char(' '))), Words(Q(c.Wiring())));
        for (const QString& line : lines)
            EXPECT_LE(info.InfoMemo->fontMetrics().horizontalAdvance(line),
                      info.InfoMemo->viewport()->width())
                << line.toStdString();
        EXPECT_EQ(info.CableCombo->itemData(info.CableCombo->currentIndex(), Qt::ToolTipRole),
                  Q(c.Summary));
        EXPECT_EQ(info.OptionsEdit->placeholderText(), QString::fromStdString(c.Options()));

        // Put into use: ready, the cable named; the device panel empty, only
        // Init Device enabled; the box ticked and locked on a forced cable.
        UseCable(info, name, typed);
        EXPECT_EQ(form.AVRStatPanel->text(), ready);
        EXPECT_EQ(form.AVRStatPanel->palette().color(QPalette::WindowText), Navy);
        EXPECT_TRUE(form.AVRStatPanel->toolTip().contains(
            QString::fromStdString(form.AVRisp->Link().Description())));
        EXPECT_EQ(form.AVRtypeLabel->text(), QStringLiteral("AVR device type : NONE"));
        EXPECT_TRUE(form.InitAVRBtn->isEnabled());
        EXPECT_FALSE(form.RelBtn->isEnabled());
        EXPECT_FALSE(form.FlReadBtn->isEnabled());
        EXPECT_EQ(form.FastCheck->isChecked(), forced);
        EXPECT_EQ(form.FastCheck->toolTip().isEmpty(), !forced);

        // Init Device finds the part through the cable; the box is the
        // user's own again (unticked, enabled) on a normal-mode cable.
        QTest::mouseClick(form.InitAVRBtn, Qt::LeftButton);
        EXPECT_EQ(form.AVRtypeLabel->text(), QStringLiteral("AVR device type : ATmega16"));
        EXPECT_EQ(form.FastCheck->isChecked(), forced);
        EXPECT_EQ(form.FastCheck->isEnabled(), !forced);
        EXPECT_FALSE(UserSettings().value(QStringLiteral("FastProgramming"), false).toBool());

        // The next window opens the remembered cable and shows it.
        window.reset();
        window = std::make_unique<TCableWindow>();
        EXPECT_EQ(window->Form.AVRStatPanel->text(), ready);
        EXPECT_EQ(window->Info.CableCombo->currentText(), name);
        EXPECT_EQ(window->Info.OptionsEdit->text(), typed);
        EXPECT_EQ(window->Form.FastCheck->isChecked(), forced);
    }

    // QUILLON_CABLE, when set, goes before the remembered choice.
    window.reset();
    qputenv(cable::CableVariable, "sim");
    window = std::make_unique<TCableWindow>();
    EXPECT_EQ(window->Form.AVRStatPanel->text(),
              QStringLiteral("ISP interface is ready (sim, simulated)"));
    EXPECT_EQ(window->Info.CableCombo->currentText(), QStringLiteral("sim"));
}

// A cable that cannot be used leaves the engine without an open link: red,
// the reason in the tooltip, Init Device locked; the part's lines are not
// driven by letting the old link go. No cable changes while a command runs.
TEST_F(CableChoice, RefusedCableSaysWhyAndDrivesNothing) {
    qunsetenv(cable::SimulateVariable);
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    QTest::mouseClick(form.InfoBtn, Qt::LeftButton);

    bench.OnStep = [&](int step) {
        if (step != 1) return;
        EXPECT_FALSE(bench.Info->UseCableBtn->isEnabled());
        form.UseCable(QStringLiteral("sim"), QString());
    };
    bench.InitDevice();
    bench.OnStep = nullptr;
    EXPECT_EQ(bench.Engine().AVRversion(), "ATmega16") << "identified through the same cable";
    EXPECT_TRUE(bench.Info->UseCableBtn->isEnabled());

    // Some from a cable in use that always programs in the fast mode.
    const struct {
        const char* Before;
        const char* Name;
        const char* Options;
        const char* Why;
        const char* Status;
    } refused[] = {
        {nullptr, "gpio", "bogus=1", "bogus", "ISP interface NOT initialised (gpio)"},
        {"usbasp", "spidev", "speed=1", "speed", "ISP interface NOT initialised (spidev)"},
        {"usbasp", "lpt", "fast", "takes no options", "ISP interface NOT initialised"}};
    for (const auto& r : refused) {
        SCOPED_TRACE(r.Name);
        const uint64_t accesses = bench.Sim->PortAccesses();
        if (r.Before) {
            qputenv(cable::SimulateVariable, "1");
            UseCable(*bench.Info, QLatin1String(r.Before), QString());
            qunsetenv(cable::SimulateVariable);
            ASSERT_TRUE(form.InitAVRBtn->isEnabled());
        }
        UseCable(*bench.Info, QLatin1String(r.Name), QLatin1String(r.Options));
        EXPECT_EQ(form.AVRStatPanel->text(), QLatin1String(r.Status));
        EXPECT_TRUE(form.FastCheck->toolTip().isEmpty()) << "no cable in use forces the fast mode";
        EXPECT_EQ(form.AVRStatPanel->palette().color(QPalette::WindowText), Red);
        EXPECT_TRUE(form.AVRStatPanel->toolTip().contains(QLatin1String(r.Why)))
            << form.AVRStatPanel->toolTip().toStdString();
        EXPECT_FALSE(form.InitAVRBtn->isEnabled());
        EXPECT_FALSE(form.RelBtn->isEnabled());
        EXPECT_EQ(form.AVRtypeLabel->text(), QStringLiteral("AVR device type : NONE"));
        EXPECT_EQ(bench.Sim->PortAccesses(), accesses);
        EXPECT_TRUE(bench.Info->InUseLabel->text().contains(QStringLiteral("not opened")));
    }
}

} // namespace
