#pragma once
// The cable the window drives, as the Information window shows it: the name
// of one of cable::Cables() and its options. It is remembered in the user's
// settings; QUILLON_CABLE, when set, names it at start instead, as it does
// for quillon-isp.

#include "CableChoice.h"

#include <QString>

struct TWindowCable {
    QString Name = QString::fromLatin1(cable::DefaultCable);
    QString Options;

    // "gpio:reset=24": a name, and its options after a colon.
    static TWindowCable FromText(const QString& Text);
    // QUILLON_CABLE when set, else the remembered choice, else the default.
    static TWindowCable AtStart();
    // Keeps the choice in the user's settings for the next start.
    void Remember() const;

    // What the engine opens. The parallel port without options is the empty
    // choice: the port library QUILLON_PORTIO names, as the window always
    // opened it. QUILLON_CABLE_SIMULATE=1 puts the stand-ins in the place of
    // the hardware.
    cable::TCableChoice Choice() const;
    // The parallel port as the window opens it without a choice.
    bool IsDefault() const;
    // The cable's name as the status line adds it: "gpio", "usbasp, simulated";
    // empty for the parallel port, whose status line stays as it always was.
    QString Label() const;
    // Why "Fast programming" is ticked and cannot be changed on a cable that
    // always programs in the fast mode.
    QString FastForcedText() const;
};
