// Shared by the board tools: number reading, the device path, the open and
// close cycle with its messages, the usage line and the checked exit.
#ifndef ORVANE_TOOLS_COMMON_H
#define ORVANE_TOOLS_COMMON_H

#include <cstdint>

#include "tsync.h"

namespace tools {

// The decimal number at the start of text: blanks, an optional sign, digits
// up to the first non-digit; no number gives 0. Digits beyond the 32-bit
// range clamp to INT32_MIN or INT32_MAX.
std::int32_t read_number(const char *text);
// The same 32 bits read as unsigned: "-1" gives 4294967295.
std::uint32_t read_unsigned(const char *text);

struct board {
    const char *name = nullptr;  // invocation name, as typed
    char path[24 + 1] = {};      // "/dev/tsyncpci" and at most 11 digits and sign
    TSYNC_BoardHandle handle = nullptr;
};

// Print " Usage: <synopsis>"; gives the status of a wrong command line.
int usage(const char *synopsis);
// Read the index, build the path and open the board; false (and the
// message printed) when the open failed.
bool open_board(board &b, const char *name, const char *index_text);
// Print the driver's text of a failed call; gives that text.
const char *report(TSYNC_ERROR rc);
// Close the board; false (and the message printed) when the close failed.
bool close_board(board &b);
// The exit status: status itself, or 1 when standard output could not be
// written completely.
int finish(int status);

} // namespace tools

#endif
