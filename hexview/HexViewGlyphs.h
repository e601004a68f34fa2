#pragma once
// The texts of the hex view's cells turned into glyphs once, and the glyphs of
// many cells drawn together: a repaint then costs a few glyph runs per column
// instead of one text layout per cell.

#include <QColor>
#include <QList>
#include <QPointF>
#include <QRawFont>
#include <QRectF>

class QFont;
class QPainter;
class QString;

// One cell's text as glyphs, placed as the text would be written at the
// cell's top-left corner.
struct HexCellGlyphs {
    QRawFont font;
    QList<quint32> glyphs;
    QList<QPointF> positions; // from the cell's top-left corner
    QRectF ink;               // the glyphs' ink, from the same corner
    bool oneFont = true;      // false: the text needs more than one font

    // Whether the glyphs stay inside a cell this wide, and this high.
    bool FitsWidth(int widthPx) const {
        return oneFont && (glyphs.isEmpty() || (ink.left() >= 0 && ink.right() <= widthPx));
    }
    bool FitsHeight(int heightPx) const {
        return glyphs.isEmpty() || (ink.top() >= 0 && ink.bottom() <= heightPx);
    }
};

HexCellGlyphs HexCellGlyphsOf(const QString& text, const QFont& font);
// Draws one cell's glyphs at once, in the painter's pen.
void DrawHexCellGlyphs(QPainter& p, const HexCellGlyphs& cell, QPointF cellTopLeft);

// Glyphs of cells collected while they share a font and a colour, and drawn
// as one run when either changes or the painting of a column ends.
class HexGlyphBatch {
public:
    void Add(QPainter& p, const HexCellGlyphs& cell, QPointF cellTopLeft, const QColor& color);
    void Flush(QPainter& p);
    bool Empty() const { return glyphs_.isEmpty(); }

private:
    QRawFont font_;
    QColor color_;
    QList<quint32> glyphs_;
    QList<QPointF> positions_;
};
