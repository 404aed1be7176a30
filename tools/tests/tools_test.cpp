// The board tools as a user runs them, each case against a fresh emulated
// board in a fresh directory: stdout, stderr and status compared exactly,
// and what the board saw afterwards.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "board.hpp"
#include "testsupport.hpp"

namespace {

using testsupport::bin;

// 2024-01-05 07:03:09.000000045 UTC: day 5, and every field needs padding.
constexpr std::int64_t frozen_ns = 1704438189LL * 1000000000LL + 45;

std::string err_line(std::int32_t rc) { return std::string("  Error: ") + emu::rc_text(rc) + ".\n"; }

std::string open_fail(const std::string &name, const std::string &path, std::int32_t rc)
{
    return name + ": !Could not open <" + path + "> : rc <" + std::to_string(rc) + ">\n";
}

std::string close_fail(const std::string &name, std::int32_t rc)
{
    return name + ": error closing </dev/tsyncpci0> rc: <" + std::to_string(rc) + ">\n";
}

std::string doy_block(const char *sync)
{
    return std::string("\n DOY Time:\n  Year: 2024\n  DOY:  005\n  Hr:   07\n  Min:  03\n  Sec:  09\n"
                       "  Nsec: 000000045\n  Sync: ") +
           sync + "\n";
}

// One run of a tool: the command line, the board it meets, what it must print
// and leave behind.
struct tool_case {
    std::string name;
    std::vector<std::string> argv;  // argv[0] first, as typed
    std::string out;
    int status = 0;
    std::string calls;              // driver calls the board logged, "op" or "op=rc"
    std::uint32_t handles_left = 0; // handles still open afterwards
    std::vector<emu::fault_rule> faults;
    std::optional<int> board = 0;   // index of the board image; none when empty
    std::optional<std::string> ktsal;
    std::uint32_t sync = 1;

    tool_case(std::string n, std::vector<std::string> a, std::string o, int s, std::string c)
        : name(std::move(n)), argv(std::move(a)), out(std::move(o)), status(s), calls(std::move(c))
    {
    }
    tool_case &fault(emu::op o, std::int32_t rc)
    {
        faults.push_back(emu::fault_rule{o, rc, 0, std::nullopt});
        return *this;
    }
    tool_case &left_open()
    {
        handles_left = 1;
        return *this;
    }
    tool_case &at(std::optional<int> index)
    {
        board = index;
        return *this;
    }
    tool_case &env(std::string value)
    {
        ktsal = std::move(value);
        return *this;
    }
    tool_case &sync_flag(std::uint32_t s)
    {
        sync = s;
        return *this;
    }
};

void PrintTo(const tool_case &c, std::ostream *os)
{
    for (const auto &a : c.argv)
        *os << '[' << a << ']';
}

std::string case_name(const testing::TestParamInfo<tool_case> &p) { return p.param.name; }

std::string calls_of(const emu::board &b)
{
    std::string s;
    for (const auto &c : b.calls) {
        if (!s.empty())
            s += ' ';
        s += emu::op_name(c.operation);
        if (c.rc != emu::rc_ok)
            s += "=" + std::to_string(c.rc);
    }
    return s;
}

testsupport::command tool_command(const testsupport::temp_dir &dir, const std::vector<std::string> &argv)
{
    testsupport::command cmd;
    const std::string &typed = argv.at(0);
    cmd.program = bin(typed.substr(typed.rfind('/') + 1));
    cmd.argv = argv;
    cmd.env_set = {"TSYNC_EMULATOR_DIR=" + dir.path()};
    cmd.env_unset = {"SPEC_KTSAL_EN"};
    return cmd;
}

emu::board fresh_board(std::uint32_t sync = 1)
{
    emu::board b;
    b.clock.frozen = true;
    b.clock.frozen_utc_ns = frozen_ns;
    b.sync = sync;
    return b;
}

class BoardTool : public testing::TestWithParam<tool_case> {};

TEST_P(BoardTool, PrintsExitsAndLeavesBoard)
{
    const tool_case &c = GetParam();
    testsupport::temp_dir dir;
    std::string image;
    if (c.board) {
        emu::board b = fresh_board(c.sync);
        b.faults = c.faults;
        image = emu::image_path(dir.path(), *c.board);
        ASSERT_EQ(emu::write_new_image(image, b), emu::access_status::ok);
    }
    auto cmd = tool_command(dir, c.argv);
    if (c.ktsal)
        cmd.env_set.push_back("SPEC_KTSAL_EN=" + *c.ktsal);

    const auto r = testsupport::run(cmd);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, c.status);
    if (c.board) {
        emu::board after;
        ASSERT_EQ(emu::read_image(image, after), emu::access_status::ok);
        EXPECT_EQ(calls_of(after), c.calls);
        EXPECT_EQ(after.open_handles, c.handles_left);
    }
}

using emu::op;

const std::string clock_usage = " Usage: brdclock <device index>\n";
const std::string raw_line = "2024 5 7 3 9 45 1\n";

INSTANTIATE_TEST_SUITE_P(
    Brdclock, BoardTool,
    testing::Values(
        tool_case("no_argument", {"brdclock"}, clock_usage, 1, ""),
        tool_case("two_arguments", {"brdclock", "0", "0"}, clock_usage, 1, ""),
        tool_case("reads_time", {"brdclock", "0"}, doy_block("TRUE"), 0, "open HW_getTime close"),
        tool_case("letter_is_index_0", {"brdclock", "x"}, doy_block("TRUE"), 0, "open HW_getTime close"),
        tool_case("trailing_letters", {"brdclock", "2abc"}, doy_block("TRUE"), 0, "open HW_getTime close").at(2),
        tool_case("blanks_and_sign", {"brdclock", " \t+2"}, doy_block("TRUE"), 0, "open HW_getTime close").at(2),
        tool_case("minus_one", {"brdclock", "-1"}, open_fail("brdclock", "/dev/tsyncpci-1", emu::rc_no_device), 1, ""),
        tool_case("index_clamps_high", {"brdclock", "99999999999"},
                  open_fail("brdclock", "/dev/tsyncpci2147483647", emu::rc_no_device), 1, ""),
        tool_case("index_clamps_low", {"brdclock", "-99999999999"},
                  open_fail("brdclock", "/dev/tsyncpci-2147483648", emu::rc_no_device), 1, ""),
        tool_case("no_board", {"./brdclock", "0"}, open_fail("./brdclock", "/dev/tsyncpci0", emu::rc_no_device), 1, "")
            .at(std::nullopt),
        tool_case("open_fails", {"brdclock", "0"}, open_fail("brdclock", "/dev/tsyncpci0", emu::rc_io), 1, "open=10")
            .fault(op::open, emu::rc_io),
        tool_case("read_fails", {"brdclock", "0"}, err_line(emu::rc_timeout), 1, "open HW_getTime=9")
            .fault(op::HW_getTime, emu::rc_timeout)
            .left_open(),
        tool_case("read_fails_no_raw_line", {"brdclock", "0"}, err_line(emu::rc_io), 1, "open HW_getTime=10")
            .fault(op::HW_getTime, emu::rc_io)
            .left_open()
            .env("true"),
        tool_case("close_fails", {"brdclock", "0"}, doy_block("TRUE") + close_fail("brdclock", emu::rc_io), 1,
                  "open HW_getTime close=10")
            .fault(op::close, emu::rc_io)
            .left_open(),
        tool_case("raw_true", {"brdclock", "0"}, raw_line + doy_block("TRUE"), 0, "open HW_getTime close").env("true"),
        tool_case("raw_t", {"brdclock", "0"}, raw_line + doy_block("TRUE"), 0, "open HW_getTime close").env("t"),
        tool_case("raw_tx", {"brdclock", "0"}, raw_line + doy_block("TRUE"), 0, "open HW_getTime close").env("tx"),
        tool_case("raw_off_upper", {"brdclock", "0"}, doy_block("TRUE"), 0, "open HW_getTime close").env("TRUE"),
        tool_case("raw_off_false", {"brdclock", "0"}, doy_block("TRUE"), 0, "open HW_getTime close").env("false"),
        tool_case("raw_off_one", {"brdclock", "0"}, doy_block("TRUE"), 0, "open HW_getTime close").env("1"),
        tool_case("raw_off_empty", {"brdclock", "0"}, doy_block("TRUE"), 0, "open HW_getTime close").env(""),
        tool_case("raw_off_blank_t", {"brdclock", "0"}, doy_block("TRUE"), 0, "open HW_getTime close").env(" t"),
        tool_case("not_synced", {"brdclock", "0"}, "2024 5 7 3 9 45 0\n" + doy_block("FALSE"), 0,
                  "open HW_getTime close")
            .env("t")
            .sync_flag(0),
        tool_case("sync_two", {"brdclock", "0"}, "2024 5 7 3 9 45 2\n" + doy_block("TRUE"), 0, "open HW_getTime close")
            .env("t")
            .sync_flag(2)),
    case_name);

const std::string anno_usage = " Usage: brdanno <device index> <year>\n";

INSTANTIATE_TEST_SUITE_P(
    Brdanno, BoardTool,
    testing::Values(
        tool_case("no_argument", {"brdanno"}, anno_usage, 1, ""),
        tool_case("one_argument", {"brdanno", "0"}, anno_usage, 1, ""),
        tool_case("sets_year", {"brdanno", "0", "2024"}, "\n Year: 2024\n", 0, "open CS_setYear close"),
        tool_case("extra_arguments_ignored", {"brdanno", "0", "2024", "1999", "x"}, "\n Year: 2024\n", 0,
                  "open CS_setYear close"),
        tool_case("trailing_letters", {"brdanno", "2abc", "2024"}, "\n Year: 2024\n", 0, "open CS_setYear close").at(2),
        tool_case("minus_one", {"brdanno", "-1", "2024"}, open_fail("brdanno", "/dev/tsyncpci-1", emu::rc_no_device), 1,
                  ""),
        tool_case("open_fails", {"brdanno", "0", "2024"}, open_fail("brdanno", "/dev/tsyncpci0", emu::rc_access), 1,
                  "open=2")
            .fault(op::open, emu::rc_access),
        tool_case("pending_change", {"brdanno", "0", "2024"}, "\n Year: 2024\n" + err_line(emu::rc_chg_pending), 2,
                  "open CS_setYear=8 close")
            .fault(op::CS_setYear, emu::rc_chg_pending),
        tool_case("pending_change_close_fails", {"brdanno", "0", "2024"},
                  "\n Year: 2024\n" + err_line(emu::rc_chg_pending) + close_fail("brdanno", emu::rc_io), 1,
                  "open CS_setYear=8 close=10")
            .fault(op::CS_setYear, emu::rc_chg_pending)
            .fault(op::close, emu::rc_io)
            .left_open(),
        tool_case("pending_lower_case_is_other_error", {"brdanno", "0", "2024"},
                  "\n Year: 2024\n" + err_line(emu::rc_legacy_pending), 1, "open CS_setYear=11 close")
            .fault(op::CS_setYear, emu::rc_legacy_pending),
        tool_case("other_error_still_closes", {"brdanno", "0", "2024"}, "\n Year: 2024\n" + err_line(emu::rc_io), 1,
                  "open CS_setYear=10 close")
            .fault(op::CS_setYear, emu::rc_io),
        tool_case("close_fails", {"brdanno", "0", "2024"}, "\n Year: 2024\n" + close_fail("brdanno", emu::rc_io), 1,
                  "open CS_setYear close=10")
            .fault(op::close, emu::rc_io)
            .left_open()),
    case_name);

const std::string flank_usage = " Usage: brdflank <device index> <pin> <edge>\n";

INSTANTIATE_TEST_SUITE_P(
    Brdflank, BoardTool,
    testing::Values(
        tool_case("one_argument", {"brdflank", "0"}, flank_usage, 1, ""),
        tool_case("two_arguments", {"brdflank", "0", "1"}, flank_usage, 1, ""),
        tool_case("four_arguments", {"brdflank", "0", "1", "0", "0"}, flank_usage, 1, ""),
        tool_case("sets_edge", {"brdflank", "0", "1", "0"}, "\n GI (1) edge: 0\n", 0, "open GI_setEdge close"),
        tool_case("trailing_letters", {"brdflank", "2abc", "1", "0"}, "\n GI (1) edge: 0\n", 0, "open GI_setEdge close")
            .at(2),
        tool_case("minus_one", {"brdflank", "-1", "1", "0"}, open_fail("brdflank", "/dev/tsyncpci-1", emu::rc_no_device),
                  1, ""),
        tool_case("open_fails", {"brdflank", "0", "1", "0"}, open_fail("brdflank", "/dev/tsyncpci0", emu::rc_io), 1,
                  "open=10")
            .fault(op::open, emu::rc_io),
        tool_case("refused_ends_without_close", {"brdflank", "0", "1", "0"}, "\n GI (1) edge: 0\n" + err_line(emu::rc_io),
                  1, "open GI_setEdge=10")
            .fault(op::GI_setEdge, emu::rc_io)
            .left_open(),
        tool_case("pending_is_plain_error", {"brdflank", "0", "1", "0"},
                  "\n GI (1) edge: 0\n" + err_line(emu::rc_chg_pending), 1, "open GI_setEdge=8")
            .fault(op::GI_setEdge, emu::rc_chg_pending)
            .left_open(),
        tool_case("close_fails", {"brdflank", "0", "1", "0"}, "\n GI (1) edge: 0\n" + close_fail("brdflank", emu::rc_io),
                  1, "open GI_setEdge close=10")
            .fault(op::close, emu::rc_io)
            .left_open()),
    case_name);

const std::string pinmark_usage = " Usage: brdpinmark <device index> <pin> <enable>\n";

INSTANTIATE_TEST_SUITE_P(
    Brdpinmark, BoardTool,
    testing::Values(
        tool_case("one_argument", {"brdpinmark", "0"}, pinmark_usage, 1, ""),
        tool_case("two_arguments", {"brdpinmark", "0", "1"}, pinmark_usage, 1, ""),
        tool_case("four_arguments", {"brdpinmark", "0", "1", "1", "1"}, pinmark_usage, 1, ""),
        tool_case("enables_input", {"brdpinmark", "0", "2", "1"}, "\n GI (2) Time Stamp Enable: 1\n", 0,
                  "open GI_setTsEnable close"),
        tool_case("trailing_letters", {"brdpinmark", "2abc", "2", "1"}, "\n GI (2) Time Stamp Enable: 1\n", 0,
                  "open GI_setTsEnable close")
            .at(2),
        tool_case("minus_one", {"brdpinmark", "-1", "2", "1"},
                  open_fail("brdpinmark", "/dev/tsyncpci-1", emu::rc_no_device), 1, ""),
        tool_case("open_fails", {"brdpinmark", "0", "2", "1"}, open_fail("brdpinmark", "/dev/tsyncpci0", emu::rc_io), 1,
                  "open=10")
            .fault(op::open, emu::rc_io),
        tool_case("refused_ends_without_close", {"brdpinmark", "0", "2", "1"},
                  "\n GI (2) Time Stamp Enable: 1\n" + err_line(emu::rc_io), 1, "open GI_setTsEnable=10")
            .fault(op::GI_setTsEnable, emu::rc_io)
            .left_open(),
        tool_case("close_fails", {"brdpinmark", "0", "2", "1"},
                  "\n GI (2) Time Stamp Enable: 1\n" + close_fail("brdpinmark", emu::rc_io), 1,
                  "open GI_setTsEnable close=10")
            .fault(op::close, emu::rc_io)
            .left_open()),
    case_name);

const std::string mark_usage = " Usage: brdmark <device index> <en>\n";

INSTANTIATE_TEST_SUITE_P(
    Brdmark, BoardTool,
    testing::Values(
        tool_case("one_argument", {"brdmark", "0"}, mark_usage, 1, ""),
        tool_case("three_arguments", {"brdmark", "0", "1", "1"}, mark_usage, 1, ""),
        tool_case("enables", {"brdmark", "0", "1"}, "\n Hardware Time Stamp Enable: 1\n", 0, "open HW_setTsEnable close"),
        tool_case("trailing_letters", {"brdmark", "2abc", "1"}, "\n Hardware Time Stamp Enable: 1\n", 0,
                  "open HW_setTsEnable close")
            .at(2),
        tool_case("minus_one", {"brdmark", "-1", "1"}, open_fail("brdmark", "/dev/tsyncpci-1", emu::rc_no_device), 1,
                  ""),
        tool_case("open_fails", {"brdmark", "0", "1"}, open_fail("brdmark", "/dev/tsyncpci0", emu::rc_io), 1, "open=10")
            .fault(op::open, emu::rc_io),
        tool_case("refused_ends_without_close", {"brdmark", "0", "1"},
                  "\n Hardware Time Stamp Enable: 1\n" + err_line(emu::rc_io), 1, "open HW_setTsEnable=10")
            .fault(op::HW_setTsEnable, emu::rc_io)
            .left_open(),
        tool_case("close_fails", {"brdmark", "0", "1"},
                  "\n Hardware Time Stamp Enable: 1\n" + close_fail("brdmark", emu::rc_io), 1,
                  "open HW_setTsEnable close=10")
            .fault(op::close, emu::rc_io)
            .left_open()),
    case_name);

// What the setting call handed the driver, and the board's settings after it.
struct setting_case {
    std::string name;
    std::vector<std::string> argv;
    std::string echo;        // the line after the empty line
    std::string driver_args; // arguments of the setting call as the board logged them
    std::string settings;    // the board afterwards, see settings_of
    bool refused = false;    // the board rejects the value as out of range
};

void PrintTo(const setting_case &c, std::ostream *os)
{
    for (const auto &a : c.argv)
        *os << '[' << a << ']';
}

std::string setting_name(const testing::TestParamInfo<setting_case> &p) { return p.param.name; }

std::string settings_of(const emu::board &b)
{
    std::string s = "year=" + std::to_string(b.year) + " hw=" + (b.hw_ts_enabled ? "1" : "0") + " edge=";
    for (const auto &in : b.inputs)
        s += std::to_string(in.edge);
    s += " ts=";
    for (const auto &in : b.inputs)
        s += in.ts_enabled ? "1" : "0";
    return s;
}

class BoardSetting : public testing::TestWithParam<setting_case> {};

TEST_P(BoardSetting, DriverGetsTheValuesAsRead)
{
    const setting_case &c = GetParam();
    testsupport::temp_dir dir;
    const std::string image = emu::image_path(dir.path(), 0);
    ASSERT_EQ(emu::write_new_image(image, fresh_board()), emu::access_status::ok);

    const auto r = testsupport::run(tool_command(dir, c.argv));
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.out, "\n" + c.echo + "\n" + (c.refused ? err_line(emu::rc_bad_arg) : ""));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, c.refused ? 1 : 0);

    emu::board after;
    ASSERT_EQ(emu::read_image(image, after), emu::access_status::ok);
    ASSERT_GE(after.calls.size(), 2u);
    EXPECT_EQ(after.calls[1].args, c.driver_args);
    EXPECT_EQ(settings_of(after), c.settings);
}

INSTANTIATE_TEST_SUITE_P(
    Values, BoardSetting,
    testing::Values(
        setting_case{"year", {"brdanno", "0", "2024"}, " Year: 2024", "2024", "year=2024 hw=0 edge=1111 ts=0000"},
        setting_case{"year_minus_one_unsigned", {"brdanno", "0", "-1"}, " Year: 4294967295", "4294967295",
                     "year=0 hw=0 edge=1111 ts=0000", true},
        setting_case{"year_not_a_number", {"brdanno", "0", "y2k"}, " Year: 0", "0", "year=0 hw=0 edge=1111 ts=0000",
                     true},
        setting_case{"year_clamps", {"brdanno", "0", "99999999999"}, " Year: 2147483647", "2147483647",
                     "year=0 hw=0 edge=1111 ts=0000", true},
        setting_case{"edge", {"brdflank", "0", "1", "0"}, " GI (1) edge: 0", "1 0", "year=0 hw=0 edge=1011 ts=0000"},
        setting_case{"edge_minus_one", {"brdflank", "0", "-1", "-1"}, " GI (-1) edge: 4294967295", "-1 -1",
                     "year=0 hw=0 edge=1111 ts=0000", true},
        setting_case{"edge_not_numbers", {"brdflank", "0", "x", "x"}, " GI (0) edge: 0", "0 0",
                     "year=0 hw=0 edge=0111 ts=0000"},
        setting_case{"input_enable", {"brdpinmark", "0", "3", "1"}, " GI (3) Time Stamp Enable: 1", "3 1",
                     "year=0 hw=0 edge=1111 ts=0001"},
        setting_case{"input_minus_one", {"brdpinmark", "0", "-1", "-1"}, " GI (-1) Time Stamp Enable: -1", "-1 -1",
                     "year=0 hw=0 edge=1111 ts=0000", true},
        setting_case{"hardware_enable", {"brdmark", "0", "1"}, " Hardware Time Stamp Enable: 1", "1",
                     "year=0 hw=1 edge=1111 ts=0000"},
        setting_case{"hardware_minus_one", {"brdmark", "0", "-1"}, " Hardware Time Stamp Enable: -1", "-1",
                     "year=0 hw=0 edge=1111 ts=0000", true}),
    setting_name);

// Output that cannot be written must not end with success.
struct unwritable_case {
    std::string name;
    std::vector<std::string> argv;
    std::vector<emu::fault_rule> faults;
};

void PrintTo(const unwritable_case &c, std::ostream *os)
{
    for (const auto &a : c.argv)
        *os << '[' << a << ']';
}

std::string unwritable_name(const testing::TestParamInfo<unwritable_case> &p) { return p.param.name; }

class UnwritableOutput : public testing::TestWithParam<unwritable_case> {};

enum class sink { full_device, closed_pipe, closed_pipe_sigpipe_ignored };

testsupport::result run_unwritable(const unwritable_case &c, sink to)
{
    testsupport::temp_dir dir;
    emu::board b = fresh_board();
    b.faults = c.faults;
    EXPECT_EQ(emu::write_new_image(emu::image_path(dir.path(), 0), b), emu::access_status::ok);
    auto cmd = tool_command(dir, c.argv);
    if (to == sink::full_device) {
        cmd.stdout_path = "/dev/full";
        return testsupport::run(cmd);
    }
    cmd.close_stdout = true;
    if (to == sink::closed_pipe_sigpipe_ignored) {
        // An ignored signal stays ignored across exec: the tool meets EPIPE.
        std::vector<std::string> argv = {"sh", "-c", "trap '' PIPE; exec \"$@\"", "sh", cmd.program};
        argv.insert(argv.end(), c.argv.begin() + 1, c.argv.end());
        cmd.argv = argv;
        cmd.program = "/bin/sh";
    }
    return testsupport::run(cmd);
}

TEST_P(UnwritableOutput, FullDeviceGivesStatusOne)
{
    const auto r = run_unwritable(GetParam(), sink::full_device);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
}

TEST_P(UnwritableOutput, ClosedPipeWithSigpipeIgnoredGivesStatusOne)
{
    const auto r = run_unwritable(GetParam(), sink::closed_pipe_sigpipe_ignored);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
}

TEST_P(UnwritableOutput, ClosedPipeKillsBySigpipe)
{
    const auto r = run_unwritable(GetParam(), sink::closed_pipe);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.signal, SIGPIPE);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, UnwritableOutput,
    testing::Values(unwritable_case{"brdclock", {"brdclock", "0"}, {}},
                    unwritable_case{"brdclock_usage", {"brdclock"}, {}},
                    unwritable_case{"brdanno", {"brdanno", "0", "2024"}, {}},
                    unwritable_case{"brdanno_pending", {"brdanno", "0", "2024"},
                                    {emu::fault_rule{op::CS_setYear, emu::rc_chg_pending, 0, std::nullopt}}},
                    unwritable_case{"brdflank", {"brdflank", "0", "1", "0"}, {}},
                    unwritable_case{"brdpinmark", {"brdpinmark", "0", "2", "1"}, {}},
                    unwritable_case{"brdmark", {"brdmark", "0", "1"}, {}}),
    unwritable_name);

} // namespace
