// The hex view's context menu, files, printing and clipboard as a widget on
// Qt's offscreen platform.
#include "XHexEdit.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// A view whose dialogs answer from the test.
class ScriptedView : public TXHexEdit {
public:
    QString openAnswer;
    QString saveAnswer;
    QStringList saveStarts;
    int opens = 0;
    QString pdfPath;
    bool printOffered = false;
    bool printSelection = false;
    bool printCancelled = false;

    QString AskOpenFileName() override {
        ++opens;
        return openAnswer;
    }
    QString AskSaveFileName(const QString& start) override {
        saveStarts << start;
        return saveAnswer;
    }
    bool AskPrinter(QPrinter& printer, bool& selection) override {
        printOffered = selection;
        if (printCancelled) return false;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdfPath);
        selection = printSelection;
        return true;
    }
};

class XHexFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        HexViewCore::InsertMode = false;
        view.resize(521, 177);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        ASSERT_TRUE(dir.isValid());
        view.pdfPath = dir.filePath(QStringLiteral("out.pdf"));
    }
    void Fill(int n) {
        view.SetLastOffset(n - 1);
        for (int i = 0; i < n; ++i)
            view.SetByte(i, uint8_t(i));
        view.DrawRows();
    }
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    static void Write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static QByteArray Read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QByteArray Content() const {
        return QByteArray(reinterpret_cast<const char*>(view.Core().Data()), view.Size());
    }
    // The printed pages as text; each page's rows as (offset, hex bytes).
    std::vector<std::vector<std::pair<int, QStringList>>> PrintedPages() {
        QProcess p;
        p.start(QStringLiteral("pdftotext"),
                {QStringLiteral("-layout"), view.pdfPath, QStringLiteral("-")});
        EXPECT_TRUE(p.waitForFinished(30000));
        const QString text = QString::fromLatin1(p.readAllStandardOutput());
        std::vector<std::vector<std::pair<int, QStringList>>> pages;
        static const QRegularExpression row(
            QStringLiteral("^\\s*([0-9A-F]{6}):((?:\\s+[0-9A-F]{2}\\b)*)"));
        for (const QString& page : text.split(QLatin1Char('\f'))) {
            std::vector<std::pair<int, QStringList>> rows;
            for (const QString& line : page.split(QLatin1Char('\n'))) {
                const auto m = row.match(line);
                if (!m.hasMatch()) continue;
                rows.emplace_back(m.captured(1).toInt(nullptr, 16),
                                  m.captured(2).split(QLatin1Char(' '), Qt::SkipEmptyParts));
            }
            if (!rows.empty()) pages.push_back(rows);
        }
        return pages;
    }

    ScriptedView view;
    QTemporaryDir dir;
};

TEST_F(XHexFilesTest, MenuItemsInOrderWithTheirCaptions) {
    QStringList captions;
    for (QAction* a : view.ContextMenu()->actions())
        captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(captions.join(QLatin1Char('|')),
              QStringLiteral("Undo|Redo|-|Cut|Copy|Paste|Delete|-|Bytes per Line|-|New|Open|"
                             "Save|SaveAs|-|Print|-|Close"));
    // Every item shows although every switch starts False.
    for (QAction* a : view.ContextMenu()->actions())
        EXPECT_TRUE(a->isVisible());
    EXPECT_FALSE(view.MenuUndoRedo());
}

TEST_F(XHexFilesTest, SwitchesHideTheirItemsButNeverSeparators) {
    view.SetMenuCutCopyPaste(false);
    view.SetMenuPrint(false);
    EXPECT_FALSE(view.CutItem()->isVisible());
    EXPECT_FALSE(view.CopyItem()->isVisible());
    EXPECT_FALSE(view.PasteItem()->isVisible());
    EXPECT_FALSE(view.PrintItem()->isVisible());
    EXPECT_TRUE(view.DeleteItem()->isVisible());
    for (QAction* a : view.ContextMenu()->actions())
        if (a->isSeparator()) {
            EXPECT_TRUE(a->isVisible());
        }
    view.SetMenuPrint(true);
    EXPECT_TRUE(view.PrintItem()->isVisible());
    view.SetMenuUndoRedo(false);
    EXPECT_FALSE(view.UndoItem()->isVisible());
    EXPECT_FALSE(view.RedoItem()->isVisible());
}

TEST_F(XHexFilesTest, ItemStatesFollowSelectionAndHistory) {
    Fill(32);
    EXPECT_FALSE(view.UndoItem()->isEnabled());
    EXPECT_FALSE(view.RedoItem()->isEnabled());
    EXPECT_FALSE(view.CutItem()->isEnabled());
    EXPECT_FALSE(view.CopyItem()->isEnabled());
    EXPECT_FALSE(view.DeleteItem()->isEnabled());
    EXPECT_TRUE(view.PasteItem()->isEnabled());
    std::vector<std::pair<bool, bool>> notes;
    view.OnUndoRedo = [&](TXHexEdit*, bool u, bool r) { notes.emplace_back(u, r); };

    view.setFocus();
    view.GotoOffset(4);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_TRUE(view.CutItem()->isEnabled());
    view.DeleteItem()->trigger();
    EXPECT_FALSE(view.CutItem()->isEnabled());
    EXPECT_TRUE(view.UndoItem()->isEnabled());
    EXPECT_EQ(notes.back(), std::make_pair(true, false));
    view.UndoItem()->trigger();
    EXPECT_EQ(view.Size(), 32);
    EXPECT_FALSE(view.UndoItem()->isEnabled());
    EXPECT_TRUE(view.RedoItem()->isEnabled());
    view.RedoItem()->trigger();
    EXPECT_EQ(view.Size(), 31);
    // An accepted MaxUndo clears the history without telling the items.
    const size_t before = notes.size();
    view.SetMaxUndo(5);
    EXPECT_EQ(notes.size(), before);
    EXPECT_TRUE(view.UndoItem()->isEnabled());
    EXPECT_FALSE(view.History().CanUndo());
    view.SetMaxUndo(25);
}

TEST_F(XHexFilesTest, BytesPerLineItemCyclesTheRowWidth) {
    Fill(100);
    view.GotoOffset(37);
    std::vector<int> widths;
    for (int i = 0; i < 4; ++i) {
        view.BytesPerLineItem()->trigger();
        widths.push_back(view.BytesPerLine());
        EXPECT_EQ(view.CaretOffset(), 37);
    }
    EXPECT_EQ(widths, (std::vector<int>{2, 4, 8, 16}));
    view.SetBytesPerLine(10);
    view.BytesPerLineItem()->trigger();
    EXPECT_EQ(view.BytesPerLine(), 2);
}

TEST_F(XHexFilesTest, CloseItemOnlyTellsTheOwner) {
    int closes = 0;
    view.OnClose = [&](TXHexEdit* s) { closes += s == &view; };
    view.CloseItem()->trigger();
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(view.isVisible());
}

TEST_F(XHexFilesTest, NewDataKeepsTheFirstByteAndForgetsTheHistory) {
    Fill(10);
    view.SetByte(0, 0x5C);
    view.GotoOffset(3);
    view.TypeValue(0xA);
    ASSERT_TRUE(view.History().CanUndo());
    std::vector<std::pair<bool, bool>> notes;
    view.OnUndoRedo = [&](TXHexEdit*, bool u, bool r) { notes.emplace_back(u, r); };
    view.NewItem()->trigger();
    EXPECT_EQ(view.Size(), 1);
    EXPECT_EQ(view.ByteAt(0), 0x5C);
    EXPECT_EQ(view.FileName(), QStringLiteral("Untitled"));
    EXPECT_EQ(view.CaretOffset(), 0);
    EXPECT_FALSE(view.History().CanUndo());
    EXPECT_EQ(notes.back(), std::make_pair(false, false));
    view.Undo();
    EXPECT_EQ(view.Size(), 1);
    view.SetFileName(QString());
    EXPECT_EQ(view.FileName(), QStringLiteral("Untitled"));
}

TEST_F(XHexFilesTest, LoadingFilesSmallEmptyAndMissing) {
    Write(Path("three.bin"), QByteArray("\x01\x02\x03", 3));
    Write(Path("empty.bin"), QByteArray());
    Fill(40);
    view.GotoOffset(30);
    view.Core().SelStart = 8;
    view.Core().SelEnd = 1;
    view.SetSelection(true);

    EXPECT_TRUE(view.LoadFromFile(Path("three.bin")));
    EXPECT_EQ(Content(), QByteArray("\x01\x02\x03", 3));
    EXPECT_EQ(view.FileName(), Path("three.bin"));
    EXPECT_EQ(view.CaretOffset(), 0);
    EXPECT_EQ(view.Core().FirstOffset, 0);
    // The selection keeps what still lies in the new data, and ends when
    // nothing does.
    EXPECT_TRUE(view.Core().SelActive);
    EXPECT_EQ(view.Core().SelStart, 2);
    EXPECT_EQ(view.Core().SelEnd, 1);
    view.Core().SelStart = 20;
    view.Core().SelEnd = 29;
    view.LoadFromFile(Path("three.bin"));
    EXPECT_FALSE(view.Core().SelActive);

    view.SetFileName(Path("empty.bin"));
    EXPECT_EQ(view.Size(), 0);
    EXPECT_EQ(view.FileName(), Path("empty.bin"));

    Fill(4);
    EXPECT_FALSE(view.LoadFromFile(Path("missing.bin")));
    EXPECT_FALSE(view.LoadFromFile(dir.path())); // a folder cannot be read
    EXPECT_EQ(Content(), QByteArray("\x00\x01\x02\x03", 4));
    EXPECT_EQ(view.FileName(), Path("empty.bin"));

    view.openAnswer = Path("three.bin");
    view.OpenItem()->trigger();
    EXPECT_EQ(view.opens, 1);
    EXPECT_EQ(view.Size(), 3);
}

TEST_F(XHexFilesTest, SavingWritesTheBytesUnchanged) {
    Fill(300);
    EXPECT_TRUE(view.SaveToFile(Path("all.bin")));
    QByteArray expected;
    for (int i = 0; i < 300; ++i)
        expected.append(char(uint8_t(i)));
    EXPECT_EQ(Read(Path("all.bin")), expected);
    EXPECT_EQ(view.FileName(), Path("all.bin"));

    view.SetLastOffset(-1);
    EXPECT_TRUE(view.SaveToFile(QString()));
    EXPECT_EQ(Read(Path("all.bin")), QByteArray());

    // A failed save says so and keeps the name.
    EXPECT_FALSE(view.SaveToFile(Path("no/such/folder/x.bin")));
    EXPECT_EQ(view.FileName(), Path("all.bin"));
}

TEST_F(XHexFilesTest, SaveAsksForANameOnlyWhenThereIsNone) {
    view.NewData(QStringLiteral("Untitled"), 1);
    view.saveAnswer = Path("named.bin");
    view.SaveItem()->trigger();
    EXPECT_EQ(view.saveStarts, QStringList{QString()});
    EXPECT_EQ(Read(Path("named.bin")).size(), 2);
    EXPECT_EQ(view.FileName(), Path("named.bin"));

    view.SetByte(0, 0x42);
    view.SaveItem()->trigger();
    EXPECT_EQ(view.saveStarts.size(), 1); // saved without asking
    EXPECT_EQ(Read(Path("named.bin")).at(0), 0x42);

    view.saveAnswer = Path("copy.bin");
    view.SaveAsItem()->trigger();
    EXPECT_EQ(view.saveStarts.last(), Path("named.bin"));
    EXPECT_EQ(Read(Path("copy.bin")).at(0), 0x42);

    // A cancelled dialog saves nothing.
    view.saveAnswer.clear();
    view.NewData(QStringLiteral("Untitled"), 0);
    view.SaveAsItem()->trigger();
    EXPECT_EQ(view.saveStarts.last(), QString());
    EXPECT_EQ(view.FileName(), QStringLiteral("Untitled"));
}

TEST_F(XHexFilesTest, PrintingAllOfASmallBuffer) {
    Fill(17);
    view.SetByte(1, 0x41);
    view.PrintItem()->trigger();
    EXPECT_FALSE(view.printOffered);
    const auto pages = PrintedPages();
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].size(), 2u);
    EXPECT_EQ(pages[0][0].first, 0);
    EXPECT_EQ(pages[0][0].second.size(), 16);
    EXPECT_EQ(pages[0][0].second.value(1), QStringLiteral("41"));
    EXPECT_EQ(pages[0][1].first, 16);
    EXPECT_EQ(pages[0][1].second, QStringList{QStringLiteral("10")});
}

TEST_F(XHexFilesTest, PrintingASelectionPrintsItsWholeRows) {
    Fill(64);
    view.Core().SelStart = 21;
    view.Core().SelEnd = 20;
    view.SetSelection(true);
    view.printSelection = true;
    view.PrintData();
    EXPECT_TRUE(view.printOffered);
    const auto pages = PrintedPages();
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].size(), 1u);
    EXPECT_EQ(pages[0][0].first, 16);
    EXPECT_EQ(pages[0][0].second.size(), 16);
}

TEST_F(XHexFilesTest, LongDataBreaksIntoFullPages) {
    Fill(16 * 200);
    view.PrintData();
    const auto pages = PrintedPages();
    ASSERT_GE(pages.size(), 2u);
    int expected = 0;
    for (size_t p = 0; p < pages.size(); ++p) {
        if (p + 1 < pages.size()) {
            EXPECT_EQ(pages[p].size(), pages[0].size()) << p;
        }
        for (const auto& row : pages[p]) {
            EXPECT_EQ(row.first, expected);
            expected += 16;
        }
    }
    EXPECT_EQ(expected, 16 * 200);
}

TEST_F(XHexFilesTest, EmptyBufferPrintsNoRowsAndCancelPrintsNothing) {
    view.SetLastOffset(-1);
    view.PrintData();
    EXPECT_TRUE(PrintedPages().empty());
    QFile::remove(view.pdfPath);
    view.printCancelled = true;
    view.PrintData();
    EXPECT_FALSE(QFile::exists(view.pdfPath));
}

TEST_F(XHexFilesTest, ClipboardCarriesTheHexBlockBetweenViews) {
    Fill(8);
    view.GotoOffset(6);
    view.Core().SelStart = 2;
    view.Core().SelEnd = 5;
    view.SetSelection(true);
    int pasteEnabled = 0;
    view.OnPasteEnable = [&](TXHexEdit*) { ++pasteEnabled; };
    view.CopyItem()->trigger();
    EXPECT_EQ(pasteEnabled, 1);
    const QMimeData* data = QApplication::clipboard()->mimeData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->text(), QStringLiteral("02 03 04 05 "));
    EXPECT_EQ(data->data(QString::fromLatin1(kHexTextMimeType)),
              QByteArray("\x04\x00\x00\x00\x02\x03\x04\x05\x00", 9));

    TXHexEdit other;
    other.SetLastOffset(1);
    other.GotoOffset(1);
    other.PasteFromClipboard();
    EXPECT_EQ(other.Size(), 6);
    EXPECT_EQ(other.ByteAt(1), 2);
    EXPECT_EQ(other.ByteAt(4), 5);
    EXPECT_TRUE(other.Core().SelActive);

    QApplication::clipboard()->setText(QStringLiteral("Az"));
    other.PasteFromClipboard();
    EXPECT_EQ(other.Size(), 4); // replaced the pasted, still selected bytes
    EXPECT_EQ(other.ByteAt(1), 'A');
    EXPECT_EQ(other.ByteAt(2), 'z');

    // A click below the last row of a read-only view and Ctrl+Insert: nothing
    // to copy, and what the user had copied elsewhere stays.
    view.SetReadOnly(true);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(100, 150));
    ASSERT_EQ(view.CaretOffset(), 8);
    QTest::keyClick(&view, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("Az"));
    EXPECT_EQ(pasteEnabled, 1);
    // Empty text or an empty block pastes nothing and records nothing.
    const int32_t steps = other.History().UndoCount();
    for (const bool block : {false, true}) {
        auto* empty = new QMimeData;
        empty->setText(QString());
        if (block) empty->setData(QString::fromLatin1(kHexTextMimeType), QByteArray(5, '\0'));
        QApplication::clipboard()->setMimeData(empty);
        QTest::keyClick(&other, Qt::Key_Insert, Qt::ShiftModifier);
        EXPECT_EQ(other.Size(), 4);
        EXPECT_EQ(other.History().UndoCount(), steps);
        EXPECT_TRUE(other.Core().SelActive);
        EXPECT_EQ(other.Core().SelStart, 1);
        EXPECT_EQ(other.Core().SelEnd, 2);
    }
}

TEST_F(XHexFilesTest, ReadOnlyViewCopiesButDoesNotEdit) {
    Fill(8);
    view.SetReadOnly(true);
    view.setFocus();
    view.GotoOffset(2);
    QTest::keyClicks(&view, QStringLiteral("ff"));
    QTest::keyClick(&view, Qt::Key_Delete);
    QTest::keyClick(&view, Qt::Key_Backspace);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    view.CutItem()->trigger();
    QTest::keyClick(&view, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Content(), QByteArray("\x00\x01\x02\x03\x04\x05\x06\x07", 8));
    QApplication::clipboard()->clear();
    view.Core().SelStart = 2;
    view.Core().SelEnd = 3;
    view.SetSelection(true);
    QTest::keyClick(&view, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("02 03 "));
}

} // namespace
