#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tsync.hpp"

namespace {

struct sub_case {
    std::uint32_t nanoseconds;
    std::int64_t sub_second;
};

void PrintTo(const sub_case &c, std::ostream *os) { *os << c.nanoseconds; }

const sub_case sub_cases[] = {
    {0, 0},
    {1, 1},
    {7812507, 7812507},          // last value that comes through unchanged
    {7812508, 7812507},          // first one off
    {123456789, 123456791},
    {500976562, 500976563},      // product 500976562.5: halves away from zero
    {979766816, 979766726},
    {999999967, 999999881},
    {999999968, 1000000000},     // first value that becomes a full second
    {999999999, 1000000000},
    {1000000000, 1000000000},
    {1000000095, 1000000000},
    {1000000096, 1000000119},    // first value beyond a second
    {4294967295u, 4294967175},
};

class SubSecond : public testing::TestWithParam<sub_case> {};

TEST_P(SubSecond, IsTheSinglePrecisionResult)
{
    EXPECT_EQ(tsync::sub_second(GetParam().nanoseconds), GetParam().sub_second);
}

INSTANTIATE_TEST_SUITE_P(Values, SubSecond, testing::ValuesIn(sub_cases),
                         [](const testing::TestParamInfo<sub_case> &i) { return std::to_string(i.param.nanoseconds); });

} // namespace
