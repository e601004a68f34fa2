#include "UserSettings.h"

QSettings UserSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quillon"),
                     QStringLiteral("quillon"));
}
