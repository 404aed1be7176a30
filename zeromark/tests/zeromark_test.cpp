// zeromark as a user runs it: the built program against an emulated board in
// a fresh directory and a listening motherboard on 127.0.0.1:55555; stdout,
// stderr, status, the T0 file, the board's call log and what went on the wire.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <future>
#include <thread>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "board.hpp"
#include "motherboard.hpp"
#include "orvane_core.hpp"
#include "testsupport.hpp"

namespace {

using testsupport::bin;

const std::string usage = "\n"
                          " usage :\n"
                          "         orvane_t0   motherboard_ip   [t0_filename]\n"
                          "\n"
                          "         ex1 : orvane_t0  192.168.1.101\n"
                          "         ex2 : orvane_t0  192.168.1.101  ~/.orvane_t0\n"
                          "\n";
const std::string announce = "Sending T0 signal to 127.0.0.1\n";
const std::string sent_trace = "initialize\nset_connection 127.0.0.1 0 55555\nsend 8 bytes\nfinalize\n";
const std::string silent_trace = "initialize\nfinalize\n";
const std::string old_t0 = "2020-01-01_00:00:00.000000_UTC  # Irig_b clock\n2020-01-01_00:00:00.000000 # System clock\n";
const std::string pc_report = "Putting PC system clock T0  (";

// 2026-12-11 12:00:00.123456789 UTC, day 345.
constexpr emu::stamp noon{2026, 345, 12, 0, 0, 123456789, 1};

std::string replace_all(std::string s, const std::string &from, const std::string &to)
{
    for (auto p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
        s.replace(p, from.size(), to);
    return s;
}

std::string calls_of(const emu::board &b)
{
    std::string s;
    for (const auto &c : b.calls) {
        s += s.empty() ? "" : " ";
        s += emu::op_name(c.operation);
        if (c.rc != emu::rc_ok)
            s += "=" + std::to_string(c.rc);
    }
    return s;
}

emu::fault_rule fault(emu::op o, std::uint32_t skip = 0)
{
    return emu::fault_rule{o, emu::rc_io, skip, 1};
}

// A board ready for the T0 run: time-stamping on for input 0.
void make_board(const std::string &dir, const std::vector<emu::fault_rule> &faults = {})
{
    emu::board b;
    b.hw_ts_enabled = true;
    b.inputs[0].ts_enabled = true;
    b.faults = faults;
    ASSERT_EQ(emu::write_new_image(emu::image_path(dir, 0), b), emu::access_status::ok);
}

void push(const std::string &dir, const emu::stamp &s)
{
    emu::update_image(emu::image_path(dir, 0), [&](emu::board &b) {
        b.store.push_back(s);
        return true;
    });
}

// Local civil time "YYYY-MM-DD_HH:MM:SS.ffffff" in zone tz to ns since 1970.
std::int64_t local_ns(const std::string &image, const std::string &tz)
{
    std::tm tm{};
    long micros = 0;
    if (std::sscanf(image.c_str(), "%d-%d-%d_%d:%d:%d.%ld", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                    &tm.tm_min, &tm.tm_sec, &micros) != 7)
        return -1;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    const char *old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", tz.c_str(), 1);
    tzset();
    const std::time_t t = std::mktime(&tm);
    old ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
    return static_cast<std::int64_t>(t) * 1'000'000'000 + micros * 1000;
}

// What one run left behind.
struct outcome {
    testsupport::result r;
    std::vector<zmtest::received> datagrams;
    std::string trace;
    std::vector<std::string> pc_images; // every PC image found, replaced by {pc}
};

struct run_options {
    std::vector<std::string> args; // after the program name
    std::optional<emu::stamp> stamp; // pushed when the datagram arrives
    std::string tz = "UTC";
    std::string cwd;
    std::string stdout_path;
    bool close_stdout = false;
};

// The PC image is the clock: kept aside in seen and checked apart.
void mask_pc(std::string &out, std::vector<std::string> &seen)
{
    for (auto p = out.find(pc_report); p != std::string::npos; p = out.find(pc_report, p)) {
        p += pc_report.size();
        seen.push_back(out.substr(p, 26));
        out.replace(p, 26, "{pc}");
    }
}

outcome run_zeromark(const testsupport::temp_dir &dir, const run_options &o)
{
    outcome res;
    zmtest::motherboard mb([&](const zmtest::received &) {
        if (o.stamp)
            push(dir.path(), *o.stamp);
    });
    testsupport::command cmd;
    cmd.program = bin("zeromark");
    cmd.argv = {"zeromark"};
    cmd.argv.insert(cmd.argv.end(), o.args.begin(), o.args.end());
    cmd.env_set = {"TSYNC_EMULATOR_DIR=" + dir.path(), "ORVANE_CORE_TRACE=" + dir / "trace", "TZ=" + o.tz};
    cmd.cwd = o.cwd;
    cmd.stdout_path = o.stdout_path;
    cmd.close_stdout = o.close_stdout;
    cmd.timeout = std::chrono::milliseconds(10000);
    res.r = testsupport::run(cmd);
    res.datagrams = mb.finish();
    if (testsupport::exists(dir / "trace"))
        res.trace = testsupport::read_file(dir / "trace");
    mask_pc(res.r.out, res.pc_images);
    return res;
}

// The T0 file with its PC image replaced by {pc}, after checking it is the
// report's.
std::string masked_file(const std::string &content, const outcome &res)
{
    const auto nl = content.find('\n');
    if (res.pc_images.empty() || nl == std::string::npos || content.size() < nl + 27)
        return content;
    const std::string pc = content.substr(nl + 1, 26);
    EXPECT_EQ(pc, res.pc_images.front());
    return content.substr(0, nl + 1) + "{pc}" + content.substr(nl + 27);
}

// ---- the outcome rows ----------------------------------------------------

struct run_case {
    std::string name;
    std::vector<std::string> args;     // "{dir}" is the test's directory
    std::optional<emu::stamp> stamp;   // taken by the board when the command arrives
    std::vector<emu::fault_rule> faults;
    bool board = true;                 // a board image exists
    std::string out;                   // "{dir}" the directory, "{pc}" the PC image
    std::string err;
    int status = 0;
    std::string trace = sent_trace;
    std::string calls;                 // the board's call log afterwards
    std::optional<std::string> file;   // {dir}/t0 afterwards; none: the old content
};

void PrintTo(const run_case &c, std::ostream *os) { *os << c.name; }
std::string case_name(const testing::TestParamInfo<run_case> &p) { return p.param.name; }

const std::string drained = "open HW_getTsData close";
const std::string full_calls = drained + " open HW_getTsSingle close";
const std::string noon_line = "  345, 2026 12:00:00.123456789, Sync\n";
const std::string noon_report = "Putting IRIG_B date T0  (2026-12-11_12:00:00.123456_UTC)  to {dir}/t0\n"
                                "Putting PC system clock T0  ({pc})  to {dir}/t0\n";
const std::string noon_file = "2026-12-11_12:00:00.123456_UTC  # Irig_b clock\n{pc} # System clock\n";
std::string open_failed(int rc) { return "HW_GetTsSingle: !Could not open </dev/tsyncpci0> : rc <" + std::to_string(rc) + ">\n"; }

const std::vector<run_case> run_cases = {
    {"no_argument", {}, noon, {}, true, usage, "", 1, silent_trace, "", std::nullopt},
    {"board_missing", {"127.0.0.1", "{dir}/t0"}, noon, {}, false, announce, "", 0, sent_trace, "", std::nullopt},
    {"drain_fails", {"127.0.0.1", "{dir}/t0"}, noon, {fault(emu::op::HW_getTsData)}, true, announce, "", 0,
     sent_trace, "open HW_getTsData=10 close", std::nullopt},
    {"open_fails_after_send", {"127.0.0.1", "{dir}/t0"}, noon, {fault(emu::op::open, 1)}, true,
     announce + open_failed(emu::rc_io), "", 2, sent_trace, drained + " open=10", std::nullopt},
    {"read_fails", {"127.0.0.1", "{dir}/t0"}, noon, {fault(emu::op::HW_getTsSingle)}, true,
     announce + "  Error: " + emu::rc_text(emu::rc_io) + ".\n", "", 2, sent_trace,
     drained + " open HW_getTsSingle=10 close", std::nullopt},
    {"close_fails", {"127.0.0.1", "{dir}/t0"}, noon, {fault(emu::op::close, 1)}, true,
     announce + noon_line + "HW_GetTsSingle: error closing </dev/tsyncpci0> rc: <10>\n", "", 2, sent_trace,
     drained + " open HW_getTsSingle close=10", std::nullopt},
    {"one_argument", {"127.0.0.1"}, noon, {}, true, announce + noon_line, "", 0, sent_trace, full_calls,
     std::nullopt},
    {"two_arguments", {"127.0.0.1", "{dir}/t0"}, noon, {}, true, announce + noon_line + noon_report, "", 0,
     sent_trace, full_calls, noon_file},
    {"more_arguments", {"127.0.0.1", "{dir}/t0", "{dir}/other", "x"}, noon, {}, true,
     announce + noon_line + noon_report, "", 0, sent_trace, full_calls, noon_file},
    {"no_data", {"127.0.0.1", "{dir}/t0"}, std::nullopt, {}, true,
     announce + "TSYNC_BoardHandle :  No data\n"
                "Putting IRIG_B date T0  (1971-03-01_00:00:00.000000_UTC)  to {dir}/t0\n"
                "Putting PC system clock T0  ({pc})  to {dir}/t0\n",
     "", 0, sent_trace, full_calls, "1971-03-01_00:00:00.000000_UTC  # Irig_b clock\n{pc} # System clock\n"},
    // 999999967 ns comes out as 999999881: six nines, no carry.
    {"just_below_a_second", {"127.0.0.1", "{dir}/t0"}, emu::stamp{2026, 345, 12, 0, 59, 999999967, 0}, {}, true,
     announce + "  345, 2026 12:00:59.999999967, No Sync\n"
                "Putting IRIG_B date T0  (2026-12-11_12:00:59.999999_UTC)  to {dir}/t0\n"
                "Putting PC system clock T0  ({pc})  to {dir}/t0\n",
     "", 0, sent_trace, full_calls, "2026-12-11_12:00:59.999999_UTC  # Irig_b clock\n{pc} # System clock\n"},
    // 999999968 ns is a whole second: the last second of the year carries.
    {"carry_into_next_year", {"127.0.0.1", "{dir}/t0"}, emu::stamp{2026, 365, 23, 59, 59, 999999968, 1}, {}, true,
     announce + "  365, 2026 23:59:59.999999968, Sync\n"
                "Putting IRIG_B date T0  (2027-01-01_00:00:00.000000_UTC)  to {dir}/t0\n"
                "Putting PC system clock T0  ({pc})  to {dir}/t0\n",
     "", 0, sent_trace, full_calls, "2027-01-01_00:00:00.000000_UTC  # Irig_b clock\n{pc} # System clock\n"},
    {"range_error", {"127.0.0.1", "{dir}/t0"}, emu::stamp{2026, 345, 12, 0, 60, 0, 1}, {}, true,
     announce + "  345, 2026 12:00:60.000000000, Sync\n", "zeromark: tsync:48: second 60 is outside 0 to 59\n", 1,
     sent_trace, full_calls, std::nullopt},
    {"address_not_dotted", {"192.168.1", "{dir}/t0"}, noon, {}, true, "",
     "zeromark: not a dotted IPv4 address: '192.168.1'\n", 1, silent_trace, drained, std::nullopt},
    {"address_empty", {"", "{dir}/t0"}, noon, {}, true, "", "zeromark: not a dotted IPv4 address: ''\n", 1,
     silent_trace, drained, std::nullopt},
    {"t0_directory_missing", {"127.0.0.1", "{dir}/none/t0"}, noon, {}, true,
     announce + noon_line + replace_all(noon_report, "{dir}/t0", "{dir}/none/t0"),
     "zeromark: cannot write T0 file {dir}/none/t0: No such file or directory\n", 1, sent_trace, full_calls,
     std::nullopt},
};

class zeromark_run : public testing::TestWithParam<run_case> {};

TEST_P(zeromark_run, behaves_as_the_outcome_row_says)
{
    const run_case &c = GetParam();
    testsupport::temp_dir dir;
    if (c.board)
        make_board(dir.path(), c.faults);
    testsupport::write_file(dir / "t0", old_t0);
    run_options o;
    for (const auto &a : c.args)
        o.args.push_back(replace_all(a, "{dir}", dir.path()));
    o.stamp = c.stamp;
    const outcome res = run_zeromark(dir, o);

    EXPECT_EQ(res.r.out, replace_all(c.out, "{dir}", dir.path()));
    EXPECT_EQ(res.r.err, replace_all(c.err, "{dir}", dir.path()));
    EXPECT_EQ(res.r.status, c.status);
    EXPECT_EQ(res.trace, c.trace);
    const bool sends = c.trace == sent_trace;
    ASSERT_EQ(res.datagrams.size(), sends ? 1U : 0U);
    if (sends) {
        const auto msg = core::syst::commands::t0_cal::new_msg(1);
        EXPECT_EQ(res.datagrams[0].bytes, std::string(msg.bytes.begin(), msg.bytes.end()));
    }
    if (c.board) {
        emu::board after;
        ASSERT_EQ(emu::read_image(emu::image_path(dir.path(), 0), after), emu::access_status::ok);
        EXPECT_EQ(calls_of(after), c.calls);
    }
    const std::string t0 = testsupport::read_file(dir / "t0");
    EXPECT_EQ(c.file ? masked_file(t0, res) : t0, c.file.value_or(old_t0));
    for (const auto &pc : res.pc_images) {
        // Read just before the send: not after the datagram arrived, and close to it.
        const std::int64_t sent = local_ns(pc, "UTC");
        EXPECT_LE(sent, res.datagrams.at(0).realtime_ns) << pc;
        EXPECT_GT(sent, res.datagrams.at(0).realtime_ns - 100'000'000) << pc;
    }
    // Nothing but the T0 file (and the run's own files) in the directory.
    for (const auto &name : testsupport::list_dir(dir.path()))
        EXPECT_TRUE(name == "t0" || name == "trace" || name.starts_with("tsyncpci0")) << name;
}

INSTANTIATE_TEST_SUITE_P(rows, zeromark_run, testing::ValuesIn(run_cases), case_name);

// ---- time zones ----------------------------------------------------------

struct zone_case {
    std::string name;
    std::string tz;
};
void PrintTo(const zone_case &c, std::ostream *os) { *os << c.tz; }
std::string zone_name(const testing::TestParamInfo<zone_case> &p) { return p.param.name; }

class zeromark_zone : public testing::TestWithParam<zone_case> {};

TEST_P(zeromark_zone, board_image_is_the_same_and_pc_image_follows_the_zone)
{
    testsupport::temp_dir dir;
    make_board(dir.path());
    run_options o;
    o.args = {"127.0.0.1", dir / "t0"};
    o.stamp = noon;
    o.tz = GetParam().tz;
    const outcome res = run_zeromark(dir, o);
    const std::string report = replace_all(noon_report, "{dir}", dir.path());
    EXPECT_EQ(res.r.out, announce + noon_line + report);
    EXPECT_EQ(res.r.err, "");
    EXPECT_EQ(res.r.status, 0);
    EXPECT_EQ(masked_file(testsupport::read_file(dir / "t0"), res), noon_file);
    ASSERT_EQ(res.pc_images.size(), 1U);
    ASSERT_EQ(res.datagrams.size(), 1U);
    const std::int64_t sent = local_ns(res.pc_images[0], o.tz);
    EXPECT_LE(sent, res.datagrams[0].realtime_ns) << res.pc_images[0];
    EXPECT_GT(sent, res.datagrams[0].realtime_ns - 100'000'000) << res.pc_images[0];
}

// POSIX zone rules, so that no time-zone database is needed.
INSTANTIATE_TEST_SUITE_P(zones, zeromark_zone,
                         testing::Values(zone_case{"utc", "UTC0"}, zone_case{"new_york", "EST5EDT,M3.2.0,M11.1.0"},
                                         zone_case{"india", "IST-5:30"}, zone_case{"chatham", "<+1345>-13:45"}),
                         zone_name);

// ---- the wait --------------------------------------------------------------

TEST(zeromark_wait, board_is_read_no_earlier_than_a_tenth_after_the_send)
{
    testsupport::temp_dir dir;
    make_board(dir.path());
    // The stamp reaches the board 80 ms after the datagram: a read before
    // then would find the store empty.
    zmtest::motherboard mb([&](const zmtest::received &r) {
        const std::int64_t at = r.realtime_ns + 80'000'000;
        const timespec until{static_cast<time_t>(at / 1'000'000'000), static_cast<long>(at % 1'000'000'000)};
        while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &until, nullptr) != 0) {
        }
        push(dir.path(), noon);
    });
    testsupport::command cmd;
    cmd.program = bin("zeromark");
    cmd.argv = {"zeromark", "127.0.0.1"};
    cmd.env_set = {"TSYNC_EMULATOR_DIR=" + dir.path()};
    const auto r = testsupport::run(cmd);
    ASSERT_EQ(mb.finish().size(), 1U);
    EXPECT_EQ(r.out, announce + noon_line);
    EXPECT_EQ(r.status, 0);
}

// ---- with the motherboard emulator -------------------------------------------

// The whole chain: mbemu stamps the board at the datagram's receive time,
// which comes back as the T0 instant.
TEST(zeromark_with_mbemu, t0_instant_is_the_pulse_on_the_board)
{
    testsupport::temp_dir dir;
    make_board(dir.path());
    testsupport::command mb;
    mb.program = bin("mbemu");
    mb.argv = {"mbemu", "--dir", dir.path(), "--count", "1", "--timeout", "10"};
    mb.stdout_path = dir / "mbemu.log";
    auto done = std::async(std::launch::async, [mb] { return testsupport::run(mb); });
    std::string log;
    for (int i = 0; i < 500 && log.find('\n') == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        log = testsupport::exists(mb.stdout_path) ? testsupport::read_file(mb.stdout_path) : "";
    }
    ASSERT_EQ(log, "listening on 127.0.0.1:55555\n") << "mbemu could not listen: is port 55555 taken?";
    testsupport::command cmd;
    cmd.program = bin("zeromark");
    cmd.argv = {"zeromark", "127.0.0.1", dir / "t0"};
    cmd.env_set = {"TSYNC_EMULATOR_DIR=" + dir.path(), "TZ=UTC0"};
    const auto r = testsupport::run(cmd);
    const auto m = done.get();
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(m.status, 0);
    long long s = 0, ns = 0;
    log = testsupport::read_file(mb.stdout_path);
    ASSERT_EQ(std::sscanf(log.c_str(), "listening on 127.0.0.1:55555\n%lld.%9lld from", &s, &ns), 2) << log;
    const std::time_t t = static_cast<std::time_t>(s);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char line[160];
    std::snprintf(line, sizeof line, "%04d-%02d-%02d_%02d:%02d:%02d.%06lld_UTC  # Irig_b clock\n", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ns / 1000);
    const std::string t0 = testsupport::read_file(dir / "t0");
    EXPECT_EQ(t0.substr(0, t0.find('\n') + 1), line);
}

// ---- the T0 file ----------------------------------------------------------

TEST(zeromark_file, empty_name_leaves_no_file)
{
    testsupport::temp_dir dir, cwd;
    make_board(dir.path());
    run_options o;
    o.args = {"127.0.0.1", ""};
    o.stamp = noon;
    o.cwd = cwd.path();
    const outcome res = run_zeromark(dir, o);
    EXPECT_EQ(res.r.out, announce + noon_line + replace_all(noon_report, "{dir}/t0", ""));
    EXPECT_EQ(res.r.status, 0);
    EXPECT_EQ(testsupport::list_dir(cwd.path()), std::vector<std::string>{});
}

// Standard output as a pipe and as a file: the report lines, then the T0
// file's lines, nothing lost or overwritten.
TEST(zeromark_file, dev_stdout_gets_the_report_lines_first)
{
    for (const bool to_file : {false, true}) {
        testsupport::temp_dir dir;
        make_board(dir.path());
        run_options o;
        o.args = {"127.0.0.1", "/dev/stdout"};
        o.stamp = noon;
        if (to_file)
            o.stdout_path = dir / "out";
        outcome res = run_zeromark(dir, o);
        std::string out = res.r.out;
        if (to_file) {
            out = testsupport::read_file(dir / "out");
            mask_pc(out, res.pc_images);
        }
        // The file's PC image is the report's reading.
        ASSERT_EQ(res.pc_images.size(), 1U);
        EXPECT_EQ(replace_all(out, res.pc_images[0], "{pc}"),
                  announce + noon_line + replace_all(noon_report, "{dir}/t0", "/dev/stdout") + noon_file)
            << (to_file ? "to a file" : "to a pipe");
        EXPECT_EQ(res.r.err, "");
        EXPECT_EQ(res.r.status, 0);
    }
}

TEST(zeromark_file, existing_file_keeps_its_mode)
{
    testsupport::temp_dir dir;
    make_board(dir.path());
    testsupport::write_file(dir / "t0", old_t0);
    ASSERT_EQ(chmod((dir / "t0").c_str(), 0604), 0);
    run_options o;
    o.args = {"127.0.0.1", dir / "t0"};
    o.stamp = noon;
    const outcome res = run_zeromark(dir, o);
    EXPECT_EQ(res.r.status, 0);
    EXPECT_EQ(masked_file(testsupport::read_file(dir / "t0"), res), noon_file);
    struct stat st{};
    ASSERT_EQ(stat((dir / "t0").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604U);
}

TEST(zeromark_file, new_file_gets_the_mode_of_the_umask)
{
    testsupport::temp_dir dir;
    make_board(dir.path());
    const mode_t old_mask = umask(027);
    run_options o;
    o.args = {"127.0.0.1", dir / "t0new"};
    o.stamp = noon;
    const outcome res = run_zeromark(dir, o);
    umask(old_mask);
    EXPECT_EQ(res.r.status, 0);
    struct stat st{};
    ASSERT_EQ(stat((dir / "t0new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640U);
}

TEST(zeromark_file, links_stay_and_their_target_is_replaced)
{
    testsupport::temp_dir dir;
    make_board(dir.path());
    ASSERT_EQ(mkdir((dir / "real").c_str(), 0755), 0);
    testsupport::write_file(dir / "real/t0", old_t0);
    // t0 -> hop -> real/t0, both relative; dangling -> real/fresh (not there yet).
    ASSERT_EQ(symlink("hop", (dir / "t0").c_str()), 0);
    ASSERT_EQ(symlink("real/t0", (dir / "hop").c_str()), 0);
    ASSERT_EQ(symlink("real/fresh", (dir / "dangling").c_str()), 0);
    for (const std::string name : {"t0", "dangling"}) {
        run_options o;
        o.args = {"127.0.0.1", dir / name};
        o.stamp = noon;
        const outcome res = run_zeromark(dir, o);
        EXPECT_EQ(res.r.status, 0) << name << res.r.err;
    }
    struct stat st{};
    for (const std::string name : {"t0", "hop", "dangling"}) {
        ASSERT_EQ(lstat((dir / name).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
    }
    for (const std::string name : {"real/t0", "real/fresh"}) {
        const std::string content = testsupport::read_file(dir / name);
        EXPECT_EQ(content.substr(0, content.find('\n') + 1), "2026-12-11_12:00:00.123456_UTC  # Irig_b clock\n");
    }
    EXPECT_EQ(testsupport::list_dir(dir / "real"), (std::vector<std::string>{"fresh", "t0"}));
}

TEST(zeromark_file, long_name_is_no_problem_for_the_temporary_file)
{
    testsupport::temp_dir dir;
    make_board(dir.path());
    const std::string name = std::string(250, 'n');
    testsupport::write_file(dir / name, old_t0);
    run_options o;
    o.args = {"127.0.0.1", dir / name};
    o.stamp = noon;
    const outcome res = run_zeromark(dir, o);
    EXPECT_EQ(res.r.err, "");
    EXPECT_EQ(res.r.status, 0);
    EXPECT_EQ(masked_file(testsupport::read_file(dir / name), res), noon_file);
}

// Makes a file or directory unchangeable even for root; undone at the end.
class immutable {
public:
    explicit immutable(std::string path) : path_(std::move(path))
    {
        ok_ = std::system(("chattr +i '" + path_ + "' 2>/dev/null").c_str()) == 0;
    }
    ~immutable()
    {
        if (ok_ && std::system(("chattr -i '" + path_ + "'").c_str()) != 0)
            ADD_FAILURE() << "cannot undo chattr +i on " << path_;
    }
    bool ok() const { return ok_; }

private:
    std::string path_;
    bool ok_ = false;
};

struct failing_write_case {
    std::string name;
    bool lock_directory; // else the old file itself: the rename over it fails
};
void PrintTo(const failing_write_case &c, std::ostream *os) { *os << c.name; }

class zeromark_failing_write : public testing::TestWithParam<failing_write_case> {};

TEST_P(zeromark_failing_write, leaves_the_old_file_whole_and_no_stray_file)
{
    testsupport::temp_dir dir;
    make_board(dir.path());
    ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
    testsupport::write_file(dir / "out/t0", old_t0);
    immutable lock(GetParam().lock_directory ? dir / "out" : dir / "out/t0");
    if (!lock.ok())
        GTEST_SKIP() << "chattr +i not available here";
    run_options o;
    o.args = {"127.0.0.1", dir / "out/t0"};
    o.stamp = noon;
    const outcome res = run_zeromark(dir, o);
    EXPECT_EQ(res.r.out, announce + noon_line + replace_all(noon_report, "{dir}/t0", dir / "out/t0"));
    EXPECT_EQ(res.r.err, "zeromark: cannot write T0 file " + dir / "out/t0" + ": Operation not permitted\n");
    EXPECT_EQ(res.r.status, 1);
    EXPECT_EQ(res.trace, sent_trace);
    EXPECT_EQ(testsupport::read_file(dir / "out/t0"), old_t0);
    EXPECT_EQ(testsupport::list_dir(dir / "out"), std::vector<std::string>{"t0"});
}

INSTANTIATE_TEST_SUITE_P(steps, zeromark_failing_write,
                         testing::Values(failing_write_case{"creation", true}, failing_write_case{"rename", false}),
                         [](const auto &p) { return p.param.name; });

TEST(zeromark_file, device_is_written_through_and_its_failure_reported)
{
    testsupport::temp_dir dir;
    make_board(dir.path());
    run_options o;
    o.args = {"127.0.0.1", "/dev/full"};
    o.stamp = noon;
    const outcome res = run_zeromark(dir, o);
    EXPECT_EQ(res.r.out, announce + noon_line + replace_all(noon_report, "{dir}/t0", "/dev/full"));
    EXPECT_EQ(res.r.err, "zeromark: cannot write T0 file /dev/full: No space left on device\n");
    EXPECT_EQ(res.r.status, 1);
}

// ---- standard output --------------------------------------------------------

struct stdout_case {
    std::string name;
    std::vector<std::string> args;
    std::string stdout_path;
    bool close_stdout;
    std::string err;
    std::string trace;
};
void PrintTo(const stdout_case &c, std::ostream *os) { *os << c.name; }

class zeromark_stdout : public testing::TestWithParam<stdout_case> {};

TEST_P(zeromark_stdout, that_cannot_be_written_fails_the_run)
{
    const stdout_case &c = GetParam();
    testsupport::temp_dir dir;
    make_board(dir.path());
    run_options o;
    for (const auto &a : c.args)
        o.args.push_back(replace_all(a, "{dir}", dir.path()));
    o.stamp = noon;
    o.stdout_path = c.stdout_path;
    o.close_stdout = c.close_stdout;
    const outcome res = run_zeromark(dir, o);
    EXPECT_EQ(res.r.err, c.err);
    EXPECT_EQ(res.r.status, 1);
    EXPECT_EQ(res.r.signal, 0);
    EXPECT_EQ(res.trace, c.trace);
}

const std::string full = "zeromark: cannot write standard output: No space left on device\n";
const std::string broken = "zeromark: cannot write standard output: Broken pipe\n";

INSTANTIATE_TEST_SUITE_P(
    outputs, zeromark_stdout,
    testing::Values(stdout_case{"full_device", {"127.0.0.1", "{dir}/t0"}, "/dev/full", false, full, sent_trace},
                    stdout_case{"full_device_usage", {}, "/dev/full", false, full, silent_trace},
                    stdout_case{"reader_gone", {"127.0.0.1", "{dir}/t0"}, "", true, broken, sent_trace}),
    [](const auto &p) { return p.param.name; });

} // namespace
