// The information window: its text line by line, its font, and that it is one
// modeless window that is shown and hidden, never duplicated.

#include "AVRinfo.h"

#include <QApplication>
#include <QFontInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(InfoForm, TextHas26LinesWithAlignedColumns) {
    TInfoForm form;
    const QStringList lines = form.InfoMemo->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 26);
    EXPECT_EQ(lines, TInfoForm::InfoLines());
    EXPECT_EQ(lines[0], QString());
    EXPECT_EQ(lines[1], QStringLiteral("List of pins used during programming (DIP packages)."));
    EXPECT_EQ(lines[6], QString(5, QLatin1Char(' ')) + QString(53, QLatin1Char('-')));
    EXPECT_EQ(lines[19], QString(5, QLatin1Char(' ')) + QString(31, QLatin1Char('-')));
    EXPECT_EQ(lines[25], QStringLiteral(" "));
    // Pin table: the signal starts at column 9, the device columns at 23, 35 and 47.
    for (int i = 7; i <= 14; ++i) {
        const QString& line = lines[i];
        EXPECT_EQ(line.left(8), QString(8, QLatin1Char(' '))) << i;
        EXPECT_NE(line[8], QLatin1Char(' ')) << i;
        for (int col : {23, 35, 47}) {
            EXPECT_EQ(line.mid(col - 1, 4), QStringLiteral("pin ")) << i << " col " << col;
            EXPECT_EQ(line[col - 2], QLatin1Char(' ')) << i;
        }
    }
    EXPECT_EQ(lines[3].indexOf(QStringLiteral("AT90S1200")), 22);
    EXPECT_EQ(lines[3].indexOf(QStringLiteral("AT90S8515")), 34);
    EXPECT_EQ(lines[3].indexOf(QStringLiteral("ATmega163")), 46);
    EXPECT_EQ(lines[5].indexOf(QStringLiteral("ATmega162")), 34);
    // Cable table: pin number at column 12, signal at 27.
    EXPECT_EQ(lines[18].indexOf(QStringLiteral("Signal")), 26);
    for (int i = 20; i <= 24; ++i) {
        EXPECT_EQ(lines[i].left(11), QString(11, QLatin1Char(' '))) << i;
        EXPECT_TRUE(lines[i][11].isDigit()) << i;
        EXPECT_TRUE(lines[i][26].isLetter()) << i;
        EXPECT_EQ(lines[i][25], QLatin1Char(' ')) << i;
    }
    EXPECT_TRUE(form.InfoMemo->isReadOnly());
}

TEST(InfoForm, WindowGeometryFontAndColour) {
    TInfoForm form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("ISP Information"));
    EXPECT_EQ(form.size(), QSize(678, 464));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.Panel1->geometry(), QRect(8, 8, 665, 449));
    EXPECT_EQ(form.CloseBtn->parentWidget(), form.Panel1);
    EXPECT_EQ(form.CloseBtn->geometry(), QRect(560, 416, 99, 25));
    EXPECT_EQ(form.CloseBtn->text(), QStringLiteral("Close"));
    EXPECT_EQ(form.Panel2->parentWidget(), form.Panel1);
    EXPECT_EQ(form.Panel2->geometry(), QRect(8, 8, 545, 433));
    EXPECT_EQ(form.InfoMemo->parentWidget(), form.Panel2);
    EXPECT_EQ(form.InfoMemo->geometry(), QRect(8, 8, 529, 417));
    EXPECT_TRUE(QFontInfo(form.InfoMemo->font()).fixedPitch());
    EXPECT_EQ(form.InfoMemo->font().pixelSize(), 13);
    EXPECT_EQ(form.InfoMemo->palette().color(QPalette::Text), QColor(0, 0, 128));
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(form.isModal());
}

TEST(InfoForm, ShownOnceHiddenByCloseAndCloseBoxTextKept) {
    TInfoForm form;
    EXPECT_FALSE(form.isVisible());
    form.ShowInfo();
    form.ShowInfo();
    EXPECT_TRUE(form.isVisible());
    int shownInfoForms = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TInfoForm*>(w) && w->isVisible()) ++shownInfoForms;
    EXPECT_EQ(shownInfoForms, 1);

    QTest::mouseClick(form.CloseBtn, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
    form.ShowInfo();
    EXPECT_TRUE(form.isVisible());
    form.close(); // the title bar's close box
    EXPECT_FALSE(form.isVisible());
    form.ShowInfo();
    EXPECT_EQ(form.InfoMemo->toPlainText().split(QLatin1Char('\n')), TInfoForm::InfoLines());
    EXPECT_FALSE(form.testAttribute(Qt::WA_DeleteOnClose));
}

} // namespace
