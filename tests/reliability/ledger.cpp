// Preloaded into a program under test, passes the driver's time-stamp reads
// on unchanged and notes every stamp they hand out in the file named by
// RELIABILITY_LEDGER, one "year doy hour minute second ns sync" line each.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

#include "tsync.h"

namespace {

void note(const BoardTime &t)
{
    const char *path = std::getenv("RELIABILITY_LEDGER");
    if (!path || !*path)
        return;
    if (std::FILE *f = std::fopen(path, "a")) {
        std::fprintf(f, "%u %u %u %u %u %u %u\n", t.year, t.doy, t.hour, t.minute, t.second, t.ns, t.sync);
        std::fclose(f);
    }
}

template <typename F> F real(const char *name) { return reinterpret_cast<F>(dlsym(RTLD_NEXT, name)); }

} // namespace

extern "C" TSYNC_API TSYNC_ERROR TSYNC_HW_getTsData(TSYNC_BoardHandle handle, int32_t mode, TimestampFifo *fifo)
{
    static const auto next = real<TSYNC_ERROR (*)(TSYNC_BoardHandle, int32_t, TimestampFifo *)>("TSYNC_HW_getTsData");
    const TSYNC_ERROR rc = next(handle, mode, fifo);
    if (rc == 0 && fifo)
        for (std::uint32_t i = 0; i < fifo->count && i < TSYNC_FIFO_ENTRIES; ++i)
            note(fifo->stamps[i]);
    return rc;
}

extern "C" TSYNC_API TSYNC_ERROR TSYNC_HW_getTsSingle(TSYNC_BoardHandle handle, int32_t mode, BoardTime *stamp)
{
    static const auto next = real<TSYNC_ERROR (*)(TSYNC_BoardHandle, int32_t, BoardTime *)>("TSYNC_HW_getTsSingle");
    const TSYNC_ERROR rc = next(handle, mode, stamp);
    if (rc == 0 && stamp && stamp->doy != 0)
        note(*stamp);
    return rc;
}
