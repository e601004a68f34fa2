// The device catalogue of the programming engine: every AVR part the engine
// knows, with its signature, memory sizes, page size, fuse bytes, busy times
// and how it is polled. The rows live in the text file AVRDeviceTable.txt
// beside this header; the build checks that file and compiles it into the
// engine, and the first use of the catalogue reads it. Rows are searched in
// order; row 0 stands for "no device".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// How a part tells that a write is still running.
enum class TPollMethod : uint8_t { Data, ReadyBusy };

// The instructions that reach the fuse bytes.
enum class TFuseForm : uint8_t {
    None,       // no fuse reachable by serial programming
    SingleByte, // one byte: AC 101x.xxxx xx D, read with 50 xx xx (ATmega161)
    Standard,   // AC A0 / A8 / A4 xx D, read with 50 00 / 58 08 / 50 08
};

// The largest Flash a part addresses with the 16-bit word address of its
// read and page-write instructions (64 K words); a part with more needs the
// load-extended-address instruction (4D 00 a 00) before a page above it.
inline constexpr int32_t FlashBytesWithoutExtendedAddress = 131072;

struct TAVRdesc {
    std::string_view Name; // the first of Names: what the part is called on screen
    int32_t FlashSize;  // bytes
    int32_t EEpromSize; // bytes
    uint8_t FuseKind;   // 0 none, 1 low, 2 low + high, 3 low + high + extended
    uint8_t Signature1; // compared with signature byte 1
    uint8_t Signature2; // compared with signature byte 2; 0xFF matches any value
    // Byte-programmed parts: the wait after writing a Flash byte of 0x7F,
    // the value such a part also answers while busy, so it cannot be polled.
    // At least the part's longest byte write time.
    uint8_t UnpolledWriteMs;
    uint8_t Signature0; // the maker's code
    TFuseForm FuseForm;
    uint16_t PageWords;      // words in a Flash page; 0: Flash written byte by byte
    uint32_t FlashBusyUs;    // longest busy time after a Flash byte write (byte parts) or page write
    uint32_t EEpromBusyUs;   // after an EEPROM byte write (C0)
    uint32_t EraseBusyUs;    // after chip erase
    uint32_t FuseBusyUs;     // after a fuse write (0 where the part has no fuse)
    TPollMethod Poll;        // ReadyBusy: the part answers F0 00 xx (bit 0 = busy); Data: poll by reading the value back
    uint8_t FlashPollValue;  // what a busy Flash location reads (0xFF ATmega/AT90S1200, 0x7F AT90S2313/4414/8515)
    uint8_t EEpromPollErase; // what a busy EEPROM byte reads in its erase phase
    uint8_t EEpromPollWrite; // ... and in its write phase
    bool EraseEndsAtReset;   // chip erase is ended by a RESET pulse (AT90S, m161, m163, m323); else the part times it
    std::string_view Names;  // every part sold with the signature: "ATmega16/ATmega16A"
    std::string_view Family; // the family heading the row stands under, e.g. "ATtiny"

    bool Paged() const { return PageWords != 0; }
    // Flash above 128 KB: every page read or written there needs the load
    // extended address instruction first.
    bool ExtendedAddress() const { return FlashSize > FlashBytesWithoutExtendedAddress; }
};

// The names of Names one by one: {"ATmega16", "ATmega16A"}.
std::vector<std::string_view> PartNames(const TAVRdesc& Part);

// Signature byte 0 of every part of the maker; checked before the catalogue.
inline constexpr uint8_t AtmelManufacturerCode = 0x1E;
// Signature2 value that accepts any signature byte 2.
inline constexpr uint8_t AnySignature2 = 0xFF;

// The largest memories a row may describe: what the engine's buffers hold.
inline constexpr int32_t CatalogueMaxFlashBytes = 262144;
inline constexpr int32_t CatalogueMaxEEpromBytes = 8192;

// Reads a catalogue text. On success `Rows` holds row 0 ("NONE") followed
// by one row per signature, in the order of the text, and `Error` is empty;
// the names and families point into `Text`. On the first fault `Rows` is left
// empty and `Error` names the line and the row.
bool ParseDeviceTable(std::string_view Text, std::vector<TAVRdesc>& Rows, std::string& Error);

// The catalogue compiled into the engine, indexable like an array.
class TAVRDeviceCatalogue {
public:
    std::size_t size() const { return Rows().size(); }
    const TAVRdesc& operator[](std::size_t Row) const { return Rows()[Row]; }
    std::vector<TAVRdesc>::const_iterator begin() const { return Rows().begin(); }
    std::vector<TAVRdesc>::const_iterator end() const { return Rows().end(); }

private:
    static const std::vector<TAVRdesc>& Rows();
};

inline constexpr TAVRDeviceCatalogue AVRDeviceTable{};

// First catalogue row whose signature matches bytes 1 and 2 of a part, or -1.
int FindDeviceRow(uint8_t Signature1, uint8_t Signature2);

// What a person is told of a part that answered with a signature outside the
// catalogue: the three bytes it read, so that the part can be named.
std::string UnknownPartText(const std::array<uint8_t, 3>& Signature);
