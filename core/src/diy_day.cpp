// Day of year to month and day of month, Gregorian calendar.
#include "orvane_core.hpp"

namespace diy_day {

std::pair<std::int32_t, std::int32_t> diy_to_day(std::int32_t year, std::int32_t day_of_year)
{
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const std::int32_t days_in_year = leap ? 366 : 365;
    if (day_of_year < 1 || day_of_year > days_in_year)
        throw core::error("day of year " + std::to_string(day_of_year) + " is not in year " + std::to_string(year) +
                          " (1 to " + std::to_string(days_in_year) + ")");
    static constexpr std::int32_t month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    std::int32_t day = day_of_year;
    for (std::int32_t month = 0; month < 12; ++month) {
        const std::int32_t length = month_days[month] + (month == 1 && leap ? 1 : 0);
        if (day <= length)
            return {month + 1, day};
        day -= length;
    }
    return {12, 31}; // not reached: day_of_year was checked above
}

} // namespace diy_day
