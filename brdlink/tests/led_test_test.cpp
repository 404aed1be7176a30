// Led_Test against the emulated board, with its real one-second pauses.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "board_fixture.hpp"
#include "brdlink.h"

namespace {

using brdlink_test::board_dir;
using brdlink_test::capture_stdout;
using brdlink_test::fail_always;
using brdlink_test::fail_once;

constexpr std::int64_t ms = 1000000;

struct led_op {
    emu::op operation;
    std::int32_t led, value;
    bool operator==(const led_op &) const = default;
};

std::ostream &operator<<(std::ostream &os, const led_op &o)
{
    return os << emu::op_name(o.operation) << "(" << o.led << ", " << o.value << ")";
}

std::vector<led_op> expected_sequence()
{
    std::vector<led_op> seq;
    for (std::int32_t led = 0; led < 3; ++led)
        seq.push_back({emu::op::EC_setMode, led, 4});
    for (int pass = 0; pass < 2; ++pass)
        for (std::int32_t led = 0; led < 3; ++led) {
            seq.push_back({emu::op::EC_setState, led, 1});
            seq.push_back({emu::op::EC_setState, led, 0});
        }
    for (std::int32_t led = 0; led < 3; ++led)
        seq.push_back({emu::op::EC_setMode, led, led});
    return seq;
}

struct sequence_case {
    const char *name;
    std::vector<emu::fault_rule> faults;
    std::int32_t led_rc;
};

void PrintTo(const sequence_case &c, std::ostream *os) { *os << c.name; }

const sequence_case sequence_cases[] = {
    {"Board", {}, emu::rc_ok},
    {"EveryLedOperationFails",
     {fail_always(emu::op::EC_setMode, emu::rc_io), fail_always(emu::op::EC_setState, emu::rc_io)}, emu::rc_io},
};

class LedSequence : public testing::TestWithParam<sequence_case> {
protected:
    board_dir dir;
};

TEST_P(LedSequence, WalksTwiceOneSecondEachThenOwnModes)
{
    emu::board b;
    b.faults = GetParam().faults;
    dir.put_board(b);

    EXPECT_EQ(capture_stdout([] { Led_Test(); }), "");

    const emu::board after = dir.board();
    std::vector<led_op> seq;
    for (const auto &e : after.led_log) {
        seq.push_back({e.operation, e.led, e.value});
        EXPECT_EQ(e.rc, GetParam().led_rc);
    }
    ASSERT_EQ(seq, expected_sequence());

    // Each LED is lit for one whole-second pause; the next is lit at once.
    const auto &log = after.led_log;
    for (std::size_t on = 3; on < 15; on += 2) {
        const std::int64_t lit = log[on + 1].realtime_ns - log[on].realtime_ns;
        EXPECT_GE(lit, 1000 * ms) << "LED event " << on;
        EXPECT_LT(lit, 1800 * ms) << "LED event " << on;
        const std::int64_t gap = log[on + 2].realtime_ns - log[on + 1].realtime_ns;
        EXPECT_LT(gap, 500 * ms) << "LED event " << on + 1;
    }
    ASSERT_FALSE(after.calls.empty());
    EXPECT_EQ(after.calls.back().operation, emu::op::close);
    EXPECT_EQ(after.open_handles, 0u);
    if (GetParam().led_rc == emu::rc_ok) {
        for (std::uint32_t led = 0; led < 3; ++led) {
            EXPECT_EQ(after.leds[led].mode, led);
            EXPECT_EQ(after.leds[led].state, 0u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LedSequence, testing::ValuesIn(sequence_cases),
                         [](const testing::TestParamInfo<sequence_case> &i) { return std::string(i.param.name); });

TEST(LedTestNoBoard, ReturnsAtOnceSilently)
{
    board_dir dir;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(capture_stdout([] { Led_Test(); }), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

TEST(LedTestOpenFails, CallsNothingAfterTheOpen)
{
    board_dir dir;
    emu::board b;
    b.faults = {fail_once(emu::op::open, emu::rc_access)};
    dir.put_board(b);
    EXPECT_EQ(capture_stdout([] { Led_Test(); }), "");
    const emu::board after = dir.board();
    EXPECT_TRUE(after.led_log.empty());
    ASSERT_EQ(after.calls.size(), 1u);
    EXPECT_EQ(after.calls.front().operation, emu::op::open);
}

} // namespace
