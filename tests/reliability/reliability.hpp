// Shared by the reliability tests: board set-up and read-back, runs under
// strace (kills and failures injected at one system call), a UDP sender and
// mbemu in the background.
#ifndef ORVANE_RELIABILITY_HPP
#define ORVANE_RELIABILITY_HPP

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

#include "board.hpp"
#include "testsupport.hpp"

namespace rel {

// "open HW_getTime=10 close": the board's call log, failed calls with their code.
std::string calls_of(const emu::board &b);
std::string replace_all(std::string s, const std::string &from, const std::string &to);
// The board image of index 0 in dir; nullopt when it does not load.
std::optional<emu::board> load_board(const std::string &dir);
// A board whose clock is frozen (2024-01-05 07:03:09.000000045 UTC).
emu::board frozen_board();
// "TSYNC_EMULATOR_DIR=dir" and the leak checker told about the handles the
// board tools leave to the process end on purpose.
std::vector<std::string> board_env(const std::string &dir);

// ---- fault sweeps ----------------------------------------------------------

// What a run does when the nth call (from 0) of op fails. In out and calls,
// {rc} stands for the code, {err} for the tools' line "  Error: TEXT.\n" and
// {dir} for the board directory.
struct fault_row {
    emu::op op = emu::op::open;
    unsigned nth = 0;
    std::string out;
    int status = 0;              // pending_status: 2 when the code's text holds "RC_CHG_PENDING", else 1
    std::string calls;           // the board's call log afterwards
    std::uint32_t handles = 0;   // open handles the board counts afterwards
};
inline constexpr int pending_status = -2;

struct sweep_case {
    std::string name;
    std::vector<std::string> argv; // argv[0] as typed; "{dir}" the board directory
    std::int32_t rc = emu::rc_io;
    std::string clean_out;         // the run that meets no fault
    std::string clean_calls;
    std::vector<fault_row> rows;   // every fault the sweep meets, no more
};
void PrintTo(const sweep_case &c, std::ostream *os);

struct sweep_hooks {
    // Board and files before each run (the board's fault rules are added after).
    std::function<void(const std::string &dir, emu::board &b)> prepare;
    // The command of one run.
    std::function<testsupport::command(const std::string &dir, const std::vector<std::string> &argv)> command;
    // What stdout holds that varies from run to run, masked; and checks of
    // what the run left (row: the fault met; null: the clean run).
    std::function<void(const std::string &dir, const fault_row *row, testsupport::result &r)> after;
};

// For every operation of the clean run and N = 0, 1, ...: the Nth call of
// the operation fails with c.rc, until a run passes without meeting the
// fault. Each run must match its row (the clean run the clean output) and
// every row must be met.
void sweep(const sweep_case &c, const sweep_hooks &hooks);
std::string expand(std::string text, const sweep_case &c, const std::string &dir);

// ---- strace ----------------------------------------------------------------

// strace is there and may trace our children (not in every container).
bool strace_usable();
// cmd run under strace with the given options (its own output discarded).
testsupport::command under_strace(const testsupport::command &cmd, const std::vector<std::string> &options);

// One system call as strace showed it.
struct syscall_event {
    std::string name;
    unsigned ordinal = 0; // 1 for the first call of this name in the run
    std::string args;     // between the parentheses, strings as \xHH escapes
    std::string result;   // after " = "
};
// Runs cmd under strace, tracing the comma-separated system calls, and gives
// the calls in order (the run's result in *r).
std::vector<syscall_event> trace_run(const testsupport::command &cmd, const std::string &syscalls,
                                     testsupport::result *r = nullptr);
// The first quoted string of strace's -xx form, decoded.
std::string first_string(const std::string &args);
// The leading number of a call's arguments (its file descriptor).
int first_fd(const std::string &args);

// ---- UDP and mbemu -------------------------------------------------------------

// A sender on an ephemeral port of 127.0.0.1.
class sender {
public:
    sender();
    ~sender();
    sender(const sender &) = delete;
    sender &operator=(const sender &) = delete;
    bool send(int port, const std::string &bytes) const;

private:
    int fd_ = -1;
};

std::string t0_datagram();

// mbemu in the background, its log in a file.
struct mbemu_run {
    std::future<testsupport::result> done;
    std::string log_path;
    int port = 0; // 0: it never said it was listening
};
mbemu_run start_mbemu(const testsupport::temp_dir &dir, std::vector<std::string> args,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(30000));
// Lines of a file so far (a missing file has none).
std::vector<std::string> lines_of(const std::string &path);

} // namespace rel

#endif
