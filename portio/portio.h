#pragma once

/* The four entries every port I/O library exports with C linkage, and
   optional ones: why access was refused, the cable's options, and the port's
   own clock. The programmer loads one such library at run time and reaches
   the cable only through it. */

#include <stdint.h>

#define PORTIO_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Non-zero when port access is granted. */
PORTIO_EXPORT int InitializeWinIo(void);
PORTIO_EXPORT void ShutdownWinIo(void);
/* Non-zero on success; size must be 1 (one byte). */
PORTIO_EXPORT int GetPortVal(uint16_t port, uint32_t* value, uint8_t size);
PORTIO_EXPORT int SetPortVal(uint16_t port, uint32_t value, uint8_t size);
/* Optional: why the last InitializeWinIo failed, in one line (the device
   file, the system's error); empty when it did not fail. Valid until the
   next call into the library. */
PORTIO_EXPORT const char* GetWinIoError(void);
/* Optional: the cable's options, e.g. "chip=gpiochip0,reset=25,sck=11",
   given before InitializeWinIo. Non-zero when every option is known and
   valid; otherwise GetWinIoError names the option at fault and nothing is
   driven. A library without this entry takes no options. */
PORTIO_EXPORT int ConfigureWinIo(const char* options);
/* Optional: the port's own monotonic clock in nanoseconds, on which the
   programmer times its deadlines: the simulated part's model time on a
   simulated port. Without it the programmer uses the system's monotonic
   clock. */
PORTIO_EXPORT uint64_t GetPortTimeNs(void);
/* Optional: waits that many milliseconds on that clock (a simulated port
   advances its model time instead of sleeping). Without it the programmer
   sleeps. */
PORTIO_EXPORT void PortSleepMs(uint32_t ms);

#ifdef __cplusplus
}
#endif
