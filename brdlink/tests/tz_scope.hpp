// Runs a test under one TZ value and puts the old one back afterwards.
#ifndef ORVANE_BRDLINK_TESTS_TZ_SCOPE_HPP
#define ORVANE_BRDLINK_TESTS_TZ_SCOPE_HPP

#include <cstdlib>
#include <optional>
#include <string>
#include <time.h>

namespace brdlink_test {

class tz_scope {
public:
    explicit tz_scope(const char *tz)
    {
        if (const char *old = std::getenv("TZ"))
            old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~tz_scope()
    {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    tz_scope(const tz_scope &) = delete;
    tz_scope &operator=(const tz_scope &) = delete;

private:
    std::optional<std::string> old_;
};

// Zones east and west of UTC, with and without daylight saving, by name
// and as POSIX strings.
inline constexpr const char *zones[] = {
    "UTC", "Europe/Paris", "America/New_York", "Asia/Kolkata", "Pacific/Kiritimati",
    "EST5EDT,M3.2.0,M11.1.0", "<+0530>-5:30", "<-10>10",
};

} // namespace brdlink_test

#endif
