// Bad input to every program: each argument position empty, as long as one
// argument may be (Linux takes at most 128 KiB less one byte in a single
// argument: a megabyte cannot even be passed), non-ASCII bytes, numbers
// beyond 64 bits; and a board directory that is missing, a file, empty,
// unreadable or too long a path. Clear messages, documented statuses, no
// crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "reliability.hpp"

namespace {

const std::string longest(131071, 'x');       // the largest single argument
const std::string longest_digits(131071, '9');
const std::string non_ascii = "\xff\xfe\xc3\xa9\x80";
const std::string beyond_64 = "123456789012345678901234567890";
const std::string wraps_to_1 = "18446744073709551617"; // 2^64 + 1
const std::string minus_beyond_64 = "-" + beyond_64;

const std::string doy_block = "\n DOY Time:\n  Year: 2024\n  DOY:  005\n  Hr:   07\n  Min:  03\n  Sec:  09\n"
                              "  Nsec: 000000045\n  Sync: TRUE\n";
const std::string bad_arg = std::string("  Error: ") + emu::rc_text(emu::rc_bad_arg) + ".\n";
const std::string pkgabout_usage = "\npkgabout   -- display orvane-tsync package infos.\n\nusage :\n  pkgabout [option]\n\n"
                                   "  options : \n            -n  :  version number only\n"
                                   "            -v  :  verbose output\n            \n\n";

std::string open_fail(const std::string &tool, const std::string &index, int rc = emu::rc_no_device)
{
    return tool + ": !Could not open </dev/tsyncpci" + index + "> : rc <" + std::to_string(rc) + ">\n";
}

std::string usage_error(const std::string &tool, const std::string &message)
{
    return tool + ": " + message + "\nTry '" + tool + " --help' for more information.\n";
}

struct input_case {
    std::string name;
    std::vector<std::string> argv; // argv[0] as typed: the program in bin/
    std::string out, err;
    int status = 0;
    std::uint32_t handles = 0; // left open on the board afterwards
    bool board = true;         // board 0 exists
    std::string calls = "";    // "-": not looked at
};
void PrintTo(const input_case &c, std::ostream *os)
{
    *os << c.name << ':';
    for (const auto &a : c.argv)
        *os << " [" << (a.size() > 40 ? a.substr(0, 40) + "...(" + std::to_string(a.size()) + ")" : a) << ']';
}

std::vector<input_case> input_cases()
{
    const std::string year = "\n Year: ";
    return {
        // Index: no number is 0; digits beyond 32 bits clamp.
        {"brdclock_empty_index", {"brdclock", ""}, doy_block, "", 0, 0, true, "open HW_getTime close"},
        {"brdclock_long_index", {"brdclock", longest}, doy_block, "", 0, 0, true, "open HW_getTime close"},
        {"brdclock_non_ascii_index", {"brdclock", non_ascii}, doy_block, "", 0, 0, true, "open HW_getTime close"},
        {"brdclock_longest_number", {"brdclock", longest_digits}, open_fail("brdclock", "2147483647"), "", 1},
        {"brdclock_beyond_64_bits", {"brdclock", beyond_64}, open_fail("brdclock", "2147483647"), "", 1},
        {"brdclock_2_to_64_plus_1", {"brdclock", wraps_to_1}, open_fail("brdclock", "2147483647"), "", 1},
        {"brdclock_minus_beyond_64_bits", {"brdclock", minus_beyond_64}, open_fail("brdclock", "-2147483648"), "", 1},
        {"brdclock_long_name", {longest, "7"}, open_fail(longest, "7"), "", 1, 0, true, "-"},
        // The year: unsigned view of the clamped 32 bits; the board refuses it.
        {"brdanno_empty", {"brdanno", "", ""}, year + "0\n" + bad_arg, "", 1, 0, true, "open CS_setYear=6 close"},
        {"brdanno_long_text", {"brdanno", "0", longest}, year + "0\n" + bad_arg, "", 1, 0, true,
         "open CS_setYear=6 close"},
        {"brdanno_number_then_long_text", {"brdanno", "0", "2026" + longest.substr(4)}, year + "2026\n", "", 0, 0, true,
         "open CS_setYear close"},
        {"brdanno_non_ascii", {"brdanno", "0", non_ascii}, year + "0\n" + bad_arg, "", 1, 0, true,
         "open CS_setYear=6 close"},
        {"brdanno_beyond_64_bits", {"brdanno", "0", beyond_64}, year + "2147483647\n" + bad_arg, "", 1, 0, true,
         "open CS_setYear=6 close"},
        {"brdanno_2_to_64_plus_1", {"brdanno", "0", wraps_to_1}, year + "2147483647\n" + bad_arg, "", 1, 0, true,
         "open CS_setYear=6 close"},
        {"brdanno_minus_beyond_64_bits", {"brdanno", "0", minus_beyond_64}, year + "2147483648\n" + bad_arg, "", 1,
         0, true, "open CS_setYear=6 close"},
        {"brdanno_long_extra", {"brdanno", "0", "2026", longest, non_ascii}, year + "2026\n", "", 0, 0, true,
         "open CS_setYear close"},
        // Pin and edge: a refused setting ends at once, the handle left.
        {"brdflank_empty", {"brdflank", "", "", ""}, "\n GI (0) edge: 0\n", "", 0, 0, true, "open GI_setEdge close"},
        {"brdflank_long_and_non_ascii", {"brdflank", "0", longest, non_ascii}, "\n GI (0) edge: 0\n", "", 0, 0, true,
         "open GI_setEdge close"},
        {"brdflank_pin_beyond_64_bits", {"brdflank", "0", beyond_64, "1"}, "\n GI (2147483647) edge: 1\n" + bad_arg,
         "", 1, 1, true, "open GI_setEdge=6"},
        {"brdflank_edge_minus_beyond_64_bits", {"brdflank", "0", "0", minus_beyond_64},
         "\n GI (0) edge: 2147483648\n" + bad_arg, "", 1, 1, true, "open GI_setEdge=6"},
        {"brdpinmark_empty", {"brdpinmark", "", "", ""}, "\n GI (0) Time Stamp Enable: 0\n", "", 0, 0, true,
         "open GI_setTsEnable close"},
        {"brdpinmark_pin_minus_beyond_64_bits", {"brdpinmark", "0", minus_beyond_64, "1"},
         "\n GI (-2147483648) Time Stamp Enable: 1\n" + bad_arg, "", 1, 1, true, "open GI_setTsEnable=6"},
        {"brdpinmark_enable_longest_number", {"brdpinmark", "0", "1", longest_digits},
         "\n GI (1) Time Stamp Enable: 2147483647\n" + bad_arg, "", 1, 1, true, "open GI_setTsEnable=6"},
        {"brdpinmark_non_ascii", {"brdpinmark", non_ascii, non_ascii, non_ascii}, "\n GI (0) Time Stamp Enable: 0\n",
         "", 0, 0, true, "open GI_setTsEnable close"},
        {"brdmark_empty", {"brdmark", "", ""}, "\n Hardware Time Stamp Enable: 0\n", "", 0, 0, true,
         "open HW_setTsEnable close"},
        {"brdmark_long_text", {"brdmark", longest, longest}, "\n Hardware Time Stamp Enable: 0\n", "", 0, 0, true,
         "open HW_setTsEnable close"},
        {"brdmark_minus_beyond_64_bits", {"brdmark", "0", minus_beyond_64},
         "\n Hardware Time Stamp Enable: -2147483648\n" + bad_arg, "", 1, 1, true, "open HW_setTsEnable=6"},
        {"brdmark_2_to_64_plus_1", {"brdmark", "0", wraps_to_1}, "\n Hardware Time Stamp Enable: 2147483647\n" + bad_arg,
         "", 1, 1, true, "open HW_setTsEnable=6"},
        // pkgabout: anything but -n and -v is the usage block.
        {"pkgabout_empty", {"pkgabout", ""}, pkgabout_usage, "", 1, 0, false},
        {"pkgabout_long", {"pkgabout", longest}, pkgabout_usage, "", 1, 0, false},
        {"pkgabout_long_option", {"pkgabout", "-n" + longest.substr(2)}, pkgabout_usage, "", 1, 0, false},
        {"pkgabout_non_ascii", {"pkgabout", non_ascii}, pkgabout_usage, "", 1, 0, false},
        {"pkgabout_number", {"pkgabout", beyond_64}, pkgabout_usage, "", 1, 0, false},
        // lampcheck ignores its arguments (no board: it ends at once).
        {"lampcheck_anything", {"lampcheck", "", longest, non_ascii, beyond_64}, "", "", 0, 0, false},
        // tsyncemu: each position of the command line read strictly.
        {"tsyncemu_empty_command", {"tsyncemu", ""}, "", usage_error("tsyncemu", "unknown command \"\""), 2},
        {"tsyncemu_unknown_command_alone", {"tsyncemu", "frobnicate"}, "",
         usage_error("tsyncemu", "unknown command \"frobnicate\""), 2},
        {"tsyncemu_non_ascii_command", {"tsyncemu", non_ascii, "0"}, "",
         usage_error("tsyncemu", "unknown command \"" + non_ascii + "\""), 2},
        {"tsyncemu_empty_index", {"tsyncemu", "show", ""}, "", usage_error("tsyncemu", "bad board index \"\""), 2},
        {"tsyncemu_long_index", {"tsyncemu", "show", longest_digits}, "",
         usage_error("tsyncemu", "bad board index \"" + longest_digits + "\""), 2},
        {"tsyncemu_index_2_to_64_plus_1", {"tsyncemu", "show", wraps_to_1}, "",
         usage_error("tsyncemu", "bad board index \"" + wraps_to_1 + "\""), 2},
        {"tsyncemu_input_beyond_64_bits", {"tsyncemu", "stamp", "0", beyond_64}, "",
         usage_error("tsyncemu", "bad input \"" + beyond_64 + "\""), 2},
        {"tsyncemu_long_time", {"tsyncemu", "stamp", "0", "0", "--at", longest}, "",
         usage_error("tsyncemu", "bad time \"" + longest + "\""), 2},
        {"tsyncemu_push_field_beyond_32_bits", {"tsyncemu", "push", "0", "4294967296", "1", "1", "1", "1", "1"}, "",
         usage_error("tsyncemu", "bad number \"4294967296\""), 2},
        {"tsyncemu_push_field_2_to_64_plus_1", {"tsyncemu", "push", "0", "2026", wraps_to_1, "1", "1", "1", "1"}, "",
         usage_error("tsyncemu", "bad number \"" + wraps_to_1 + "\""), 2},
        {"tsyncemu_code_beyond_32_bits", {"tsyncemu", "fault", "0", "open", "2147483648"}, "",
         usage_error("tsyncemu", "bad return code \"2147483648\""), 2},
        {"tsyncemu_code_minus_beyond_64_bits", {"tsyncemu", "fault", "0", "open", minus_beyond_64}, "",
         usage_error("tsyncemu", "bad return code \"" + minus_beyond_64 + "\""), 2},
        // mbemu: options read strictly, refused before anything starts.
        {"mbemu_port_beyond_64_bits", {"mbemu", "--port", beyond_64}, "",
         usage_error("mbemu", "invalid value '" + beyond_64 + "' for --port: expected a port from 0 to 65535"), 2},
        {"mbemu_input_non_ascii", {"mbemu", "--input", non_ascii}, "",
         usage_error("mbemu", "invalid value '" + non_ascii + "' for --input: expected an input from 0 to 3"), 2},
        {"mbemu_stray_long_argument", {"mbemu", longest}, "", usage_error("mbemu", "unexpected argument '" + longest + "'"),
         2},
    };
}

class bad_input : public testing::TestWithParam<input_case> {};

TEST_P(bad_input, clear_message_documented_status_no_crash)
{
    const input_case &c = GetParam();
    testsupport::temp_dir dir;
    if (c.board) {
        ASSERT_EQ(emu::write_new_image(emu::image_path(dir.path(), 0), rel::frozen_board()), emu::access_status::ok);
    }
    testsupport::command cmd;
    const std::string &first = c.argv.at(0);
    // A made-up invocation name runs brdclock.
    cmd.program = testsupport::bin(first.size() > 64 ? "brdclock" : first);
    cmd.argv = c.argv;
    cmd.env_set = rel::board_env(dir.path());
    cmd.env_unset = {"SPEC_KTSAL_EN"};
    const auto r = testsupport::run(cmd);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(r.signal, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
    if (c.board) {
        const auto after = rel::load_board(dir.path());
        ASSERT_TRUE(after.has_value());
        EXPECT_EQ(after->open_handles, c.handles);
        if (c.calls != "-") {
            EXPECT_EQ(rel::calls_of(*after), c.calls);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(programs, bad_input, testing::ValuesIn(input_cases()),
                         [](const auto &p) { return p.param.name; });

// ---- the board directory ---------------------------------------------------

enum class place { missing, file, empty_value, unreadable_dir, unreadable_image, too_long };

struct dir_case {
    std::string name;
    place where;
    int rc; // the open's code
};
void PrintTo(const dir_case &c, std::ostream *os) { *os << c.name; }

// Permission bits bind root only without the capabilities that override them.
bool permissions_bind() { return geteuid() != 0 || access("/usr/bin/setpriv", X_OK) == 0; }

testsupport::command with_permissions(testsupport::command cmd)
{
    if (geteuid() != 0)
        return cmd;
    std::vector<std::string> argv = {"setpriv", "--bounding-set=-dac_override,-dac_read_search", "--",
                                     cmd.program};
    argv.insert(argv.end(), cmd.argv.begin() + 1, cmd.argv.end());
    cmd.program = "/usr/bin/setpriv";
    cmd.argv = argv;
    return cmd;
}

class board_directory : public testing::TestWithParam<dir_case> {};

TEST_P(board_directory, every_board_program_fails_cleanly)
{
    const dir_case &c = GetParam();
    const bool needs_permissions = c.where == place::unreadable_dir || c.where == place::unreadable_image;
    if (needs_permissions && !permissions_bind()) {
        GTEST_SKIP() << "running as root without setpriv: permission bits do not apply";
    }
    if (c.where == place::empty_value && testsupport::exists("/dev/tsyncpci0")) {
        GTEST_SKIP() << "a real board is here";
    }
    testsupport::temp_dir dir;
    std::string value;
    switch (c.where) {
    case place::missing: value = dir / "none"; break;
    case place::file:
        value = dir / "file";
        testsupport::write_file(value, "tsyncemu-board 1\n");
        break;
    case place::empty_value: value = ""; break;
    case place::unreadable_dir:
    case place::unreadable_image: {
        value = dir / "boards";
        ASSERT_EQ(mkdir(value.c_str(), 0755), 0);
        const std::string image = emu::image_path(value, 0);
        ASSERT_EQ(emu::write_new_image(image, rel::frozen_board()), emu::access_status::ok);
        ASSERT_EQ(chmod(c.where == place::unreadable_dir ? value.c_str() : image.c_str(), 0), 0);
        break;
    }
    case place::too_long: value = dir.path() + "/" + std::string(5000, 'd'); break;
    }

    const std::vector<std::vector<std::string>> tools = {
        {"brdclock", "0"}, {"brdanno", "0", "2026"}, {"brdflank", "0", "0", "1"},
        {"brdpinmark", "0", "0", "1"}, {"brdmark", "0", "1"}};
    auto command = [&](const std::vector<std::string> &argv) {
        testsupport::command cmd;
        cmd.program = testsupport::bin(argv.at(0));
        cmd.argv = argv;
        cmd.argv[0] = cmd.program; // as setpriv passes it on
        cmd.env_set = rel::board_env(value);
        return with_permissions(cmd);
    };
    for (const auto &argv : tools) {
        SCOPED_TRACE(argv[0]);
        const auto r = testsupport::run(command(argv));
        ASSERT_FALSE(r.timed_out);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.out, open_fail(testsupport::bin(argv[0]), "0", c.rc));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 1);
    }
    {
        const auto r = testsupport::run(command({"lampcheck"}));
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_EQ(r.status, 0);
    }
    {
        // One line naming the cause.
        const auto r = testsupport::run(command({"tsyncemu", "show", "0"}));
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.err.starts_with("tsyncemu: ")) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.status, 1);
    }
    if (c.where == place::unreadable_image) {
        emu::board b;
        EXPECT_EQ(emu::read_image(emu::image_path(value, 0), b), emu::access_status::ok) << "left unchanged";
    }
}

INSTANTIATE_TEST_SUITE_P(
    places, board_directory,
    testing::Values(dir_case{"missing", place::missing, emu::rc_no_device},
                    dir_case{"a_file", place::file, emu::rc_no_device},
                    // unset or empty: /dev/tsyncpci0 itself, absent on a machine without a board
                    dir_case{"empty_value", place::empty_value, emu::rc_no_device},
                    dir_case{"unreadable_directory", place::unreadable_dir, emu::rc_access},
                    dir_case{"unreadable_image", place::unreadable_image, emu::rc_access},
                    dir_case{"path_too_long", place::too_long, emu::rc_access}),
    [](const auto &p) { return p.param.name; });

// mbemu needs a board directory and says so before listening.
TEST(board_directory_mbemu, empty_value_and_no_option_is_a_usage_error)
{
    testsupport::command cmd;
    cmd.program = testsupport::bin("mbemu");
    cmd.argv = {"mbemu", "--port", "0"};
    cmd.env_set = {"TSYNC_EMULATOR_DIR="};
    const auto r = testsupport::run(cmd);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, usage_error("mbemu", "no board directory: give --dir or set TSYNC_EMULATOR_DIR"));
    EXPECT_EQ(r.status, 2);
}

} // namespace
