// Every driver call of the board tools and of lampcheck made to fail in
// turn, with several codes: the documented message and status for each, the
// handle closed where the tool is meant to close it, no crash, no hang.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reliability.hpp"

namespace {

using emu::op;
using rel::fault_row;
using rel::sweep_case;

const std::string doy_block = "\n DOY Time:\n  Year: 2024\n  DOY:  005\n  Hr:   07\n  Min:  03\n  Sec:  09\n"
                              "  Nsec: 000000045\n  Sync: TRUE\n";

std::string open_fail(const std::string &tool)
{
    return tool + ": !Could not open </dev/tsyncpci0> : rc <{rc}>\n";
}
std::string close_fail(const std::string &tool) { return tool + ": error closing </dev/tsyncpci0> rc: <{rc}>\n"; }

// One table per tool, good for any code.
struct tool_table {
    std::string name;
    std::vector<std::string> argv;
    std::string clean_out;
    std::string clean_calls;
    std::vector<fault_row> rows;
};

const std::vector<tool_table> tool_tables = {
    {"brdclock", {"brdclock", "0"}, doy_block, "open HW_getTime close",
     {
         {op::open, 0, open_fail("brdclock"), 1, "open={rc}", 0},
         // ends at once after a failed read: the handle goes with the process
         {op::HW_getTime, 0, "{err}", 1, "open HW_getTime={rc}", 1},
         // a faulted close leaves the board's count as it was
         {op::close, 0, doy_block + close_fail("brdclock"), 1, "open HW_getTime close={rc}", 1},
     }},
    {"brdanno", {"brdanno", "0", "2026"}, "\n Year: 2026\n", "open CS_setYear close",
     {
         {op::open, 0, open_fail("brdanno"), 1, "open={rc}", 0},
         // the one tool that closes after a refused setting
         {op::CS_setYear, 0, "\n Year: 2026\n{err}", rel::pending_status, "open CS_setYear={rc} close", 0},
         {op::close, 0, "\n Year: 2026\n" + close_fail("brdanno"), 1, "open CS_setYear close={rc}", 1},
     }},
    {"brdflank", {"brdflank", "0", "1", "0"}, "\n GI (1) edge: 0\n", "open GI_setEdge close",
     {
         {op::open, 0, open_fail("brdflank"), 1, "open={rc}", 0},
         {op::GI_setEdge, 0, "\n GI (1) edge: 0\n{err}", 1, "open GI_setEdge={rc}", 1},
         {op::close, 0, "\n GI (1) edge: 0\n" + close_fail("brdflank"), 1, "open GI_setEdge close={rc}", 1},
     }},
    {"brdpinmark", {"brdpinmark", "0", "2", "1"}, "\n GI (2) Time Stamp Enable: 1\n", "open GI_setTsEnable close",
     {
         {op::open, 0, open_fail("brdpinmark"), 1, "open={rc}", 0},
         {op::GI_setTsEnable, 0, "\n GI (2) Time Stamp Enable: 1\n{err}", 1, "open GI_setTsEnable={rc}", 1},
         {op::close, 0, "\n GI (2) Time Stamp Enable: 1\n" + close_fail("brdpinmark"), 1,
          "open GI_setTsEnable close={rc}", 1},
     }},
    {"brdmark", {"brdmark", "0", "1"}, "\n Hardware Time Stamp Enable: 1\n", "open HW_setTsEnable close",
     {
         {op::open, 0, open_fail("brdmark"), 1, "open={rc}", 0},
         {op::HW_setTsEnable, 0, "\n Hardware Time Stamp Enable: 1\n{err}", 1, "open HW_setTsEnable={rc}", 1},
         {op::close, 0, "\n Hardware Time Stamp Enable: 1\n" + close_fail("brdmark"), 1,
          "open HW_setTsEnable close={rc}", 1},
     }},
};

// The codes tried: an ordinary failure, the pending change and its
// lower-case look-alike (brdanno tells them apart by the text), one no text
// is known for, and a negative one.
const std::vector<std::int32_t> codes = {emu::rc_io, emu::rc_chg_pending, emu::rc_legacy_pending, 4242, -5};

std::vector<sweep_case> tool_cases()
{
    std::vector<sweep_case> cases;
    for (const auto &t : tool_tables)
        for (const auto rc : codes)
            cases.push_back({t.name + "_rc" + (rc < 0 ? "minus" + std::to_string(-rc) : std::to_string(rc)), t.argv,
                             rc, t.clean_out, t.clean_calls, t.rows});
    return cases;
}

std::string case_name(const testing::TestParamInfo<sweep_case> &p) { return p.param.name; }

testsupport::command tool_command(const std::string &dir, const std::vector<std::string> &argv)
{
    testsupport::command cmd;
    cmd.program = testsupport::bin(argv.at(0));
    cmd.argv = argv;
    cmd.env_set = rel::board_env(dir);
    cmd.env_unset = {"SPEC_KTSAL_EN"};
    cmd.timeout = std::chrono::milliseconds(10000);
    return cmd;
}

class tool_fault_sweep : public testing::TestWithParam<sweep_case> {};

TEST_P(tool_fault_sweep, each_call_failing_in_turn)
{
    rel::sweep(GetParam(), {nullptr, tool_command, nullptr});
}

INSTANTIATE_TEST_SUITE_P(tools, tool_fault_sweep, testing::ValuesIn(tool_cases()), case_name);

// ---- lampcheck -------------------------------------------------------------

// Open, three LEDs to host mode, two passes lighting each in turn, each LED
// to its own mode, close: whatever any LED call answers.
const std::string led_calls = "open EC_setMode EC_setMode EC_setMode "
                              "EC_setState EC_setState EC_setState EC_setState EC_setState EC_setState "
                              "EC_setState EC_setState EC_setState EC_setState EC_setState EC_setState "
                              "EC_setMode EC_setMode EC_setMode close";

// The call sequence with the nth call of o marked as failed.
std::string failed_at(const std::string &calls, op o, unsigned nth)
{
    const std::string name(emu::op_name(o));
    std::string out;
    unsigned seen = 0;
    std::size_t start = 0;
    while (start <= calls.size()) {
        auto end = calls.find(' ', start);
        if (end == std::string::npos)
            end = calls.size();
        std::string word = calls.substr(start, end - start);
        if (word == name && seen++ == nth)
            word += "={rc}";
        out += (out.empty() ? "" : " ") + word;
        start = end + 1;
    }
    return out;
}

std::vector<sweep_case> lampcheck_cases()
{
    std::vector<sweep_case> cases;
    for (const std::int32_t rc : {std::int32_t{emu::rc_io}, std::int32_t{-5}}) {
        sweep_case c{std::string("lampcheck_rc") + (rc < 0 ? "minus5" : "10"), {"lampcheck"}, rc, "", led_calls, {}};
        // A board that does not open: nothing more is called.
        c.rows.push_back({op::open, 0, "", 0, "open={rc}", 0});
        for (unsigned n = 0; n < 6; ++n)
            c.rows.push_back({op::EC_setMode, n, "", 0, failed_at(led_calls, op::EC_setMode, n), 0});
        for (unsigned n = 0; n < 12; ++n)
            c.rows.push_back({op::EC_setState, n, "", 0, failed_at(led_calls, op::EC_setState, n), 0});
        c.rows.push_back({op::close, 0, "", 0, failed_at(led_calls, op::close, 0), 1});
        cases.push_back(std::move(c));
    }
    return cases;
}

// The six one-second pauses are skipped (the sleeps answer at once): the
// sequence, not its timing, is what the sweep looks at.
testsupport::command lampcheck_command(const std::string &dir, const std::vector<std::string> &argv)
{
    return rel::under_strace(tool_command(dir, argv),
                             {"-e", "trace=clock_nanosleep,nanosleep", "-e", "inject=clock_nanosleep,nanosleep:retval=0"});
}

class lampcheck_fault_sweep : public testing::TestWithParam<sweep_case> {};

TEST_P(lampcheck_fault_sweep, each_call_failing_in_turn_changes_nothing_but_that_call)
{
    if (!rel::strace_usable())
        GTEST_SKIP() << "strace cannot trace here";
    rel::sweep(GetParam(), {nullptr, lampcheck_command, nullptr});
}

INSTANTIATE_TEST_SUITE_P(lampcheck, lampcheck_fault_sweep, testing::ValuesIn(lampcheck_cases()), case_name);

} // namespace
