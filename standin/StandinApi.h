/* The C entries a stand-in library exports beside the interface it stands
   in for. A cable that finds quillon_standin_now_ns and
   quillon_standin_sleep_ms in the library it loaded keeps its time on them:
   the simulated part's model time, which moves by what each call of the
   real interface costs and by the waits asked for.

   libstandin-linux.so also stands in for the kernel's device files of a
   tty and of spidev: quillon_standin_open, _close and _ioctl take what
   open(2), close(2) and ioctl(2) take (the same paths, flags, requests and
   argument structures) and answer as the kernel does, errno included. */
#pragma once

#include <stdint.h>

#define STANDIN_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Model time in nanoseconds, monotonic for the life of the process. */
STANDIN_EXPORT uint64_t quillon_standin_now_ns(void);
/* A wait of that many milliseconds: advances the model time. */
STANDIN_EXPORT void quillon_standin_sleep_ms(uint32_t ms);

/* open(2), close(2) and ioctl(2) on the stand-in's device files:
   /dev/ttyUSBn, /dev/ttyACMn, /dev/ttySn (a serial adapter whose modem
   lines are wired to the part) and /dev/spidev0.0, /dev/spidev0.1. -1 with
   errno set on failure, as the system calls. */
STANDIN_EXPORT int quillon_standin_open(const char* path, int flags);
STANDIN_EXPORT int quillon_standin_close(int fd);
STANDIN_EXPORT int quillon_standin_ioctl(int fd, unsigned long request, void* arg);

/* For tests: how many device files are open and GPIO lines requested now;
   0 once a cable has let everything go. */
STANDIN_EXPORT unsigned quillon_standin_held(void);

#ifdef __cplusplus
}
#endif
