#include "WindowFonts.h"

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
