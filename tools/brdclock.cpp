// brdclock: print the board's current time as a day-of-year time.
#include <cstdio>
#include <cstdlib>

#include "tools-common.h"

namespace {

// The fields are shown as signed numbers.
int shown(std::uint32_t field) { return static_cast<int>(field); }

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2)
        return tools::finish(tools::usage("brdclock <device index>"));

    tools::board board;
    if (!tools::open_board(board, argv[0], argv[1]))
        return tools::finish(1);

    BoardTime t{};
    const TSYNC_ERROR rc = TSYNC_HW_getTime(board.handle, &t);
    if (rc != TSYNC_SUCCESS) {
        tools::report(rc);
        return tools::finish(1);  // ends at once; the handle goes with the process
    }

    const char *raw = getenv("SPEC_KTSAL_EN");
    if (raw != nullptr && raw[0] == 't')
        printf("%d %d %d %d %d %d %d\n", shown(t.year), shown(t.doy), shown(t.hour), shown(t.minute),
               shown(t.second), shown(t.ns), shown(t.sync));

    printf("\n");
    printf(" DOY Time:\n");
    printf("  Year: %04d\n", shown(t.year));
    printf("  DOY:  %03d\n", shown(t.doy));
    printf("  Hr:   %02d\n", shown(t.hour));
    printf("  Min:  %02d\n", shown(t.minute));
    printf("  Sec:  %02d\n", shown(t.second));
    printf("  Nsec: %09d\n", shown(t.ns));
    printf("  Sync: %s\n", t.sync != 0 ? "TRUE" : "FALSE");

    const int status = tools::close_board(board) ? 0 : 1;
    return tools::finish(status);
}
