// TAdvEdit as a widget on the offscreen platform: typing into a fuse field,
// special keys, clipboard, colour states and painting.
#include "AdvEdit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QImage>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QMenu>
#include <QTest>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>

namespace {

// Records the keys a parent window receives.
class KeyRecorder : public QWidget {
public:
    QList<int> pressed;

protected:
    void keyPressEvent(QKeyEvent* e) override { pressed << e->key(); }
};

QColor Highlight() {
    return QApplication::palette().color(QPalette::Active, QPalette::Highlight);
}
QColor WindowText() {
    return QApplication::palette().color(QPalette::Active, QPalette::Text);
}
QColor WindowBackground() {
    return QApplication::palette().color(QPalette::Active, QPalette::Base);
}
QColor Base(const TAdvEdit& e) {
    return e.palette().color(QPalette::Active, QPalette::Base);
}

// A window with a fuse field set up as the main window does, and a second
// field to move the focus to.
class FuseField : public ::testing::Test {
protected:
    void SetUp() override {
        window.resize(200, 100);
        auto* layout = new QVBoxLayout(&window);
        fuse = new TAdvEdit(&window);
        other = new TAdvEdit(&window);
        layout->addWidget(fuse);
        layout->addWidget(other);
        park = new QLineEdit(&window);
        layout->addWidget(park);
        fuse->BeginLoad();
        fuse->SetEditType(etHex);
        fuse->SetPrefix("0x");
        fuse->SetLengthLimit(2);
        fuse->SetEmptyText("0");
        fuse->SetShowModified(true);
        fuse->SetModifiedColor(Highlight());
        fuse->SetText("0");
        fuse->Loaded();
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        Focus(park); // both fields get their focus-in only when a test gives it
    }

    void Focus(QWidget* w) {
        w->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
    }

    KeyRecorder window;
    TAdvEdit* fuse = nullptr;
    TAdvEdit* other = nullptr;
    QLineEdit* park = nullptr;
};

TEST_F(FuseField, LoadsAsZeroUnmarked) {
    EXPECT_EQ(fuse->ShownText(), "0x0");
    EXPECT_EQ(fuse->Text(), "0");
    EXPECT_FALSE(fuse->Modified());
    EXPECT_EQ(fuse->FontColor(), WindowText());
}

TEST_F(FuseField, TextWriteShowsPrefixAndUpperCase) {
    fuse->SetText("a5");
    EXPECT_EQ(fuse->ShownText(), "0xA5");
    EXPECT_EQ(fuse->Text(), "A5");
    fuse->setText("1.5"); // the Qt name goes through the same writer
    EXPECT_EQ(fuse->ShownText(), "0x0");
    fuse->SetText("");
    EXPECT_EQ(fuse->ShownText(), "0x");
    EXPECT_EQ(fuse->text(), "");
}

TEST_F(FuseField, FocusSelectsValueAndTypingReplacesIt) {
    fuse->SetText("A5");
    Focus(fuse);
    EXPECT_EQ(fuse->selectedText(), "A5");
    EXPECT_EQ(Base(*fuse), WindowBackground());
    QTest::keyClicks(fuse, "3c");
    EXPECT_EQ(fuse->Text(), "3c"); // lower case stays until the next write
    QTest::keyClick(fuse, Qt::Key_D);
    EXPECT_EQ(fuse->Text(), "3c"); // full: a third character is refused
    EXPECT_TRUE(fuse->Modified());
    EXPECT_EQ(fuse->FontColor(), Highlight());
    // Without AutoSelect nothing is selected, the prefix least of all.
    fuse->SetAutoSelect(false);
    Focus(park);
    Focus(fuse);
    EXPECT_FALSE(fuse->hasSelectedText());
    EXPECT_EQ(fuse->cursorPosition(), 4);
}

TEST_F(FuseField, PrefixCannotBeDeletedOrEntered) {
    fuse->SetText("A5");
    Focus(fuse);
    QTest::keyClick(fuse, Qt::Key_Home);
    EXPECT_EQ(fuse->cursorPosition(), 2);
    QTest::keyClick(fuse, Qt::Key_Left);
    EXPECT_EQ(fuse->cursorPosition(), 2);
    QTest::keyClick(fuse, Qt::Key_Backspace);
    EXPECT_EQ(fuse->ShownText(), "0xA5");
    QTest::keyClick(fuse, Qt::Key_End);
    QTest::keyClick(fuse, Qt::Key_Backspace);
    QTest::keyClick(fuse, Qt::Key_Backspace);
    QTest::keyClick(fuse, Qt::Key_Backspace);
    EXPECT_EQ(fuse->ShownText(), "0x");
    EXPECT_EQ(fuse->Text(), "");
    // A click into the prefix puts the caret behind it.
    QTest::mouseClick(fuse, Qt::LeftButton, {}, fuse->CharPos(1) + QPoint(1, 3));
    EXPECT_GE(fuse->cursorPosition(), 2);
}

TEST_F(FuseField, ColoursFollowFocusTypingAndWrites) {
    fuse->SetText("A5");
    Focus(fuse);
    QTest::keyClick(fuse, Qt::Key_1);
    EXPECT_EQ(fuse->FontColor(), Highlight());
    Focus(other);
    EXPECT_EQ(fuse->FontColor(), WindowText());
    EXPECT_TRUE(fuse->Modified());
    fuse->SetText("1F");
    EXPECT_FALSE(fuse->Modified());
    EXPECT_EQ(fuse->FontColor(), WindowText());
    Focus(fuse);
    EXPECT_EQ(fuse->FontColor(), WindowText());
}

TEST_F(FuseField, EscapeRestoresEntryValueAndReachesParent) {
    fuse->SetText("A5");
    Focus(fuse);
    QTest::keyClicks(fuse, "7");
    ASSERT_EQ(fuse->Text(), "7");
    QTest::keyClick(fuse, Qt::Key_Escape);
    EXPECT_EQ(fuse->Text(), "A5");
    EXPECT_FALSE(fuse->Modified());
    EXPECT_EQ(fuse->selectedText(), "A5");
    EXPECT_EQ(fuse->FontColor(), WindowText());
    EXPECT_TRUE(window.pressed.isEmpty()); // forwarded through the event queue
    QApplication::processEvents();
    EXPECT_EQ(window.pressed, QList<int>{Qt::Key_Escape});
    QTest::keyClick(fuse, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(window.pressed, (QList<int>{Qt::Key_Escape, Qt::Key_Return}));
}

TEST_F(FuseField, ClipboardShortcutsDoNothingButMenuCopyWorks) {
    QApplication::clipboard()->setText("77");
    fuse->SetText("A5");
    Focus(fuse);
    QTest::keyClick(fuse, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(fuse->Text(), "A5");
    QTest::keyClick(fuse, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "77");
    QString copied;
    fuse->OnClipboardCopy = [&copied](TAdvEdit*, const QString& v, bool&) { copied = v; };
    std::unique_ptr<QMenu> menu(fuse->CreateContextMenu());
    for (QAction* a : menu->actions()) {
        if (a->text().endsWith("\tCtrl+C")) a->trigger();
        if (a->text().endsWith("\tCtrl+V")) a->trigger();
    }
    EXPECT_EQ(copied, "A5");
    EXPECT_EQ(QApplication::clipboard()->text(), "A5");
    EXPECT_EQ(fuse->Text(), "A5");
}

TEST_F(FuseField, ClipboardEventsCanVeto) {
    TAdvEdit* text = other;
    text->SetText("hello");
    Focus(text);
    text->setSelection(0, 5);
    QApplication::clipboard()->setText("x");
    text->OnClipboardCut = [](TAdvEdit*, const QString&, bool& allow) { allow = false; };
    QTest::keyClick(text, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(text->Text(), "hello");
    EXPECT_EQ(QApplication::clipboard()->text(), "x");
    QString pastedOver;
    text->OnClipboardPaste = [&pastedOver](TAdvEdit*, const QString& v, bool&) { pastedOver = v; };
    QTest::keyClick(text, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(pastedOver, "hello");
    EXPECT_EQ(text->Text(), "x");
    EXPECT_TRUE(text->Modified());
    QTest::keyClick(text, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text->Text(), "hello");
}

TEST_F(FuseField, ErrorStateFromValidation) {
    fuse->SetShowError(true);
    fuse->OnValueValidate = [](TAdvEdit*, const QString& v, bool& valid) { valid = v.size() == 2; };
    fuse->SetText("A5");
    Focus(fuse);
    QTest::keyClick(fuse, Qt::Key_1);
    EXPECT_TRUE(fuse->ErrorState());
    EXPECT_EQ(Base(*fuse), QColor(255, 0, 0));
    EXPECT_EQ(fuse->FontColor(), QColor(255, 255, 255));
    fuse->SetFocusColor(QColor(255, 255, 200));
    QTest::keyClick(fuse, Qt::Key_2);
    EXPECT_FALSE(fuse->ErrorState());
    EXPECT_EQ(Base(*fuse), QColor(255, 255, 200));
    Focus(other);
    EXPECT_EQ(Base(*fuse), WindowBackground());
}

// Contrast ratio of two colours (1 for equal ones, 21 for black on white).
double ContrastOf(QColor a, QColor b) {
    auto lum = [](QColor c) {
        auto ch = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * ch(c.redF()) + 0.7152 * ch(c.greenF()) + 0.0722 * ch(c.blueF());
    };
    const double x = lum(a), y = lum(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

TEST_F(FuseField, DisabledColourAndBack) {
    fuse->SetColor(QColor(250, 240, 230));
    fuse->SetText("A5");
    fuse->setEnabled(false);
    EXPECT_EQ(Base(*fuse), QColor(192, 192, 192));
    // The value stays legible: the darkest text pixel stands out from the
    // silver as ordinary text must, in a grey lighter than the enabled text.
    const QImage img = fuse->grab().toImage();
    QColor darkest(255, 255, 255);
    for (int y = 0; y < img.height(); ++y)
        for (int x = fuse->CharPos(2).x(); x < fuse->CharPos(4).x(); ++x)
            if (img.pixelColor(x, y).lightness() < darkest.lightness()) darkest = img.pixelColor(x, y);
    EXPECT_GE(ContrastOf(darkest, QColor(192, 192, 192)), 4.5);
    EXPECT_GT(darkest.lightness(), WindowText().lightness());
    fuse->setEnabled(true);
    EXPECT_EQ(Base(*fuse), QColor(250, 240, 230));
}

TEST_F(FuseField, SeparatorsOfTheFieldsLocaleEvenWhenNotAscii) {
    for (const char* name : {"fr_FR", "de_CH"}) {
        const QLocale locale(name);
        const QString thousand = locale.groupSeparator();
        other->setLocale(locale);
        other->SetEditType(etMoney);
        other->SetPrecision(2);
        other->SetValueAsFloat(1234.5);
        EXPECT_EQ(other->Text(), "1" + thousand + "234" + locale.decimalPoint() + "50") << name;
        Focus(other);
        QTest::keyClick(other, Qt::Key_Escape);
        EXPECT_EQ(other->ValueAsFloat(), 1234.5) << name;
        QApplication::clipboard()->setText(QString("9" + thousand + "876" + locale.decimalPoint() + "5"));
        QTest::keyClick(other, Qt::Key_Insert, Qt::ShiftModifier);
        EXPECT_EQ(other->ValueAsFloat(), 9876.5) << name;
        other->SetEditType(etString);
        Focus(park);
    }
}

TEST_F(FuseField, FocusWidthAndAlignment) {
    other->SetFocusWidthInc(20);
    other->SetFocusAlign(eaRight);
    window.layout()->removeWidget(other);
    other->setGeometry(10, 60, 100, 24);
    Focus(other);
    EXPECT_EQ(other->width(), 120);
    EXPECT_EQ(other->EditAlign(), eaRight);
    EXPECT_TRUE(other->alignment() & Qt::AlignRight);
    Focus(park);
    EXPECT_EQ(other->width(), 100);
    EXPECT_EQ(other->EditAlign(), eaLeft);
}

TEST_F(FuseField, ReturnIsTabMovesFocus) {
    fuse->SetReturnIsTab(true);
    Focus(fuse);
    QTest::keyClick(fuse, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_TRUE(other->hasFocus());
}

// Counts pixels of a colour family in a region of a grabbed image.
int CountPixels(const QImage& img, const QRect& area, const std::function<bool(QColor)>& match) {
    int n = 0;
    const QRect r = area.intersected(img.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (match(img.pixelColor(x, y))) ++n;
    return n;
}

bool IsHintGrey(QColor c) {
    return c.red() == c.green() && c.green() == c.blue() && c.red() >= 100 && c.red() <= 170;
}

bool IsRed(QColor c) {
    return c.red() > 200 && c.green() < 80 && c.blue() < 80;
}

// Pixels that differ between two grabs of the same size.
int Differing(const QImage& a, const QImage& b) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) ++n;
    return n;
}

TEST_F(FuseField, EmptyTextHintIsPaintedOnlyWhileUnfocusedAndEmpty) {
    fuse->SetText("");
    const QImage withHint = fuse->grab().toImage();
    fuse->SetEmptyText("");
    const QImage without = fuse->grab().toImage();
    fuse->SetEmptyText("0");
    // The hint: grey pixels near (2, 2), over the start of the prefix.
    EXPECT_GT(Differing(withHint, without), 3);
    EXPECT_GT(CountPixels(withHint, QRect(2, 2, 10, fuse->height() - 2), IsHintGrey), 3);
    EXPECT_EQ(fuse->Text(), "");
    Focus(fuse);
    QImage focused = fuse->grab().toImage();
    fuse->SetEmptyText("");
    EXPECT_EQ(Differing(focused, fuse->grab().toImage()), 0);
    fuse->SetEmptyText("0");
    Focus(park);
    fuse->SetText("A5");
    QImage filled = fuse->grab().toImage();
    fuse->SetEmptyText("");
    EXPECT_EQ(Differing(filled, fuse->grab().toImage()), 0);
}

TEST_F(FuseField, ErrorMarkerIsARedWaveUnderTheText) {
    other->SetText("ABCDEF");
    QImage img = other->grab().toImage();
    EXPECT_EQ(CountPixels(img, img.rect(), IsRed), 0);
    other->SetErrorMarkerPos(2);
    other->SetErrorMarkerLen(2);
    img = other->grab().toImage();
    const int start = other->CharPos(2).x();
    const int end = other->CharPos(4).x();
    EXPECT_GT(CountPixels(img, QRect(start, 0, end - start, img.height()), IsRed), 5);
    EXPECT_EQ(CountPixels(img, QRect(0, 0, start - 2, img.height()), IsRed), 0);
    Focus(other);
    img = other->grab().toImage();
    EXPECT_EQ(CountPixels(img, img.rect(), IsRed), 0);
}

TEST_F(FuseField, FlatFieldTakesParentColourAndDrawsUnderline) {
    QWidget panel;
    panel.setAutoFillBackground(true);
    QPalette pal = panel.palette();
    pal.setColor(QPalette::Window, QColor(160, 160, 160));
    panel.setPalette(pal);
    panel.resize(120, 40);
    TAdvEdit flat(&panel);
    flat.setGeometry(5, 5, 100, 24);
    flat.SetFlat(true);
    EXPECT_EQ(Base(flat), QColor(160, 160, 160));
    EXPECT_FALSE(flat.hasFrame());
    QImage img = flat.grab().toImage();
    EXPECT_EQ(img.pixelColor(50, img.height() - 1), QColor(0, 0, 0));
    EXPECT_NE(img.pixelColor(0, 5), QColor(0, 0, 0));
    flat.SetSoftBorder(true);
    img = flat.grab().toImage();
    EXPECT_EQ(img.pixelColor(0, 5), QColor(0, 0, 0));
    EXPECT_EQ(img.pixelColor(50, 0), QColor(0, 0, 0));
    flat.SetFlat(false);
    EXPECT_TRUE(flat.hasFrame());
    EXPECT_EQ(Base(flat), WindowBackground());
}

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

TEST_F(FuseField, LinkLookOpensTheValue) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    other->SetShowURL(true);
    other->SetText("https://example.org/x");
    EXPECT_TRUE(other->IsUrlLook());
    EXPECT_TRUE(other->font().underline());
    EXPECT_EQ(other->FontColor(), QColor(0, 0, 255));
    EXPECT_EQ(other->cursor().shape(), Qt::PointingHandCursor);
    Focus(other);
    EXPECT_EQ(other->selectedText(), "example.org/x");
    QTest::mouseClick(other, Qt::LeftButton, {}, QPoint(10, other->height() / 2));
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened.front(), QUrl("https://example.org/x"));
    other->SetText("@example.org");
    EXPECT_FALSE(other->IsUrlLook());
    EXPECT_FALSE(other->font().underline());
    QDesktopServices::unsetUrlHandler("https");
}

TEST_F(FuseField, EditTypeAndPrecisionWritesReapplyTheValue) {
    other->SetText("1.5");
    other->SetEditType(etHex);
    EXPECT_EQ(other->Text(), "0");
    EXPECT_TRUE(other->Modified());
    other->SetEditType(etFloat);
    other->SetPrecision(2);
    EXPECT_EQ(other->Text(), "0.00");
    other->SetValueAsFloat(1234.5);
    EXPECT_EQ(other->Text(), "1234.50");
    other->SetEditType(etPassword);
    EXPECT_EQ(other->echoMode(), QLineEdit::Password);
    EXPECT_EQ(other->displayText(), "*******"); // one asterisk a character
    EXPECT_FALSE(other->CanUndo());
    QTest::keyClick(other, Qt::Key_X);
    QTest::keyClick(other, Qt::Key_Z, Qt::ControlModifier); // nothing to undo here
    EXPECT_EQ(other->ShownText(), "1234.50x");
    other->SetCanUndo(true);
    EXPECT_FALSE(other->CanUndo());
    other->SetEditType(etString);
    other->SetSuffix("kg");
    EXPECT_EQ(other->ShownText(), "1234.50xkg");
    other->SetPrecision(3); // ignored for this type
    EXPECT_EQ(other->Precision(), 2);
}

TEST_F(FuseField, KeyPressSeesEscapeWhereTheTypePassesItOn) {
    QList<int> seen;
    other->OnKeyPress = [&seen](TAdvEdit*, QChar& k) { seen << k.unicode(); };
    other->SetText("ab");
    Focus(other);
    QTest::keyClick(other, Qt::Key_Escape);
    EXPECT_EQ(seen, QList<int>{27});
    EXPECT_EQ(other->Text(), "ab");
    other->SetCanUndo(false);
    QTest::keyClick(other, Qt::Key_Escape);
    EXPECT_EQ(seen, (QList<int>{27, 27}));
    EXPECT_EQ(other->Text(), "ab");
    // The hex type refuses the character: no event.
    seen.clear();
    fuse->OnKeyPress = [&seen](TAdvEdit*, QChar& k) { seen << k.unicode(); };
    Focus(fuse);
    QTest::keyClick(fuse, Qt::Key_Escape);
    EXPECT_TRUE(seen.isEmpty());
}

TEST_F(FuseField, InputMethodCommitsGoThroughTheFilter) {
    fuse->SetText("");
    Focus(fuse);
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("zé7a9"));
    QApplication::sendEvent(fuse, &commit);
    EXPECT_EQ(fuse->ShownText(), "0x7a"); // letters refused, the length limit holds
    EXPECT_TRUE(fuse->Modified());
}

TEST_F(FuseField, ChangeAndValidateEventsOnTyping) {
    int changes = 0;
    QStringList validated;
    other->OnChange = [&changes](TAdvEdit*) { ++changes; };
    other->OnValueValidate = [&validated](TAdvEdit*, const QString& v, bool&) { validated << v; };
    Focus(other);
    QTest::keyClicks(other, "ab");
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(validated, (QStringList{"a", "ab"}));
    Focus(fuse);
    EXPECT_EQ(validated.back(), "ab");
    EXPECT_EQ(validated.size(), 3); // leaving the field validates once more
}

TEST_F(FuseField, LongTextHint) {
    other->SetHintShowLargeText(true);
    other->setToolTip("normal");
    other->SetText(QString(200, QLatin1Char('W')));
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), other->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(other, &help);
    EXPECT_EQ(QToolTip::text(), QString(200, QLatin1Char('W')));
    QToolTip::hideText();
}


// ---- the rule under random input ---------------------------------------------------------

// Whether a field of `type` can hold `v`, stated from the types' typing
// rules without the control's own checks.
bool TypeTakes(TAdvEditType type, bool isSigned, const QString& v, QChar dec, QChar thou) {
    auto all = [&v](auto pred) { return std::all_of(v.begin(), v.end(), pred); };
    const int minus = static_cast<int>(v.count(QLatin1Char('-')));
    const auto digit = [](QChar c) { return c >= '0' && c <= '9'; };
    switch (type) {
    case etNumeric:
        return all([&](QChar c) { return digit(c) || c == '-'; }) && minus <= (isSigned ? 1 : 0);
    case etFloat:
    case etMoney:
        return all([&](QChar c) { return digit(c) || c == '-' || c == dec || c == thou; }) &&
               minus <= (isSigned ? 1 : 0) && v.count(dec) <= 1;
    case etHex:
        return all([&](QChar c) { return digit(c) || c == '-' || QString("abcdefABCDEF").contains(c); }) &&
               minus <= 1;
    case etAlphaNumeric:
        return all([&](QChar c) { return digit(c) || (c.toLower() >= 'a' && c.toLower() <= 'z'); });
    case etRange:
        return all([&](QChar c) { return digit(c) || QString(",;-").contains(c); });
    default:
        return all([](QChar c) { return c.unicode() >= 32; });
    }
}

QString Junk(std::mt19937& rng, int maxLength) {
    static const QString alphabet = QStringLiteral("0123456789abfxzAFZ-.,;' @\t\u202f\u00e9");
    static const QStringList canned = {"-3.50", "1\u202f234,5", "1 234,5", "12-", "\r\nx", "7\n8",
                                       "98765432109876543210", "0xA5", "@", "kg", "$"};
    if (rng() % 4 == 0) return canned[rng() % canned.size()];
    QString s;
    const int n = static_cast<int>(rng() % (maxLength + 1));
    for (int i = 0; i < n; ++i)
        s += alphabet[rng() % alphabet.size()];
    return s;
}

class RandomInput : public ::testing::TestWithParam<int> {};

// Keys, clicks, clipboard, context menu, drops, input method, focus and the
// program's writes, in seeded random order: after every step the shown text
// is prefix + value + suffix, the value is one the type can hold, caret and
// selection stay within it, and the user's input never passes MaxLength.
TEST_P(RandomInput, PrefixValueSuffixHoldAfterEveryStep) {
    const auto type = static_cast<TAdvEditType>(GetParam());
    const char* locales[] = {"en_US", "de_DE", "fr_FR"};
    for (unsigned seed = 1; seed <= 25; ++seed) {
        std::mt19937 rng(seed * 131 + GetParam());
        QWidget window;
        window.resize(260, 80);
        auto* edit = new TAdvEdit(&window);
        auto* other = new QLineEdit(&window);
        edit->setGeometry(5, 5, 120, 24);
        other->setGeometry(5, 40, 120, 24);
        edit->setLocale(QLocale(locales[rng() % 3]));
        edit->SetEditType(type);
        edit->SetPrecision(rng() % 2 ? 2 : 0);
        const bool isSigned = rng() % 2;
        edit->SetSigned(isSigned);
        edit->SetPrefix("$");
        edit->SetSuffix("kg");
        edit->SetLengthLimit(rng() % 3 == 0 ? 3 : 0);
        const int maxLength = rng() % 2 ? 10 : 32767;
        edit->setMaxLength(maxLength);
        edit->SetAutoSelect(rng() % 2);
        edit->SetOleDropTarget(true);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        const QChar dec = edit->locale().decimalPoint().at(0);
        const QChar thou = edit->locale().groupSeparator().at(0);
        std::string trail;
        for (int step = 0; step < 50; ++step) {
            const int before = static_cast<int>(edit->ShownText().size());
            bool entering = false;
            const QPoint at(static_cast<int>(rng() % 120), 12);
            switch (rng() % 14) {
            case 0: case 1: {
                const QString c = Junk(rng, 1).left(1);
                trail += " type:" + c.toStdString();
                QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, c);
                QApplication::sendEvent(edit, &press);
                entering = true;
                break;
            }
            case 2: {
                static const Qt::Key keys[] = {Qt::Key_Left, Qt::Key_Right, Qt::Key_Home, Qt::Key_End,
                                               Qt::Key_Delete, Qt::Key_Backspace};
                static const Qt::KeyboardModifiers mods[] = {Qt::NoModifier, Qt::ShiftModifier,
                                                             Qt::ControlModifier,
                                                             Qt::ControlModifier | Qt::ShiftModifier};
                const Qt::Key key = keys[rng() % 6];
                const Qt::KeyboardModifiers mod = mods[rng() % 4];
                trail += " key:" + std::to_string(key) + "/" + std::to_string(mod);
                QTest::keyClick(edit, key, mod);
                break;
            }
            case 3: {
                static const Qt::Key keys[] = {Qt::Key_Z, Qt::Key_X, Qt::Key_C, Qt::Key_V, Qt::Key_A,
                                               Qt::Key_K, Qt::Key_Y};
                const Qt::Key key = keys[rng() % 7];
                trail += " ctrl:" + std::to_string(key);
                QTest::keyClick(edit, key, Qt::ControlModifier);
                entering = key == Qt::Key_V;
                break;
            }
            case 4: {
                const QString clip = Junk(rng, 6);
                trail += " paste:" + clip.toStdString();
                QApplication::clipboard()->setText(clip);
                QTest::keyClick(edit, Qt::Key_Insert, Qt::ShiftModifier);
                entering = true;
                break;
            }
            case 5: {
                std::unique_ptr<QMenu> menu(edit->CreateContextMenu());
                QList<QAction*> actions;
                for (QAction* a : menu->actions())
                    if (!a->isSeparator()) actions << a;
                QAction* a = actions[rng() % actions.size()];
                trail += " menu:" + a->text().toStdString();
                if (a->text().contains("Paste")) {
                    QApplication::clipboard()->setText(Junk(rng, 6));
                    entering = true;
                }
                a->trigger();
                break;
            }
            case 6: {
                const QString text = Junk(rng, 5);
                trail += " drop:" + text.toStdString();
                QMimeData data;
                data.setText(text);
                QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                                      Qt::NoModifier);
                QApplication::sendEvent(edit, &enter);
                QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                                Qt::NoModifier);
                QApplication::sendEvent(edit, &drop);
                entering = true;
                break;
            }
            case 7: {
                trail += " click";
                if (rng() % 2)
                    QTest::mouseClick(edit, Qt::LeftButton, Qt::NoModifier, at);
                else
                    QTest::mouseDClick(edit, Qt::LeftButton, Qt::NoModifier, at);
                break;
            }
            case 8: {
                QInputMethodEvent commit;
                const QString text = Junk(rng, 3);
                trail += " im:" + text.toStdString();
                commit.setCommitString(text);
                QApplication::sendEvent(edit, &commit);
                entering = true;
                break;
            }
            case 9: {
                trail += " focus";
                (edit->hasFocus() ? static_cast<QWidget*>(other) : edit)->setFocus(Qt::TabFocusReason);
                QApplication::processEvents();
                break;
            }
            case 10: {
                const QString text = Junk(rng, 4);
                trail += " write:" + text.toStdString();
                edit->SetText(text);
                break;
            }
            case 11: {
                // The program's numeric writes keep their number.
                static const double values[] = {0, 7, 1234.5, 123456.78, 98765.25};
                const double x = values[rng() % 5];
                trail += " float:" + std::to_string(x);
                edit->SetValueAsFloat(x);
                if ((type == etFloat || type == etMoney) && edit->Precision() == 2) {
                    EXPECT_NEAR(edit->ValueAsFloat(), x, 0.001) << trail;
                }
                edit->SetValueAsInteger(123456789);
                if (type == etNumeric || type == etFloat || type == etMoney || type == etHex) {
                    EXPECT_EQ(edit->ValueAsFloat(), 123456789) << trail;
                }
                break;
            }
            case 12: {
                trail += " escape";
                QTest::keyClick(edit, Qt::Key_Escape);
                break;
            }
            default: {
                // Ctrl with a printable key: only the editor's shortcuts may act.
                static const char printable[] = "+-.,5 ;";
                const char c = printable[rng() % 7];
                trail += std::string(" ctrl-char:") + c;
                QKeyEvent press(QEvent::KeyPress, c,
                                Qt::ControlModifier, QString(QLatin1Char(c)));
                QApplication::sendEvent(edit, &press);
                entering = true;
                break;
            }
            }
            const QString shown = edit->ShownText();
            ASSERT_TRUE(shown.startsWith("$") && shown.endsWith("kg") && shown.size() >= 3)
                << shown.toStdString() << " after" << trail;
            const QString value = shown.mid(1, shown.size() - 3);
            ASSERT_EQ(edit->Text(), value) << trail;
            ASSERT_TRUE(TypeTakes(type, isSigned, value, dec, thou))
                << value.toStdString() << " after" << trail;
            const int high = 1 + static_cast<int>(value.size());
            ASSERT_TRUE(edit->cursorPosition() >= 1 && edit->cursorPosition() <= high) << trail;
            if (edit->hasSelectedText()) {
                ASSERT_TRUE(edit->selectionStart() >= 1 && edit->selectionEnd() <= high) << trail;
            }
            if (entering) {
                ASSERT_LE(shown.size(), std::max(maxLength, before)) << trail;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryType, RandomInput, ::testing::Range(0, 11));

} // namespace

#include "test_advedit_widget.moc"
