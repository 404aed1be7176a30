#include "reliability.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "orvane_core.hpp"

namespace rel {

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

std::string replace_all(std::string s, const std::string &from, const std::string &to)
{
    for (auto p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
        s.replace(p, from.size(), to);
    return s;
}

std::optional<emu::board> load_board(const std::string &dir)
{
    emu::board b;
    if (emu::read_image(emu::image_path(dir, 0), b) != emu::access_status::ok)
        return std::nullopt;
    return b;
}

emu::board frozen_board()
{
    emu::board b;
    b.clock.frozen = true;
    b.clock.frozen_utc_ns = 1704438189LL * 1000000000LL + 45;
    return b;
}

std::vector<std::string> board_env(const std::string &dir)
{
    return {"TSYNC_EMULATOR_DIR=" + dir};
}

// ---- fault sweeps ----------------------------------------------------------

void PrintTo(const sweep_case &c, std::ostream *os)
{
    *os << c.name << " rc " << c.rc << ':';
    for (const auto &a : c.argv)
        *os << " [" << a << ']';
}

std::string expand(std::string text, const sweep_case &c, const std::string &dir)
{
    text = replace_all(std::move(text), "{err}", std::string("  Error: ") + emu::rc_text(c.rc) + ".\n");
    text = replace_all(std::move(text), "{rc}", std::to_string(c.rc));
    return replace_all(std::move(text), "{dir}", dir);
}

void sweep(const sweep_case &c, const sweep_hooks &hooks)
{
    // The operations the program uses, in the order of their first call.
    std::vector<emu::op> ops;
    for (std::size_t start = 0; start < c.clean_calls.size();) {
        auto end = c.clean_calls.find(' ', start);
        if (end == std::string::npos)
            end = c.clean_calls.size();
        const auto o = emu::op_from_name(c.clean_calls.substr(start, end - start));
        ASSERT_TRUE(o.has_value()) << c.clean_calls;
        if (std::find(ops.begin(), ops.end(), *o) == ops.end())
            ops.push_back(*o);
        start = end + 1;
    }
    std::vector<bool> met(c.rows.size(), false);
    constexpr unsigned max_calls = 64; // far more than any program makes
    for (const emu::op o : ops) {
        for (unsigned nth = 0; nth <= max_calls; ++nth) {
            ASSERT_LT(nth, max_calls) << "the fault keeps being met";
            SCOPED_TRACE(std::string(emu::op_name(o)) + " call " + std::to_string(nth) + " fails");
            testsupport::temp_dir dir;
            emu::board b = frozen_board();
            if (hooks.prepare)
                hooks.prepare(dir.path(), b);
            b.faults = {emu::fault_rule{o, c.rc, nth, 1}};
            ASSERT_EQ(emu::write_new_image(emu::image_path(dir.path(), 0), b), emu::access_status::ok);

            std::vector<std::string> argv;
            for (const auto &a : c.argv)
                argv.push_back(expand(a, c, dir.path()));
            testsupport::result r = testsupport::run(hooks.command(dir.path(), argv));
            ASSERT_FALSE(r.timed_out);
            ASSERT_EQ(r.signal, 0);
            const auto after = load_board(dir.path());
            ASSERT_TRUE(after.has_value());
            const bool hit = after->faults.empty();

            const fault_row *row = nullptr;
            if (hit) {
                for (std::size_t i = 0; i < c.rows.size(); ++i)
                    if (c.rows[i].op == o && c.rows[i].nth == nth) {
                        row = &c.rows[i];
                        met[i] = true;
                    }
                if (!row) {
                    ADD_FAILURE() << "a fault no row expects; stdout:\n"
                                  << r.out << "status " << r.status << ", calls " << calls_of(*after);
                    continue;
                }
            }
            if (hooks.after)
                hooks.after(dir.path(), row, r);
            EXPECT_EQ(r.err, "");
            if (!row) {
                EXPECT_EQ(r.out, expand(c.clean_out, c, dir.path()));
                EXPECT_EQ(r.status, 0);
                EXPECT_EQ(calls_of(*after), c.clean_calls);
                EXPECT_EQ(after->open_handles, 0u);
                break;
            }
            int status = row->status;
            if (status == pending_status)
                status = std::string(emu::rc_text(c.rc)).find("RC_CHG_PENDING") != std::string::npos ? 2 : 1;
            EXPECT_EQ(r.out, expand(row->out, c, dir.path()));
            EXPECT_EQ(r.status, status);
            EXPECT_EQ(calls_of(*after), expand(row->calls, c, dir.path()));
            EXPECT_EQ(after->open_handles, row->handles);
        }
    }
    for (std::size_t i = 0; i < c.rows.size(); ++i)
        EXPECT_TRUE(met[i]) << "never met: " << emu::op_name(c.rows[i].op) << " call " << c.rows[i].nth;
}

// ---- strace ----------------------------------------------------------------

bool strace_usable()
{
    static const bool usable = [] {
        testsupport::command cmd;
        cmd.program = ORVANE_STRACE;
        cmd.argv = {"strace", "-o", "/dev/null", "-e", "trace=none", "--", "/bin/true"};
        cmd.timeout = std::chrono::milliseconds(10000);
        try {
            return testsupport::run(cmd).status == 0;
        } catch (...) {
            return false;
        }
    }();
    return usable;
}

testsupport::command under_strace(const testsupport::command &cmd, const std::vector<std::string> &options)
{
    testsupport::command s = cmd;
    // The leak checker stops the world by tracing the process, which strace
    // already does: it would fail every run. Leaks are the plain runs' to find.
    std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    for (const auto &kv : cmd.env_set)
        if (kv.starts_with("ASAN_OPTIONS="))
            asan = kv.substr(13);
    std::erase_if(s.env_set, [](const std::string &kv) { return kv.starts_with("ASAN_OPTIONS="); });
    s.env_set.push_back("ASAN_OPTIONS=" + asan + (asan.empty() ? "" : ":") + "detect_leaks=0");
    s.program = ORVANE_STRACE;
    s.argv = {"strace", "-qq"};
    s.argv.insert(s.argv.end(), options.begin(), options.end());
    bool has_output = false;
    for (const auto &o : options)
        has_output = has_output || o == "-o";
    if (!has_output) {
        s.argv.push_back("-o");
        s.argv.push_back("/dev/null");
    }
    s.argv.push_back("--");
    s.argv.push_back(cmd.program);
    s.argv.insert(s.argv.end(), cmd.argv.begin() + (cmd.argv.empty() ? 0 : 1), cmd.argv.end());
    return s;
}

std::vector<syscall_event> trace_run(const testsupport::command &cmd, const std::string &syscalls,
                                     testsupport::result *r)
{
    testsupport::temp_dir scratch;
    const std::string log = scratch / "strace.log";
    const auto res = testsupport::run(
        under_strace(cmd, {"-o", log, "-xx", "-s", "16777216", "-e", "trace=" + syscalls, "-e", "signal=none"}));
    if (r)
        *r = res;
    std::vector<syscall_event> events;
    std::vector<std::pair<std::string, unsigned>> counts;
    for (const auto &line : lines_of(log)) {
        // name(args)  = result, with blanks padding the result to a column
        const auto open = line.find('(');
        const auto eq = line.rfind(" = ");
        if (open == std::string::npos || eq == std::string::npos || eq < open)
            continue;
        const auto close = line.find_last_not_of(' ', eq);
        if (close == std::string::npos || line[close] != ')' || close <= open)
            continue;
        syscall_event e;
        e.name = line.substr(0, open);
        e.args = line.substr(open + 1, close - open - 1);
        e.result = line.substr(eq + 3);
        unsigned n = 1;
        for (auto &c : counts)
            if (c.first == e.name)
                n = ++c.second;
        if (n == 1)
            counts.emplace_back(e.name, 1);
        e.ordinal = n;
        events.push_back(std::move(e));
    }
    return events;
}

std::string first_string(const std::string &args)
{
    std::string out;
    const auto q = args.find('"');
    if (q == std::string::npos)
        return out;
    for (std::size_t i = q + 1; i + 3 < args.size() && args[i] == '\\' && args[i + 1] == 'x'; i += 4)
        out.push_back(static_cast<char>(std::stoi(args.substr(i + 2, 2), nullptr, 16)));
    return out;
}

int first_fd(const std::string &args)
{
    try {
        return std::stoi(args);
    } catch (...) {
        return -1;
    }
}

// ---- UDP and mbemu -------------------------------------------------------------

sender::sender()
{
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr *>(&local), sizeof local);
}

sender::~sender() { close(fd_); }

bool sender::send(int port, const std::string &bytes) const
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) ==
           static_cast<ssize_t>(bytes.size());
}

std::string t0_datagram()
{
    const auto m = core::syst::commands::t0_cal::new_msg(1);
    return std::string(m.bytes.begin(), m.bytes.end());
}

std::vector<std::string> lines_of(const std::string &path)
{
    std::vector<std::string> lines;
    if (!testsupport::exists(path))
        return lines;
    const std::string text = testsupport::read_file(path);
    std::size_t start = 0;
    for (auto nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

mbemu_run start_mbemu(const testsupport::temp_dir &dir, std::vector<std::string> args,
                      std::chrono::milliseconds timeout)
{
    mbemu_run r;
    r.log_path = dir / "mbemu.log";
    testsupport::command cmd;
    cmd.program = testsupport::bin("mbemu");
    cmd.argv = {"mbemu", "--port", "0"};
    cmd.argv.insert(cmd.argv.end(), args.begin(), args.end());
    cmd.env_set = {"TSYNC_EMULATOR_DIR=" + dir.path()};
    cmd.stdout_path = r.log_path;
    cmd.timeout = timeout;
    r.done = std::async(std::launch::async, [cmd] { return testsupport::run(cmd); });
    const std::string ready = "listening on 127.0.0.1:";
    for (int i = 0; i < 1000 && r.port == 0; ++i) {
        const auto lines = lines_of(r.log_path);
        if (!lines.empty() && lines[0].starts_with(ready))
            r.port = std::stoi(lines[0].substr(ready.size()));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return r;
}

} // namespace rel
