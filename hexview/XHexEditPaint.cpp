// The hex view's layout, painting and printing; its input, menu, properties
// and files are in XHexEdit.cpp.
#include "XHexEdit.h"

#include <qdrawutil.h>
#include <QFontMetrics>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegion>
#include <QScrollBar>
#include <QStaticText>
#include <QStyle>

#include <algorithm>

namespace {

// Fills a cell's rectangle with the painter's background and writes the text
// at its top-left corner, clipped to the rectangle. Screen and paper share it.
void PaintCell(QPainter& p, const QRect& r, const QString& text) {
    p.fillRect(r, p.background());
    p.drawText(r, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

// The same with a text laid out beforehand; clipped only when it is wider
// than the cell.
void PaintCell(QPainter& p, const QRect& r, const QStaticText& text) {
    p.fillRect(r, p.background());
    const QSizeF size = text.size();
    if (size.width() <= r.width() && size.height() <= r.height()) {
        p.drawStaticText(r.topLeft(), text);
        return;
    }
    p.save();
    p.setClipRect(r, Qt::IntersectClip);
    p.drawStaticText(r.topLeft(), text);
    p.restore();
}

} // namespace

// ------------------------------------------------------------ layout

HexViewLayout TXHexEdit::MeasuredLayout(QSize client) const {
    const QFontMetrics fo(offsetFont_), fh(hexFont_), ft(textFont_);
    HexViewCellSizes m;
    m.offsetWPx = fo.horizontalAdvance(QString::fromLatin1(HexViewOffsetSample(offsetMode_)));
    m.offsetHPx = fo.height();
    m.hexWPx = fh.horizontalAdvance(QString::fromLatin1(HexViewHexSample(core_.HexMode)));
    m.hexHPx = fh.height();
    m.textWPx = ft.horizontalAdvance(QString::fromLatin1(HexViewTextSample()));
    m.textHPx = ft.height();
    return ComputeHexViewLayout(settings_, m, client.height());
}

void TXHexEdit::ComputeLayout() {
    if (updatingScrollBars_) return;
    // A bar that appears or goes changes the client size; lay out again then.
    for (int pass = 0; pass < 3; ++pass) {
        const QSize client = viewport()->size();
        if (client.width() <= 0 || client.height() <= 0) return;
        const HexViewLayout l = MeasuredLayout(client);
        settings_.hexGapPx = l.hexGapPx;
        core_.ApplyLayout(l, client.width(), client.height());
        SyncScrollBars();
        if (viewport()->size() == client) return;
    }
}

void TXHexEdit::SyncScrollBars() {
    updatingScrollBars_ = true;
    const HexViewLayout& l = core_.Layout();
    QScrollBar* v = verticalScrollBar();
    const int page = std::max(1, l.pageBytes());
    v->setRange(0, std::max(0, core_.Size() - l.pageBytes()));
    v->setPageStep(page);
    v->setSingleStep(l.bytesPerLine);
    v->setValue(core_.FirstOffset);
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, core_.HScrollMaxPx());
    h->setPageStep(std::max(1, viewport()->width()));
    h->setSingleStep(10);
    h->setValue(core_.HScrollPx);
    updatingScrollBars_ = false;
}

int TXHexEdit::FrameWidthPx() const {
    return (border_ ? 1 : 0) + (clientEdge_ ? 2 : 0) + (bevelKind_ == bkFlat ? 2 : 0);
}

bool TXHexEdit::RowFits() const {
    int client = width() - 2 * FrameWidthPx();
    if (vertScrollBar_)
        client -= style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar());
    return MeasuredLayout(QSize(client, 1)).rightEndPx() <= client;
}

// From the outside in: the thin border, the sunken client edge, the bevel.
void TXHexEdit::PaintFrame() {
    QPainter p(this);
    QRect r = rect();
    auto line = [&](const QColor& c) {
        p.setPen(c);
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(0, 0, -1, -1));
        r.adjust(1, 1, -1, -1);
    };
    if (border_) line(palette().color(QPalette::WindowText));
    if (clientEdge_) {
        qDrawWinPanel(&p, r, palette(), true);
        r.adjust(2, 2, -2, -2);
    }
    if (bevelKind_ == bkFlat) {
        line(palette().color(QPalette::Mid));
        line(palette().color(QPalette::Button));
    }
}

void TXHexEdit::RebuildCellTexts() {
    auto prepared = [](const QString& text, const QFont& font) {
        QStaticText t(text);
        t.setTextFormat(Qt::PlainText);
        t.setPerformanceHint(QStaticText::AggressiveCaching);
        t.prepare(QTransform(), font);
        return t;
    };
    for (int b = 0; b < 256; ++b) {
        hexTexts_[b] = QString::fromLatin1(HexViewByteText(uint8_t(b), core_.HexMode));
        charTexts_[b] = QString(QChar(HexViewByteGlyph(uint8_t(b), textAllChars_)));
        hexStatic_[b] = prepared(hexTexts_[b], hexFont_);
        charStatic_[b] = prepared(charTexts_[b], textFont_);
    }
    blankText_ = QString::fromLatin1(kHexViewBlankCell.c_str());
    blankHexStatic_ = prepared(blankText_, hexFont_);
    blankCharStatic_ = prepared(blankText_, textFont_);
}

// ------------------------------------------------------------ painting

void TXHexEdit::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    // The cells cover their columns; the background shows everywhere else.
    QRegion rest(viewport()->rect());
    const HexViewLayout& l = core_.Layout();
    const int bpl = l.bytesPerLine, gap = settings_.hexGapPx, dx = -core_.HScrollPx;
    const int top = kHexViewTopMarginPx, height = (l.rowCount + 1) * l.rowHeightPx;
    auto covered = [&](int x0, int x1) { rest -= QRegion(x0 + dx, top, x1 - x0, height); };
    if (settings_.offsetVisible) covered(l.columnX[0], l.columnX[0] + l.offsetWPx + gap);
    if (settings_.hexVisible) covered(l.columnX[1], l.columnX[size_t(bpl)] + l.hexWPx + gap);
    if (settings_.textVisible)
        covered(l.columnX[size_t(bpl) + 1], l.columnX[size_t(2 * bpl)] + l.textWPx + gap);
    for (const QRect& r : rest)
        p.fillRect(r, bgColor_);
    PaintRows(p);
}

void TXHexEdit::PaintRows(QPainter& p) {
    const HexViewLayout& l = core_.Layout();
    const int bpl = l.bytesPerLine;
    const int size = core_.Size();
    const int rowH = l.rowHeightPx;
    const QBrush bg(bgColor_), hl(highLightColor_);

    p.save();
    p.translate(-core_.HScrollPx, 0);
    // Column by column, each row left to right, so a font is chosen once per
    // column and every cell still paints over the overhang of the one before.
    if (settings_.offsetVisible) {
        p.setFont(offsetFont_);
        p.setPen(offsetColor_);
        p.setBackground(bg);
        for (int r = 0; r <= l.rowCount; ++r) {
            const int o = core_.FirstOffset + r * bpl;
            const QString label =
                QString::fromLatin1(HexViewOffsetLabel(o, size, offsetMode_).c_str());
            // Labels repeat from frame to frame: keep them laid out.
            auto it = labelCache_.find(label);
            if (it == labelCache_.end()) {
                if (labelCache_.size() > 1024) labelCache_.clear();
                QStaticText t(label);
                t.setTextFormat(Qt::PlainText);
                t.setPerformanceHint(QStaticText::AggressiveCaching);
                t.prepare(QTransform(), offsetFont_);
                it = labelCache_.insert(label, t);
            }
            pendingText_ = &label;
            pendingStatic_ = &it.value();
            DrawCell(0, r, p, label, l.offsetWPx, rowH);
        }
        pendingText_ = nullptr;
        pendingStatic_ = nullptr;
    }
    auto paintColumn = [&](bool hex) {
        const QFont& font = hex ? hexFont_ : textFont_;
        const QColor& color = hex ? hexColor_ : textColor_;
        const QString* texts = hex ? hexTexts_ : charTexts_;
        const QStaticText* statics = hex ? hexStatic_ : charStatic_;
        const QStaticText& blank = hex ? blankHexStatic_ : blankCharStatic_;
        const int firstCol = hex ? 1 : bpl + 1;
        const int cellW = hex ? l.hexWPx : l.textWPx;
        p.setFont(font);
        bool lastSel = false;
        p.setPen(color);
        p.setBackground(bg);
        for (int r = 0; r <= l.rowCount; ++r) {
            const int o = core_.FirstOffset + r * bpl;
            for (int j = 0; j < bpl; ++j) {
                const int at = o + j;
                const bool inData = at < size;
                const bool sel = core_.IsSelected(at);
                if (sel != lastSel) {
                    p.setPen(sel ? highLightTextColor_ : color);
                    p.setBackground(sel ? hl : bg);
                    lastSel = sel;
                }
                const uint8_t b = inData ? core_.ByteAt(at) : 0;
                pendingStatic_ = inData ? &statics[b] : &blank;
                pendingText_ = inData ? &texts[b] : &blankText_;
                DrawCell(firstCol + j, r, p, *pendingText_, cellW, rowH);
            }
        }
        pendingStatic_ = nullptr;
        pendingText_ = nullptr;
    };
    if (settings_.hexVisible) paintColumn(true);
    if (settings_.textVisible) paintColumn(false);

    // The caret: a bar 2 pixels wide, 1 pixel left of its cell.
    if (hasFocus() && caretShown_) {
        const int x = l.columnX[size_t(core_.CaretCol)] - 1;
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(QRect(x, core_.CaretRow * rowH + kHexViewTopMarginPx, 2, rowH), Qt::white);
    }
    p.restore();
}

void TXHexEdit::DrawCell(int Column, int Row, QPainter& Canvas, const QString& Text, int CellW,
                         int CellH) {
    const int left = core_.Layout().columnX[size_t(Column)];
    const QRect r(left, Row * CellH + kHexViewTopMarginPx, CellW + settings_.hexGapPx, CellH);
    // The rows hand over texts laid out beforehand; any other text is laid
    // out here.
    if (pendingText_ == &Text) {
        // Blank cells only clear their rectangle.
        const bool blank =
            pendingStatic_ == &blankHexStatic_ || pendingStatic_ == &blankCharStatic_;
        if (blank)
            Canvas.fillRect(r, Canvas.background());
        else
            PaintCell(Canvas, r, *pendingStatic_);
    } else {
        PaintCell(Canvas, r, Text);
    }
}

// ------------------------------------------------------------ printing

bool TXHexEdit::AskPrinter(QPrinter& Printer, bool& Selection) {
    QPrintDialog dialog(&Printer, this);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, true);
    dialog.setPrintRange(Selection ? QAbstractPrintDialog::Selection
                                   : QAbstractPrintDialog::AllPages);
    if (dialog.exec() != QDialog::Accepted) return false;
    Selection = dialog.printRange() == QAbstractPrintDialog::Selection;
    return true;
}

void TXHexEdit::PrintData() {
    QPrinter printer(QPrinter::HighResolution);
    bool selection = core_.SelActive;
    if (!AskPrinter(printer, selection)) return;
    PrintRows(printer, selection);
}

void TXHexEdit::PrintRows(QPrinter& Printer, bool SelectionOnly) {
    int from = 0, to = core_.Size() - 1;
    if (SelectionOnly) {
        core_.NormaliseSelection();
        from = core_.SelStart;
        to = core_.SelEnd;
    }
    QPainter p;
    if (!p.begin(&Printer)) return;
    // The font keeps its size in points on paper, whatever the resolution.
    QFont font = hexFont_;
    if (font.pixelSize() > 0) font.setPointSizeF(font.pixelSize() * 72.0 / 96.0);
    p.setFont(font);
    p.setPen(Qt::black);
    p.setBackground(Qt::white);
    const QFontMetrics fm(font, &Printer);
    const int charW = fm.horizontalAdvance(QLatin1Char('M')), charH = fm.height();
    const int cellW = fm.horizontalAdvance(QStringLiteral("AA")), cellH = charH;
    const int labelW = fm.horizontalAdvance(QStringLiteral("AAAAAA:")), labelH = charH;
    const int gap = charW / 2;
    const int bpl = settings_.bytesPerLine;
    const int pageW = Printer.width(), pageH = Printer.height();
    const int left = std::min(300, pageW), top = std::min(300, pageH);
    // At least one row a page, so that every page moves on.
    const int linesPerPage = std::max(1, (pageH - left) / std::max(1, labelH));

    std::vector<int> px(size_t(2 * bpl + 2));
    for (int i = 0; i < bpl; ++i) {
        px[size_t(i + 1)] = labelW + gap + i * (gap + cellW);
        px[size_t(bpl + 1 + i)] = labelW + gap + bpl * (gap + cellW) + gap + i * charW;
    }
    px[size_t(2 * bpl + 1)] = px[size_t(2 * bpl)] + charW;
    auto cell = [&](int column, int row, const QString& text, int w, int h) {
        PaintCell(p, QRect(px[size_t(column)], row * h + 2, w + gap, h), text);
    };

    const int size = core_.Size();
    const QString blank = QString::fromLatin1(kHexViewBlankCell.c_str());
    p.translate(left, top);
    while (from <= to) {
        if (size > 0) {
            int o = HexViewRowStart(std::max(from, 0), bpl);
            for (int r = 0; r < linesPerPage && o <= to; ++r, o += bpl) {
                cell(0, r, QString::fromLatin1(HexViewOffsetLabel(o, size, omHex).c_str()), labelW,
                     labelH);
                for (int j = 0; j < bpl; ++j) {
                    const int at = o + j;
                    const bool in = at < size;
                    const uint8_t b = in ? core_.ByteAt(at) : 0;
                    cell(j + 1, r,
                         in ? QString::fromLatin1(HexViewByteText(b, hmHex).c_str()) : blank, cellW,
                         cellH);
                    cell(bpl + j + 1, r, in ? QString(QChar(HexViewByteGlyph(b, false))) : blank,
                         charW, charH);
                }
            }
        }
        from += bpl * linesPerPage;
        if (to >= from) Printer.newPage();
    }
    p.end();
}
