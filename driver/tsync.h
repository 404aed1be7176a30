/*
 * Board driver interface: the calls this package makes into the time-code
 * board's user library (libtsync). The emulated board in emulator/
 * implements it; a vendor library exporting the same symbols can be put in
 * its place without rebuilding the programs.
 */
#ifndef ORVANE_TSYNC_H
#define ORVANE_TSYNC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TSYNC_BUILDING_LIBRARY)
#define TSYNC_API __attribute__((visibility("default")))
#else
#define TSYNC_API
#endif

/* Opaque, pointer-sized handle of one open board. */
typedef struct TSYNC_BoardObj *TSYNC_BoardHandle;

/* Driver return code: 0 is success, anything else a failure. */
typedef int32_t TSYNC_ERROR;
#define TSYNC_SUCCESS 0

/* One board time or time stamp: seven unsigned 32-bit fields. */
typedef struct BoardTime {
    uint32_t year;
    uint32_t doy;     /* day of year; 0 = no time stamp */
    uint32_t hour;
    uint32_t minute;
    uint32_t second;
    uint32_t ns;
    uint32_t sync;    /* 0 = not synchronised */
} BoardTime;

#define TSYNC_FIFO_ENTRIES 512

/* Contents of the board's time-stamp store, oldest first. */
typedef struct TimestampFifo {
    uint32_t count;   /* entries filled */
    BoardTime stamps[TSYNC_FIFO_ENTRIES];
} TimestampFifo;

#ifdef __cplusplus
static_assert(sizeof(BoardTime) == 28, "BoardTime must be 28 bytes");
#else
_Static_assert(sizeof(BoardTime) == 28, "BoardTime must be 28 bytes");
#endif

TSYNC_API TSYNC_ERROR TSYNC_open(TSYNC_BoardHandle *handle, const char *path);
TSYNC_API TSYNC_ERROR TSYNC_close(TSYNC_BoardHandle handle);
TSYNC_API const char *tsync_strerror(TSYNC_ERROR rc);

TSYNC_API TSYNC_ERROR TSYNC_HW_getTime(TSYNC_BoardHandle handle, BoardTime *time);
TSYNC_API TSYNC_ERROR TSYNC_HW_getTsData(TSYNC_BoardHandle handle, int32_t mode, TimestampFifo *fifo);
TSYNC_API TSYNC_ERROR TSYNC_HW_getTsSingle(TSYNC_BoardHandle handle, int32_t mode, BoardTime *stamp);
TSYNC_API TSYNC_ERROR TSYNC_HW_setTsEnable(TSYNC_BoardHandle handle, int32_t enable);

TSYNC_API TSYNC_ERROR TSYNC_GI_setEdge(TSYNC_BoardHandle handle, int32_t pin, int32_t edge);
TSYNC_API TSYNC_ERROR TSYNC_GI_setTsEnable(TSYNC_BoardHandle handle, int32_t pin, int32_t enable);

TSYNC_API TSYNC_ERROR TSYNC_CS_setYear(TSYNC_BoardHandle handle, const uint32_t *year);

TSYNC_API TSYNC_ERROR TSYNC_EC_setMode(TSYNC_BoardHandle handle, int32_t led, int32_t mode);
TSYNC_API TSYNC_ERROR TSYNC_EC_setState(TSYNC_BoardHandle handle, int32_t led, int32_t state);

#ifdef __cplusplus
}
#endif

#endif
