#include "AdvEditIni.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <vector>

namespace {

// One line of the file: where it starts, where its text ends (before "\r\n"
// or "\n") and where the next line starts.
struct TLine {
    qsizetype start = 0;
    qsizetype textEnd = 0;
    qsizetype next = 0;
};

std::vector<TLine> SplitLines(const QByteArray& content) {
    std::vector<TLine> lines;
    qsizetype pos = 0;
    while (pos < content.size()) {
        TLine line;
        line.start = pos;
        qsizetype lf = content.indexOf('\n', pos);
        line.next = lf < 0 ? content.size() : lf + 1;
        line.textEnd = lf < 0 ? content.size() : lf;
        if (line.textEnd > line.start && content.at(line.textEnd - 1) == '\r') --line.textEnd;
        lines.push_back(line);
        pos = line.next;
    }
    return lines;
}

QString LineText(const QByteArray& content, const TLine& line) {
    return QString::fromUtf8(content.mid(line.start, line.textEnd - line.start));
}

// The section a "[name]" line opens, or nothing for any other line.
std::optional<QString> SectionOf(const QString& text) {
    const QString t = text.trimmed();
    if (!t.startsWith(QLatin1Char('['))) return std::nullopt;
    const int close = static_cast<int>(t.indexOf(QLatin1Char(']')));
    if (close < 0) return std::nullopt;
    return t.mid(1, close - 1).trimmed();
}

bool IsComment(const QString& text) {
    const QString t = text.trimmed();
    return t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#'));
}

// Where the entry `name` is in the file, and where a new entry of its section
// would go.
struct TPlace {
    std::optional<size_t> entry;     // the entry's line
    std::optional<size_t> lastLine;  // the section's last non-blank line
    bool sectionFound = false;
};

TPlace Find(const QByteArray& content, const std::vector<TLine>& lines, const QString& section,
            const QString& name) {
    TPlace place;
    bool inside = section.isEmpty();
    place.sectionFound = inside;
    for (size_t i = 0; i < lines.size(); ++i) {
        const QString text = LineText(content, lines[i]);
        if (const std::optional<QString> opened = SectionOf(text)) {
            // A section that appears twice goes on where it appears again.
            inside = opened->compare(section, Qt::CaseInsensitive) == 0 && !section.isEmpty();
            if (inside && !place.sectionFound) {
                place.sectionFound = true;
                place.lastLine = i;
            } else if (inside) {
                place.lastLine = i;
            }
            continue;
        }
        if (!inside) continue;
        if (!text.trimmed().isEmpty()) place.lastLine = i;
        if (IsComment(text) || place.entry) continue;
        const int eq = static_cast<int>(text.indexOf(QLatin1Char('=')));
        if (eq < 0) continue;
        if (text.left(eq).trimmed().compare(name, Qt::CaseInsensitive) == 0) place.entry = i;
    }
    return place;
}

bool HasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

QByteArray LineEnd(const QByteArray& content) {
    return content.contains("\r\n") ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
}

} // namespace

std::optional<QString> IniValue(const QByteArray& content, const QString& section,
                                const QString& name) {
    const std::vector<TLine> lines = SplitLines(content);
    const TPlace place = Find(content, lines, section, name);
    if (!place.entry) return std::nullopt;
    const QString text = LineText(content, lines[*place.entry]);
    return text.mid(text.indexOf(QLatin1Char('=')) + 1).trimmed();
}

std::optional<QByteArray> IniWithValue(const QByteArray& content, const QString& section,
                                       const QString& name, const QString& value) {
    for (const QString* text : {&section, &name, &value})
        if (HasLineBreak(*text)) return std::nullopt;
    const std::vector<TLine> lines = SplitLines(content);
    const TPlace place = Find(content, lines, section, name);
    const QByteArray eol = LineEnd(content);
    QByteArray out = content;
    if (place.entry) {
        // Keep the line up to '=' and the blanks after it; the value and
        // whatever followed it on the line are replaced.
        const TLine& line = lines[*place.entry];
        qsizetype from = content.indexOf('=', line.start) + 1;
        while (from < line.textEnd && (content.at(from) == ' ' || content.at(from) == '\t'))
            ++from;
        out.replace(from, line.textEnd - from, value.toUtf8());
        return out;
    }
    const QByteArray entry = name.toUtf8() + '=' + value.toUtf8() + eol;
    if (place.sectionFound) {
        qsizetype at = 0;
        if (place.lastLine) {
            const TLine& last = lines[*place.lastLine];
            at = last.next;
            // The last line of a file may lack its line end.
            if (last.textEnd == last.next) {
                out.insert(at, eol);
                at += eol.size();
            }
        }
        out.insert(at, entry);
        return out;
    }
    if (!out.isEmpty() && !out.endsWith('\n')) out += eol;
    out += '[' + section.toUtf8() + ']' + eol + entry;
    return out;
}

std::optional<QString> ReadIniValue(const QString& path, const QString& section,
                                    const QString& name) {
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) return std::nullopt;
    return IniValue(file.readAll(), section, name);
}

std::optional<QString> WriteIniValue(const QString& path, const QString& section,
                                     const QString& name, const QString& value) {
    const QFileInfo info(path);
    if (info.isDir()) return QStringLiteral("%1 is a folder").arg(path);
    for (const QString* text : {&section, &name, &value})
        if (HasLineBreak(*text))
            return QStringLiteral("cannot store %1 in %2: an entry of an INI file is one line, "
                                  "and the text holds a line break")
                .arg(name.simplified(), path);
    QByteArray content;
    if (info.exists()) {
        // A file that cannot be read cannot be rewritten without losing it.
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        content = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(path, out.errorString());
    out.write(*IniWithValue(content, section, name, value));
    if (!out.commit()) return QStringLiteral("cannot write %1: %2").arg(path, out.errorString());
    return std::nullopt;
}
