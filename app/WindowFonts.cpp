#include "WindowFonts.h"

#include "XHexEdit.h"

#include <QStringList>

QFont WindowFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    // Where the face is missing, one of Arial's metrics keeps the captions within
    // their controls.
    font.setFamilies(QStringList{QStringLiteral("MS Sans Serif"), QStringLiteral("Arial"),
                                 QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

QFont FixedPitchFont(int pixelSize) {
    QFont font(QStringLiteral("Courier New"));
    font.setFamilies(QStringList{QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(pixelSize);
    return font;
}

void FitHexViewFont(TXHexEdit& view) {
    QFont font = WindowFont();
    for (int stretch = 100;; --stretch) {
        font.setStretch(stretch);
        view.SetHexFont(font);
        view.SetTextFont(font);
        view.SetOffsetFont(font);
        if (view.RowFits() || stretch <= 75) return;
    }
}
