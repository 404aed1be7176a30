// Calendar time: an instant with nanosecond resolution, converted to and
// from civil fields in the machine's local time zone (TZ honoured).
#ifndef ORVANE_CALTIME_HPP
#define ORVANE_CALTIME_HPP

#include <cstdint>
#include <string>
#include <string_view>

#include "brdlink.h"

namespace caltime {

struct instant {
    std::int64_t seconds = 0;     // since 1970-01-01 00:00:00 UTC
    std::int32_t nanoseconds = 0; // 0 to 999999999
    bool operator==(const instant &) const = default;
};

struct local_fields {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    std::int32_t nanoseconds = 0;
};

// The instant at which the local civil time year-month-day hour:minute:second
// holds, plus subsecond_ns (0 to 1000000000; 1000000000 is the next second).
// Throws std::runtime_error when the time cannot be represented.
BRDLINK_API instant from_local(int year, int month, int day, int hour, int minute, int second,
                               std::int64_t subsecond_ns);

// The local civil fields of an instant. Throws std::runtime_error when the
// instant lies too far out for a local date.
BRDLINK_API local_fields to_local(instant t);

// Writes t through a picture: %Y %m %d %H %M %S as usual, %e the fraction
// in whole microseconds (six digits, truncated); every other character,
// "%%" included as two characters, is copied unchanged.
BRDLINK_API std::string format(instant t, std::string_view picture);

// The wall clock (CLOCK_REALTIME) now.
BRDLINK_API instant now() noexcept;

} // namespace caltime

#endif
