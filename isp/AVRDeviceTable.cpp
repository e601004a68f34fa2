// The catalogue compiled into the engine: the text of AVRDeviceTable.txt,
// checked by the build, read once on first use.
#include "AVRDeviceTable.h"

#include <cstdio>
#include <cstdlib>

// Defined in the source the build generates from AVRDeviceTable.txt.
extern const std::string_view CompiledDeviceTableText;

const std::vector<TAVRdesc>& TAVRDeviceCatalogue::Rows() {
    static const std::vector<TAVRdesc> rows = [] {
        std::vector<TAVRdesc> r;
        std::string error;
        // The build has refused a faulty text already; a program that finds
        // one all the same must not program parts from half a catalogue.
        if (!ParseDeviceTable(CompiledDeviceTableText, r, error)) {
            std::fprintf(stderr, "The part catalogue is faulty: %s\n", error.c_str());
            std::abort();
        }
        return r;
    }();
    return rows;
}

int FindDeviceRow(uint8_t Signature1, uint8_t Signature2) {
    for (std::size_t row = 0; row < AVRDeviceTable.size(); ++row) {
        const TAVRdesc& d = AVRDeviceTable[row];
        if (d.Signature1 == Signature1 &&
            (d.Signature2 == Signature2 || d.Signature2 == AnySignature2))
            return static_cast<int>(row);
    }
    return -1;
}

std::string UnknownPartText(const std::array<uint8_t, 3>& Signature) {
    char bytes[16];
    std::snprintf(bytes, sizeof bytes, "%02X %02X %02X", Signature[0], Signature[1], Signature[2]);
    return std::string("the part on the cable (signature ") + bytes +
           ") is not one this tool can program";
}
