// Reading the fuse layouts text: keyword lines, blank-separated fields, "#"
// starts a comment. A fault anywhere refuses the whole text and names the
// line.
#include "FuseLayout.h"
#include "TextLines.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr std::string_view ByteKeywords[] = {"low", "high", "extended"};

bool HexByte(std::string_view s, uint8_t& value) {
    unsigned v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v, 16);
    if (s.empty() || s.size() > 2 || r.ec != std::errc() || r.ptr != s.data() + s.size())
        return false;
    value = static_cast<uint8_t>(v);
    return true;
}

std::string Quoted(std::string_view s) {
    return "\"" + std::string(s) + "\"";
}

// The eight bits of a byte line, bit 7 first, into fields: a name is one
// bit, "-" an unused bit, NAMEh..l a run of h - l + 1 bits named NAME.
std::string ParseBits(std::span<const std::string_view> words, TFuseByteLayout& byte) {
    std::vector<TFuseField> fields;
    unsigned count = 0;
    for (std::string_view w : words) {
        unsigned width = 1;
        std::string_view name = w;
        if (const std::size_t dots = w.find(".."); dots != std::string_view::npos) {
            // NAMEh..l: one digit each side, h above l.
            const std::string_view head = w.substr(0, dots);
            const std::string_view tail = w.substr(dots + 2);
            const auto digit = [](std::string_view s, std::size_t at) {
                return at < s.size() && s[at] >= '0' && s[at] <= '9' ? s[at] - '0' : -1;
            };
            const int hi = head.empty() ? -1 : digit(head, head.size() - 1);
            const int lo = tail.size() == 1 ? digit(tail, 0) : -1;
            if (head.size() < 2 || hi < 0 || lo < 0 || hi <= lo ||
                digit(head, head.size() - 2) >= 0)
                return "bit run " + Quoted(w) +
                       " is not NAMEh..l with one digit each and h above l";
            name = head.substr(0, head.size() - 1);
            width = static_cast<unsigned>(hi - lo + 1);
        }
        count += width;
        if (w != "-") fields.push_back({name, 0, static_cast<uint8_t>(width)});
        if (count <= 8 && w != "-") fields.back().Low = static_cast<uint8_t>(8 - count);
    }
    if (count != 8) return "the bits run to " + std::to_string(count) + " places, not 8";
    for (const TFuseField& f : fields) {
        byte.Fields.push_back(f);
        byte.Used |= f.Mask();
    }
    return {};
}

bool SameSignature(const TFusePart& a, const TFusePart& b) {
    return a.Signature == b.Signature;
}

std::string ParsePart(std::span<const std::string_view> w, TFusePart& part) {
    if (w.size() != 5) return "a part is three signature bytes and a name";
    for (std::size_t k = 0; k < 3; ++k)
        if (!HexByte(w[1 + k], part.Signature[k]))
            return "signature byte " + Quoted(w[1 + k]) + " is not a hex byte";
    part.Name = w[4];
    return {};
}

// The binary CKSEL values of a clock line into a set.
std::string ParseClocks(std::span<const std::string_view> w, const TFuseField& cksel,
                        TFuseLayout& l) {
    uint16_t* into = nullptr;
    bool internal = false, external = false;
    for (std::string_view v : w) {
        if (v == "internal" && !internal && !external) {
            internal = true;
            into = &l.InternalClocks;
            continue;
        }
        if (v == "external" && internal && !external) {
            external = true;
            into = &l.ExternalClocks;
            continue;
        }
        if (into == nullptr || v.size() != cksel.Width ||
            v.find_first_not_of("01") != std::string_view::npos)
            return "clock value " + Quoted(v) + " is not " + std::to_string(cksel.Width) +
                   " binary digits after internal or external";
        unsigned value = 0;
        for (char c : v)
            value = value * 2 + static_cast<unsigned>(c - '0');
        if (((l.InternalClocks | l.ExternalClocks) >> value) & 1u)
            return "clock value " + Quoted(v) + " given twice";
        *into = static_cast<uint16_t>(*into | (1u << value));
    }
    if (l.InternalClocks == 0 || l.ExternalClocks == 0)
        return "a clock line is \"clock internal V.. external V..\"";
    return {};
}

// The checks of a family once all its lines are in.
std::string FinishFamily(const TFuseLayout& l) {
    if (l.ByteCount == 0) return "family " + Quoted(l.Family) + " has no low fuse byte";
    if (l.Parts.empty()) return "family " + Quoted(l.Family) + " has no part";
    std::vector<std::string_view> names;
    for (int b = FuseLow; b <= FuseExtended; ++b)
        for (const TFuseField& f : l.Bytes[b].Fields)
            names.push_back(f.Name);
    std::sort(names.begin(), names.end());
    if (auto d = std::adjacent_find(names.begin(), names.end()); d != names.end())
        return "family " + Quoted(l.Family) + " names " + Quoted(*d) + " twice";
    return {};
}

std::string ParseLine(std::span<const std::string_view> w, int lineNo, TFuseLayouts& out) {
    const std::string_view key = w[0];
    if (key == "family") {
        if (w.size() != 2) return "a family line is \"family NAME\"";
        for (const TFuseLayout& l : out.Families)
            if (l.Family == w[1]) return "family " + Quoted(w[1]) + " given twice";
        TFuseLayout l;
        l.Family = w[1];
        l.Line = lineNo;
        out.Families.push_back(l);
        return {};
    }
    if (key == "oldlock") {
        TFusePart part;
        part.Line = lineNo;
        if (std::string e = ParsePart(w, part); !e.empty()) return e;
        out.OldLockParts.push_back(part);
        return {};
    }
    if (out.Families.empty()) return Quoted(key) + " before the first family line";
    TFuseLayout& l = out.Families.back();
    const auto* byteKey = std::find(std::begin(ByteKeywords), std::end(ByteKeywords), key);
    if (byteKey != std::end(ByteKeywords)) {
        const auto index = static_cast<uint8_t>(byteKey - std::begin(ByteKeywords));
        if (index != l.ByteCount)
            return Quoted(key) + " out of order: the bytes are low, high, extended, once each";
        if (w.size() < 3) return Quoted(key) + " needs its factory value and its bits";
        TFuseByteLayout& byte = l.Bytes[index];
        uint8_t factory = 0;
        if (w[1] != "-") {
            if (!HexByte(w[1], factory))
                return "factory value " + Quoted(w[1]) + " is not a hex byte or \"-\"";
            byte.Factory = factory;
        }
        if (std::string e = ParseBits(w.subspan(2), byte); !e.empty())
            return std::string(key) + ": " + e;
        byte.Present = true;
        l.ByteCount = static_cast<uint8_t>(index + 1);
        return {};
    }
    if (key == "lock") {
        if (l.Bytes[LockByte].Present) return "a second lock line";
        if (std::string e = ParseBits(w.subspan(1), l.Bytes[LockByte]); !e.empty())
            return "lock: " + e;
        l.Bytes[LockByte].Present = true;
        return {};
    }
    if (key == "clock") {
        const TFuseField* cksel = l.Bytes[FuseLow].Find("CKSEL");
        if (cksel == nullptr) return "a clock line needs a CKSEL field in the low byte above it";
        if (l.InternalClocks != 0) return "a second clock line";
        return ParseClocks(w.subspan(1), *cksel, l);
    }
    if (key == "part") {
        TFusePart part;
        part.Line = lineNo;
        if (std::string e = ParsePart(w, part); !e.empty()) return e;
        l.Parts.push_back(part);
        return {};
    }
    return "unknown line " + Quoted(key);
}

} // namespace

const TFuseField* TFuseByteLayout::Find(std::string_view Name) const {
    for (const TFuseField& f : Fields)
        if (f.Name == Name) return &f;
    return nullptr;
}

bool ParseFuseLayouts(std::string_view Text, TFuseLayouts& Layouts, std::string& Error) {
    Layouts = {};
    Error.clear();
    TFuseLayouts out;
    int familyLine = 0;
    const auto fail = [&](int line, const std::string& what) {
        Error = "line " + std::to_string(line) + ": " + what;
        return false;
    };
    TTextLines text(Text);
    std::string_view line;
    while (text.Next(line)) {
        const int lineNo = text.Number();
        const std::vector<std::string_view> w = Fields(line);
        if (w.empty()) continue;
        if (w[0] == "family" && !out.Families.empty())
            if (std::string e = FinishFamily(out.Families.back()); !e.empty())
                return fail(familyLine, e);
        if (std::string e = ParseLine(w, lineNo, out); !e.empty()) return fail(lineNo, e);
        if (w[0] == "family") familyLine = lineNo;
    }
    if (out.Families.empty()) return fail(text.Number(), "no family in the text");
    if (std::string e = FinishFamily(out.Families.back()); !e.empty()) return fail(familyLine, e);

    // A signature belongs to one family, or to the old lock form, once.
    std::vector<TFusePart> all = out.OldLockParts;
    for (const TFuseLayout& l : out.Families)
        all.insert(all.end(), l.Parts.begin(), l.Parts.end());
    for (std::size_t i = 0; i < all.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (SameSignature(all[i], all[j])) {
                const bool iLater = all[i].Line > all[j].Line;
                const TFusePart& again = iLater ? all[i] : all[j];
                const TFusePart& first = iLater ? all[j] : all[i];
                return fail(again.Line, "the signature of " + std::string(again.Name) +
                                            " is given again (" + std::string(first.Name) + ")");
            }
    Layouts = std::move(out);
    return true;
}

bool CheckLayoutsAgainstCatalogue(const TFuseLayouts& Layouts, const std::vector<TAVRdesc>& Rows,
                                  std::string& Error) {
    Error.clear();
    for (const TFuseLayout& l : Layouts.Families) {
        for (const TFusePart& p : l.Parts) {
            for (std::size_t r = 1; r < Rows.size(); ++r) {
                const TAVRdesc& d = Rows[r];
                if (d.Signature0 != p.Signature[0] || d.Signature1 != p.Signature[1] ||
                    d.Signature2 != p.Signature[2])
                    continue;
                const std::string where = "line " + std::to_string(p.Line) + " (" +
                                          std::string(p.Name) + "): the catalogue row " +
                                          std::string(d.Name);
                if (d.FuseForm != TFuseForm::Standard) {
                    Error = where + " does not reach fuse bytes with AC A0/A8/A4, the layout of " +
                            std::string(l.Family) + " has " + std::to_string(l.ByteCount);
                    return false;
                }
                if (d.FuseKind != l.ByteCount) {
                    Error = where + " has " + std::to_string(d.FuseKind) +
                            (d.FuseKind == 1 ? " fuse byte" : " fuse bytes") + ", the layout of " +
                            std::string(l.Family) + " has " + std::to_string(l.ByteCount);
                    return false;
                }
            }
        }
    }
    return true;
}
