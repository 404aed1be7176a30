// brdanno: set the year of the board's clock source.
#include <cstdio>
#include <cstring>

#include "tools-common.h"

int main(int argc, char **argv)
{
    if (argc < 3)  // arguments after the year are ignored
        return tools::finish(tools::usage("brdanno <device index> <year>"));

    tools::board board;
    if (!tools::open_board(board, argv[0], argv[1]))
        return tools::finish(1);

    std::uint32_t year = tools::read_unsigned(argv[2]);
    printf("\n");
    printf(" Year: %u\n", year);

    int status = 0;
    const TSYNC_ERROR rc = TSYNC_CS_setYear(board.handle, &year);
    if (rc != TSYNC_SUCCESS) {
        // A change that is pending is told apart by its text alone.
        status = strstr(tools::report(rc), "RC_CHG_PENDING") != nullptr ? 2 : 1;
    }

    if (!tools::close_board(board))
        status = 1;
    return tools::finish(status);
}
