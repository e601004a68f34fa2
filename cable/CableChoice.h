// Which cable the programs drive: every cable and programmer a person can
// name, what each needs and shows, and the link each makes. The parallel
// port stays the default; QUILLON_PORTIO still picks its port library when
// no cable is named.
#pragma once

#include "CableOptions.h"
#include "IspLink.h"

#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>

class TAVRisp;

namespace cable {

// The environment's choice: a cable as on the command line, and --simulate.
inline constexpr const char* CableVariable = "QUILLON_CABLE";
inline constexpr const char* SimulateVariable = "QUILLON_CABLE_SIMULATE";
inline constexpr const char* DefaultCable = "lpt";

struct TCableInfo {
    std::string_view Name;
    std::string_view Summary; // what it is, in a few words
    // Driven one port access at a time, so the normal mode runs on it;
    // otherwise it always programs in the fast mode.
    bool NormalMode;
    std::string (*Wiring)();  // its default wiring, a small fixed-width table
    std::string (*Options)(); // its options with their defaults, one line
};

// Every cable, the default first.
std::span<const TCableInfo> Cables();
// The cable of that name, nullptr when there is none.
const TCableInfo* FindCable(std::string_view Name);

// A cable as a person chose it: "gpio:reset=24,sck=4", or empty for the
// port library QUILLON_PORTIO names (the parallel port unless it says
// otherwise); and whether its stand-in takes the place of the hardware.
struct TCableChoice {
    std::string Text;
    bool Simulate = false;

    // The cable's name ("lpt" for the empty choice).
    std::string Name() const;
    // The choice of QUILLON_CABLE and QUILLON_CABLE_SIMULATE.
    static TCableChoice FromEnvironment();
};

// The link of a chosen cable, not yet open. Null, with `Error` naming the
// cable or option at fault, for a cable that does not exist or options it
// cannot take; nothing is opened or driven then. A cable built as a port
// library checks its options when it is opened, also before driving
// anything.
std::unique_ptr<TIspLink> MakeCableLink(const TCableChoice& Choice, std::string& Error);

// Opens the engine on the chosen cable (the empty choice: QUILLON_PORTIO
// as ever). False when it cannot be opened; `Why` then says in one line
// what failed and what to do.
bool OpenCable(TAVRisp& Engine, const TCableChoice& Choice, std::string& Why);
// Puts the chosen cable into use in the place of the engine's link, open or
// not (TAVRisp::SwitchLink): the old link is let go and the identified part
// forgotten, whether or not the new one opens. The empty choice opens the
// port library QUILLON_PORTIO names. False and `Why` as for OpenCable.
bool SwitchCable(TAVRisp& Engine, const TCableChoice& Choice, std::string& Why);

// The cables with their options and default wiring, for
// `quillon-isp cables`.
void ListCables(std::ostream& Out);

} // namespace cable
