// The hex view's layout, painting and printing; its input, menu, properties
// and files are in XHexEdit.cpp.
#include "XHexEdit.h"

#include <qdrawutil.h>
#include <QFontMetrics>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>

namespace {

// Fills a cell's rectangle with the painter's background and writes the text
// at its top-left corner, clipped to the rectangle. Screen and paper share it.
void PaintCell(QPainter& p, const QRect& r, const QString& text) {
    p.fillRect(r, p.background());
    p.drawText(r, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
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
    for (int b = 0; b < 256; ++b) {
        hexTexts_[b] = QString::fromLatin1(HexViewByteText(uint8_t(b), core_.HexMode));
        charTexts_[b] = QString(QChar(HexViewByteGlyph(uint8_t(b), textAllChars_)));
        hexGlyphs_[b] = HexCellGlyphsOf(hexTexts_[b], hexFont_);
        charGlyphs_[b] = HexCellGlyphsOf(charTexts_[b], textFont_);
    }
    blankText_ = QString::fromLatin1(kHexViewBlankCell.c_str());
}

// ------------------------------------------------------------ painting

void TXHexEdit::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    // One fill for the whole client area; cells on this background then only
    // draw their glyphs.
    p.fillRect(viewport()->rect(), bgColor_);
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
    paintedBackground_ = bgColor_;
    // Column by column, each row left to right, so a font is chosen once per
    // column and the glyphs of a column go out in a few runs.
    if (settings_.offsetVisible) {
        p.setFont(offsetFont_);
        p.setPen(offsetColor_);
        p.setBackground(bg);
        for (int r = 0; r <= l.rowCount; ++r) {
            const int o = core_.FirstOffset + r * bpl;
            const QString label =
                QString::fromLatin1(HexViewOffsetLabel(o, size, offsetMode_).c_str());
            // Labels repeat from frame to frame: keep them as glyphs.
            auto it = labelGlyphs_.find(label);
            if (it == labelGlyphs_.end()) {
                if (labelGlyphs_.size() > 1024) labelGlyphs_.clear();
                it = labelGlyphs_.insert(label, HexCellGlyphsOf(label, offsetFont_));
            }
            pendingText_ = &label;
            pendingGlyphs_ = &it.value();
            DrawCell(0, r, p, label, l.offsetWPx, rowH);
            FlushRow(p, r);
        }
        batch_.Flush(p);
    }
    auto paintColumn = [&](bool hex) {
        const QColor& color = hex ? hexColor_ : textColor_;
        const QString* texts = hex ? hexTexts_ : charTexts_;
        const HexCellGlyphs* glyphs = hex ? hexGlyphs_ : charGlyphs_;
        const int firstCol = hex ? 1 : bpl + 1;
        const int cellW = hex ? l.hexWPx : l.textWPx;
        p.setFont(hex ? hexFont_ : textFont_);
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
                pendingGlyphs_ = inData ? &glyphs[b] : &blankGlyphs_;
                pendingText_ = inData ? &texts[b] : &blankText_;
                DrawCell(firstCol + j, r, p, *pendingText_, cellW, rowH);
            }
            FlushRow(p, r);
        }
        batch_.Flush(p);
    };
    if (settings_.hexVisible) paintColumn(true);
    if (settings_.textVisible) paintColumn(false);
    pendingGlyphs_ = nullptr;
    pendingText_ = nullptr;

    // The caret: a bar 2 pixels wide, 1 pixel left of its cell.
    if (hasFocus() && caretShown_) {
        const int x = l.columnX[size_t(core_.CaretCol)] - 1;
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(QRect(x, core_.CaretRow * rowH + kHexViewTopMarginPx, 2, rowH), Qt::white);
    }
    p.restore();
}

// Draws the glyphs of row r that are taller than the row, clipped to it.
void TXHexEdit::FlushRow(QPainter& p, int r) {
    if (rowBatch_.Empty()) return;
    const int rowH = core_.Layout().rowHeightPx;
    const QRect band(core_.HScrollPx, r * rowH + kHexViewTopMarginPx, viewport()->width(), rowH);
    const bool own = p.hasClipping();
    if (own) p.save();
    p.setClipRect(band, own ? Qt::IntersectClip : Qt::ReplaceClip);
    rowBatch_.Flush(p);
    if (own)
        p.restore();
    else
        p.setClipping(false);
}

void TXHexEdit::DrawCell(int Column, int Row, QPainter& Canvas, const QString& Text, int CellW,
                         int CellH) {
    const auto& cx = core_.Layout().columnX;
    const int left = cx[size_t(Column)];
    const QRect r(left, Row * CellH + kHexViewTopMarginPx, CellW + settings_.hexGapPx, CellH);
    if (pendingText_ != &Text) {
        // A text the rows did not prepare.
        PaintCell(Canvas, r, Text);
        return;
    }
    // The rows paint left to right, so the cell that follows covers whatever
    // of this rectangle lies beyond its start: only the rest shows.
    QRect shown = r;
    if (Column < 2 * core_.BytesPerLine()) shown.setRight(std::min(r.right(), cx[size_t(Column) + 1] - 1));
    if (Canvas.background().color() != paintedBackground_) Canvas.fillRect(shown, Canvas.background());
    const HexCellGlyphs& g = *pendingGlyphs_;
    if (g.FitsWidth(shown.width())) {
        // Glyphs too tall for the row wait for the clip of the whole row.
        (g.FitsHeight(CellH) ? batch_ : rowBatch_).Add(Canvas, g, r.topLeft(), Canvas.pen().color());
        return;
    }
    // Whatever the byte shows stays inside its cell. Without a clip of its
    // own the painter needs no saving: the clip is simply switched off again.
    if (!g.oneFont || Canvas.hasClipping()) {
        Canvas.save();
        Canvas.setClipRect(shown, Qt::IntersectClip);
        if (g.oneFont)
            DrawHexCellGlyphs(Canvas, g, r.topLeft());
        else
            Canvas.drawText(r, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, Text);
        Canvas.restore();
        return;
    }
    Canvas.setClipRect(shown);
    DrawHexCellGlyphs(Canvas, g, r.topLeft());
    Canvas.setClipping(false);
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
