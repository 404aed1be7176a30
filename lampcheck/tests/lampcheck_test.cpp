// lampcheck as a user runs it: silent, status 0, whatever the board and the
// arguments.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "board.hpp"
#include "testsupport.hpp"

namespace {

enum class board_kind { none, corrupt, working };

struct lamp_case {
    std::string name;
    std::vector<std::string> args;
    board_kind board;
};

void PrintTo(const lamp_case &c, std::ostream *os) { *os << c.name; }
std::string case_name(const testing::TestParamInfo<lamp_case> &p) { return p.param.name; }

class Lampcheck : public testing::TestWithParam<lamp_case> {};

TEST_P(Lampcheck, SilentAndSucceeds)
{
    const lamp_case &c = GetParam();
    testsupport::temp_dir dir;
    const std::string image = emu::image_path(dir.path(), 0);
    if (c.board == board_kind::working) {
        ASSERT_EQ(emu::write_new_image(image, emu::board{}), emu::access_status::ok);
    } else if (c.board == board_kind::corrupt) {
        testsupport::write_file(image, "not a board\n");
    }

    testsupport::command cmd;
    cmd.program = testsupport::bin("lampcheck");
    cmd.argv = {"lampcheck"};
    cmd.argv.insert(cmd.argv.end(), c.args.begin(), c.args.end());
    cmd.env_set = {"TSYNC_EMULATOR_DIR=" + dir.path()};
    const auto r = testsupport::run(cmd);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 0);

    if (c.board == board_kind::working) {
        // The test ran to its end: each LED back in its own mode, board closed.
        emu::board after;
        ASSERT_EQ(emu::read_image(image, after), emu::access_status::ok);
        for (std::size_t led = 0; led < after.leds.size(); ++led)
            EXPECT_EQ(after.leds[led].mode, led);
        EXPECT_FALSE(after.led_log.empty());
        EXPECT_EQ(after.open_handles, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, Lampcheck,
                         testing::Values(lamp_case{"no_board", {}, board_kind::none},
                                         lamp_case{"no_board_with_arguments", {"-v", "0", "", "--help"}, board_kind::none},
                                         lamp_case{"unreadable_board", {}, board_kind::corrupt},
                                         lamp_case{"with_board_and_arguments", {"1", "x"}, board_kind::working}),
                         case_name);

} // namespace
