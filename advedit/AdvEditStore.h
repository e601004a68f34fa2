// Storage of a formatted edit field's text between runs: an INI file or the
// per-user settings store, read and written by (location, section, name).
#pragma once

#include <QString>

#include <optional>

enum TPersistenceLocation { plInifile, plRegistry };

// Where and whether a field keeps its text; owned by the field.
class TPersistence {
public:
    bool Enable() const { return m_enable; }
    void SetEnable(bool on) { m_enable = on; }
    QString Key() const { return m_key; }
    void SetKey(const QString& key) { m_key = key; }
    QString Section() const { return m_section; }
    void SetSection(const QString& section) { m_section = section; }
    TPersistenceLocation Location() const { return m_location; }
    void SetLocation(TPersistenceLocation location) { m_location = location; }

private:
    bool m_enable = false;
    QString m_key;
    QString m_section;
    TPersistenceLocation m_location = plInifile;
};

// The value a missing entry reads as.
inline const QString kNoStoredValue = QStringLiteral("@");

// The INI file used for an empty key: the program's path with ".INI" in
// place of its extension (appended when it has none).
QString DefaultIniPath(const QString& programPath);

// Reads the entry `name`; kNoStoredValue when there is none. An empty INI
// key is replaced by the default path and kept in `p`.
QString ReadStoredText(TPersistence& p, const QString& name);
// Writes the entry `name`; returns why the write failed, nothing when it did
// not. An INI file keeps every other byte; the per-user store is Qt's.
std::optional<QString> WriteStoredText(TPersistence& p, const QString& name,
                                       const QString& text);
