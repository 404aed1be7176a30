// Time-stamp store access: drain it, or read its earliest stamp.
#include "brdlink.h"

#include <cstdio>

#include "board_path.hpp"
#include "tsync.h"

namespace {

constexpr const char *who = "HW_GetTsSingle";

} // namespace

extern "C" int HW_GetTsData(void)
{
    const auto path = brdlink::board0_path();
    TSYNC_BoardHandle handle = nullptr;
    if (TSYNC_open(&handle, path.data()) != TSYNC_SUCCESS)
        return 1;
    // Read into the call's own storage: the contents are not used, only
    // the side effect of emptying the store.
    TimestampFifo fifo;
    const TSYNC_ERROR read_rc = TSYNC_HW_getTsData(handle, 1, &fifo);
    const TSYNC_ERROR close_rc = TSYNC_close(handle);
    return read_rc == TSYNC_SUCCESS && close_rc == TSYNC_SUCCESS ? 0 : 1;
}

extern "C" void HW_GetTsSingle(uint8_t *valid, uint32_t *year, uint32_t *doy, uint32_t *hour,
                               uint32_t *minute, uint32_t *second, uint32_t *ns)
{
    // Cleared before anything else so no early return leaves a stale true.
    *valid = 0;
    const auto path = brdlink::board0_path();
    TSYNC_BoardHandle handle = nullptr;
    TSYNC_ERROR rc = TSYNC_open(&handle, path.data());
    if (rc != TSYNC_SUCCESS) {
        std::printf("%s: !Could not open <%s> : rc <%d>\n", who, path.data(), static_cast<int>(rc));
        return;
    }

    BoardTime stamp{};
    rc = TSYNC_HW_getTsSingle(handle, 1, &stamp);
    if (rc != TSYNC_SUCCESS) {
        const char *text = tsync_strerror(rc);
        std::printf("  Error: %s.\n", text ? text : "(null)");
        // The read's message stands; a failing close here changes nothing.
        TSYNC_close(handle);
        return;
    }

    if (stamp.doy != 0) {
        std::printf("  %03u, %04u %02u:%02u:%02u.%09u, %s\n", static_cast<unsigned>(stamp.doy),
                    static_cast<unsigned>(stamp.year), static_cast<unsigned>(stamp.hour),
                    static_cast<unsigned>(stamp.minute), static_cast<unsigned>(stamp.second),
                    static_cast<unsigned>(stamp.ns), stamp.sync != 0 ? "Sync" : "No Sync");
        *year = stamp.year;
        *doy = stamp.doy;
        *hour = stamp.hour;
        *minute = stamp.minute;
        *second = stamp.second;
        *ns = stamp.ns;
    } else {
        // Day 0 alone means an empty store; hand out 1 March 1971, midnight.
        std::printf("TSYNC_BoardHandle :  No data\n");
        *year = 1971;
        *doy = 60;
        *hour = 0;
        *minute = 0;
        *second = 0;
        *ns = 0;
    }

    rc = TSYNC_close(handle);
    if (rc == TSYNC_SUCCESS)
        *valid = 1;
    else
        std::printf("%s: error closing <%s> rc: <%d>\n", who, path.data(), static_cast<int>(rc));
}
