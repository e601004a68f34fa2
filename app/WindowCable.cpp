#include "WindowCable.h"

#include "UserSettings.h"

namespace {

constexpr const char* NameKey = "Cable/Name";
constexpr const char* OptionsKey = "Cable/Options";

} // namespace

TWindowCable TWindowCable::FromText(const QString& Text) {
    TWindowCable c;
    const qsizetype colon = Text.indexOf(QLatin1Char(':'));
    c.Name = Text.left(colon).trimmed();
    if (colon >= 0) c.Options = Text.mid(colon + 1).trimmed();
    return c;
}

TWindowCable TWindowCable::AtStart() {
    const QString named = qEnvironmentVariable(cable::CableVariable).trimmed();
    if (!named.isEmpty()) return FromText(named);
    const QSettings settings = UserSettings();
    TWindowCable c;
    if (!settings.contains(QLatin1String(NameKey))) return c;
    c.Name = settings.value(QLatin1String(NameKey)).toString();
    c.Options = settings.value(QLatin1String(OptionsKey)).toString();
    return c;
}

void TWindowCable::Remember() const {
    QSettings settings = UserSettings();
    settings.setValue(QLatin1String(NameKey), Name);
    settings.setValue(QLatin1String(OptionsKey), Options);
}

cable::TCableChoice TWindowCable::Choice() const {
    cable::TCableChoice choice = cable::TCableChoice::FromEnvironment();
    choice.Text.clear();
    if (Name != QLatin1String(cable::DefaultCable) || !Options.isEmpty())
        choice.Text = (Options.isEmpty() ? Name : Name + QLatin1Char(':') + Options).toStdString();
    return choice;
}

bool TWindowCable::IsDefault() const {
    const cable::TCableChoice choice = Choice();
    return choice.Text.empty() && !choice.Simulate;
}

QString TWindowCable::Label() const {
    if (Name == QLatin1String(cable::DefaultCable)) return QString();
    return Choice().Simulate ? Name + QStringLiteral(", simulated") : Name;
}

QString TWindowCable::FastForcedText() const {
    QString normal;
    for (const cable::TCableInfo& c : cable::Cables())
        if (c.NormalMode)
            normal += (normal.isEmpty() ? QString() : QStringLiteral(", ")) +
                      QString::fromUtf8(c.Name.data(), static_cast<qsizetype>(c.Name.size()));
    return QStringLiteral("The %1 cable always programs in the fast mode: the normal mode needs a "
                          "cable driven one port access at a time (%2).")
        .arg(Name, normal);
}
