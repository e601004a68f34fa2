#include "AdvEditStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <memory>

namespace {

// The settings object and the group path for a persistence setting.
std::unique_ptr<QSettings> Open(TPersistence& p) {
    if (p.Location() == plInifile) {
        if (p.Key().isEmpty()) p.SetKey(DefaultIniPath(QCoreApplication::applicationFilePath()));
        return std::make_unique<QSettings>(p.Key(), QSettings::IniFormat);
    }
    QString key = p.Key();
    key.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, key,
                                       QString());
}

QString Entry(const TPersistence& p, const QString& name) {
    QString section = p.Section();
    section.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return section.isEmpty() ? name : section + QLatin1Char('/') + name;
}

} // namespace

QString DefaultIniPath(const QString& programPath) {
    const QFileInfo info(programPath);
    const QString dir = info.path();
    const QString name = info.fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    return (dir == QLatin1String(".") && !programPath.startsWith(QLatin1String("./"))
                ? QString()
                : dir + QLatin1Char('/')) +
           stem + QStringLiteral(".INI");
}

QString ReadStoredText(TPersistence& p, const QString& name) {
    auto settings = Open(p);
    const QVariant value = settings->value(Entry(p, name), kNoStoredValue);
    // An unquoted value with commas, as other programs write INI files, is
    // read by QSettings as a list; its parts are the one text.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void WriteStoredText(TPersistence& p, const QString& name, const QString& text) {
    auto settings = Open(p);
    settings->setValue(Entry(p, name), text);
    settings->sync();
}
