/* The model clock every stand-in library exports beside the interface it
   replaces. A link that finds these two entries in the library it loaded
   times its deadlines and waits on them (the simulated part's model time);
   without them it uses the system's monotonic clock and really sleeps. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Model time in nanoseconds: monotonic, from an arbitrary origin. */
uint64_t quillon_standin_now_ns(void);
/* A wait of that many milliseconds: the model time moves on, at once. */
void quillon_standin_sleep_ms(uint32_t ms);

#ifdef __cplusplus
}
#endif
