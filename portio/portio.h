#pragma once

/* The four entries every port I/O library exports with C linkage, and an
   optional fifth that says why access was refused. The programmer loads one
   such library at run time and reaches the parallel port only through it. */

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

#ifdef __cplusplus
}
#endif
