#include "ButtonIcons.h"

#include <QImage>
#include <QPixmap>

// The resources live in a static library, so they are registered on first use.
static void RegisterButtonPictures() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)registered;
}

QIcon ButtonIcon(const QString& name) {
    RegisterButtonPictures();
    const QImage picture(QStringLiteral(":/buttons/") + name, "XPM");
    if (picture.isNull()) return QIcon();
    return QIcon(QPixmap::fromImage(picture));
}
