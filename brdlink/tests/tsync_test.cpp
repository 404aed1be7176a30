#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "board_fixture.hpp"
#include "orvane_core.hpp"
#include "tsync.hpp"
#include "tz_scope.hpp"

namespace {

using brdlink_test::board_dir;
using brdlink_test::capture_stdout;
using brdlink_test::fail_always;
using brdlink_test::fail_once;
using brdlink_test::tz_scope;

struct civil {
    int year, month, day, hour, minute, second;
    std::int32_t ns;
    bool operator==(const civil &) const = default;
};

std::ostream &operator<<(std::ostream &os, const civil &c)
{
    return os << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute << ":" << c.second
              << "." << c.ns;
}

civil local(caltime::instant t)
{
    const caltime::local_fields f = caltime::to_local(t);
    return {f.year, f.month, f.day, f.hour, f.minute, f.second, f.nanoseconds};
}

emu::board board_with(std::vector<emu::stamp> store, std::vector<emu::fault_rule> faults = {})
{
    emu::board b;
    b.store.assign(store.begin(), store.end());
    b.faults = std::move(faults);
    return b;
}

// ---- check_and_reset -----------------------------------------------------

struct reset_case {
    const char *name;
    std::vector<emu::fault_rule> faults;
    bool usable;
};

void PrintTo(const reset_case &c, std::ostream *os) { *os << c.name; }

const reset_case reset_cases[] = {
    {"Drained", {}, true},
    {"OpenFails", {fail_once(emu::op::open, emu::rc_access)}, false},
    {"ReadFails", {fail_once(emu::op::HW_getTsData, emu::rc_io)}, false},
    {"CloseFails", {fail_once(emu::op::close, emu::rc_timeout)}, false},
};

class CheckAndReset : public testing::TestWithParam<reset_case> {
protected:
    board_dir dir;
};

TEST_P(CheckAndReset, TellsWhetherTheBoardIsUsableAndPrintsNothing)
{
    dir.put_board(board_with({{2024, 1, 0, 0, 0, 0, 1}}, GetParam().faults));
    bool usable = !GetParam().usable;
    EXPECT_EQ(capture_stdout([&] { usable = tsync::check_and_reset(); }), "");
    EXPECT_EQ(usable, GetParam().usable);
}

INSTANTIATE_TEST_SUITE_P(Cases, CheckAndReset, testing::ValuesIn(reset_cases),
                         [](const testing::TestParamInfo<reset_case> &i) { return std::string(i.param.name); });

TEST(CheckAndResetNoBoard, IsFalse)
{
    board_dir dir;
    EXPECT_FALSE(tsync::check_and_reset());
}

// ---- first_time: accepted stamps -----------------------------------------

struct time_case {
    const char *name;
    bool board = true;
    std::vector<emu::stamp> store;
    std::vector<emu::fault_rule> faults;
    bool valid;
    civil t0;
};

void PrintTo(const time_case &c, std::ostream *os) { *os << c.name; }

const civil epoch{1970, 1, 1, 0, 0, 0, 0};
const civil no_data{1971, 3, 1, 0, 0, 0, 0};

const time_case time_cases[] = {
    {"NoBoard", false, {}, {}, false, epoch},
    {"OpenFails", true, {{2024, 100, 1, 2, 3, 4, 1}}, {fail_once(emu::op::open, emu::rc_access)}, false, epoch},
    {"ReadFails", true, {{2024, 100, 1, 2, 3, 4, 1}}, {fail_once(emu::op::HW_getTsSingle, emu::rc_io)}, false,
     epoch},
    {"EmptyStore", true, {}, {}, true, no_data},
    {"Stamp", true, {{2024, 100, 1, 2, 3, 4, 1}}, {}, true, {2024, 4, 9, 1, 2, 3, 4}},
    {"StampWithoutSync", true, {{2024, 100, 1, 2, 3, 4, 0}}, {}, true, {2024, 4, 9, 1, 2, 3, 4}},
    {"CloseFailsAfterStamp", true, {{2024, 100, 1, 2, 3, 4, 1}}, {fail_once(emu::op::close, emu::rc_timeout)},
     false, {2024, 4, 9, 1, 2, 3, 4}},
    {"CloseFailsAfterNoData", true, {}, {fail_once(emu::op::close, emu::rc_timeout)}, false, no_data},
    {"DaySixtyLeapYear", true, {{2024, 60, 0, 0, 0, 0, 1}}, {}, true, {2024, 2, 29, 0, 0, 0, 0}},
    {"DaySixtyCommonYear", true, {{2023, 60, 0, 0, 0, 0, 1}}, {}, true, {2023, 3, 1, 0, 0, 0, 0}},
    {"Day366LeapYear", true, {{2024, 366, 12, 0, 0, 0, 1}}, {}, true, {2024, 12, 31, 12, 0, 0, 0}},
    {"LowestYear", true, {{1901, 1, 0, 0, 0, 0, 1}}, {}, true, {1901, 1, 1, 0, 0, 0, 0}},
    {"HighestFields", true, {{2399, 365, 23, 59, 59, 999999967, 1}}, {}, true,
     {2399, 12, 31, 23, 59, 59, 999999881}},
    {"HalfwayRoundsUp", true, {{2024, 100, 1, 2, 3, 500976562, 1}}, {}, true, {2024, 4, 9, 1, 2, 3, 500976563}},
    {"NearlyOneSecondCarriesIntoNewYear", true, {{2023, 365, 23, 59, 59, 999999968, 1}}, {}, true,
     {2024, 1, 1, 0, 0, 0, 0}},
    {"OverOneSecondStillCarries", true, {{2023, 365, 23, 59, 59, 1000000095, 1}}, {}, true,
     {2024, 1, 1, 0, 0, 0, 0}},
};

class FirstTime : public testing::TestWithParam<time_case> {
protected:
    board_dir dir;
    tz_scope zone{"UTC"};
};

TEST_P(FirstTime, GivesFlagAndT0Instant)
{
    const time_case &c = GetParam();
    if (c.board)
        dir.put_board(board_with(c.store, c.faults));
    std::pair<bool, caltime::instant> result;
    capture_stdout([&] { result = tsync::first_time(); });
    EXPECT_EQ(result.first, c.valid);
    EXPECT_EQ(local(result.second), c.t0);
}

INSTANTIATE_TEST_SUITE_P(Cases, FirstTime, testing::ValuesIn(time_cases),
                         [](const testing::TestParamInfo<time_case> &i) { return std::string(i.param.name); });

// The only lines during first_time are HW_GetTsSingle's own.
TEST(FirstTimeOutput, IsTheReadLineAlone)
{
    board_dir dir;
    dir.put_board(board_with({{2024, 100, 1, 2, 3, 4, 1}}));
    EXPECT_EQ(capture_stdout([] { tsync::first_time(); }), "  100, 2024 01:02:03.000000004, Sync\n");
}

TEST(FirstTimeCalendar, Day366OfCommonYearIsTheCalendarsError)
{
    board_dir dir;
    dir.put_board(board_with({{2023, 366, 0, 0, 0, 0, 1}}));
    capture_stdout([] { EXPECT_THROW(tsync::first_time(), core::error); });
}

// ---- first_time: range errors --------------------------------------------

struct range_case {
    const char *name;
    emu::stamp stamp;
    std::vector<emu::fault_rule> faults;
    int line;
    const char *what;
};

void PrintTo(const range_case &c, std::ostream *os) { *os << c.name; }

const range_case range_cases[] = {
    {"YearTooLow", {1900, 1, 0, 0, 0, 0, 1}, {}, 44, "tsync:44: year 1900 is outside 1901 to 2399"},
    {"YearTooHigh", {2400, 1, 0, 0, 0, 0, 1}, {}, 44, "tsync:44: year 2400 is outside 1901 to 2399"},
    {"YearZero", {0, 1, 0, 0, 0, 0, 1}, {}, 44, "tsync:44: year 0 is outside 1901 to 2399"},
    {"DayOfYearTooHigh", {2024, 367, 0, 0, 0, 0, 1}, {}, 45, "tsync:45: day of year 367 is outside 1 to 366"},
    {"HourTooHigh", {2024, 1, 24, 0, 0, 0, 1}, {}, 46, "tsync:46: hour 24 is outside 0 to 23"},
    {"MinuteTooHigh", {2024, 1, 0, 60, 0, 0, 1}, {}, 47, "tsync:47: minute 60 is outside 0 to 59"},
    {"SecondSixty", {2024, 1, 0, 0, 60, 0, 1}, {}, 48, "tsync:48: second 60 is outside 0 to 59"},
    {"SubSecondBeyondOne", {2024, 1, 0, 0, 0, 1000000096, 1}, {}, 49,
     "tsync:49: sub-second 1000000119 is outside 0 to 1000000000"},
    {"NanosecondsLargest", {2024, 1, 0, 0, 0, 4294967295u, 1}, {}, 49,
     "tsync:49: sub-second 4294967175 is outside 0 to 1000000000"},
    {"YearCheckedBeforeHour", {1900, 1, 24, 0, 0, 0, 1}, {}, 44, "tsync:44: year 1900 is outside 1901 to 2399"},
    {"HourCheckedBeforeSubSecond", {2024, 1, 24, 0, 0, 4294967295u, 1}, {}, 46,
     "tsync:46: hour 24 is outside 0 to 23"},
    {"RaisedAlsoWhenCloseFails", {2024, 1, 0, 0, 60, 0, 1}, {fail_once(emu::op::close, emu::rc_timeout)}, 48,
     "tsync:48: second 60 is outside 0 to 59"},
};

class FirstTimeRange : public testing::TestWithParam<range_case> {
protected:
    board_dir dir;
};

TEST_P(FirstTimeRange, RaisesForTheFirstFieldOutOfRange)
{
    const range_case &c = GetParam();
    dir.put_board(board_with({c.stamp}, c.faults));
    capture_stdout([&] {
        try {
            tsync::first_time();
            ADD_FAILURE() << "no range error";
        } catch (const tsync::range_error &e) {
            EXPECT_EQ(e.line(), c.line);
            EXPECT_STREQ(e.source(), "tsync");
            EXPECT_STREQ(e.what(), c.what);
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Cases, FirstTimeRange, testing::ValuesIn(range_cases),
                         [](const testing::TestParamInfo<range_case> &i) { return std::string(i.param.name); });

// ---- first_time: the zone does not change the board's date ---------------

class FirstTimeZone : public testing::TestWithParam<const char *> {
protected:
    board_dir dir;
};

TEST_P(FirstTimeZone, LocalFieldsAreTheBoardsInEveryZone)
{
    tz_scope zone(GetParam());
    struct {
        emu::stamp stamp;
        civil expected;
    } const rows[] = {
        {{1970, 1, 0, 0, 0, 0, 1}, {1970, 1, 1, 0, 0, 0, 0}},
        {{2024, 15, 8, 30, 0, 250000000, 1}, {2024, 1, 15, 8, 30, 0, 250000000}},
        {{2024, 196, 23, 59, 59, 123456789, 1}, {2024, 7, 14, 23, 59, 59, 123456791}},
    };
    for (const auto &row : rows) {
        dir.put_board(board_with({row.stamp}));
        std::pair<bool, caltime::instant> result;
        capture_stdout([&] { result = tsync::first_time(); });
        EXPECT_TRUE(result.first);
        EXPECT_EQ(local(result.second), row.expected);
    }
    // The no-data stamp, and the initial values when the board does not open.
    struct {
        std::vector<emu::fault_rule> faults;
        civil expected;
    } const empty_rows[] = {{{}, no_data}, {{fail_once(emu::op::open, emu::rc_access)}, epoch}};
    for (const auto &row : empty_rows) {
        dir.put_board(board_with({}, row.faults));
        std::pair<bool, caltime::instant> result;
        capture_stdout([&] { result = tsync::first_time(); });
        EXPECT_EQ(local(result.second), row.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Zones, FirstTimeZone, testing::ValuesIn(brdlink_test::zones));

} // namespace
