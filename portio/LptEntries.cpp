// libportio-lpt.so: the four port entries on a real parallel port (ppdev).

#include "LptPort.h"
#include "portio.h"

namespace {

portio::LptPort& Port() {
    static portio::LptPort port(portio::SystemParport());
    return port;
}

} // namespace

extern "C" {

int InitializeWinIo(void) {
    return Port().Open(portio::LptPort::DevicePath()) ? 1 : 0;
}

void ShutdownWinIo(void) {
    Port().Close();
}

int GetPortVal(uint16_t port, uint32_t* value, uint8_t size) {
    return Port().Get(port, value, size);
}

int SetPortVal(uint16_t port, uint32_t value, uint8_t size) {
    return Port().Set(port, value, size);
}

const char* GetWinIoError(void) {
    return Port().Error().c_str();
}

} // extern "C"
