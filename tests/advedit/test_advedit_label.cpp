// The attached label's placement and its following of the field, and the
// storage of a field's text in an INI file and in the per-user store.
#include "AdvEdit.h"
#include "AdvEditLabel.h"
#include "AdvEditIni.h"
#include "AdvEditStore.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

namespace {

struct PlaceRow {
    const char* name;
    TLabelPosition position;
    QPoint topLeft;
};

class LabelPlacement : public ::testing::TestWithParam<PlaceRow> {};

// Field at (120, 50), 100 x 20; label 40 x 14 with a 36-pixel caption; margin 4.
TEST_P(LabelPlacement, ForEachPosition) {
    const PlaceRow& row = GetParam();
    EXPECT_EQ(LabelTopLeft(row.position, QRect(120, 50, 100, 20), QSize(40, 14), 36, 4),
              row.topLeft);
}

INSTANTIATE_TEST_SUITE_P(Rows, LabelPlacement,
                         ::testing::Values(PlaceRow{"LeftTop", lpLeftTop, {80, 50}},
                                           PlaceRow{"LeftCenter", lpLeftCenter, {80, 53}},
                                           PlaceRow{"LeftBottom", lpLeftBottom, {80, 56}},
                                           PlaceRow{"TopLeft", lpTopLeft, {120, 32}},
                                           PlaceRow{"BottomLeft", lpBottomLeft, {120, 74}},
                                           PlaceRow{"LeftTopLeft", lpLeftTopLeft, {116, 50}},
                                           PlaceRow{"LeftCenterLeft", lpLeftCenterLeft, {116, 53}},
                                           PlaceRow{"LeftBottomLeft", lpLeftBottomLeft, {116, 56}},
                                           PlaceRow{"TopCenter", lpTopCenter, {150, 32}},
                                           PlaceRow{"BottomCenter", lpBottomCenter, {150, 74}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LabelPlacementLarge, LabelLargerThanFieldIsCentredOverIt) {
    const QPoint p = LabelTopLeft(lpTopCenter, QRect(100, 50, 30, 10), QSize(50, 30), 50, 4);
    EXPECT_EQ(p.x(), 90);
    const QPoint q = LabelTopLeft(lpLeftCenter, QRect(100, 50, 30, 10), QSize(50, 30), 50, 4);
    EXPECT_EQ(q.y(), 40);
}

TEST(AttachedLabel, CreatedOnFirstCaptionAndFollowsTheField) {
    QWidget parent;
    parent.resize(300, 200);
    TAdvEdit edit(&parent);
    edit.setGeometry(120, 50, 100, 20);
    EXPECT_EQ(edit.Label(), nullptr);
    EXPECT_EQ(edit.LabelCaption(), "");
    edit.SetLabelCaption("Fuse");
    ASSERT_NE(edit.Label(), nullptr);
    EXPECT_EQ(edit.Label()->parentWidget(), &parent);
    EXPECT_EQ(edit.Label()->buddy(), &edit);
    EXPECT_EQ(edit.LabelCaption(), "Fuse");
    const int caption = edit.Label()->fontMetrics().horizontalAdvance("Fuse");
    EXPECT_EQ(edit.Label()->x() + caption, 116); // right edge of the caption 4 px left of the field
    EXPECT_EQ(edit.Label()->y(), 50);
    parent.show(); // Qt delivers moves of a hidden widget when it is shown
    edit.move(150, 80);
    EXPECT_EQ(edit.Label()->x() + caption, 146);
    EXPECT_EQ(edit.Label()->y(), 80);
    edit.SetLabelPosition(lpBottomLeft);
    EXPECT_EQ(edit.Label()->pos(), QPoint(150, 104));
    EXPECT_TRUE(edit.Label()->isVisible());
    edit.setVisible(false);
    EXPECT_FALSE(edit.Label()->isVisible());
    edit.setVisible(true);
    EXPECT_TRUE(edit.Label()->isVisible());
    edit.setEnabled(false);
    EXPECT_FALSE(edit.Label()->isEnabled());
    edit.SetLabelAlwaysEnabled(true);
    EXPECT_TRUE(edit.Label()->isEnabled());
}

TEST(AttachedLabel, FocusLabelIsBoldWhileFocused) {
    QWidget window;
    TAdvEdit a(&window), b(&window);
    a.setGeometry(80, 10, 100, 20);
    b.setGeometry(80, 40, 100, 20);
    a.SetLabelCaption("A");
    a.SetFocusLabel(true);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    b.setFocus();
    QApplication::processEvents();
    EXPECT_FALSE(a.Label()->font().bold());
    a.setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(a.Label()->font().bold());
    b.setFocus();
    QApplication::processEvents();
    EXPECT_FALSE(a.Label()->font().bold());
}

TEST(AttachedLabel, AcceleratorFocusesTheField) {
    QWidget window;
    TAdvEdit a(&window), b(&window);
    a.setGeometry(80, 10, 100, 20);
    b.setGeometry(80, 40, 100, 20);
    a.SetLabelCaption("&Low");
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    b.setFocus();
    QApplication::processEvents();
    QTest::keyClick(&window, Qt::Key_L, Qt::AltModifier);
    QApplication::processEvents();
    EXPECT_TRUE(a.hasFocus());
}

TEST(DefaultIniPath, ReplacesOrAppendsTheExtension) {
    EXPECT_EQ(DefaultIniPath("/opt/tools/prog.exe"), "/opt/tools/prog.INI");
    EXPECT_EQ(DefaultIniPath("/opt/tools/quillon"), "/opt/tools/quillon.INI");
    EXPECT_EQ(DefaultIniPath("/opt/my.tools/quillon"), "/opt/my.tools/quillon.INI");
}

// A fuse-like field set up from a stored description with persistence on.
std::unique_ptr<TAdvEdit> LoadField(const QString& key, TPersistenceLocation where,
                                    const QString& shown) {
    auto edit = std::make_unique<TAdvEdit>();
    edit->setObjectName("LFBEdit");
    edit->BeginLoad();
    edit->SetEditType(etHex);
    edit->SetPrefix("0x");
    edit->SetText(shown);
    edit->Persistence().SetEnable(true);
    edit->Persistence().SetKey(key);
    edit->Persistence().SetSection("Fuses");
    edit->Persistence().SetLocation(where);
    edit->Loaded();
    return edit;
}

TEST(Persistence, IniRoundTrip) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("prog.INI");
    {
        auto edit = LoadField(ini, plInifile, "0");
        EXPECT_EQ(edit->ShownText(), "0x0"); // nothing stored yet: the "@" default
        edit->SetText("a5");
    }
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString content = QString::fromLatin1(file.readAll());
    EXPECT_TRUE(content.contains("[Fuses]"));
    EXPECT_TRUE(content.contains("LFBEdit=0xA5"));
    auto again = LoadField(ini, plInifile, "0");
    EXPECT_EQ(again->ShownText(), "0xA5");
    EXPECT_EQ(again->Text(), "A5");
    EXPECT_FALSE(again->Modified());
}

TEST(Persistence, StoredAtSignMeansNoValue) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("p.ini");
    {
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Fuses]\nLFBEdit=@\nOther=1\n");
    }
    auto edit = LoadField(ini, plInifile, "3F");
    EXPECT_EQ(edit->ShownText(), "0x3F");
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void WriteAll(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

TEST(Persistence, IniWriteKeepsEveryOtherByteOfTheFile) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("prog.INI");
    const QByteArray head = "; kept by hand\n[Paths]\nLast File = C:\\tools\\x.hex\n"
                            "Window Left=10\n\n[My Fuses]\n; the low fuse\n";
    const QByteArray tail = "Other = 1\n\n[Foreign]\nLFBEdit=@ByteArray(0xA5)\n";
    WriteAll(ini, head + "lfbedit =  0x11\n" + tail);
    auto edit = LoadField(ini, plInifile, "0");
    edit->Persistence().SetSection("My Fuses");
    edit->SetText("a5");
    ASSERT_TRUE(edit->StoreText());
    EXPECT_EQ(ReadAll(ini), head + "lfbedit =  0xA5\n" + tail);
    // A new entry goes at the end of its section, a new section at the end.
    edit->setObjectName("HFBEdit");
    ASSERT_TRUE(edit->StoreText());
    edit->Persistence().SetSection("New Fuses");
    ASSERT_TRUE(edit->StoreText());
    EXPECT_EQ(ReadAll(ini), head + "lfbedit =  0xA5\nOther = 1\nHFBEdit=0xA5\n\n[Foreign]\n"
                                   "LFBEdit=@ByteArray(0xA5)\n[New Fuses]\nHFBEdit=0xA5\n");
    EXPECT_EQ(IniValue(ReadAll(ini), "paths", "last file"), "C:\\tools\\x.hex");
    // The file's own line ends, also after a last line without one.
    EXPECT_EQ(IniWithValue("[A]\r\nx=1", "A", "y", "2"), "[A]\r\nx=1\r\ny=2\r\n");

    // Random files and entries: the entry written reads back, every other
    // entry reads as before, and a text with a line break, which would add
    // entries of its own, is refused with the file left as it was.
    const QStringList sections{"", "A", "a", "My Fuses", "B"};
    const QStringList names{"x", "X", "LFBEdit", "long name", "y"};
    const QString chars = QStringLiteral("ab =;[]#@x\r\n\t");
    std::mt19937 rng(23);
    const auto pick = [&rng](const QStringList& from) { return from[static_cast<int>(rng() % from.size())]; };
    const auto junk = [&] {
        QString t;
        for (unsigned n = rng() % 6; n > 0; --n)
            t += chars[static_cast<int>(rng() % chars.size())];
        return t;
    };
    for (int round = 0; round < 400; ++round) {
        QByteArray file;
        const QByteArray eol = rng() % 2 ? "\r\n" : "\n";
        for (unsigned n = rng() % 8; n > 0; --n) {
            switch (rng() % 4) {
            case 0: file += '[' + pick(sections).toUtf8() + ']' + eol; break;
            case 1: file += "; " + junk().simplified().toUtf8() + eol; break;
            case 2: file += eol; break;
            default: file += pick(names).toUtf8() + " = " + junk().simplified().toUtf8() + eol;
            }
        }
        const QString section = pick(sections), name = pick(names), value = junk();
        const std::optional<QByteArray> written = IniWithValue(file, section, name, value);
        SCOPED_TRACE(("file: " + file + "| entry [" + section.toUtf8() + "] " + name.toUtf8() + "=" +
                      value.toUtf8()).toStdString());
        if (value.contains('\n') || value.contains('\r')) {
            EXPECT_FALSE(written);
            const QString path = dir.filePath("random.ini");
            WriteAll(path, file);
            EXPECT_TRUE(WriteIniValue(path, section, name, value).has_value());
            EXPECT_EQ(ReadAll(path), file);
            continue;
        }
        ASSERT_TRUE(written);
        EXPECT_EQ(IniValue(*written, section, name), value.trimmed());
        for (const QString& s : sections) {
            for (const QString& n : names) {
                if (s.compare(section, Qt::CaseInsensitive) == 0 &&
                    n.compare(name, Qt::CaseInsensitive) == 0)
                    continue;
                EXPECT_EQ(IniValue(*written, s, n), IniValue(file, s, n))
                    << "[" << s.toStdString() << "] " << n.toStdString();
            }
        }
    }
}

TEST(Persistence, StoredTextTheTypeRefusesIsNone) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("p.ini");
    for (const char* stored : {"0x1,2", "0xZZZ;rm", "A5", "@ByteArray(0xA5)"}) {
        WriteAll(ini, QByteArray("[Fuses]\nLFBEdit=") + stored + "\n");
        auto edit = LoadField(ini, plInifile, "3F");
        EXPECT_EQ(edit->ShownText(), "0x3F") << stored;
        edit->Persistence().SetEnable(false);
    }
}

TEST(Persistence, AStoreThatCannotBeWrittenIsReported) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("prog.INI");
    ASSERT_TRUE(QDir().mkdir(folder)); // a folder where the file should be
    QStringList reasons;
    {
        auto edit = LoadField(folder, plInifile, "12");
        edit->OnStoreError = [&reasons](TAdvEdit*, const QString& why) { reasons << why; };
        EXPECT_FALSE(edit->StoreText());
        edit->Persistence().SetKey(dir.filePath("prog.INI/inside/x.INI"));
        EXPECT_FALSE(edit->StoreText());
        edit->Persistence().SetKey(folder);
    } // and once more as the field goes
    EXPECT_EQ(reasons.size(), 3);
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST(Persistence, StoredOnEditorRecreation) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("p.ini");
    auto edit = LoadField(ini, plInifile, "12");
    edit->SetEditAlign(eaRight);
    QSettings settings(ini, QSettings::IniFormat);
    EXPECT_EQ(settings.value("Fuses/LFBEdit").toString(), "0x12");
}

TEST(Persistence, DisabledStoresNothing) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("p.ini");
    {
        auto edit = LoadField(ini, plInifile, "12");
        edit->Persistence().SetEnable(false);
    }
    EXPECT_FALSE(QFile::exists(ini));
}

TEST(Persistence, NativeStoreRoundTrip) {
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    {
        auto edit = LoadField("Software\\Quillon\\Test", plRegistry, "0");
        EXPECT_EQ(edit->ShownText(), "0x0");
        edit->SetText("C3");
    }
    auto again = LoadField("Software\\Quillon\\Test", plRegistry, "0");
    EXPECT_EQ(again->ShownText(), "0xC3");
    QSettings direct(QSettings::NativeFormat, QSettings::UserScope, "Software/Quillon/Test",
                     QString());
    EXPECT_EQ(direct.value("Fuses/LFBEdit").toString(), "0xC3");
}

} // namespace
