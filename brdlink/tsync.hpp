// The tsync unit: what the T0 marker sees of the board.
#ifndef ORVANE_TSYNC_UNIT_HPP
#define ORVANE_TSYNC_UNIT_HPP

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "brdlink.h"
#include "caltime.hpp"

namespace tsync {

// A board field outside its range. what() reads
// "tsync:<line>: <field> <value> is outside <low> to <high>".
class BRDLINK_API range_error : public std::runtime_error {
public:
    range_error(int line, const std::string &message);
    const char *source() const noexcept { return "tsync"; }
    int line() const noexcept { return line_; }

private:
    int line_;
};

// Drain the time-stamp store; true when the board is usable.
BRDLINK_API bool check_and_reset();

// The validity flag and the T0 instant of the earliest stamp since the last
// drain. Throws range_error for the first field out of range.
BRDLINK_API std::pair<bool, caltime::instant> first_time();

// The sub-second in nanoseconds handed to the calendar for a nanoseconds
// field, worked out in single precision.
BRDLINK_API std::int64_t sub_second(std::uint32_t nanoseconds);

} // namespace tsync

#endif
