#pragma once
// The form both of the engine's data texts share (the part catalogue, the
// fuse layouts): lines, "#" starts a comment, fields separated by blanks.

#include <cstddef>
#include <string_view>
#include <vector>

inline bool IsFieldBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

inline std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsFieldBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsFieldBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// The blank-separated fields of a line.
inline std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsFieldBlank(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !IsFieldBlank(line[i]))
            ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

// Walks a text line by line, numbered from 1, each line without its comment.
// The empty line after a final line break is a line too, so that Number()
// after the walk counts every line a reader sees.
class TTextLines {
public:
    explicit TTextLines(std::string_view Text) : Text_(Text) {}

    // The next line in `Line`; false when the text has no more.
    bool Next(std::string_view& Line) {
        if (Pos_ > Text_.size()) return false;
        std::size_t eol = Text_.find('\n', Pos_);
        if (eol == std::string_view::npos) eol = Text_.size();
        Line = Text_.substr(Pos_, eol - Pos_);
        Pos_ = eol + 1;
        ++Number_;
        if (const std::size_t hash = Line.find('#'); hash != std::string_view::npos)
            Line = Line.substr(0, hash);
        return true;
    }

    // The number of the line Next gave last (0 before the first).
    int Number() const { return Number_; }

private:
    std::string_view Text_;
    std::size_t Pos_ = 0;
    int Number_ = 0;
};
