#include "AdvEditStore.h"

#include "AdvEditIni.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include <memory>

namespace {

QString IniPath(TPersistence& p) {
    if (p.Key().isEmpty()) p.SetKey(DefaultIniPath(QCoreApplication::applicationFilePath()));
    return p.Key();
}

// The per-user store and the entry's path in it.
std::unique_ptr<QSettings> OpenUserStore(const TPersistence& p) {
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
    if (p.Location() == plInifile)
        return ReadIniValue(IniPath(p), p.Section(), name).value_or(kNoStoredValue);
    const QVariant value = OpenUserStore(p)->value(Entry(p, name), kNoStoredValue);
    return value.toString();
}

std::optional<QString> WriteStoredText(TPersistence& p, const QString& name,
                                       const QString& text) {
    if (p.Location() == plInifile) return WriteIniValue(IniPath(p), p.Section(), name, text);
    auto settings = OpenUserStore(p);
    settings->setValue(Entry(p, name), text);
    settings->sync();
    if (settings->status() != QSettings::NoError)
        return QStringLiteral("cannot write the user settings %1").arg(settings->fileName());
    return std::nullopt;
}
