#include "ClassicGroupBox.h"

#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace {

// Where the caption starts, and the blank kept on either side of it.
constexpr int CaptionLeft = 8;
constexpr int CaptionPad = 2;

} // namespace

QString ElideCaption(const QString& caption, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(caption) <= width) return caption;
    const qsizetype open = caption.indexOf(QLatin1Char('('));
    const qsizetype slash = caption.lastIndexOf(QLatin1Char('/'));
    if (open < 0 || slash <= open) return metrics.elidedText(caption, Qt::ElideMiddle, width);
    const QString head = caption.left(open + 1);
    const QString tail = caption.mid(slash); // "/name.hex)"
    const QString folders = caption.mid(open + 1, slash - open - 1);
    const int room = width - metrics.horizontalAdvance(head) - metrics.horizontalAdvance(tail);
    QString middle = metrics.elidedText(folders, Qt::ElideMiddle, room);
    if (middle.isEmpty()) middle = QString(QChar(0x2026));
    return head + middle + tail;
}

TClassicGroupBox::TClassicGroupBox(const QString& title, QWidget* parent)
    : QGroupBox(title, parent) {}

int TClassicGroupBox::CaptionRoom() const {
    return width() - 2 * CaptionLeft;
}

QString TClassicGroupBox::ShownCaption() const {
    return ElideCaption(title(), fontMetrics(), CaptionRoom());
}

void TClassicGroupBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    const QString caption = ShownCaption();
    const int captionWidth = caption.isEmpty() ? 0 : metrics.horizontalAdvance(caption);
    const int top = metrics.height() / 2;
    // The top line leaves a gap for the caption.
    const int gapLeft = CaptionLeft - CaptionPad;
    const int gapRight = CaptionLeft + captionWidth + CaptionPad;

    // Etched frame: a dark rectangle with a light one a pixel right and below.
    const auto frame = [&](int dx, const QColor& colour) {
        const QRect r(dx, top + dx, width() - 1, height() - top - 1);
        painter.setPen(colour);
        if (captionWidth > 0) {
            painter.drawLine(r.left(), r.top(), gapLeft, r.top());
            painter.drawLine(gapRight, r.top(), r.right(), r.top());
        } else {
            painter.drawLine(r.topLeft(), r.topRight());
        }
        painter.drawLine(r.left(), r.top(), r.left(), r.bottom());
        painter.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        painter.drawLine(r.right(), r.top(), r.right(), r.bottom());
    };
    frame(0, palette().color(QPalette::Dark));
    frame(1, palette().color(QPalette::Light));

    if (captionWidth == 0) return;
    style()->drawItemText(&painter, QRect(CaptionLeft, 0, captionWidth, metrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, palette(),
                          isEnabled(), caption, QPalette::WindowText);
}

// A shortened caption shows itself whole as a tooltip.
bool TClassicGroupBox::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (ShownCaption() != title() && help->pos().y() < fontMetrics().height())
            QToolTip::showText(help->globalPos(), title(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QGroupBox::event(event);
}
