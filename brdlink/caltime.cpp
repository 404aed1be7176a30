// Calendar time in the machine's local time zone, through the C library's
// zone rules (TZ, zoneinfo files and POSIX zone strings alike).
#include "caltime.hpp"

#include <climits>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <time.h>

namespace caltime {

namespace {

constexpr std::int64_t ns_per_second = 1000000000;

void append_number(std::string &out, int value, int width)
{
    char buf[16];
    const int n = std::snprintf(buf, sizeof buf, "%0*d", width, value);
    out.append(buf, static_cast<std::size_t>(n));
}

[[noreturn]] void unrepresentable(int year, int month, int day, int hour, int minute, int second)
{
    throw std::runtime_error("local time " + std::to_string(year) + "-" + std::to_string(month) + "-" +
                             std::to_string(day) + " " + std::to_string(hour) + ":" + std::to_string(minute) + ":" +
                             std::to_string(second) + " cannot be represented");
}

} // namespace

instant from_local(int year, int month, int day, int hour, int minute, int second, std::int64_t subsecond_ns)
{
    // struct tm counts years from 1900 and months from 0; both must fit an int.
    const std::int64_t tm_year = std::int64_t{year} - 1900;
    const std::int64_t tm_mon = std::int64_t{month} - 1;
    if (tm_year < INT_MIN || tm_mon < INT_MIN)
        unrepresentable(year, month, day, hour, minute, second);

    std::tm tm{};
    tm.tm_year = static_cast<int>(tm_year);
    tm.tm_mon = static_cast<int>(tm_mon);
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1; // let the zone's rules decide
    // -1 is also a real instant (one second before 1970 UTC): mktime fills
    // in tm_wday only on success, so that tells the two apart.
    tm.tm_wday = -1;
    const std::time_t whole = std::mktime(&tm);
    if (whole == static_cast<std::time_t>(-1) && tm.tm_wday == -1)
        unrepresentable(year, month, day, hour, minute, second);

    // Floor division, so that a full second (or more) carries upwards.
    std::int64_t carry = subsecond_ns / ns_per_second;
    std::int64_t rest = subsecond_ns % ns_per_second;
    if (rest < 0) {
        rest += ns_per_second;
        --carry;
    }
    return {static_cast<std::int64_t>(whole) + carry, static_cast<std::int32_t>(rest)};
}

local_fields to_local(instant t)
{
    // localtime_r need not look at TZ again by itself.
    tzset();
    const auto whole = static_cast<std::time_t>(t.seconds);
    std::tm tm{};
    if (localtime_r(&whole, &tm) == nullptr || tm.tm_year > INT_MAX - 1900)
        throw std::runtime_error("instant " + std::to_string(t.seconds) + " s has no local date");
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, t.nanoseconds};
}

std::string format(instant t, std::string_view picture)
{
    const local_fields f = to_local(t);
    std::string out;
    out.reserve(picture.size() + 16);
    for (std::size_t i = 0; i < picture.size(); ++i) {
        if (picture[i] != '%' || i + 1 == picture.size()) {
            out += picture[i];
            continue;
        }
        switch (picture[i + 1]) {
        case 'Y': append_number(out, f.year, 4); break;
        case 'm': append_number(out, f.month, 2); break;
        case 'd': append_number(out, f.day, 2); break;
        case 'H': append_number(out, f.hour, 2); break;
        case 'M': append_number(out, f.minute, 2); break;
        case 'S': append_number(out, f.second, 2); break;
        case 'e': append_number(out, f.nanoseconds / 1000, 6); break; // truncated, never carries
        default: out.append(picture.substr(i, 2)); break;             // "%%" and the like, unchanged
        }
        ++i;
    }
    return out;
}

instant now() noexcept
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return {static_cast<std::int64_t>(ts.tv_sec), static_cast<std::int32_t>(ts.tv_nsec)};
}

} // namespace caltime
