// mbemu as a script or a test meets it: the built program on a free port,
// datagrams sent to it, its log and what the emulated board stored.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <future>
#include <netinet/in.h>
#include <optional>
#include <ostream>
#include <regex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "board.hpp"
#include "orvane_core.hpp"
#include "testsupport.hpp"

namespace {

using testsupport::bin;

constexpr std::int64_t frozen_ns = 1796990400LL * 1'000'000'000 + 250; // 2026-12-11 12:00:00.00000025 UTC

std::string t0_bytes()
{
    const auto m = core::syst::commands::t0_cal::new_msg(1);
    return std::string(m.bytes.begin(), m.bytes.end());
}

std::string rejection(const std::string &bytes)
{
    return "rejected: " + core::syst::commands::t0_cal::decode(bytes.data(), bytes.size()).why;
}

std::string outcome(emu::edge_outcome o) { return std::string(emu::edge_outcome_text(o)); }

std::string pulse(emu::edge_outcome rising, emu::edge_outcome falling)
{
    return "T0 argument 1: rising edge: " + outcome(rising) + "; falling edge: " + outcome(falling);
}

// A UDP sender on an ephemeral port of 127.0.0.1.
class sender {
public:
    sender()
    {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr *>(&local), sizeof local);
        socklen_t size = sizeof local;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&local), &size);
        port_ = ntohs(local.sin_port);
    }
    ~sender() { close(fd_); }
    void send(int port, const std::string &bytes) const
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to),
                  static_cast<ssize_t>(bytes.size()));
    }
    std::string from() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    int fd_ = -1;
    int port_ = 0;
};

testsupport::command mbemu_command(const testsupport::temp_dir &dir, std::vector<std::string> args)
{
    testsupport::command cmd;
    cmd.program = bin("mbemu");
    cmd.argv = {"mbemu"};
    cmd.argv.insert(cmd.argv.end(), args.begin(), args.end());
    cmd.env_set = {"TSYNC_EMULATOR_DIR=" + dir.path()};
    cmd.timeout = std::chrono::milliseconds(10000);
    return cmd;
}

// mbemu running in the background, its log going to a file.
struct running {
    std::future<testsupport::result> done;
    std::string log_path;
    int port = 0;
};

running start(const testsupport::temp_dir &dir, std::vector<std::string> args)
{
    running r;
    r.log_path = dir / "mbemu.log";
    auto cmd = mbemu_command(dir, std::move(args));
    cmd.stdout_path = r.log_path;
    r.done = std::async(std::launch::async, [cmd] { return testsupport::run(cmd); });
    const std::regex ready("^listening on 127\\.0\\.0\\.1:([0-9]+)\n");
    for (int i = 0; i < 500 && r.port == 0; ++i) {
        std::smatch m;
        const std::string log = testsupport::exists(r.log_path) ? testsupport::read_file(r.log_path) : "";
        if (std::regex_search(log, m, ready))
            r.port = std::stoi(m[1]);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return r;
}

// The log with each line's receive time checked and replaced by {t}.
std::string log_of(const running &r, std::vector<std::int64_t> *times = nullptr)
{
    std::string log = testsupport::read_file(r.log_path);
    const std::regex stamp("^([0-9]+)\\.([0-9]{9}) from ", std::regex::multiline);
    std::string out;
    auto it = log.cbegin();
    for (std::smatch m; std::regex_search(it, log.cend(), m, stamp); it = m.suffix().first) {
        if (times)
            times->push_back(std::stoll(m[1]) * 1'000'000'000 + std::stoll(m[2]));
        out += std::string(it, m[0].first) + "{t} from ";
    }
    return out + std::string(it, log.cend());
}

void make_board(const testsupport::temp_dir &dir, bool hw, bool input_ts, emu::edge active, bool frozen)
{
    emu::board b;
    b.hw_ts_enabled = hw;
    b.inputs[0].ts_enabled = input_ts;
    b.inputs[0].edge = active;
    b.clock.frozen = frozen;
    b.clock.frozen_utc_ns = frozen_ns;
    ASSERT_EQ(emu::write_new_image(emu::image_path(dir.path(), 0), b), emu::access_status::ok);
}

std::deque<emu::stamp> store_of(const testsupport::temp_dir &dir)
{
    emu::board b;
    EXPECT_EQ(emu::read_image(emu::image_path(dir.path(), 0), b), emu::access_status::ok);
    return b.store;
}

// ---- the pulse on the board ------------------------------------------------

struct pulse_case {
    std::string name;
    bool hw, input_ts;
    emu::edge active;
    std::vector<std::string> options;
    std::string line; // after "{t} from {sender}: "
    std::size_t stamps;
};
void PrintTo(const pulse_case &c, std::ostream *os) { *os << c.name; }

class mbemu_pulse : public testing::TestWithParam<pulse_case> {};

TEST_P(mbemu_pulse, stamps_only_an_active_edge_with_time_stamping_on)
{
    const pulse_case &c = GetParam();
    testsupport::temp_dir dir;
    make_board(dir, c.hw, c.input_ts, c.active, true);
    std::vector<std::string> args = {"--port", "0", "--count", "1", "--timeout", "5"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    running mb = start(dir, args);
    ASSERT_NE(mb.port, 0) << "mbemu did not get ready";
    sender s;
    s.send(mb.port, t0_bytes());
    const auto r = mb.done.get();
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(log_of(mb), "listening on 127.0.0.1:" + std::to_string(mb.port) + "\n{t} from " + s.from() + ": " +
                              c.line + "\nstopped: count reached\n");
    emu::board b;
    b.clock.frozen = true;
    b.clock.frozen_utc_ns = frozen_ns;
    EXPECT_EQ(store_of(dir), std::deque<emu::stamp>(c.stamps, emu::stamp_of(b, frozen_ns)));
}

using eo = emu::edge_outcome;
INSTANTIATE_TEST_SUITE_P(
    boards, mbemu_pulse,
    testing::Values(
        pulse_case{"rising_active", true, true, emu::edge_rising, {}, pulse(eo::taken, eo::wrong_edge), 1},
        pulse_case{"falling_active", true, true, emu::edge_falling, {}, pulse(eo::wrong_edge, eo::taken), 1},
        pulse_case{"hardware_off", false, true, emu::edge_rising, {}, pulse(eo::hw_off, eo::hw_off), 0},
        pulse_case{"input_off", true, false, emu::edge_rising, {}, pulse(eo::input_off, eo::input_off), 0},
        pulse_case{"other_input", true, true, emu::edge_rising, {"--input", "1"},
                   pulse(eo::input_off, eo::input_off), 0}),
    [](const auto &p) { return p.param.name; });

// The edges land at receive time + delay and + delay + width, to the ns.
TEST(mbemu_timing, edges_follow_delay_and_width)
{
    for (const emu::edge active : {emu::edge_rising, emu::edge_falling}) {
        testsupport::temp_dir dir;
        make_board(dir, true, true, active, false);
        running mb = start(dir, {"--port", "0", "--count", "1", "--timeout", "5", "--delay", "2000000", "--width",
                                 "5000"});
        ASSERT_NE(mb.port, 0);
        sender s;
        s.send(mb.port, t0_bytes());
        EXPECT_EQ(mb.done.get().status, 0);
        std::vector<std::int64_t> times;
        log_of(mb, &times);
        ASSERT_EQ(times.size(), 1U);
        const std::int64_t at = times[0] + 2'000'000 + (active == emu::edge_falling ? 5000 : 0);
        EXPECT_EQ(store_of(dir), std::deque<emu::stamp>{emu::stamp_of(emu::board{}, at)}) << active;
    }
}

TEST(mbemu_log, rejects_what_is_no_t0_command_and_counts_only_commands)
{
    testsupport::temp_dir dir;
    make_board(dir, true, true, emu::edge_rising, true);
    running mb = start(dir, {"--port", "0", "--count", "1", "--timeout", "5"});
    ASSERT_NE(mb.port, 0);
    sender s;
    std::string other = t0_bytes();
    other[5] = 'X';
    const std::vector<std::string> junk = {"hello", other, ""};
    for (const auto &bytes : junk)
        s.send(mb.port, bytes);
    s.send(mb.port, t0_bytes());
    EXPECT_EQ(mb.done.get().status, 0);
    std::string expected = "listening on 127.0.0.1:" + std::to_string(mb.port) + "\n";
    for (const auto &bytes : junk)
        expected += "{t} from " + s.from() + ": " + rejection(bytes) + "\n";
    expected += "{t} from " + s.from() + ": " + pulse(eo::taken, eo::wrong_edge) + "\nstopped: count reached\n";
    EXPECT_EQ(log_of(mb), expected);
}

TEST(mbemu_log, missing_board_is_logged_and_mbemu_goes_on)
{
    testsupport::temp_dir dir;
    running mb = start(dir, {"--port", "0", "--count", "1", "--timeout", "5"});
    ASSERT_NE(mb.port, 0);
    sender s;
    s.send(mb.port, t0_bytes());
    EXPECT_EQ(mb.done.get().status, 0);
    const std::string log = log_of(mb);
    EXPECT_NE(log.find(": T0 argument 1: rising edge: not applied: no board image"), std::string::npos) << log;
    EXPECT_NE(log.find("; falling edge: not applied: no board image"), std::string::npos) << log;
}

// ---- stopping --------------------------------------------------------------

TEST(mbemu_stop, time_limit)
{
    testsupport::temp_dir dir;
    const auto r = testsupport::run(mbemu_command(dir, {"--port", "0", "--timeout", "0.2"}));
    EXPECT_TRUE(std::regex_match(r.out, std::regex("listening on 127\\.0\\.0\\.1:[0-9]+\nstopped: time limit\n")))
        << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(mbemu_stop, signals_end_it_cleanly)
{
    for (const std::string sig : {"INT", "TERM"}) {
        testsupport::temp_dir dir;
        testsupport::command cmd;
        cmd.program = "/bin/sh";
        cmd.argv = {"sh", "-c",
                    "\"$0\" --port 0 --dir \"$1\" > \"$1/log\" & p=$!\n"
                    "until grep -q listening \"$1/log\"; do sleep 0.01; done\n"
                    "kill -" + sig + " $p; wait $p; echo status $?",
                    bin("mbemu"), dir.path()};
        const auto r = testsupport::run(cmd);
        EXPECT_EQ(r.out, "status 0\n") << sig;
        const std::string log = testsupport::read_file(dir / "log");
        EXPECT_TRUE(log.ends_with("\nstopped: SIG" + sig + "\n")) << log;
    }
}

// ---- the command line --------------------------------------------------------

struct cli_case {
    std::string name;
    std::vector<std::string> args;
    std::string out, err;
    int status;
    bool env_dir = true;
};
void PrintTo(const cli_case &c, std::ostream *os)
{
    for (const auto &a : c.args)
        *os << '[' << a << ']';
}

class mbemu_cli : public testing::TestWithParam<cli_case> {};

TEST_P(mbemu_cli, refuses_what_it_cannot_run)
{
    const cli_case &c = GetParam();
    testsupport::temp_dir dir;
    auto cmd = mbemu_command(dir, c.args);
    if (!c.env_dir) {
        cmd.env_set.clear();
        cmd.env_unset = {"TSYNC_EMULATOR_DIR"};
    }
    const auto r = testsupport::run(cmd);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
}

std::string usage_error(const std::string &why)
{
    return "mbemu: " + why + "\nTry 'mbemu --help' for more information.\n";
}
std::string bad(const std::string &value, const std::string &option, const std::string &expected)
{
    return usage_error("invalid value '" + value + "' for " + option + ": expected " + expected);
}
const std::string port_range = "a port from 0 to 65535";
const std::string ns_range = "nanoseconds from 0 to 60000000000";
const std::string seconds_range = "seconds above 0, at most 31622400";

INSTANTIATE_TEST_SUITE_P(
    lines, mbemu_cli,
    testing::Values(
        cli_case{"version", {"--version"}, "mbemu (orvane-tsync) 1.1\n", "", 0},
        cli_case{"unknown_option", {"--bogus"}, "", usage_error("unknown option '--bogus'"), 2},
        cli_case{"unknown_option_with_value", {"--bogus=1"}, "", usage_error("unknown option '--bogus'"), 2},
        cli_case{"argument", {"extra"}, "", usage_error("unexpected argument 'extra'"), 2},
        cli_case{"missing_value", {"--port"}, "", usage_error("option --port needs a value"), 2},
        cli_case{"port_too_big", {"--port", "65536"}, "", bad("65536", "--port", port_range), 2},
        cli_case{"port_signed", {"--port=+1"}, "", bad("+1", "--port", port_range), 2},
        cli_case{"port_suffix", {"--port", "80x"}, "", bad("80x", "--port", port_range), 2},
        cli_case{"port_empty", {"--port="}, "", bad("", "--port", port_range), 2},
        cli_case{"port_huge", {"--port", "99999999999999999999999"}, "",
                 bad("99999999999999999999999", "--port", port_range), 2},
        cli_case{"address", {"--address", "127.1"}, "", bad("127.1", "--address", "a dotted IPv4 address"), 2},
        cli_case{"input", {"--input", "4"}, "", bad("4", "--input", "an input from 0 to 3"), 2},
        cli_case{"board", {"--board", "-1"}, "", bad("-1", "--board", "a board index from 0"), 2},
        cli_case{"delay", {"--delay", "60000000001"}, "", bad("60000000001", "--delay", ns_range), 2},
        cli_case{"width", {"--width", "1e3"}, "", bad("1e3", "--width", ns_range), 2},
        cli_case{"count_zero", {"--count", "0"}, "", bad("0", "--count", "a count from 1"), 2},
        cli_case{"timeout_zero", {"--timeout", "0.0"}, "", bad("0.0", "--timeout", seconds_range), 2},
        cli_case{"timeout_point", {"--timeout", "1."}, "", bad("1.", "--timeout", seconds_range), 2},
        cli_case{"timeout_fine", {"--timeout", "1.0000000001"}, "", bad("1.0000000001", "--timeout", seconds_range),
                 2},
        cli_case{"no_directory",
                 {"--port", "0"},
                 "",
                 usage_error("no board directory: give --dir or set TSYNC_EMULATOR_DIR"),
                 2,
                 false}),
    [](const auto &p) { return p.param.name; });

TEST(mbemu_cli_help, goes_to_stdout)
{
    testsupport::temp_dir dir;
    const auto r = testsupport::run(mbemu_command(dir, {"--port", "x", "--help"}));
    EXPECT_EQ(r.status, 2) << "options are read in order: the bad port first";
    const auto h = testsupport::run(mbemu_command(dir, {"--help", "--port", "x"}));
    EXPECT_TRUE(h.out.starts_with("Usage: mbemu [OPTION]...\n")) << h.out;
    EXPECT_EQ(h.err, "");
    EXPECT_EQ(h.status, 0);
}

TEST(mbemu_cli_port, taken_port_is_a_clear_error)
{
    testsupport::temp_dir dir;
    sender holder; // holds an ephemeral port of 127.0.0.1
    const std::string port = holder.from().substr(10);
    const auto r = testsupport::run(mbemu_command(dir, {"--port", port, "--timeout", "1"}));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "mbemu: cannot listen on 127.0.0.1:" + port + ": Address already in use\n");
    EXPECT_EQ(r.status, 1);
}

} // namespace
