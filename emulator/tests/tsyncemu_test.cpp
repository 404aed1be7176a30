// tsyncemu as a program: arguments -> stdout, stderr, status, and the image.
#include "fixture.hpp"

#include <tsync.h>

#include <algorithm>

namespace {

using testsupport::run;

struct tool_case {
    std::string name;
    std::vector<std::vector<std::string>> setup; // earlier tsyncemu runs, each must succeed
    std::vector<std::string> args;               // after "tsyncemu --dir DIR"
    int status;
    std::string out; // expected in stdout ("" with status != 0: stdout must be empty)
    std::string err; // expected in stderr ("" with status 0: stderr must be empty)
};

void PrintTo(const tool_case &c, std::ostream *os) { *os << c.name; }

testsupport::result tsyncemu(const std::string &dir, const std::vector<std::string> &args, bool with_dir = true)
{
    testsupport::command c;
    c.program = testsupport::bin("tsyncemu");
    c.argv = {"tsyncemu"};
    if (with_dir) {
        c.argv.push_back("--dir");
        c.argv.push_back(dir);
    }
    c.argv.insert(c.argv.end(), args.begin(), args.end());
    c.env_unset = {"TSYNC_EMULATOR_DIR"};
    return run(c);
}

const std::vector<std::string> create0 = {"create", "0", "--frozen", "2026-12-11T12:00:00.5Z"};
const std::vector<std::string> hw_on = {"set", "0", "hw-ts", "on"};
const std::vector<std::string> in0_on = {"set", "0", "input", "0", "ts", "on"};

class tsyncemu_table : public ::testing::TestWithParam<tool_case> {};

TEST_P(tsyncemu_table, Runs)
{
    const auto &c = GetParam();
    testsupport::temp_dir dir;
    for (const auto &s : c.setup) {
        auto r = tsyncemu(dir.path(), s);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    auto r = tsyncemu(dir.path(), c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    if (c.status == 0) {
        EXPECT_EQ(r.err, "");
    } else {
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("tsyncemu: ", 0), 0u) << r.err;
    }
}

std::vector<tool_case> cases()
{
    return {
        {"help", {}, {"--help"}, 0, "Usage: tsyncemu [--dir DIR] COMMAND", ""},
        {"version", {}, {"--version"}, 0, "tsyncemu (orvane-tsync) 1.1-0\n", ""},
        {"no_command", {}, {}, 2, "", "tsyncemu: no command given"},
        {"unknown_command", {}, {"frobnicate", "0"}, 2, "", "unknown command \"frobnicate\""},
        {"unknown_global_option", {}, {"--verbose", "show", "0"}, 2, "", "unknown option --verbose"},
        {"create", {}, {"create", "0"}, 0, "created board 0 at ", ""},
        {"create_frozen", {}, create0, 0, "created board 0", ""},
        {"create_offset", {}, {"create", "3", "--offset", "-1000000000", "--no-sync"}, 0, "created board 3", ""},
        {"create_both_clocks", {}, {"create", "0", "--frozen", "2026-01-01T00:00:00", "--offset", "0"}, 2, "",
         "not both"},
        {"create_bad_time", {}, {"create", "0", "--frozen", "2026-02-30T00:00:00"}, 2, "", "bad time"},
        {"create_time_junk", {}, {"create", "0", "--frozen", "2026-01-01T00:00:00Zjunk"}, 2, "", "bad time"},
        {"create_bad_offset", {}, {"create", "0", "--offset", "12abc"}, 2, "", "bad offset \"12abc\""},
        {"create_exists", {create0}, {"create", "0"}, 1, "", "already exists"},
        {"create_force", {create0}, {"create", "0", "--force"}, 0, "created board 0", ""},
        {"create_bad_index", {}, {"create", "-1"}, 2, "", "bad board index \"-1\""},
        {"create_index_junk", {}, {"create", "0x"}, 2, "", "bad board index"},
        {"create_extra_arg", {}, {"create", "0", "1"}, 2, "", "wrong number of arguments"},
        {"create_unknown_option", {}, {"create", "0", "--fast"}, 2, "", "unknown option --fast"},
        {"create_option_twice", {}, {"create", "0", "--force", "--force"}, 2, "", "given twice"},
        {"create_option_value_missing", {}, {"create", "0", "--frozen"}, 2, "", "needs a value"},
        {"show",
         {create0},
         {"show", "0"},
         0,
         "clock: frozen at 2026-12-11T12:00:00.500000000 UTC\nboard time: 2026 345 12:00:00.500000000 sync 1\n",
         ""},
        {"show_missing", {}, {"show", "0"}, 1, "", "no board image"},
        {"show_missing_index", {}, {"show"}, 2, "", "needs a board index"},
        {"show_option", {create0}, {"show", "0", "--force"}, 2, "", "does not go with show"},
        {"set_hw", {create0}, hw_on, 0, "board 0: hw-ts on\n", ""},
        {"set_hw_bad", {create0}, {"set", "0", "hw-ts", "yes"}, 2, "", "bad on/off \"yes\""},
        {"set_input_ts", {create0}, in0_on, 0, "board 0: input 0 ts on", ""},
        {"set_input_edge", {create0}, {"set", "0", "input", "3", "edge", "falling"}, 0, "input 3 edge falling", ""},
        {"set_input_out_of_range", {create0}, {"set", "0", "input", "4", "ts", "on"}, 2, "", "out of range 0..3"},
        {"set_input_bad_edge", {create0}, {"set", "0", "input", "1", "edge", "up"}, 2, "", "bad edge"},
        {"set_sync", {create0}, {"set", "0", "sync", "off"}, 0, "board 0: sync off", ""},
        {"set_unknown", {create0}, {"set", "0", "color", "red"}, 2, "", "unknown setting"},
        {"set_missing_board", {}, hw_on, 1, "", "no board image"},
        {"stamp_hw_off", {create0}, {"stamp", "0", "0"}, 0, "not taken: hardware time-stamping is off", ""},
        {"stamp_input_off", {create0, hw_on}, {"stamp", "0", "1"}, 0, "not taken: time-stamping of this input is off", ""},
        {"stamp_wrong_edge", {create0, hw_on, in0_on}, {"stamp", "0", "0", "--edge", "falling"}, 0,
         "not taken: not the input's active edge", ""},
        {"stamp_taken", {create0, hw_on, in0_on}, {"stamp", "0", "0"}, 0,
         "board 0 input 0 at 2026-12-11T12:00:00.500000000 UTC: stamp taken\n", ""},
        {"stamp_at", {create0, hw_on, in0_on}, {"stamp", "0", "0", "--at", "2027-01-01T00:00:00.000000001"}, 0,
         "at 2027-01-01T00:00:00.000000001 UTC: stamp taken", ""},
        {"stamp_bad_input", {create0}, {"stamp", "0", "4"}, 2, "", "out of range"},
        {"stamp_bad_at", {create0}, {"stamp", "0", "0", "--at", "now"}, 2, "", "bad time \"now\""},
        {"push", {create0}, {"push", "0", "4294967295", "0", "25", "61", "61", "1000000000"}, 0,
         "pushed 4294967295 000 25:61:61.1000000000 sync 1", ""},
        {"push_sync", {create0}, {"push", "0", "2026", "1", "0", "0", "0", "0", "0"}, 0, "sync 0", ""},
        {"push_too_big", {create0}, {"push", "0", "4294967296", "1", "0", "0", "0", "0"}, 2, "", "bad number"},
        {"push_too_few", {create0}, {"push", "0", "2026", "1"}, 2, "", "wrong number of arguments"},
        {"fault", {create0}, {"fault", "0", "HW_getTime", "9"}, 0, "HW_getTime answers 9, always", ""},
        {"fault_negative", {create0}, {"fault", "0", "CS_setYear", "-2147483648", "--after", "2", "--times", "3"}, 0,
         "CS_setYear answers -2147483648 after 2 more calls, 3 times", ""},
        {"fault_bad_op", {create0}, {"fault", "0", "TSYNC_open", "1"}, 2, "", "bad operation"},
        {"fault_bad_rc", {create0}, {"fault", "0", "open", "2147483648"}, 2, "", "bad return code"},
        {"fault_zero_times", {create0}, {"fault", "0", "open", "1", "--times", "0"}, 2, "", "at least 1"},
        {"clear_faults", {create0, {"fault", "0", "open", "1"}, {"fault", "0", "close", "1"}}, {"clear-faults", "0"}, 0,
         "2 fault rules removed", ""},
        {"clear_faults_op", {create0, {"fault", "0", "open", "1"}, {"fault", "0", "close", "1"}},
         {"clear-faults", "0", "close"}, 0, "1 fault rule removed", ""},
        {"leds_empty", {create0}, {"leds", "0"}, 0, "", ""},
        {"calls_empty", {create0}, {"calls", "0"}, 0, "", ""},
        {"remove", {create0}, {"remove", "0"}, 0, "removed board 0", ""},
        {"remove_missing", {}, {"remove", "0"}, 1, "", "no board image"},
    };
}

std::string case_name(const ::testing::TestParamInfo<tool_case> &param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(tsyncemu, tsyncemu_table, ::testing::ValuesIn(cases()), case_name);

TEST(tsyncemu, DirectoryFromEnvironmentOrError)
{
    testsupport::temp_dir dir;
    testsupport::command c;
    c.program = testsupport::bin("tsyncemu");
    c.argv = {"tsyncemu", "create", "0"};
    c.env_unset = {"TSYNC_EMULATOR_DIR"};
    auto r = run(c);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tsyncemu: no board directory: give --dir DIR or set TSYNC_EMULATOR_DIR\n");
    c.env_set = {"TSYNC_EMULATOR_DIR=" + dir.path()};
    r = run(c);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(testsupport::exists(dir / "tsyncpci0"));
    // --dir wins over the environment.
    testsupport::temp_dir other;
    c.argv = {"tsyncemu", "--dir=" + other.path(), "create", "1"};
    r = run(c);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(testsupport::exists(other / "tsyncpci1"));
    EXPECT_FALSE(testsupport::exists(dir / "tsyncpci1"));
}

TEST(tsyncemu, CreatesTheBoardItSays)
{
    testsupport::temp_dir dir;
    ASSERT_EQ(tsyncemu(dir.path(), {"create", "2", "--offset", "-5", "--no-sync"}).status, 0);
    emu::board b;
    ASSERT_EQ(emu::read_image(dir / "tsyncpci2", b), emu::access_status::ok);
    EXPECT_FALSE(b.clock.frozen);
    EXPECT_EQ(b.clock.offset_ns, -5);
    EXPECT_EQ(b.sync, 0u);
    EXPECT_FALSE(b.hw_ts_enabled);
    ASSERT_EQ(tsyncemu(dir.path(), {"create", "2", "--force", "--frozen", "2030-06-01T00:00:00"}).status, 0);
    ASSERT_EQ(emu::read_image(dir / "tsyncpci2", b), emu::access_status::ok);
    EXPECT_TRUE(b.clock.frozen);
    EXPECT_EQ(b.sync, 1u);
}

TEST(tsyncemu, SettingsStampsFaultsAndRemoval)
{
    testsupport::temp_dir dir;
    for (const auto &a : std::vector<std::vector<std::string>>{
             create0, hw_on, in0_on, {"set", "0", "input", "2", "edge", "falling"}, {"set", "0", "input", "2", "ts", "on"},
             {"stamp", "0", "0"}, {"stamp", "0", "2", "--edge", "falling", "--at", "2026-01-02T03:04:05.6"},
             {"stamp", "0", "2", "--edge", "rising"}, {"push", "0", "1", "2", "3", "4", "5", "6", "7"},
             {"fault", "0", "HW_getTime", "9", "--times", "2"}, {"set", "0", "sync", "off"}})
        ASSERT_EQ(tsyncemu(dir.path(), a).status, 0);
    emu::board b;
    ASSERT_EQ(emu::read_image(dir / "tsyncpci0", b), emu::access_status::ok);
    EXPECT_TRUE(b.hw_ts_enabled);
    EXPECT_TRUE(b.inputs[0].ts_enabled);
    EXPECT_EQ(b.inputs[2].edge, emu::edge_falling);
    ASSERT_EQ(b.store.size(), 3u);
    EXPECT_EQ(b.store[0], (emu::stamp{2026, 345, 12, 0, 0, 500000000, 1}));
    EXPECT_EQ(b.store[1], (emu::stamp{2026, 2, 3, 4, 5, 600000000, 1}));
    EXPECT_EQ(b.store[2], (emu::stamp{1, 2, 3, 4, 5, 6, 7}));
    ASSERT_EQ(b.faults.size(), 1u);
    EXPECT_EQ(b.faults[0].count, 2u);
    EXPECT_EQ(b.sync, 0u);
    auto show = tsyncemu(dir.path(), {"show", "0"});
    EXPECT_NE(show.out.find("store: 3 of 512 stamps\n  0: 2026 345 12:00:00.500000000 sync 1\n"), std::string::npos)
        << show.out;
    EXPECT_NE(show.out.find("HW_getTime answers 9, 2 times"), std::string::npos);
    ASSERT_EQ(tsyncemu(dir.path(), {"remove", "0"}).status, 0);
    EXPECT_TRUE(testsupport::list_dir(dir.path()).empty());
}

TEST(tsyncemu, FullStoreCountsLost)
{
    testsupport::temp_dir dir;
    ASSERT_EQ(tsyncemu(dir.path(), create0).status, 0);
    ASSERT_EQ(emu::update_image(dir / "tsyncpci0", [](emu::board &b) {
        b.store.assign(emu::store_capacity, emu::stamp{2026, 1, 0, 0, 0, 0, 1});
        return true;
    }),
              emu::access_status::ok);
    ASSERT_EQ(tsyncemu(dir.path(), hw_on).status, 0);
    ASSERT_EQ(tsyncemu(dir.path(), in0_on).status, 0);
    auto r = tsyncemu(dir.path(), {"stamp", "0", "0"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("store full"), std::string::npos) << r.out;
    r = tsyncemu(dir.path(), {"push", "0", "1", "1", "1", "1", "1", "1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("store full"), std::string::npos) << r.out;
    EXPECT_NE(tsyncemu(dir.path(), {"show", "0"}).out.find("lost: 2\n"), std::string::npos);
}

TEST(tsyncemu, LedAndCallLogsShowDriverCalls)
{
    emutest::board_dir dir;
    ASSERT_EQ(tsyncemu(dir.path(), create0).status, 0);
    TSYNC_BoardHandle h = nullptr;
    ASSERT_EQ(TSYNC_open(&h, "/dev/tsyncpci0"), 0);
    EXPECT_EQ(TSYNC_EC_setMode(h, 1, 4), 0);
    EXPECT_EQ(TSYNC_EC_setState(h, 1, 1), 0);
    EXPECT_EQ(TSYNC_EC_setState(h, 1, 9), emu::rc_bad_arg);
    std::uint32_t y = 4294967295u;
    EXPECT_EQ(TSYNC_CS_setYear(h, &y), emu::rc_bad_arg);
    EXPECT_EQ(TSYNC_close(h), 0);
    auto leds = tsyncemu(dir.path(), {"leds", "0"});
    EXPECT_EQ(leds.status, 0);
    EXPECT_EQ(std::count(leds.out.begin(), leds.out.end(), '\n'), 3);
    EXPECT_NE(leds.out.find(" UTC ("), std::string::npos);
    EXPECT_NE(leds.out.find("EC_setMode led 1 mode 4 rc 0\n"), std::string::npos) << leds.out;
    EXPECT_NE(leds.out.find("EC_setState led 1 state 9 rc 6\n"), std::string::npos) << leds.out;
    auto calls = tsyncemu(dir.path(), {"calls", "0"});
    EXPECT_EQ(calls.out, "open /dev/tsyncpci0 -> rc 0\nEC_setMode 1 4 -> rc 0\nEC_setState 1 1 -> rc 0\n"
                         "EC_setState 1 9 -> rc 6\nCS_setYear 4294967295 -> rc 6\nclose -> rc 0\n");
    auto show = tsyncemu(dir.path(), {"show", "0"});
    EXPECT_NE(show.out.find("led 1: mode 4 (host-controlled), state 1 (lit)"), std::string::npos) << show.out;
}

TEST(tsyncemu, CorruptImageIsReported)
{
    testsupport::temp_dir dir;
    testsupport::write_file(dir / "tsyncpci0", "tsyncemu-board 1\n");
    auto r = tsyncemu(dir.path(), {"show", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("tsyncemu: corrupt board image"), std::string::npos) << r.err;
    testsupport::write_file(dir / "tsyncpci0", "tsyncemu-board 9\n");
    r = tsyncemu(dir.path(), {"set", "0", "hw-ts", "on"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("image version 9"), std::string::npos) << r.err;
}

} // namespace
