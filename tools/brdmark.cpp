// brdmark: switch the board's hardware time-stamping on or off.
#include <cstdio>

#include "tools-common.h"

int main(int argc, char **argv)
{
    if (argc != 3)
        return tools::finish(tools::usage("brdmark <device index> <en>"));

    tools::board board;
    if (!tools::open_board(board, argv[0], argv[1]))
        return tools::finish(1);

    const std::int32_t enable = tools::read_number(argv[2]);
    printf("\n");
    printf(" Hardware Time Stamp Enable: %d\n", enable);

    const TSYNC_ERROR rc = TSYNC_HW_setTsEnable(board.handle, enable);
    if (rc != TSYNC_SUCCESS) {
        tools::report(rc);
        return tools::finish(1);  // ends at once, without closing
    }
    return tools::finish(tools::close_board(board) ? 0 : 1);
}
