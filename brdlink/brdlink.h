/*
 * brdlink: self-contained accesses to board 0 (/dev/tsyncpci0).
 * Exported with C linkage so that any program can dlopen the library.
 */
#ifndef ORVANE_BRDLINK_H
#define ORVANE_BRDLINK_H

#include <stdint.h>

#if defined(BRDLINK_BUILDING)
#define BRDLINK_API __attribute__((visibility("default")))
#else
#define BRDLINK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Drain the board's time-stamp store: 0 when open, read-out and close
 * all succeeded, 1 otherwise. Prints nothing. */
BRDLINK_API int HW_GetTsData(void);

/* Read the earliest stored time stamp, print it and hand out its fields.
 * *valid is set to 0 first and to 1 only when read and close succeeded;
 * the six fields are written only after a successful read. */
BRDLINK_API void HW_GetTsSingle(uint8_t *valid, uint32_t *year, uint32_t *doy, uint32_t *hour,
                                uint32_t *minute, uint32_t *second, uint32_t *ns);

/* Walk a light over the three LEDs twice, one second each, then give
 * LED n mode n. Reports nothing. */
BRDLINK_API void Led_Test(void);

#ifdef __cplusplus
}
#endif

#endif
