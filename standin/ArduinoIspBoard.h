// A simulated Arduino board running the ArduinoISP sketch, with a part on
// its ISP pins. It speaks STK500 version 1 on a serial line (TimedSerial):
// every command ends with the check byte 0x20 and is answered 0x14 ... 0x10
// (0x11 when the programmer failed, 0x15 when the check byte is missing,
// 0x12 for an unknown command). Program page and read page move up to 256
// bytes (the sketch's page buffer) from the loaded address: a word address
// for Flash and, as the sketch does, for EEPROM as well (byte address = 2 x
// loaded address). Set device gives the page size and poll values the
// writes need; Flash above 128 KB is reached by the host's universal command
// 4D 00 a 00, which the sketch passes to the part like any other.
//
// Opening the port resets the board: its boot loader, which speaks STK500
// too, answers for the boot time and as long as it is spoken to, and only
// then does the sketch start. The boot loader writes and reads the board's
// own chip, never the part on the ISP pins.
//
// A session (from the port's opening or the last time programming mode was
// left, to the next time it is left or the port's closing) ends with the "simulated part:"
// line when QUILLON_SIM_REPORT is set; the part keeps its memories between
// sessions.
#pragma once

#include "FirmwareIsp.h"
#include "SimBoard.h"
#include "TimedSerial.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace standin {

struct ArduinoIspSetup {
    // What the board plays (QUILLON_SIM_CABLE_FAULT): "silent" a board
    // without the sketch (nothing answers once the boot loader is done),
    // "nosync" a sketch that answers every command with 0x15, "fail" a
    // programmer that reports failure (0x11) for every program page.
    enum class Play : uint8_t { Normal, Silent, OutOfSync, FailWrites };
    Play play = Play::Normal;
    // How long the boot loader listens after a reset (QUILLON_SIM_BOOT_MS).
    std::chrono::milliseconds bootTime{1000};

    // From the environment; `error` names a value that is not understood.
    static bool FromEnvironment(ArduinoIspSetup& setup, std::string& error);
};

class ArduinoIspBoard {
public:
    // The part from the environment, as every simulated part (SimBoard).
    ArduinoIspBoard(const ArduinoIspSetup& setup, TimedSerial& line);
    ~ArduinoIspBoard();
    ArduinoIspBoard(const ArduinoIspBoard&) = delete;
    ArduinoIspBoard& operator=(const ArduinoIspBoard&) = delete;

    // The host opened the port: the board resets, the boot loader listens.
    void PortOpened();
    // Answers commands until the line closes or the board is pulled
    // (QUILLON_SIM_DISCONNECT_AFTER pin accesses); then ends the session.
    void Serve();
    // True once the board was pulled: the port goes away.
    bool Pulled() const { return pulled_; }
    // Ends the session: the report; the next session starts on a fresh
    // clock with the part's memories kept.
    void EndSession();

private:
    // The set device parameters the writes need.
    struct Device {
        bool known = false;
        uint32_t pageBytes = 0; // 0: Flash written byte by byte
        PollValues poll;
    };
    struct Command {
        uint8_t code = 0;
        bool forBootLoader = false; // it began while the boot loader listened
        std::vector<uint8_t> args;
        bool checked = false; // the check byte 0x20 ended it
    };

    bool ReadCommand(Command& cmd);
    bool Read(size_t n, std::vector<uint8_t>& into);
    void Answer(std::initializer_list<uint8_t> bytes);
    bool BootLoaderListens() const;
    void RunBootLoader(const Command& cmd);
    void RunSketch(const Command& cmd);
    bool EnterProgramming();
    void LeaveProgramming();
    void SetDevice(const std::vector<uint8_t>& p);
    bool ProgramPage(uint8_t memory, const uint8_t* data, size_t size);
    void ReadPage(uint8_t memory, size_t size);
    bool Gone();
    void NewPart();

    ArduinoIspSetup setup_;
    TimedSerial& line_;
    std::unique_ptr<SimBoard> part_;
    std::unique_ptr<FirmwareIsp> isp_;
    Device device_;
    uint32_t address_ = 0; // the loaded address (words)
    uint64_t bootUntilNs_ = 0;
    bool bootWarned_ = false;
    bool pulled_ = false;
    bool sessionEnds_ = false;
    bool spent_ = false;       // the part's session was reported: the next one gets a fresh clock
    uint64_t sessionMark_ = 0; // bytes received when the session began
};

} // namespace standin
