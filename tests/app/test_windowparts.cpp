// The small parts the main window is built from: the file dialogs' folder and name
// memory, the filter conversion, the messages, the group captions, the enabling of
// containers and the button pictures.

#include "ButtonIcons.h"
#include "ClassicGroupBox.h"
#include "ControlsEnabled.h"
#include "Dialogs.h"
#include "WindowFonts.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Records the settings a dialog was shown with and answers with a fixed path.
class TOneAnswer : public TDialogs {
public:
    std::optional<QString> Answer;
    std::vector<TFileDialogSettings> Shown;
    TMsgAnswer MessageBox(QWidget*, const QString&, TMsgKind, TMsgButtons) override {
        ADD_FAILURE() << "no message expected";
        return TMsgAnswer::maCancel;
    }
    std::optional<QString> FileDialog(QWidget*, const TFileDialogSettings& s) override {
        Shown.push_back(s);
        return Answer;
    }
};

TEST(FileDlg, OpensInWorkingFolderRemembersNameAndMovesFolder) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString oldDir = QDir::currentPath();
    QDir(tmp.path()).mkdir(QStringLiteral("images"));
    QDir::setCurrent(tmp.path());

    TFileDialogSettings settings;
    settings.FileName = QStringLiteral("Flash.hex");
    settings.DefaultExt = QStringLiteral("hex");
    settings.Filter = QStringLiteral("Intel HEX file|*.hex|Binary files|*.bin");
    TFileDlg dlg(settings);
    TFileDlg other(settings);
    TOneAnswer dialogs;

    dialogs.Answer = std::nullopt;
    EXPECT_FALSE(dlg.Execute(dialogs, nullptr));
    ASSERT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_EQ(QDir(dialogs.Shown[0].InitialDir), QDir(tmp.path()));
    EXPECT_EQ(dialogs.Shown[0].FileName, QStringLiteral("Flash.hex"));
    EXPECT_EQ(QDir(QDir::currentPath()), QDir(tmp.path()));

    const QString chosen = tmp.path() + QStringLiteral("/images/blink.hex");
    dialogs.Answer = chosen;
    EXPECT_TRUE(dlg.Execute(dialogs, nullptr));
    EXPECT_EQ(dlg.FileName(), chosen);
    EXPECT_EQ(QDir(QDir::currentPath()), QDir(tmp.path() + QStringLiteral("/images")));

    // The same dialog offers the last name; another one opens in the new folder too.
    dialogs.Answer = std::nullopt;
    dlg.Execute(dialogs, nullptr);
    EXPECT_EQ(dialogs.Shown.back().FileName, QStringLiteral("blink.hex"));
    other.Execute(dialogs, nullptr);
    EXPECT_EQ(dialogs.Shown.back().FileName, QStringLiteral("Flash.hex"));
    EXPECT_EQ(QDir(dialogs.Shown.back().InitialDir), QDir(tmp.path() + QStringLiteral("/images")));
    QDir::setCurrent(oldDir);
}

TEST(FileDlg, FilterBecomesQtEntries) {
    EXPECT_EQ(FilterToQt(QStringLiteral("Intel HEX file|*.hex|Binary files|*.bin")),
              (QStringList{QStringLiteral("Intel HEX file (*.hex)"),
                           QStringLiteral("Binary files (*.bin)")}));
    EXPECT_EQ(FilterToQt(QStringLiteral("Binary files|*.bin")),
              QStringList{QStringLiteral("Binary files (*.bin)")});
    EXPECT_TRUE(FilterToQt(QString()).isEmpty());
}

TEST(QtDialogs, MessagesAreTitledAlikeInTheWindowsFont) {
    QString title;
    QFont font;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        font = box->font();
        box->done(QMessageBox::No);
    });
    TQtDialogs dialogs;
    EXPECT_EQ(dialogs.MessageBox(nullptr, QStringLiteral("Write NEW data to AVR?"),
                                 TMsgKind::mkConfirmation, TMsgButtons::mbYesNo),
              TMsgAnswer::maNo);
    EXPECT_EQ(title, QStringLiteral("Quillon"));
    EXPECT_EQ(font.families(), WindowFont().families());
    EXPECT_EQ(font.pixelSize(), WindowFont().pixelSize());
}

TEST(GroupCaption, LongFileNamesLoseTheMiddleOfTheirFoldersOnly) {
    const QFontMetrics metrics(WindowFont());
    const QString folders = QStringLiteral("/home/someone/projects/firmware/releases/2026/december");
    const QString caption = QStringLiteral("Flash Memory (") + folders.repeated(3) +
                            QStringLiteral("/blink_m16.hex)");
    const QString shown = ElideCaption(caption, metrics, 400);
    EXPECT_LE(metrics.horizontalAdvance(shown), 400);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Flash Memory (/home/"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("/december/blink_m16.hex)"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026)));
    // Short captions stand as they are; a file's own name is never cut.
    const QString buffer = QStringLiteral("EEPROM Memory (buffer)");
    EXPECT_EQ(ElideCaption(buffer, metrics, 400), buffer);
    const QString name = QStringLiteral("a_file_name_far_too_long_for_any_frame_").repeated(4) +
                         QStringLiteral(".bin");
    EXPECT_TRUE(ElideCaption(QStringLiteral("EEPROM Memory (/tmp/x/") + name + QLatin1Char(')'),
                             metrics, 200)
                    .endsWith(QLatin1Char('/') + name + QLatin1Char(')')));

    // The group box draws the shortened caption and keeps its title whole.
    TClassicGroupBox box(caption);
    box.setFont(WindowFont());
    box.resize(657, 201);
    EXPECT_EQ(box.title(), caption);
    EXPECT_EQ(box.ShownCaption(), ElideCaption(caption, box.fontMetrics(), 657 - 16));
}

TEST(ControlsEnabled, LabelsNeverGreyAndChildrenFollow) {
    QWidget window;
    auto* panel = new QFrame(&window); // holds labels, like the device panel
    auto* label = new QLabel(QStringLiteral("Fuse"), panel);
    auto* button = new QPushButton(panel);
    auto* plain = new QFrame(&window); // holds no label, like the memory panel
    auto* box = new QGroupBox(plain);
    auto* inner = new QPushButton(box);
    auto* check = new QCheckBox(plain);

    SetControlsEnabled(panel, false);
    EXPECT_TRUE(label->isEnabled());
    EXPECT_TRUE(panel->isEnabled());
    EXPECT_FALSE(button->isEnabled());

    SetControlsEnabled(plain, false);
    EXPECT_FALSE(plain->isEnabled());
    EXPECT_FALSE(box->isEnabled());
    EXPECT_FALSE(inner->isEnabled());
    EXPECT_FALSE(check->isEnabled());

    // Enabling sets every child's own state again, so a control disabled on its
    // own before is enabled too.
    check->setEnabled(false);
    SetControlsEnabled(plain, true);
    EXPECT_TRUE(plain->isEnabled());
    EXPECT_TRUE(inner->isEnabled());
    EXPECT_TRUE(check->isEnabled());
    SetControlsEnabled(panel, true);
    EXPECT_TRUE(button->isEnabled());

    // A single control is switched on its own; a label is left alone.
    SetControlsEnabled(button, false);
    EXPECT_FALSE(button->isEnabled());
    label->setEnabled(true);
    SetControlsEnabled(label, false);
    EXPECT_TRUE(label->isEnabled());
}

TEST(ButtonIcons, EveryPictureIs16By16WithADisabledLook) {
    for (const char* name : {"read", "verify", "load", "save", "write", "abort", "init", "release",
                             "fuse", "info", "exit", "close"}) {
        const QIcon icon = ButtonIcon(QString::fromLatin1(name));
        ASSERT_FALSE(icon.isNull()) << name;
        const QImage normal = icon.pixmap(16, 16).toImage();
        const QImage disabled = icon.pixmap(16, 16, QIcon::Disabled).toImage();
        EXPECT_EQ(normal.size(), QSize(16, 16)) << name;
        EXPECT_NE(normal, disabled) << name;
    }
    EXPECT_TRUE(ButtonIcon(QStringLiteral("no-such-picture")).isNull());
}

} // namespace
