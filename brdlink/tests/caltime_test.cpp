#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <ctime>
#include <ostream>
#include <stdexcept>
#include <string>

#include "caltime.hpp"
#include "tz_scope.hpp"

namespace {

using brdlink_test::tz_scope;

struct civil {
    int year, month, day, hour, minute, second;
};

// ---- exact instants ------------------------------------------------------

struct instant_case {
    const char *name;
    const char *tz;
    civil local;
    std::int64_t subsecond_ns;
    caltime::instant expected;
};

void PrintTo(const instant_case &c, std::ostream *os) { *os << c.name << " in " << c.tz; }

const instant_case instant_cases[] = {
    {"Epoch", "UTC", {1970, 1, 1, 0, 0, 0}, 0, {0, 0}},
    // mktime answers -1 for this one, and it is a real instant.
    {"OneSecondBeforeEpoch", "UTC", {1969, 12, 31, 23, 59, 59}, 0, {-1, 0}},
    {"EpochLocalEastOfUtc", "Europe/Paris", {1970, 1, 1, 0, 0, 0}, 0, {-3600, 0}},
    {"EpochLocalPosixEast", "<+0530>-5:30", {1970, 1, 1, 0, 0, 0}, 0, {-19800, 0}},
    {"MinusOneLocalEast", "<+01>-1", {1970, 1, 1, 0, 59, 59}, 0, {-1, 0}},
    {"NoDataStampEast", "Europe/Paris", {1971, 3, 1, 0, 0, 0}, 0, {36633600 - 3600, 0}},
    {"NoDataStampWest", "America/New_York", {1971, 3, 1, 0, 0, 0}, 0, {36633600 + 5 * 3600, 0}},
    {"SummerTimeWest", "EST5EDT,M3.2.0,M11.1.0", {2024, 7, 1, 12, 0, 0}, 0, {1719849600, 0}},
    {"SubSecondAdded", "UTC", {2024, 7, 1, 16, 0, 0}, 123456789, {1719849600, 123456789}},
    {"FullSecondCarries", "UTC", {2023, 12, 31, 23, 59, 59}, 1000000000, {1704067200, 0}},
    {"BeforeEpochWithFraction", "UTC", {1969, 12, 31, 23, 59, 59}, 500000000, {-1, 500000000}},
};

class FromLocal : public testing::TestWithParam<instant_case> {};

TEST_P(FromLocal, GivesTheInstant)
{
    const instant_case &c = GetParam();
    tz_scope zone(c.tz);
    const caltime::instant t = caltime::from_local(c.local.year, c.local.month, c.local.day, c.local.hour,
                                                   c.local.minute, c.local.second, c.subsecond_ns);
    EXPECT_EQ(t.seconds, c.expected.seconds);
    EXPECT_EQ(t.nanoseconds, c.expected.nanoseconds);
}

INSTANTIATE_TEST_SUITE_P(Cases, FromLocal, testing::ValuesIn(instant_cases),
                         [](const testing::TestParamInfo<instant_case> &i) { return std::string(i.param.name); });

TEST(FromLocal, UnrepresentableTimeThrows)
{
    tz_scope zone("UTC");
    // The month carries the year past what struct tm can hold.
    EXPECT_THROW(caltime::from_local(INT_MAX, INT_MAX, 1, 0, 0, 0, 0), std::runtime_error);
    EXPECT_THROW(caltime::from_local(INT_MIN, 1, 1, 0, 0, 0, 0), std::runtime_error);
}

// ---- back to local fields ------------------------------------------------

class RoundTrip : public testing::TestWithParam<const char *> {};

TEST_P(RoundTrip, LocalFieldsComeBackInTheSameZone)
{
    tz_scope zone(GetParam());
    const civil dates[] = {
        {1901, 1, 1, 0, 0, 0},    {1969, 12, 31, 23, 59, 59}, {1970, 1, 1, 0, 0, 0}, {1971, 3, 1, 0, 0, 0},
        {2024, 2, 29, 12, 30, 45}, {2024, 7, 14, 23, 59, 59},  {2024, 12, 31, 0, 0, 0}, {2399, 12, 31, 23, 59, 59},
    };
    for (const civil &d : dates) {
        const caltime::instant t = caltime::from_local(d.year, d.month, d.day, d.hour, d.minute, d.second, 999);
        const caltime::local_fields f = caltime::to_local(t);
        EXPECT_EQ(f.year, d.year);
        EXPECT_EQ(f.month, d.month);
        EXPECT_EQ(f.day, d.day);
        EXPECT_EQ(f.hour, d.hour);
        EXPECT_EQ(f.minute, d.minute);
        EXPECT_EQ(f.second, d.second) << d.year << "-" << d.month << "-" << d.day;
        EXPECT_EQ(f.nanoseconds, 999);
    }
}

INSTANTIATE_TEST_SUITE_P(Zones, RoundTrip, testing::ValuesIn(brdlink_test::zones));

// The zone changed between two calls is the zone used.
TEST(ToLocal, FollowsTzChanges)
{
    const caltime::instant t{0, 0};
    {
        tz_scope zone("UTC");
        EXPECT_EQ(caltime::to_local(t).hour, 0);
    }
    {
        tz_scope zone("<+0530>-5:30");
        EXPECT_EQ(caltime::to_local(t).hour, 5);
        EXPECT_EQ(caltime::to_local(t).minute, 30);
    }
}

TEST(ToLocal, InstantWithoutLocalDateThrows)
{
    tz_scope zone("UTC");
    EXPECT_THROW(caltime::to_local({INT64_MAX, 0}), std::runtime_error);
}

// ---- pictures ------------------------------------------------------------

struct format_case {
    const char *name;
    caltime::instant t;
    const char *picture;
    const char *expected;
};

void PrintTo(const format_case &c, std::ostream *os) { *os << c.name; }

constexpr std::int64_t no_data_utc = 36633600; // 1971-03-01 00:00:00 UTC

const format_case format_cases[] = {
    {"IrigImage", {no_data_utc, 0}, "%Y-%m-%d_%H:%M:%S.%e_UTC", "1971-03-01_00:00:00.000000_UTC"},
    {"PcImage", {1719849600 + 3723, 456789000}, "%Y-%m-%d_%H:%M:%S.%e", "2024-07-01_17:02:03.456789"},
    {"FileLine1", {no_data_utc, 0}, "%Y-%m-%d_%H:%M:%S.%e_UTC  # Irig_b clock",
     "1971-03-01_00:00:00.000000_UTC  # Irig_b clock"},
    {"FileLine2", {no_data_utc, 0}, "%Y-%m-%d_%H:%M:%S.%e # System clock",
     "1971-03-01_00:00:00.000000 # System clock"},
    {"FractionTruncatedNeverCarries", {no_data_utc + 59, 999999999}, "%S.%e", "59.999999"},
    {"FractionBelowOneMicrosecond", {no_data_utc, 999}, "%e", "000000"},
    {"FractionSmall", {no_data_utc, 1999}, "%e", "000001"},
    {"YearFourDigits", {-30620851200, 0}, "%Y", "0999"},
    {"BeforeEpoch", {-1, 5000}, "%Y-%m-%d %H:%M:%S.%e", "1969-12-31 23:59:59.000005"},
    {"PercentPairCopied", {no_data_utc, 0}, "100%%Y", "100%%Y"},
    {"UnknownDirectiveCopied", {no_data_utc, 0}, "%x %Q %y", "%x %Q %y"},
    {"TrailingPercent", {no_data_utc, 0}, "%Y%", "1971%"},
    {"Empty", {no_data_utc, 0}, "", ""},
};

class Format : public testing::TestWithParam<format_case> {};

TEST_P(Format, WritesThePicture)
{
    tz_scope zone("UTC");
    const format_case &c = GetParam();
    EXPECT_EQ(caltime::format(c.t, c.picture), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, Format, testing::ValuesIn(format_cases),
                         [](const testing::TestParamInfo<format_case> &i) { return std::string(i.param.name); });

TEST(Format, ShowsLocalTime)
{
    tz_scope zone("Europe/Paris");
    EXPECT_EQ(caltime::format({no_data_utc, 0}, "%Y-%m-%d_%H:%M:%S"), "1971-03-01_01:00:00");
}

TEST(Now, IsTheWallClock)
{
    const std::time_t before = std::time(nullptr);
    const caltime::instant t = caltime::now();
    const std::time_t after = std::time(nullptr);
    EXPECT_GE(t.seconds, before);
    EXPECT_LE(t.seconds, after);
    EXPECT_GE(t.nanoseconds, 0);
    EXPECT_LT(t.nanoseconds, 1000000000);
}

} // namespace
