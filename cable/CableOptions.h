// The choice of a cable as a person writes it, on the command line
// (--cable NAME[:OPTIONS]) or in QUILLON_CABLE: a cable's name, then options
// separated by commas, each NAME=VALUE ("gpio:chip=gpiochip0,reset=25"). A
// word without '=' is an option with an empty name: the device of a cable
// that takes one ("arduino:/dev/ttyACM0,baud=19200"). Header-only, so that
// the port libraries of the bit-bang cables check their options the same
// way as the programs do.
#pragma once

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cable {

struct TCableOption {
    std::string Name;  // empty for a bare word
    std::string Value;
};

struct TCableSpec {
    std::string Name;                 // "gpio"
    std::vector<TCableOption> Options; // in the order given
    std::string OptionText;           // everything after the ':', as given
};

// Splits a cable's options. An empty text has none; an empty item (",,") or
// an empty name before '=' is refused, naming the item.
inline std::optional<std::vector<TCableOption>> ParseCableOptions(std::string_view text,
                                                                  std::string& error) {
    std::vector<TCableOption> options;
    if (text.empty()) return options;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = text.find(',', from);
        const std::string_view item =
            text.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from);
        if (item.empty()) {
            error = "empty cable option in '" + std::string(text) + "'";
            return std::nullopt;
        }
        const std::size_t eq = item.find('=');
        if (eq == 0) {
            error = "cable option '" + std::string(item) + "' has no name";
            return std::nullopt;
        }
        if (eq == std::string_view::npos)
            options.push_back({std::string(), std::string(item)});
        else
            options.push_back({std::string(item.substr(0, eq)), std::string(item.substr(eq + 1))});
        if (comma == std::string_view::npos) break;
        from = comma + 1;
    }
    return options;
}

// "NAME[:OPTIONS]". The name is lower-case letters and digits.
inline std::optional<TCableSpec> ParseCableSpec(std::string_view text, std::string& error) {
    const std::size_t colon = text.find(':');
    TCableSpec choice;
    choice.Name = std::string(text.substr(0, colon));
    if (choice.Name.empty()) {
        error = "no cable named in '" + std::string(text) + "'";
        return std::nullopt;
    }
    if (colon != std::string_view::npos) choice.OptionText = std::string(text.substr(colon + 1));
    auto options = ParseCableOptions(choice.OptionText, error);
    if (!options) return std::nullopt;
    choice.Options = std::move(*options);
    return choice;
}

// Checks that every option is one the cable knows (`known`; "" admits a bare
// word) and that none is given twice. `error` names the option at fault and
// the cable.
inline bool CheckCableOptions(const std::vector<TCableOption>& options,
                              const std::vector<std::string_view>& known, std::string_view cable,
                              std::string& error) {
    for (std::size_t i = 0; i < options.size(); ++i) {
        const TCableOption& o = options[i];
        bool isKnown = false;
        for (std::string_view k : known)
            isKnown = isKnown || k == o.Name;
        if (!isKnown) {
            error = o.Name.empty() ? "the " + std::string(cable) + " cable takes no device ('" +
                                         o.Value + "')"
                                   : "unknown option '" + o.Name + "' for the " +
                                         std::string(cable) + " cable";
            return false;
        }
        for (std::size_t j = 0; j < i; ++j)
            if (options[j].Name == o.Name) {
                error = o.Name.empty() ? "two devices given to the " + std::string(cable) + " cable"
                                       : "option '" + o.Name + "' given twice";
                return false;
            }
    }
    return true;
}

// The value of an option, or nullopt when it was not given.
inline std::optional<std::string> CableOption(const std::vector<TCableOption>& options,
                                              std::string_view name) {
    for (const TCableOption& o : options)
        if (o.Name == name) return o.Value;
    return std::nullopt;
}

// A whole unsigned decimal number not above `max`, for pins, speeds and
// baud rates; nullopt for anything else.
inline std::optional<unsigned long> CableNumber(const std::string& text, unsigned long max = ULONG_MAX) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value > max) return std::nullopt;
    return value;
}

} // namespace cable
