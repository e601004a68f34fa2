#include "HexViewGlyphs.h"

#include <QGlyphRun>
#include <QPainter>
#include <QTextLayout>

HexCellGlyphs HexCellGlyphsOf(const QString& text, const QFont& font) {
    HexCellGlyphs cell;
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    if (!line.isValid()) return cell;
    line.setPosition(QPointF(0, 0));
    const QList<QGlyphRun> runs = layout.glyphRuns();
    if (runs.size() > 1) cell.oneFont = false;
    if (runs.isEmpty()) return cell;
    cell.font = runs.front().rawFont();
    cell.glyphs = runs.front().glyphIndexes();
    cell.positions = runs.front().positions();
    for (qsizetype i = 0; i < cell.glyphs.size(); ++i)
        cell.ink |= cell.font.boundingRect(cell.glyphs[i]).translated(cell.positions[i]);
    return cell;
}

void DrawHexCellGlyphs(QPainter& p, const HexCellGlyphs& cell, QPointF cellTopLeft) {
    if (cell.glyphs.isEmpty()) return;
    QGlyphRun run;
    run.setRawFont(cell.font);
    run.setRawData(cell.glyphs.constData(), cell.positions.constData(), int(cell.glyphs.size()));
    p.drawGlyphRun(cellTopLeft, run);
}

void HexGlyphBatch::Add(QPainter& p, const HexCellGlyphs& cell, QPointF cellTopLeft,
                        const QColor& color) {
    if (cell.glyphs.isEmpty()) return;
    if (!glyphs_.isEmpty() && (color != color_ || cell.font != font_)) Flush(p);
    if (glyphs_.isEmpty()) {
        font_ = cell.font;
        color_ = color;
    }
    glyphs_.append(cell.glyphs);
    for (const QPointF& at : cell.positions)
        positions_.append(at + cellTopLeft);
}

void HexGlyphBatch::Flush(QPainter& p) {
    if (glyphs_.isEmpty()) return;
    QGlyphRun run;
    run.setRawFont(font_);
    // The run only borrows the arrays, which keep their room for the next.
    run.setRawData(glyphs_.constData(), positions_.constData(), int(glyphs_.size()));
    const QPen pen = p.pen();
    p.setPen(color_);
    p.drawGlyphRun(QPointF(0, 0), run);
    p.setPen(pen);
    glyphs_.clear();
    positions_.clear();
}
