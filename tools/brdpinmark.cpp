// brdpinmark: switch time-stamping of one board input on or off.
#include <cstdio>

#include "tools-common.h"

int main(int argc, char **argv)
{
    if (argc != 4)
        return tools::finish(tools::usage("brdpinmark <device index> <pin> <enable>"));

    tools::board board;
    if (!tools::open_board(board, argv[0], argv[1]))
        return tools::finish(1);

    const std::int32_t pin = tools::read_number(argv[2]);
    const std::int32_t enable = tools::read_number(argv[3]);
    printf("\n");
    printf(" GI (%d) Time Stamp Enable: %d\n", pin, enable);

    const TSYNC_ERROR rc = TSYNC_GI_setTsEnable(board.handle, pin, enable);
    if (rc != TSYNC_SUCCESS) {
        tools::report(rc);
        return tools::finish(1);  // ends at once, without closing
    }
    return tools::finish(tools::close_board(board) ? 0 : 1);
}
