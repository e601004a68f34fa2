// The main window's memory, fuse and file commands against the simulated part:
// Read, Verify, Write to AVR with its check boxes, Set Fuse, loads and saves.

#include "FormBench.h"

#include "AdvEdit.h"
#include "GuardedFuseChanges.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString DataDir = QStringLiteral(QUILLON_TEST_DATA);

// The image a file gives the memory: the file's bytes over an erased memory.
std::vector<uint8_t> Padded(std::vector<uint8_t> bytes, std::size_t size) {
    bytes.resize(size, 0xFF);
    return bytes;
}

std::vector<uint8_t> SimFlash(TFormBench& bench) {
    return {bench.Sim->Flash().begin(), bench.Sim->Flash().end()};
}
std::vector<uint8_t> SimEeprom(TFormBench& bench) {
    return {bench.Sim->Eeprom().begin(), bench.Sim->Eeprom().end()};
}

// Loads the Flash and EEPROM images named through the two Load buttons.
void LoadImages(TFormBench& bench, const QString& flash, const QString& eeprom) {
    bench.Dialogs.Files.push_back(flash);
    bench.Click(bench.Form->FlLoadBtn);
    if (!eeprom.isEmpty()) {
        bench.Dialogs.Files.push_back(eeprom);
        bench.Click(bench.Form->EELoadBtn);
    }
    ASSERT_TRUE(bench.Dialogs.Messages.empty());
    bench.Dialogs.Clear();
}

struct TWriteCase {
    bool EEprom;
    bool Verify;
    bool Fast = false; // ticked after the part was identified
};

class WriteToAvr : public ::testing::TestWithParam<TWriteCase> {};

TEST_P(WriteToAvr, ProgramsTheImageFromAHexFile) {
    const TWriteCase c = GetParam();
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    // Something old in the part's EEPROM that the erase must clear.
    bench.Sim->SetEeprom(std::vector<uint8_t>(512, 0x42));
    LoadImages(bench, DataDir + "/blink_m16.hex", DataDir + "/blink_m16_ee.hex");
    const std::vector<uint8_t> flashImage = bench.FlashImage();
    const std::vector<uint8_t> eepromImage = bench.EEpromImage();
    ASSERT_EQ(flashImage, Padded(FileBytes(DataDir + "/blink_m16.bin"), 16384));
    ASSERT_EQ(eepromImage, Padded(FileBytes(DataDir + "/blink_m16_ee.bin"), 512));
    const QString flashCaption = form.FlashBox->title();

    form.EECheck->setChecked(c.EEprom);
    form.VerifyCheck->setChecked(c.Verify);
    form.FastCheck->setChecked(c.Fast);
    bench.Click(form.MemWriteBtn);

    std::vector<QString> expected{QStringLiteral("Write NEW data to AVR?")};
    if (c.Verify) expected.push_back(QStringLiteral("AVR memory is OK"));
    EXPECT_EQ(bench.Dialogs.Texts(), expected);
    EXPECT_EQ(bench.Dialogs.Messages[0].Buttons, TMsgButtons::mbYesNo);
    if (!c.Verify) {
        EXPECT_EQ(form.AVRStatPanel->text(), QStringLiteral("Done"));
    }
    EXPECT_EQ(SimFlash(bench), flashImage);
    EXPECT_EQ(form.FlashBox->title(), flashCaption);
    if (c.EEprom) {
        EXPECT_EQ(SimEeprom(bench), eepromImage);
    } else {
        EXPECT_EQ(SimEeprom(bench), std::vector<uint8_t>(512, 0xFF));
        EXPECT_EQ(bench.EEpromImage(), std::vector<uint8_t>(512, 0xFF));
        EXPECT_EQ(ViewBytes(*form.EEPromEdit), std::vector<uint8_t>(512, 0xFF));
        EXPECT_EQ(form.EEPromBox->title(), QStringLiteral("EEPROM Memory (buffer)"));
    }
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Quillon ver. 2.0"));
    EXPECT_FALSE(form.AbortBtn->isEnabled());
    EXPECT_FALSE(form.FlCheck->isEnabled());
    EXPECT_TRUE(form.MemWriteBtn->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Boxes, WriteToAvr,
                         ::testing::Values(TWriteCase{true, true}, TWriteCase{true, false},
                                           TWriteCase{false, true}, TWriteCase{false, false},
                                           TWriteCase{true, true, true}),
                         [](const auto& info) {
                             return std::string(info.param.EEprom ? "EEprom" : "NoEEprom") +
                                    (info.param.Verify ? "Verify" : "NoVerify") +
                                    (info.param.Fast ? "Fast" : "");
                         });

TEST(Commands, WriteReadBackAndVerifyOnAByteProgrammedPart) {
    TFormBench bench("AT90S2313");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    LoadImages(bench, DataDir + "/count_2313.hex", QString());
    const std::vector<uint8_t> image = bench.FlashImage();
    std::vector<uint8_t> program = FileBytes(DataDir + "/count_2313.bin");
    program.resize(program.size() & ~std::size_t{1}); // that file carries one stray byte more
    ASSERT_EQ(image, Padded(program, 2048));
    for (int j = 0; j < 128; ++j)
        bench.Engine().EEpromBuffer[j] = static_cast<uint8_t>(j * 3);
    bench.Click(form.MemWriteBtn);
    EXPECT_EQ(bench.Dialogs.Texts(), (std::vector<QString>{QStringLiteral("Write NEW data to AVR?"),
                                                           QStringLiteral("AVR memory is OK")}));
    EXPECT_EQ(SimFlash(bench), image);

    // Read back into cleared buffers: the views show the part's bytes, word low byte first.
    bench.Engine().FlashBuffer.fill(0);
    bench.Dialogs.Clear();
    bench.Click(form.FlReadBtn);
    bench.Click(form.EEReadBtn);
    EXPECT_TRUE(bench.Dialogs.Messages.empty());
    EXPECT_EQ(ViewBytes(*form.FlashEdit), image);
    EXPECT_EQ(form.FlashBox->title(), QStringLiteral("Flash Memory (AVR device)"));
    EXPECT_EQ(form.EEPromBox->title(), QStringLiteral("EEPROM Memory (AVR device)"));
    EXPECT_EQ(ViewBytes(*form.EEPromEdit)[5], 15);

    // Verify buttons: equal, then a buffer word that differs from the part.
    bench.Click(form.FlVerifyBtn);
    bench.Click(form.EEVerifyBtn);
    EXPECT_EQ(bench.Dialogs.Texts(),
              (std::vector<QString>{QStringLiteral("Data in Flash is OK"),
                                    QStringLiteral("Data in EEPROM is OK")}));
    bench.Dialogs.Clear();
    bench.Engine().FlashBuffer[7] ^= 0x0100;
    bench.Engine().EEpromBuffer[100] ^= 0x01;
    bench.Click(form.FlVerifyBtn);
    bench.Click(form.EEVerifyBtn);
    ASSERT_EQ(bench.Dialogs.Texts(), (std::vector<QString>{QStringLiteral("Error in Flash"),
                                                           QStringLiteral("Error in EEPROM")}));
    EXPECT_EQ(bench.Dialogs.Messages[0].Kind, TMsgKind::mkError);
    EXPECT_EQ(bench.Dialogs.Messages[1].Kind, TMsgKind::mkError);
}

TEST(Commands, ReadShowsWordLowByteFirst) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    std::vector<uint8_t> image(16384, 0xFF);
    image[0] = 0x0C; // word 0 = 0x940C, a jump
    image[1] = 0x94;
    bench.Sim->SetFlash(image);
    bench.InitDevice();
    bench.Click(form.FlReadBtn);
    const std::vector<uint8_t> view = ViewBytes(*form.FlashEdit);
    ASSERT_EQ(view.size(), 16384u);
    EXPECT_EQ(view[0], 0x0C);
    EXPECT_EQ(view[1], 0x94);
    EXPECT_EQ(bench.Engine().FlashBuffer[0], 0x940Cu);
}

TEST(Commands, AbortDuringFlashWriteStillWritesEEpromAndVerifyFindsTheGap) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    for (int i = 0; i < 8192; ++i)
        bench.Engine().FlashBuffer[i] = static_cast<uint32_t>(i & 0xFFFF);
    for (int j = 0; j < 512; ++j)
        bench.Engine().EEpromBuffer[j] = static_cast<uint8_t>(j);
    bool aborted = false;
    bench.OnStep = [&](int step) {
        if (step == 200 && !aborted) {
            aborted = true;
            QTest::mouseClick(form.AbortBtn, Qt::LeftButton);
        }
    };
    bench.Click(form.MemWriteBtn);
    EXPECT_EQ(bench.Dialogs.Texts(),
              (std::vector<QString>{QStringLiteral("Write NEW data to AVR?"),
                                    QStringLiteral("Abort current operation?"),
                                    QStringLiteral("Error in Flash")}));
    // The EEPROM part ran after the abort.
    const std::vector<uint8_t> eeprom = SimEeprom(bench);
    for (int j = 0; j < 512; ++j)
        ASSERT_EQ(eeprom[j], j & 0xFF) << j;
    // Words the aborted write never reached are still erased.
    EXPECT_EQ(bench.Sim->FlashWord(8000), 0xFFFF);
    EXPECT_EQ(bench.Sim->FlashWord(10), 10);
    EXPECT_TRUE(form.isVisible());
}

TEST(Commands, EraseFailureOffersANewInitialisation) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    bench.Sim->SetNoAnswerAfterErase(true);
    bench.Dialogs.Answers[QStringLiteral("Initialise new device?")] = TMsgAnswer::maNo;
    bench.Click(form.MemWriteBtn);
    ASSERT_EQ(bench.Dialogs.Texts(),
              (std::vector<QString>{QStringLiteral("Write NEW data to AVR?"),
                                    QStringLiteral("Can NOT Erease AVR device."),
                                    QStringLiteral("Initialise new device?")}));
    EXPECT_EQ(bench.Dialogs.Messages[1].Kind, TMsgKind::mkError);
    EXPECT_EQ(bench.Dialogs.Messages[1].Buttons, TMsgButtons::mbOK);

    // Answering Yes goes on to the power question; the silent part is not found.
    bench.Dialogs.Clear();
    bench.Dialogs.Answers.clear();
    bench.Click(form.MemWriteBtn);
    EXPECT_EQ(bench.Dialogs.Texts(),
              (std::vector<QString>{QStringLiteral("Write NEW data to AVR?"),
                                    QStringLiteral("Can NOT Erease AVR device."),
                                    QStringLiteral("Initialise new device?"),
                                    QStringLiteral("Switch OFF and ON device power supply")}));
    EXPECT_EQ(form.AVRStatPanel->text(), QStringLiteral("Atmel Device NOT found"));
    EXPECT_FALSE(form.RelBtn->isEnabled());
    EXPECT_FALSE(form.MemWriteBtn->isEnabled());
}

// A part in lock mode 3 reads 0xFF: its verification says it is locked
// rather than naming an address of the Flash.
TEST(Commands, VerifyOfALockedPartSaysSo) {
    TFormBench bench("ATtiny85");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    bench.Sim->SetLockBits(0xFC);
    bench.Engine().FlashBuffer[0] = 0x1234;
    bench.Click(form.FlVerifyBtn);
    EXPECT_EQ(bench.Dialogs.Texts(),
              std::vector<QString>{QStringLiteral(
                  "AVR device is locked (lock bits 0xFC): it cannot be read back; a chip erase "
                  "clears the lock")});
    bench.Sim->SetLockBits(0xFF);
    bench.Dialogs.Clear();
    bench.Click(form.FlVerifyBtn);
    EXPECT_EQ(bench.Dialogs.Texts(), std::vector<QString>{QStringLiteral("Error in Flash")});
}

TEST(Commands, WriteQuestionAnsweredNoTouchesNothing) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    bench.Sim->SetEeprom(std::vector<uint8_t>(512, 0x42));
    bench.Dialogs.Answers[QStringLiteral("Write NEW data to AVR?")] = TMsgAnswer::maNo;
    bench.Click(form.MemWriteBtn);
    EXPECT_EQ(bench.Steps, 0);
    EXPECT_EQ(SimEeprom(bench), std::vector<uint8_t>(512, 0x42));
}

struct TFuseCase {
    const char* Device;
    const char* Low;
    const char* High;
    const char* Extended;
    std::array<uint8_t, 3> Expected; // low, high, extended in the part afterwards
    bool HighWritten;
    bool ExtendedWritten;
};

class SetFuse : public ::testing::TestWithParam<TFuseCase> {};

TEST_P(SetFuse, WritesTheBytesThePartHas) {
    const TFuseCase& c = GetParam();
    TFormBench bench(c.Device);
    TForm1& form = *bench.Form;
    bench.InitDevice();
    const std::array<uint8_t, 3> before = bench.Sim->Fuses();
    form.LFBEdit->SetText(QString::fromLatin1(c.Low));
    form.HFBEdit->SetText(QString::fromLatin1(c.High));
    form.EFBEdit->SetText(QString::fromLatin1(c.Extended));
    bench.Click(form.WFuseBtn);
    EXPECT_EQ(bench.Dialogs.Texts(),
              std::vector<QString>{QStringLiteral("Write NEW Fuse to AVR?")});
    EXPECT_FALSE(bench.Dialogs.Messages[0].Options.Informative.isEmpty()); // the bits that change
    EXPECT_EQ(form.AVRStatPanel->text(), QStringLiteral("Fuse updated"));
    const std::array<uint8_t, 3> after = bench.Sim->Fuses();
    EXPECT_EQ(after[0], c.Expected[0]);
    EXPECT_EQ(after[1], c.HighWritten ? c.Expected[1] : before[1]);
    EXPECT_EQ(after[2], c.ExtendedWritten ? c.Expected[2] : before[2]);
    // The fields keep what was typed; the engine holds the bytes read back.
    EXPECT_EQ(form.LFBEdit->Text(), QString::fromLatin1(c.Low));
    EXPECT_EQ(bench.Engine().AVRlfb(), after[0]);
}

QString Hex2(uint8_t v) {
    return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}

// Each fuse field's tooltip decodes the value it holds, also as it is typed;
// Set Fuse's question lists the bits that change.
TEST(Commands, FuseFieldsDecodeTheirValueAndSetFuseListsTheChanges) {
    TFormBench bench("ATmega328P");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    EXPECT_EQ(form.HFBEdit->toolTip(),
              QStringLiteral("high fuse byte 0xD9 (programmed = 0)\n"
                             "RSTDISBL=1 DWEN=1 SPIEN=0 WDTON=1\nEESAVE=1 BOOTSZ=00 BOOTRST=1"));
    form.HFBEdit->setFocus();
    form.HFBEdit->end(false);
    QTest::keyClick(form.HFBEdit, Qt::Key_Backspace);
    QTest::keyClick(form.HFBEdit, Qt::Key_1);
    EXPECT_EQ(form.HFBEdit->Text(), QStringLiteral("D1"));
    EXPECT_TRUE(form.HFBEdit->toolTip().endsWith(QStringLiteral("EESAVE=0 BOOTSZ=00 BOOTRST=1")))
        << form.HFBEdit->toolTip().toStdString();
    bench.Dialogs.Answers[QStringLiteral("Write NEW Fuse to AVR?")] = TMsgAnswer::maNo;
    bench.Click(form.WFuseBtn);
    ASSERT_EQ(bench.Dialogs.Messages.size(), 1u);
    EXPECT_EQ(bench.Dialogs.Messages[0].Options.Informative, QStringLiteral("high: EESAVE 1 -> 0"));
    EXPECT_EQ(bench.Sim->Fuses()[1], 0xD9);
}

// A change that ends in-circuit programming is asked about once more, No
// being the default: No writes nothing, Yes writes it (the command-line
// table shows the part then lost to the board). A change that will not take is listed as such and fails on
// read-back, in red and in an error box.
class GuardedFuseWindow : public ::testing::TestWithParam<TGuardedChange> {};

TEST_P(GuardedFuseWindow, AskedWithNoAsDefault) {
    const TGuardedChange& g = GetParam();
    TFormBench bench(g.Part);
    TForm1& form = *bench.Form;
    bench.InitDevice();
    const std::array<uint8_t, 3> factory = bench.Sim->Fuses();
    TAdvEdit* const fields[3] = {form.LFBEdit, form.HFBEdit, form.EFBEdit};
    for (int k = 0; k < 3; ++k)
        fields[k]->SetText(Hex2(k < bench.Engine().AVRfuse() ? g.To[k] : factory[k]));
    bench.Dialogs.AnswersByKind[TMsgKind::mkWarning] = TMsgAnswer::maNo;
    bench.Click(form.WFuseBtn);
    ASSERT_FALSE(bench.Dialogs.Messages.empty());
    EXPECT_EQ(bench.Dialogs.Messages[0].Text, QStringLiteral("Write NEW Fuse to AVR?"));
    if (*g.Refused != 0) {
        ASSERT_EQ(bench.Dialogs.Messages.size(), 2u);
        const TShownMessage& warning = bench.Dialogs.Messages[1];
        EXPECT_EQ(warning.Kind, TMsgKind::mkWarning);
        EXPECT_EQ(warning.Buttons, TMsgButtons::mbYesNo);
        EXPECT_TRUE(warning.Options.DefaultNo);
        EXPECT_TRUE(warning.Text.contains(QString::fromLatin1(g.Refused))) << warning.Text.toStdString();
        EXPECT_EQ(bench.Sim->Fuses(), factory);
        bench.Dialogs.Clear();
        bench.Dialogs.AnswersByKind.clear();
        bench.Click(form.WFuseBtn);
    }
    if (*g.NotTaken != 0) {
        EXPECT_TRUE(bench.Dialogs.Messages[0].Options.Informative.contains(
            QString::fromLatin1(g.NotTaken) + QStringLiteral(" 0 -> 1")));
        EXPECT_TRUE(bench.Dialogs.Messages[0].Options.Informative.contains(QStringLiteral("will not take")));
        EXPECT_TRUE(form.AVRStatPanel->text().startsWith(QStringLiteral("Fuse NOT updated: ")));
        EXPECT_EQ(form.AVRStatPanel->palette().color(QPalette::WindowText), QColor(Qt::red));
        ASSERT_EQ(bench.Dialogs.Messages.size(), 2u);
        EXPECT_EQ(bench.Dialogs.Messages[1].Kind, TMsgKind::mkError);
        EXPECT_EQ(bench.Dialogs.Messages[1].Text, form.AVRStatPanel->text());
        EXPECT_EQ(bench.Sim->Fuses(), factory);
        return;
    }
    EXPECT_EQ(form.AVRStatPanel->text(), QStringLiteral("Fuse updated"));
    for (int k = 0; k < bench.Engine().AVRfuse(); ++k)
        EXPECT_EQ(bench.Sim->Fuses()[k], g.To[k]) << k;
}

INSTANTIATE_TEST_SUITE_P(Table, GuardedFuseWindow, ::testing::ValuesIn(GuardedChanges));

INSTANTIATE_TEST_SUITE_P(
    Kinds, SetFuse,
    ::testing::Values(TFuseCase{"ATmega161", "DA", "99", "FF", {0xDA, 0, 0}, false, false},
                      TFuseCase{"ATmega16", "E1", "D9", "FF", {0xE1, 0xD9, 0}, true, false},
                      TFuseCase{"ATmega323", "3F", "C9", "00", {0x3F, 0xC9, 0}, true, false},
                      TFuseCase{"ATmega162", "62", "D9", "F9", {0x62, 0xD9, 0xF9}, true, true}),
    [](const auto& info) { return std::string(info.param.Device); });

TEST(Commands, SetFuseWithAnEmptyFieldWritesNothing) {
    TFormBench bench("ATmega161");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    const std::array<uint8_t, 3> before = bench.Sim->Fuses();
    form.LFBEdit->SetText(QStringLiteral("DA"));
    form.HFBEdit->SetText(QString()); // hidden on this part, but read all the same
    bench.Click(form.WFuseBtn);
    ASSERT_EQ(bench.Dialogs.Texts(),
              (std::vector<QString>{
                  QStringLiteral("Write NEW Fuse to AVR?"),
                  QStringLiteral("'$%1' is not a valid integer value").arg(form.HFBEdit->Text())}));
    EXPECT_EQ(bench.Dialogs.Messages[1].Kind, TMsgKind::mkError);
    EXPECT_EQ(bench.Sim->Fuses(), before);
    EXPECT_EQ(bench.Steps, 0);

    bench.Dialogs.Clear();
    bench.Dialogs.Answers[QStringLiteral("Write NEW Fuse to AVR?")] = TMsgAnswer::maNo;
    form.HFBEdit->SetText(QStringLiteral("99"));
    bench.Click(form.WFuseBtn);
    EXPECT_EQ(bench.Sim->Fuses(), before);
}

// ---------------------------------------------------------------------------
// Files

class FileCommands : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Tmp.isValid());
        OldDir = QDir::currentPath();
        QDir::setCurrent(Tmp.path());
    }
    void TearDown() override { QDir::setCurrent(OldDir); }

    QString Write(const QString& name, const QByteArray& bytes) {
        QFile f(Tmp.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }

    QTemporaryDir Tmp;
    QString OldDir;
};

TEST_F(FileCommands, LoadFlashHexSetsCaptionBufferAndView) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    const QString path = DataDir + "/blink_m16.hex";
    bench.Dialogs.Files.push_back(path);
    bench.Click(form.FlLoadBtn);
    ASSERT_EQ(bench.Dialogs.FileDialogs.size(), 1u);
    const TFileDialogSettings& shown = bench.Dialogs.FileDialogs[0];
    EXPECT_FALSE(shown.Save);
    EXPECT_EQ(shown.FileName, QStringLiteral("Flash.hex"));
    EXPECT_EQ(shown.DefaultExt, QStringLiteral("hex"));
    EXPECT_EQ(shown.Filter, QStringLiteral("Intel HEX file|*.hex|Binary files|*.bin"));
    EXPECT_EQ(shown.FilterIndex, 1);
    EXPECT_EQ(QDir(shown.InitialDir), QDir(Tmp.path()));
    EXPECT_TRUE(bench.Dialogs.Messages.empty());
    EXPECT_EQ(form.FlashBox->title(), QStringLiteral("Flash Memory (") + path + ")");
    const std::vector<uint8_t> expected = Padded(FileBytes(DataDir + "/blink_m16.bin"), 16384);
    EXPECT_EQ(bench.FlashImage(), expected);
    EXPECT_EQ(ViewBytes(*form.FlashEdit), expected);
    // Choosing the file moved the working folder there.
    EXPECT_EQ(QDir(QDir::currentPath()), QDir(DataDir));

    // The EEPROM dialog has its own name and filter, and opens in the new folder.
    bench.Click(form.EELoadBtn);
    ASSERT_EQ(bench.Dialogs.FileDialogs.size(), 2u);
    EXPECT_EQ(bench.Dialogs.FileDialogs[1].FileName, QStringLiteral("EEprom.hex"));
    EXPECT_EQ(bench.Dialogs.FileDialogs[1].Filter,
              QStringLiteral("Intel HEX files|*.hex|Binary files|*.bin"));
    EXPECT_EQ(QDir(bench.Dialogs.FileDialogs[1].InitialDir), QDir(DataDir));
    EXPECT_EQ(form.EEPromBox->title(), QStringLiteral("EEPROM Memory (buffer)"));
}

TEST_F(FileCommands, RefusedHexLeavesEverythingAsItWas) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    bench.Engine().FlashBuffer[0] = 0x1234;
    const QString bad = Write(QStringLiteral("bad.hex"), "this is no hex file\r\n");
    bench.Dialogs.Files.push_back(bad);
    bench.Click(form.FlLoadBtn);
    ASSERT_EQ(bench.Dialogs.Texts(),
              std::vector<QString>{QStringLiteral("HEX file error or file too long")});
    EXPECT_EQ(bench.Dialogs.Messages[0].Kind, TMsgKind::mkError);
    EXPECT_EQ(form.FlashBox->title(), QStringLiteral("Flash Memory (buffer)"));
    EXPECT_EQ(bench.Engine().FlashBuffer[0], 0x1234u);
    EXPECT_EQ(ViewBytes(*form.FlashEdit)[0], 0xFF);

    // A data byte beyond the EEPROM refuses the EEPROM file in the same way.
    const QString beyond = Write(QStringLiteral("beyond.hex"), ":01020000AA53\r\n:00000001FF\r\n");
    bench.Dialogs.Clear();
    bench.Dialogs.Files.push_back(beyond);
    bench.Click(form.EELoadBtn);
    EXPECT_EQ(bench.Dialogs.Texts(),
              std::vector<QString>{QStringLiteral("HEX file error or file too long")});
    EXPECT_EQ(form.EEPromBox->title(), QStringLiteral("EEPROM Memory (buffer)"));
}

TEST_F(FileCommands, BinaryLoadsTooLongAndMissing) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    QByteArray longEeprom(513, '\x11');
    longEeprom[0] = '\x22';
    const QString ee = Write(QStringLiteral("long.bin"), longEeprom);
    bench.Dialogs.Files.push_back(ee);
    bench.Click(form.EELoadBtn);
    EXPECT_EQ(bench.Dialogs.Texts(), std::vector<QString>{QStringLiteral("EEPROM file too long")});
    EXPECT_EQ(form.EEPromBox->title(), QStringLiteral("EEPROM Memory (") + ee + ")");
    std::vector<uint8_t> expected(512, 0x11);
    expected[0] = 0x22;
    EXPECT_EQ(bench.EEpromImage(), expected);
    EXPECT_EQ(ViewBytes(*form.EEPromEdit), expected);

    // A shorter Flash image after a longer one: the rest is erased.
    const QString longer = Write(QStringLiteral("longer.bin"), QByteArray(100, '\x00'));
    const QString shorter = Write(QStringLiteral("shorter.bin"), QByteArray(4, '\x33'));
    bench.Dialogs.Clear();
    bench.Dialogs.Files = {longer, shorter};
    bench.Click(form.FlLoadBtn);
    bench.Click(form.FlLoadBtn);
    EXPECT_TRUE(bench.Dialogs.Messages.empty());
    std::vector<uint8_t> flash(16384, 0xFF);
    std::fill(flash.begin(), flash.begin() + 4, 0x33);
    EXPECT_EQ(ViewBytes(*form.FlashEdit), flash);
    EXPECT_EQ(bench.Engine().FlashBuffer[1], 0x3333u);

    // A file that is not there: the message, and nothing changes.
    bench.Dialogs.Clear();
    bench.Dialogs.Files.push_back(Tmp.filePath(QStringLiteral("missing.bin")));
    bench.Click(form.FlLoadBtn);
    EXPECT_EQ(bench.Dialogs.Texts(), std::vector<QString>{QStringLiteral("Flash file Error.")});
    EXPECT_EQ(form.FlashBox->title(), QStringLiteral("Flash Memory (") + shorter + ")");
    EXPECT_EQ(ViewBytes(*form.FlashEdit), flash);

    // Cancelling the dialog changes nothing either.
    bench.Dialogs.Clear();
    bench.Click(form.FlLoadBtn);
    EXPECT_TRUE(bench.Dialogs.Messages.empty());
    EXPECT_EQ(form.FlashBox->title(), QStringLiteral("Flash Memory (") + shorter + ")");
}

TEST_F(FileCommands, SavesWriteBinaryOrHexAndLoadBack) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    bench.InitDevice();
    bench.Engine().FlashBuffer[0] = 0x1234;
    bench.Engine().EEpromBuffer[3] = 0x77;

    const QString flashBin = Tmp.filePath(QStringLiteral("out.bin"));
    Write(QStringLiteral("out.bin"), QByteArray(40000, '\x01')); // longer, replaced
    bench.Dialogs.Files.push_back(flashBin);
    bench.Click(form.FlSaveBtn);
    ASSERT_EQ(bench.Dialogs.FileDialogs.size(), 1u);
    const TFileDialogSettings& shown = bench.Dialogs.FileDialogs[0];
    EXPECT_TRUE(shown.Save);
    EXPECT_EQ(shown.FileName, QStringLiteral("Flash_Out.bin"));
    EXPECT_EQ(shown.DefaultExt, QStringLiteral("bin"));
    EXPECT_EQ(shown.Filter, QStringLiteral("Binary files|*.bin|Intel HEX file|*.hex"));
    EXPECT_TRUE(shown.OverwritePrompt);
    EXPECT_TRUE(shown.CreatePrompt);
    EXPECT_TRUE(bench.Dialogs.Messages.empty());
    std::vector<uint8_t> expected(16384, 0xFF);
    expected[0] = 0x34;
    expected[1] = 0x12;
    EXPECT_EQ(FileBytes(flashBin), expected);
    EXPECT_EQ(form.FlashBox->title(), QStringLiteral("Flash Memory (") + flashBin + ")");

    // EEPROM under a ".hex" name: Intel HEX text that loads back unchanged.
    const QString eeHex = Tmp.filePath(QStringLiteral("ee.hex"));
    bench.Dialogs.Files.push_back(eeHex);
    bench.Click(form.EESaveBtn);
    EXPECT_EQ(bench.Dialogs.FileDialogs[1].FileName, QStringLiteral("EEprom_Out.bin"));
    EXPECT_EQ(FileBytes(eeHex).at(0), ':');
    bench.Engine().EEpromBuffer[3] = 0x00;
    bench.Dialogs.Files.push_back(eeHex);
    bench.Click(form.EELoadBtn);
    EXPECT_TRUE(bench.Dialogs.Messages.empty());
    EXPECT_EQ(bench.Engine().EEpromBuffer[3], 0x77);
    EXPECT_EQ(ViewBytes(*form.EEPromEdit)[3], 0x77);

    // Cancel keeps the caption; a file that cannot be created shows the message.
    const QString caption = form.FlashBox->title();
    bench.Click(form.FlSaveBtn);
    EXPECT_EQ(form.FlashBox->title(), caption);
    bench.Dialogs.Files.push_back(Tmp.filePath(QStringLiteral("no/such/folder/x.bin")));
    bench.Click(form.FlSaveBtn);
    EXPECT_EQ(bench.Dialogs.Texts(), std::vector<QString>{QStringLiteral("Flash file Error.")});
    EXPECT_EQ(form.FlashBox->title(), caption);
}

// ---------------------------------------------------------------------------
// What the user sees

TEST(Screenshot, ViewsAreFilledAfterARead) {
    TFormBench bench("ATmega16");
    TForm1& form = *bench.Form;
    std::vector<uint8_t> image(16384);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7);
    bench.Sim->SetFlash(image);
    bench.InitDevice();
    bench.Click(form.FlReadBtn);
    bench.Click(form.EEReadBtn);
    QApplication::processEvents();
    const QImage shot = form.grab().toImage();
    ASSERT_EQ(shot.size() / shot.devicePixelRatio(), QSize(801, 542));
    const QString png = QStringLiteral(QUILLON_BIN_DIR "/quillon-after-read.png");
    EXPECT_TRUE(shot.save(png));

    // Inside each view there are many colours of text over the background.
    for (TXHexEdit* view : {form.FlashEdit, form.EEPromEdit}) {
        const QRect area(view->mapTo(&form, QPoint(0, 0)), view->size());
        QSet<QRgb> colours;
        int dark = 0;
        for (int y = area.top() + 2; y < area.bottom() - 2; ++y)
            for (int x = area.left() + 2; x < area.right() - 2; ++x) {
                const QRgb c = shot.pixel(x, y);
                colours.insert(c);
                if (qGray(c) < 100) ++dark;
            }
        EXPECT_GT(colours.size(), 2) << view->objectName().toStdString();
        EXPECT_GT(dark, area.width() * area.height() / 50) << view->objectName().toStdString();
    }
}

} // namespace
