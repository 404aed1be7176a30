// The send-path bench. Runs the real zeromark against mbemu many times and,
// alternating with it in the same run, the plainest possible sender and a
// program that only sleeps 0.1 s. Reports median and spread of
//  - the gap from the PC send time to the kernel's receive stamp of the
//    datagram (SO_TIMESTAMPNS, logged by mbemu): zeromark's send time is the
//    T0 file's second line, which has whole microseconds; the plain sender's
//    is cut to whole microseconds too, so that both gaps carry the same bias;
//  - the wall time of a whole run, beside the sleeping program's.
//
//   t0bench [--runs N] [BIN_DIR]      BIN_DIR: where zeromark and mbemu are
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "board.hpp"

extern char **environ;

namespace {

std::int64_t monotonic_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

[[noreturn]] void die(const std::string &message)
{
    std::fprintf(stderr, "t0bench: %s\n", message.c_str());
    std::exit(1);
}

// Starts a program with stdout on out_fd (-1: /dev/null).
pid_t spawn(const std::string &program, const std::vector<std::string> &args, int out_fd)
{
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (out_fd >= 0)
        posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
    else
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        die("cannot start " + program + ": " + std::strerror(rc));
    return pid;
}

int wait_for(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// One line from a pipe, waiting at most timeout_ms.
std::string read_line(int fd, std::string &buffer, int timeout_ms)
{
    const std::int64_t deadline = monotonic_ns() + std::int64_t{timeout_ms} * 1'000'000;
    for (;;) {
        if (const auto nl = buffer.find('\n'); nl != std::string::npos) {
            std::string line = buffer.substr(0, nl);
            buffer.erase(0, nl + 1);
            return line;
        }
        pollfd p{fd, POLLIN, 0};
        const auto left = static_cast<int>((deadline - monotonic_ns()) / 1'000'000);
        if (left <= 0 || poll(&p, 1, left) <= 0)
            die("no answer from mbemu");
        char chunk[4096];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            die("mbemu ended (is UDP port 55555 taken?)");
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

// The receive time at the start of a log line of mbemu.
std::int64_t received_ns(const std::string &line)
{
    long long s = 0, ns = 0;
    if (std::sscanf(line.c_str(), "%lld.%9lld from ", &s, &ns) != 2)
        die("unexpected mbemu line: " + line);
    return s * 1'000'000'000 + ns;
}

// Line 2 of the T0 file ("YYYY-MM-DD_HH:MM:SS.ffffff # System clock") in UTC.
std::int64_t pc_send_ns(const std::string &t0_file)
{
    FILE *f = std::fopen(t0_file.c_str(), "r");
    if (!f)
        die("no T0 file");
    char line[128] = "";
    std::fgets(line, sizeof line, f);
    std::tm tm{};
    long micros = 0;
    const int n = std::fscanf(f, "%d-%d-%d_%d:%d:%d.%ld", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                              &tm.tm_min, &tm.tm_sec, &micros);
    std::fclose(f);
    if (n != 7)
        die("unexpected T0 file");
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<std::int64_t>(timegm(&tm)) * 1'000'000'000 + micros * 1000;
}

struct summary {
    double median, p25, p75, low, high;
};

summary summarise(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5)]; };
    return {at(0.5), at(0.25), at(0.75), v.front(), v.back()};
}

void report(const char *what, const char *unit, const std::vector<double> &v)
{
    const summary s = summarise(v);
    std::printf("  %-34s median %9.1f %s   quartiles %9.1f .. %-9.1f  range %9.1f .. %.1f\n", what, s.median, unit,
                s.p25, s.p75, s.low, s.high);
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 50;
    std::string bin;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            bin = a;
    }
    if (bin.empty()) {
        bin = argv[0];
        bin = bin.find('/') == std::string::npos ? "." : bin.substr(0, bin.rfind('/'));
    }

    // Board images on tmpfs where there is one: the emulator's fsyncs are
    // no part of the send path.
    struct stat st{};
    std::string dir = (stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp") + std::string("/t0bench-XXXXXX");
    if (!mkdtemp(dir.data()))
        die("cannot make a directory");
    emu::board b;
    b.hw_ts_enabled = true;
    b.inputs[0].ts_enabled = true;
    if (emu::write_new_image(emu::image_path(dir, 0), b) != emu::access_status::ok)
        die("cannot create the board image");
    setenv("TSYNC_EMULATOR_DIR", dir.c_str(), 1);
    setenv("TZ", "UTC0", 1); // the T0 file's PC line then reads as UTC
    unsetenv("ORVANE_CORE_TRACE");

    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        die("pipe");
    const pid_t mbemu = spawn(bin + "/mbemu", {"--dir", dir}, pipe_fds[1]);
    close(pipe_fds[1]);
    std::string buffer;
    const std::string ready = read_line(pipe_fds[0], buffer, 5000);
    if (ready.rfind("listening on ", 0) != 0)
        die("mbemu: " + ready);

    std::vector<double> ours_gap, plain_gap, plain_gap_exact, ours_wall, sleep_wall, start_wall;
    const std::string t0 = dir + "/t0";
    for (int i = 0; i < runs; ++i) {
        std::int64_t start = monotonic_ns();
        if (wait_for(spawn(bin + "/zeromark", {"127.0.0.1", t0}, -1)) != 0)
            die("zeromark failed");
        ours_wall.push_back(static_cast<double>(monotonic_ns() - start) / 1e6);
        ours_gap.push_back(static_cast<double>(received_ns(read_line(pipe_fds[0], buffer, 2000)) - pc_send_ns(t0)) /
                           1e3);

        int out[2];
        if (pipe(out) != 0)
            die("pipe");
        const pid_t plain = spawn(bin + "/t0bench_plain", {}, out[1]);
        close(out[1]);
        std::string plain_buffer;
        const std::int64_t sent = std::atoll(read_line(out[0], plain_buffer, 2000).c_str());
        close(out[0]);
        if (wait_for(plain) != 0)
            die("plain sender failed");
        const std::int64_t got = received_ns(read_line(pipe_fds[0], buffer, 2000));
        plain_gap.push_back(static_cast<double>(got - sent / 1000 * 1000) / 1e3);
        plain_gap_exact.push_back(static_cast<double>(got - sent) / 1e3);

        start = monotonic_ns();
        if (wait_for(spawn(bin + "/t0bench_sleep", {}, -1)) != 0)
            die("sleep program failed");
        sleep_wall.push_back(static_cast<double>(monotonic_ns() - start) / 1e6);

        // Start-up and exit alone: the usage text, no board, no send.
        start = monotonic_ns();
        wait_for(spawn(bin + "/zeromark", {}, -1));
        start_wall.push_back(static_cast<double>(monotonic_ns() - start) / 1e6);
    }
    kill(mbemu, SIGTERM);
    wait_for(mbemu);
    std::remove(t0.c_str());
    std::remove(emu::image_path(dir, 0).c_str());
    std::remove((emu::image_path(dir, 0) + ".lock").c_str());
    rmdir(dir.c_str());

    std::printf("send path, %d runs of each, alternating (PC send time to kernel receive stamp):\n", runs);
    report("zeromark (T0 file, whole us)", "us", ours_gap);
    report("plain sender (cut to whole us)", "us", plain_gap);
    report("plain sender (exact)", "us", plain_gap_exact);
    std::printf("wall time of a whole run:\n");
    report("zeromark", "ms", ours_wall);
    report("sleep 0.1 s", "ms", sleep_wall);
    report("zeromark start-up and exit alone", "ms", start_wall);
    const double gap_ratio = summarise(ours_gap).median / summarise(plain_gap).median;
    const double wall_ratio = summarise(ours_wall).median / summarise(sleep_wall).median;
    std::printf("gap ratio   %.2f (goal at most 0.80): %s\n", gap_ratio, gap_ratio <= 0.8 ? "met" : "missed");
    std::printf("wall ratio  %.3f (goal at most 1.030): %s\n", wall_ratio, wall_ratio <= 1.03 ? "met" : "missed");
    return 0;
}
