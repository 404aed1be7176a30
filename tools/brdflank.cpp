// brdflank: set the active edge of one board input.
#include <cstdio>

#include "tools-common.h"

int main(int argc, char **argv)
{
    if (argc != 4)
        return tools::finish(tools::usage("brdflank <device index> <pin> <edge>"));

    tools::board board;
    if (!tools::open_board(board, argv[0], argv[1]))
        return tools::finish(1);

    const std::int32_t pin = tools::read_number(argv[2]);
    const std::int32_t edge = tools::read_number(argv[3]);
    printf("\n");
    printf(" GI (%d) edge: %u\n", pin, static_cast<std::uint32_t>(edge));

    const TSYNC_ERROR rc = TSYNC_GI_setEdge(board.handle, pin, edge);
    if (rc != TSYNC_SUCCESS) {
        tools::report(rc);
        return tools::finish(1);  // ends at once, without closing
    }
    return tools::finish(tools::close_board(board) ? 0 : 1);
}
