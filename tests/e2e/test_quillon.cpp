// quillon end to end: the window on the simulated part reached through the port
// library the program loads (libportio-sim.so, chosen by QUILLON_PORTIO), whose
// chip keeps its memories in a state folder between sessions, as scripts/run
// starts it; and the program itself starting up.

#include "../app/ScriptedDialogs.h"
#include "MainForm.h"
#include "XHexEdit.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray ViewBytes(const TXHexEdit& view) {
    QByteArray bytes;
    for (int i = 0; i < view.Size(); ++i)
        bytes.append(static_cast<char>(view.ByteAt(i)));
    return bytes;
}

class SimulatedSession : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(State.isValid());
        qputenv("QUILLON_PORTIO", "sim");
        qputenv("QUILLON_SIM_DEVICE", "ATmega16");
        qputenv("QUILLON_SIM_STATE", State.path().toLocal8Bit());
    }
    void TearDown() override {
        qunsetenv("QUILLON_PORTIO");
        qunsetenv("QUILLON_SIM_DEVICE");
        qunsetenv("QUILLON_SIM_STATE");
    }
    QTemporaryDir State;
};

TEST_F(SimulatedSession, WriteThenReadBackInALaterSession) {
    const QString image = QStringLiteral(QUILLON_TEST_DATA "/blink_m16.hex");
    QByteArray expected = ReadAll(QStringLiteral(QUILLON_TEST_DATA "/blink_m16.bin"));
    ASSERT_FALSE(expected.isEmpty());
    expected.append(QByteArray(16384 - expected.size(), '\xFF'));
    {
        TScriptedDialogs dialogs;
        TForm1 form(dialogs);
        ASSERT_EQ(form.AVRStatPanel->text(), QStringLiteral("ISP interface is ready"));
        QTest::mouseClick(form.InitAVRBtn, Qt::LeftButton);
        ASSERT_EQ(form.AVRtypeLabel->text(), QStringLiteral("AVR device type : ATmega16"));
        dialogs.Files.push_back(image);
        QTest::mouseClick(form.FlLoadBtn, Qt::LeftButton);
        form.EECheck->setChecked(false); // the EEPROM is filled with 0xFF instead
        dialogs.Clear();
        QTest::mouseClick(form.MemWriteBtn, Qt::LeftButton);
        EXPECT_EQ(dialogs.Texts(), (std::vector<QString>{QStringLiteral("Write NEW data to AVR?"),
                                                         QStringLiteral("AVR memory is OK")}));
    } // the engine shuts the port library down: the chip is stored
    EXPECT_EQ(ReadAll(State.filePath(QStringLiteral("flash.bin"))), expected);

    TScriptedDialogs dialogs;
    TForm1 form(dialogs);
    QTest::mouseClick(form.InitAVRBtn, Qt::LeftButton);
    QTest::mouseClick(form.FlReadBtn, Qt::LeftButton);
    EXPECT_EQ(form.FlashBox->title(), QStringLiteral("Flash Memory (AVR device)"));
    EXPECT_EQ(ViewBytes(*form.FlashEdit), expected);
    EXPECT_EQ(dialogs.Texts(),
              std::vector<QString>{QStringLiteral("Switch OFF and ON device power supply")});
}

TEST_F(SimulatedSession, PartOutsideTheCatalogueKeepsItsMemories) {
    qputenv("QUILLON_SIM_DEVICE", "ATtiny12");
    QByteArray flash(1024, '\0');
    for (int i = 0; i < flash.size(); ++i)
        flash[i] = static_cast<char>(i * 13);
    const QByteArray eeprom(64, '\x42');
    const QByteArray fuses("\x52\xFF\xFF", 3);
    for (const auto& [name, bytes] :
         {std::pair{"flash.bin", flash}, std::pair{"eeprom.bin", eeprom},
          std::pair{"fuses.bin", fuses}, std::pair{"device.txt", QByteArray("ATtiny12\n")}}) {
        QFile f(State.filePath(QLatin1String(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    {
        TScriptedDialogs dialogs;
        TForm1 form(dialogs);
        QTest::mouseClick(form.InitAVRBtn, Qt::LeftButton);
        EXPECT_EQ(form.AVRStatPanel->text(), QStringLiteral("Atmel AVR Device NOT found"));
        EXPECT_FALSE(form.MemWriteBtn->isEnabled());
        dialogs.Clear();
        QTest::mouseClick(form.MemWriteBtn, Qt::LeftButton);
        EXPECT_TRUE(dialogs.Messages.empty());
        form.MemWriteBtnClick(); // past the locked button: the engine refuses the erase
        EXPECT_EQ(dialogs.Texts()[1], QStringLiteral("Can NOT Erease AVR device."));
    }
    EXPECT_EQ(ReadAll(State.filePath(QStringLiteral("flash.bin"))), flash);
    EXPECT_EQ(ReadAll(State.filePath(QStringLiteral("eeprom.bin"))), eeprom);
    EXPECT_EQ(ReadAll(State.filePath(QStringLiteral("fuses.bin"))), fuses);
}

TEST(Program, StartsWithoutArgumentsAndKeepsRunning) {
    QProcess quillon;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUILLON_PORTIO"), QStringLiteral("sim"));
    env.insert(QStringLiteral("QUILLON_SIM_DEVICE"), QStringLiteral("none"));
    env.remove(QStringLiteral("QUILLON_SIM_STATE"));
    quillon.setProcessEnvironment(env);
    quillon.start(QStringLiteral(QUILLON_BIN_DIR "/quillon"), {});
    ASSERT_TRUE(quillon.waitForStarted(10000));
    // Still up after start-up: the window was built and the port opened.
    EXPECT_FALSE(quillon.waitForFinished(1500));
    EXPECT_EQ(quillon.state(), QProcess::Running);
    quillon.kill();
    quillon.waitForFinished(5000);
}

} // namespace
