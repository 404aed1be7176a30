/* A stand-in for a board vendor's libtsync.so: the driver interface with a
 * board that always answers the same time. Used to check that the package
 * builds and runs against a library other than the emulated board. */
#include <string.h>

#define TSYNC_BUILDING_LIBRARY
#include "tsync.h"

static struct TSYNC_BoardObj {
    int unused;
} board;

TSYNC_ERROR TSYNC_open(TSYNC_BoardHandle *handle, const char *path)
{
    if (strcmp(path, "/dev/tsyncpci0") != 0)
        return 99;
    *handle = &board;
    return 0;
}
TSYNC_ERROR TSYNC_close(TSYNC_BoardHandle handle) { return handle == &board ? 0 : 98; }
const char *tsync_strerror(TSYNC_ERROR rc) { return rc ? "stand-in failure" : "stand-in success"; }
TSYNC_ERROR TSYNC_HW_getTime(TSYNC_BoardHandle h, BoardTime *t)
{
    (void)h;
    BoardTime fixed = {2030, 100, 1, 2, 3, 4, 1};
    *t = fixed;
    return 0;
}
TSYNC_ERROR TSYNC_HW_getTsData(TSYNC_BoardHandle h, int32_t mode, TimestampFifo *fifo)
{
    (void)h, (void)mode;
    fifo->count = 0;
    return 0;
}
TSYNC_ERROR TSYNC_HW_getTsSingle(TSYNC_BoardHandle h, int32_t mode, BoardTime *t)
{
    (void)h, (void)mode;
    memset(t, 0, sizeof *t);
    return 0;
}
TSYNC_ERROR TSYNC_HW_setTsEnable(TSYNC_BoardHandle h, int32_t en) { return (void)h, (void)en, 0; }
TSYNC_ERROR TSYNC_GI_setEdge(TSYNC_BoardHandle h, int32_t pin, int32_t edge) { return (void)h, (void)pin, (void)edge, 0; }
TSYNC_ERROR TSYNC_GI_setTsEnable(TSYNC_BoardHandle h, int32_t pin, int32_t en) { return (void)h, (void)pin, (void)en, 0; }
TSYNC_ERROR TSYNC_CS_setYear(TSYNC_BoardHandle h, const uint32_t *year) { return (void)h, (void)year, 0; }
TSYNC_ERROR TSYNC_EC_setMode(TSYNC_BoardHandle h, int32_t led, int32_t mode) { return (void)h, (void)led, (void)mode, 0; }
TSYNC_ERROR TSYNC_EC_setState(TSYNC_BoardHandle h, int32_t led, int32_t st) { return (void)h, (void)led, (void)st, 0; }
