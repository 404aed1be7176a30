// The tsync unit: the board's first time stamp as a checked calendar time.
#include "tsync.hpp"

#include <cmath>
#include <string>

#include "orvane_core.hpp"

namespace tsync {

namespace {

// Raises the range error for value outside low..high, both ends allowed.
template <typename T>
void check(int line, const char *field, T value, T low, T high)
{
    if (value < low || value > high)
        throw range_error(line, std::string(field) + " " + std::to_string(value) + " is outside " +
                                    std::to_string(low) + " to " + std::to_string(high));
}

} // namespace

range_error::range_error(int line, const std::string &message)
    : std::runtime_error("tsync:" + std::to_string(line) + ": " + message), line_(line)
{
}

bool check_and_reset()
{
    return HW_GetTsData() == 0;
}

std::int64_t sub_second(std::uint32_t nanoseconds)
{
    // Single precision, one rounding per step; volatile keeps the compiler
    // from folding the steps together or carrying them wider.
    volatile float value = static_cast<float>(nanoseconds);
    volatile float scaled = value * 1.0e-9f;
    const double widened = static_cast<double>(scaled) * 1.0e9; // exact in double
    return std::llround(widened);                               // halves away from zero
}

std::pair<bool, caltime::instant> first_time()
{
    // What stays when HW_GetTsSingle writes nothing: 1 January 1970, midnight.
    std::uint8_t valid = 0;
    std::uint32_t year = 1970, doy = 1, hour = 0, minute = 0, second = 0, ns = 0;
    HW_GetTsSingle(&valid, &year, &doy, &hour, &minute, &second, &ns);

    // Checked whatever the flag says, in this order.
    check<std::uint32_t>(44, "year", year, 1901, 2399);
    check<std::uint32_t>(45, "day of year", doy, 1, 366);
    check<std::uint32_t>(46, "hour", hour, 0, 23);
    check<std::uint32_t>(47, "minute", minute, 0, 59);
    check<std::uint32_t>(48, "second", second, 0, 59);
    const std::int64_t sub = sub_second(ns);
    check<std::int64_t>(49, "sub-second", sub, 0, 1000000000);

    const auto [month, day] = diy_day::diy_to_day(static_cast<std::int32_t>(year), static_cast<std::int32_t>(doy));
    const caltime::instant t =
        caltime::from_local(static_cast<int>(year), month, day, static_cast<int>(hour),
                            static_cast<int>(minute), static_cast<int>(second), sub);
    return {valid != 0, t};
}

} // namespace tsync
