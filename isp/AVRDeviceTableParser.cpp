// Reading the catalogue text: family headings in brackets, one signature
// per row under them, blank-separated fields, "#" starts a comment. A fault
// anywhere refuses the whole text.
#include "AVRDeviceTable.h"
#include "TextLines.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace {

constexpr std::array<std::string_view, 17> FieldNames{
    "name",  "signature byte 0", "signature byte 1", "signature byte 2", "flash",  "page",
    "eeprom", "fuses",           "flash busy time",  "eeprom busy time", "erase busy time",
    "fuse busy time", "poll", "flash busy answer", "eeprom erase-phase answer",
    "eeprom write-phase answer", "erase"};

// Byte-written parts wait at least this long after a Flash byte of 0x7F.
constexpr uint32_t MinUnpolledWriteMs = 15;

// The row "no device": nothing to program, its signature matches nothing a
// part answers but an empty cable's 0xFF.
constexpr TAVRdesc NoDevice{.Name = "NONE",
                            .FlashSize = 0,
                            .EEpromSize = 0,
                            .FuseKind = 0,
                            .Signature1 = 0xFF,
                            .Signature2 = AnySignature2,
                            .UnpolledWriteMs = MinUnpolledWriteMs,
                            .Signature0 = 0xFF,
                            .FuseForm = TFuseForm::None,
                            .PageWords = 0,
                            .FlashBusyUs = 0,
                            .EEpromBusyUs = 0,
                            .EraseBusyUs = 0,
                            .FuseBusyUs = 0,
                            .Poll = TPollMethod::Data,
                            .FlashPollValue = 0xFF,
                            .EEpromPollErase = 0xFF,
                            .EEpromPollWrite = 0xFF,
                            .EraseEndsAtReset = false,
                            .Names = "NONE",
                            .Family = ""};

// What a "-" in an answer field stands for: no value is published, the part
// is waited for with the ready/busy instruction; ATmega parts read 0xFF there.
constexpr uint8_t UnpublishedAnswer = 0xFF;

std::vector<std::string_view> SplitNames(std::string_view names) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = names.find('/', start);
        out.push_back(
            names.substr(start, slash == std::string_view::npos ? names.npos : slash - start));
        if (slash == std::string_view::npos) return out;
        start = slash + 1;
    }
}

bool ParseNumber(std::string_view s, int base, uint32_t& value) {
    const char* end = s.data() + s.size();
    const auto r = std::from_chars(s.data(), end, value, base);
    return r.ec == std::errc() && r.ptr == end;
}

bool IsPowerOfTwo(uint32_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

// One row's fields into a description; an empty result means success.
std::string ParseRow(const std::vector<std::string_view>& f, TAVRdesc& d) {
    if (f.size() < FieldNames.size())
        return "missing field \"" + std::string(FieldNames[f.size()]) + "\"";
    if (f.size() > FieldNames.size())
        return "unexpected field \"" + std::string(f[FieldNames.size()]) + "\"";

    uint32_t v[FieldNames.size()]{};
    const auto number = [&](std::size_t i, int base, uint32_t max) -> std::string {
        if (!ParseNumber(f[i], base, v[i]) || v[i] > max)
            return std::string(FieldNames[i]) + " \"" + std::string(f[i]) + "\" is not " +
                   (base == 16 ? "a hex byte" : "a number in range");
        return {};
    };
    bool unpublished = false;
    for (std::size_t i : {1u, 2u, 3u, 13u, 14u, 15u}) {
        if (i >= 13 && f[i] == "-") {
            v[i] = UnpublishedAnswer;
            unpublished = true;
            continue;
        }
        if (std::string e = number(i, 16, 0xFF); !e.empty()) return e;
    }
    for (std::size_t i : {4u, 6u, 8u, 9u, 10u, 11u})
        if (std::string e = number(i, 10, 10000000); !e.empty()) return e;
    if (f[5] != "-")
        if (std::string e = number(5, 10, 0xFFFF); !e.empty()) return e;

    const std::vector<std::string_view> names = SplitNames(f[0]);
    for (std::string_view n : names)
        if (n.empty() || std::count(names.begin(), names.end(), n) > 1)
            return "names \"" + std::string(f[0]) + "\" hold an empty or a repeated name";
    d.Names = f[0];
    d.Name = names.front();
    d.Signature0 = static_cast<uint8_t>(v[1]);
    d.Signature1 = static_cast<uint8_t>(v[2]);
    d.Signature2 = static_cast<uint8_t>(v[3]);
    d.FlashSize = static_cast<int32_t>(v[4]);
    d.PageWords = static_cast<uint16_t>(v[5]);
    d.EEpromSize = static_cast<int32_t>(v[6]);
    d.FlashBusyUs = v[8];
    d.EEpromBusyUs = v[9];
    d.EraseBusyUs = v[10];
    d.FuseBusyUs = v[11];
    d.FlashPollValue = static_cast<uint8_t>(v[13]);
    d.EEpromPollErase = static_cast<uint8_t>(v[14]);
    d.EEpromPollWrite = static_cast<uint8_t>(v[15]);
    d.UnpolledWriteMs =
        static_cast<uint8_t>(std::clamp<uint32_t>((d.FlashBusyUs + 999) / 1000, MinUnpolledWriteMs, 255));

    if (d.FlashSize <= 0 || d.FlashSize > CatalogueMaxFlashBytes)
        return "flash " + std::string(f[4]) + " is not between 1 and " +
               std::to_string(CatalogueMaxFlashBytes) + " bytes";
    if (d.EEpromSize <= 0 || d.EEpromSize > CatalogueMaxEEpromBytes)
        return "eeprom " + std::string(f[6]) + " is not between 1 and " +
               std::to_string(CatalogueMaxEEpromBytes) + " bytes";
    if (d.PageWords != 0 && !IsPowerOfTwo(d.PageWords))
        return "page " + std::string(f[5]) + " is not a power of two";
    if (d.PageWords != 0 && d.FlashSize % (2 * d.PageWords) != 0)
        return "page of " + std::string(f[5]) + " words does not divide the flash of " +
               std::string(f[4]) + " bytes";

    const std::string_view fuses = f[7];
    if (fuses == "none") {
        d.FuseKind = 0;
        d.FuseForm = TFuseForm::None;
    } else if (fuses == "single") {
        d.FuseKind = 1;
        d.FuseForm = TFuseForm::SingleByte;
    } else if (fuses == "L" || fuses == "LH" || fuses == "LHE") {
        d.FuseKind = static_cast<uint8_t>(fuses.size());
        d.FuseForm = TFuseForm::Standard;
    } else {
        return "fuses \"" + std::string(fuses) + "\" is not none, L, LH, LHE or single";
    }

    if (f[12] == "data")
        d.Poll = TPollMethod::Data;
    else if (f[12] == "ready")
        d.Poll = TPollMethod::ReadyBusy;
    else
        return "poll \"" + std::string(f[12]) + "\" is not data or ready";
    if (unpublished && d.Poll == TPollMethod::Data)
        return "a busy answer \"-\" leaves a data-polled part nothing to poll for";

    if (f[16] == "reset")
        d.EraseEndsAtReset = true;
    else if (f[16] == "self")
        d.EraseEndsAtReset = false;
    else
        return "erase \"" + std::string(f[16]) + "\" is not reset or self";
    return {};
}

} // namespace

std::vector<std::string_view> PartNames(const TAVRdesc& Part) {
    return SplitNames(Part.Names);
}

bool ParseDeviceTable(std::string_view Text, std::vector<TAVRdesc>& Rows, std::string& Error) {
    Rows.clear();
    Error.clear();
    std::vector<TAVRdesc> rows{NoDevice};
    std::vector<int> lines{0};
    std::string_view family;
    TTextLines text(Text);
    std::string_view line;
    while (text.Next(line)) {
        const int lineNo = text.Number();
        if (const std::string_view heading = Trimmed(line); heading.starts_with('[')) {
            family = heading.ends_with(']') ? Trimmed(heading.substr(1, heading.size() - 2)) : "";
            if (family.empty()) {
                Error =
                    "line " + std::to_string(lineNo) + ": a family heading is a name in brackets";
                return false;
            }
            continue;
        }
        const std::vector<std::string_view> fields = Fields(line);
        if (fields.empty()) continue;

        const std::string where = "line " + std::to_string(lineNo) + " (" + std::string(fields[0]) + "): ";
        if (family.empty()) {
            Error = where + "no family heading above the row";
            return false;
        }
        TAVRdesc d = NoDevice;
        if (std::string e = ParseRow(fields, d); !e.empty()) {
            Error = where + e;
            return false;
        }
        d.Family = family;
        const std::vector<std::string_view> names = SplitNames(d.Names);
        for (std::size_t r = 1; r < rows.size(); ++r) {
            const TAVRdesc& o = rows[r];
            const std::string other = " as line " + std::to_string(lines[r]) + " (" + std::string(o.Name) + ")";
            for (std::string_view n : SplitNames(o.Names))
                if (std::find(names.begin(), names.end(), n) != names.end()) {
                    Error = where + "same name " + std::string(n) + other;
                    return false;
                }
            if (o.Signature0 == d.Signature0 && o.Signature1 == d.Signature1 &&
                o.Signature2 == d.Signature2) {
                Error = where + "same signature" + other;
                return false;
            }
        }
        rows.push_back(d);
        lines.push_back(lineNo);
    }
    if (rows.size() == 1) {
        Error = "no part in the catalogue";
        return false;
    }
    Rows = std::move(rows);
    return true;
}
