// A small reader and writer of INI files ("[section]" lines followed by
// name=value lines). Reading finds one entry; writing updates or adds one
// entry and keeps every other byte of the file as it was: comments, order,
// spacing, blank lines, other sections and line ends. Section and entry names
// compare without regard to case, as INI files are read on the desktop.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The value of entry `name` in `section` (the part after '=' with the blanks
// around it removed), or nothing when there is no such entry. An empty
// section means the entries before the first section line.
std::optional<QString> IniValue(const QByteArray& content, const QString& section,
                                const QString& name);

// `content` with entry `name` of `section` set to `value`: the entry's line is
// rewritten in place, or a line is added at the end of the section, or the
// section is added at the end of the file. New lines take the file's own
// line end. An entry is one line: a section, name or value holding a line
// break (CR or LF) is refused (nothing), as it would add lines of its own.
std::optional<QByteArray> IniWithValue(const QByteArray& content, const QString& section,
                                       const QString& name, const QString& value);

// File access on top of the two. Reading a missing or unreadable file gives
// nothing. Writing reads the file (a missing one counts as empty), changes the
// one entry and writes the whole through a temporary file that then replaces
// the original; on failure (a line break in the entry, an unreadable or
// unwritable file) it returns the reason and leaves the file as it was.
std::optional<QString> ReadIniValue(const QString& path, const QString& section,
                                    const QString& name);
std::optional<QString> WriteIniValue(const QString& path, const QString& section,
                                     const QString& name, const QString& value);
