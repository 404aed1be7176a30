// The T0 file under a killed or failing zeromark: killed at each system call
// of the file's replacement, or with that call failing (ENOSPC, EIO), the
// T0 file holds exactly the old two lines or exactly the new ones, and the
// next run succeeds whatever a kill left beside it.
#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "reliability.hpp"

namespace {

const std::string old_t0 = "2020-01-01_00:00:00.000000_UTC  # Irig_b clock\n2020-01-01_00:00:00.000000 # System clock\n";
// The system calls of the replacement, and the others that are counted.
const std::string traced = "openat,fchown,fchmod,write,fsync,close,rename,renameat,renameat2,unlink,unlinkat";

struct setup {
    testsupport::temp_dir dir;
    std::string out_dir, t0;
    explicit setup(bool old_file)
    {
        out_dir = dir / "out";
        t0 = out_dir + "/t0";
        EXPECT_EQ(mkdir(out_dir.c_str(), 0755), 0);
        if (old_file)
            testsupport::write_file(t0, old_t0);
        EXPECT_EQ(emu::write_new_image(emu::image_path(dir.path(), 0), emu::board{}), emu::access_status::ok);
    }
    testsupport::command command() const
    {
        testsupport::command cmd;
        cmd.program = testsupport::bin("zeromark");
        cmd.argv = {"zeromark", "127.0.0.1", t0};
        cmd.env_set = {"TSYNC_EMULATOR_DIR=" + dir.path(), "TZ=UTC"};
        cmd.timeout = std::chrono::milliseconds(20000);
        return cmd;
    }
    // Files beside the T0 file other than the T0 file.
    std::vector<std::string> strays() const
    {
        auto names = testsupport::list_dir(out_dir);
        std::erase(names, "t0");
        return names;
    }
};

// The two lines the run reported (both report lines are on stdout before the
// file is touched); nullopt when they are not there.
std::optional<std::string> reported_t0(const std::string &out, const std::string &name)
{
    const std::regex lines("Putting IRIG_B date T0  \\((\\d{4}-\\d\\d-\\d\\d_\\d\\d:\\d\\d:\\d\\d\\.\\d{6}_UTC)\\)  to (.*)\n"
                           "Putting PC system clock T0  \\((\\d{4}-\\d\\d-\\d\\d_\\d\\d:\\d\\d:\\d\\d\\.\\d{6})\\)  to (.*)\n");
    std::smatch m;
    if (!std::regex_search(out, m, lines) || m[2] != name || m[4] != name)
        return std::nullopt;
    return m[1].str() + "  # Irig_b clock\n" + m[3].str() + " # System clock\n";
}

// One system call of the replacement: strace's name and its count in the run.
struct step {
    std::string name;
    unsigned ordinal;
    bool after_rename;
};

// The replacement's calls, from the creation of the temporary file to the
// sync of the directory, found by a traced run.
std::vector<step> replacement_steps(bool old_file, std::string *sequence)
{
    setup s(old_file);
    testsupport::result r;
    const auto events = rel::trace_run(s.command(), traced, &r);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<step> steps;
    bool renamed = false;
    for (const auto &e : events) {
        const bool temp_created = e.name == "openat" && rel::first_string(e.args).starts_with(s.out_dir + "/.t0.") &&
                                  e.args.find("O_EXCL") != std::string::npos;
        if (steps.empty() && !temp_created)
            continue;
        steps.push_back({e.name, e.ordinal, renamed});
        *sequence += (sequence->empty() ? "" : " ") + e.name;
        renamed = renamed || e.name.starts_with("rename");
        if (renamed && e.name == "close")
            break;
    }
    return steps;
}

struct kill_case {
    std::string name;
    bool old_file;
    std::string sequence; // the replacement as it must run
};
void PrintTo(const kill_case &c, std::ostream *os) { *os << c.name; }

class t0file_kill : public testing::TestWithParam<kill_case> {};

TEST_P(t0file_kill, at_each_step_leaves_old_or_new_and_the_next_run_succeeds)
{
    if (!rel::strace_usable())
        GTEST_SKIP() << "strace cannot trace here";
    const kill_case &c = GetParam();
    std::string sequence;
    const auto steps = replacement_steps(c.old_file, &sequence);
    // Synced before the rename, the directory synced after it.
    ASSERT_EQ(sequence, c.sequence);
    for (const step &st : steps) {
        SCOPED_TRACE("killed at " + st.name + " #" + std::to_string(st.ordinal));
        setup s(c.old_file);
        const auto r = testsupport::run(rel::under_strace(
            s.command(), {"-e", "trace=" + st.name,
                          "-e", "inject=" + st.name + ":signal=KILL:when=" + std::to_string(st.ordinal)}));
        ASSERT_FALSE(r.timed_out);
        ASSERT_EQ(r.signal, SIGKILL) << r.out << r.err;
        const auto fresh = reported_t0(r.out, s.t0);
        ASSERT_TRUE(fresh.has_value()) << r.out;
        // A kill on entering the rename stops it before it happens.
        if (st.after_rename)
            EXPECT_EQ(testsupport::read_file(s.t0), *fresh);
        else if (c.old_file)
            EXPECT_EQ(testsupport::read_file(s.t0), old_t0);
        else
            EXPECT_FALSE(testsupport::exists(s.t0));
        const auto left = s.strays();
        for (const auto &name : left)
            EXPECT_TRUE(name.starts_with(".t0.")) << name;

        // The next run replaces the file as usual and leaves the stray alone.
        const auto next = testsupport::run(s.command());
        ASSERT_FALSE(next.timed_out);
        EXPECT_EQ(next.status, 0) << next.err;
        EXPECT_EQ(next.err, "");
        const auto again = reported_t0(next.out, s.t0);
        ASSERT_TRUE(again.has_value()) << next.out;
        EXPECT_EQ(testsupport::read_file(s.t0), *again);
        EXPECT_EQ(s.strays(), left);
    }
}

INSTANTIATE_TEST_SUITE_P(
    t0file, t0file_kill,
    testing::Values(kill_case{"over_an_old_file", true, "openat fchown fchmod write fsync close rename openat fsync close"},
                    kill_case{"as_a_new_file", false, "openat fchmod write fsync close rename openat fsync close"}),
    [](const auto &p) { return p.param.name; });

// ---- each step failing -----------------------------------------------------

struct error_case {
    std::string name;
    std::string error; // strace's name of the errno
    std::string text;  // strerror's
};
void PrintTo(const error_case &c, std::ostream *os) { *os << c.name; }

// Whether the failure of the replacement's i-th call (over an old file) is
// the run's failure. The owner is only kept where allowed, so a refused
// fchown is no error; after the rename the new file is in place and the
// directory's sync is a best effort.
struct step_outcome {
    const char *name;
    bool fails_the_run;
};
const std::vector<step_outcome> step_outcomes = {
    {"openat", true}, {"fchown", false}, {"fchmod", true}, {"write", true}, {"fsync", true},
    {"close", true},  {"rename", true},  {"openat", false}, {"fsync", false}, {"close", false},
};

class t0file_failing_call : public testing::TestWithParam<error_case> {};

TEST_P(t0file_failing_call, keeps_the_old_file_or_puts_the_new_one_and_leaves_no_stray)
{
    if (!rel::strace_usable())
        GTEST_SKIP() << "strace cannot trace here";
    const error_case &c = GetParam();
    std::string sequence;
    const auto steps = replacement_steps(true, &sequence);
    ASSERT_EQ(steps.size(), step_outcomes.size()) << sequence;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const step &st = steps[i];
        ASSERT_EQ(st.name, step_outcomes[i].name) << sequence;
        SCOPED_TRACE(st.name + " #" + std::to_string(st.ordinal) + " fails with " + c.error);
        setup s(true);
        const auto r = testsupport::run(rel::under_strace(
            s.command(), {"-e", "trace=" + st.name, "-e",
                          "inject=" + st.name + ":error=" + c.error + ":when=" + std::to_string(st.ordinal)}));
        ASSERT_FALSE(r.timed_out);
        ASSERT_EQ(r.signal, 0);
        const auto fresh = reported_t0(r.out, s.t0);
        ASSERT_TRUE(fresh.has_value()) << r.out;
        if (step_outcomes[i].fails_the_run) {
            EXPECT_EQ(r.err, "zeromark: cannot write T0 file " + s.t0 + ": " + c.text + "\n");
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(testsupport::read_file(s.t0), old_t0);
        } else {
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(testsupport::read_file(s.t0), *fresh);
        }
        EXPECT_EQ(s.strays(), std::vector<std::string>{});
    }
}

INSTANTIATE_TEST_SUITE_P(t0file, t0file_failing_call,
                         testing::Values(error_case{"no_space", "ENOSPC", "No space left on device"},
                                         error_case{"io_error", "EIO", "Input/output error"}),
                         [](const auto &p) { return p.param.name; });

} // namespace
