// zeromark: one T0 calibration run. Drains the board's time-stamp store,
// sends the T0 command to the motherboard, waits 0.1 s, reads back the
// board's first time stamp and, given a file name, reports it beside the PC
// send time and writes both to the T0 file.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "caltime.hpp"
#include "orvane_core.hpp"
#include "t0file.hpp"
#include "tsync.hpp"

namespace {

namespace syst_io = core::com::udp_io::syst_io;
namespace t0_cal = core::syst::commands::t0_cal;

constexpr std::uint16_t motherboard_port = 55555;

constexpr const char *usage_text = "\n"
                                   " usage :\n"
                                   "         orvane_t0   motherboard_ip   [t0_filename]\n"
                                   "\n"
                                   "         ex1 : orvane_t0  192.168.1.101\n"
                                   "         ex2 : orvane_t0  192.168.1.101  ~/.orvane_t0\n"
                                   "\n";

constexpr const char *irig_picture = "%Y-%m-%d_%H:%M:%S.%e_UTC";
constexpr const char *pc_picture = "%Y-%m-%d_%H:%M:%S.%e";
constexpr const char *file_line1_picture = "%Y-%m-%d_%H:%M:%S.%e_UTC  # Irig_b clock\n";
constexpr const char *file_line2_picture = "%Y-%m-%d_%H:%M:%S.%e # System clock\n";

// Sleeps 0.1 s measured from now; a signal never shortens the wait.
void wait_a_tenth()
{
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_nsec += 100'000'000;
    if (until.tv_nsec >= 1'000'000'000) {
        until.tv_nsec -= 1'000'000'000;
        ++until.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

// The first failure to write standard output: stdio forgets its cause.
int stdout_errno = 0;

void flush_stdout()
{
    if (std::fflush(stdout) != 0 && stdout_errno == 0)
        stdout_errno = errno;
}

// The run after the UDP object's initialisation; the result is the status.
int run(syst_io::object &udp, int argc, char **argv)
{
    if (argc < 2) {
        std::fputs(usage_text, stdout);
        return 1;
    }
    const bool board_usable = tsync::check_and_reset();
    udp.set_connection(core::utils::value(argv[1]), 0, motherboard_port);
    std::printf("Sending T0 signal to %s\n", argv[1]);

    const auto message = t0_cal::new_msg(1);
    // Nothing but the send may lie between the clock reading and the
    // datagram: the reading is the PC's date of the T0 command.
    const caltime::instant sent_at = caltime::now();
    udp.send(message, 1);

    if (!board_usable)
        return 0;
    wait_a_tenth();
    const auto [valid, t0] = tsync::first_time();
    if (!valid)
        return 2;
    if (argc < 3)
        return 0;

    const char *name = argv[2];
    std::printf("Putting IRIG_B date T0  (%s)  to %s\n", caltime::format(t0, irig_picture).c_str(), name);
    std::printf("Putting PC system clock T0  (%s)  to %s\n", caltime::format(sent_at, pc_picture).c_str(), name);
    // The report lines come first wherever the T0 file goes (/dev/stdout).
    flush_stdout();
    t0file::write(name, caltime::format(t0, file_line1_picture) + caltime::format(sent_at, file_line2_picture));
    return 0;
}

// Everything written to standard output has to have reached it.
void check_stdout()
{
    flush_stdout();
    if (std::ferror(stdout))
        throw std::runtime_error(std::string("cannot write standard output: ") +
                                 std::strerror(stdout_errno ? stdout_errno : EIO));
}

} // namespace

int main(int argc, char **argv)
{
    // A vanished reader of standard output is a failed write, not a kill.
    std::signal(SIGPIPE, SIG_IGN);
    int status = 1;
    std::optional<std::string> failure;
    try {
        syst_io::object udp;
        udp.initialize();
        status = run(udp, argc, argv);
        check_stdout();
    } catch (const std::exception &e) {
        failure = e.what();
    } catch (...) {
        failure = "unknown error";
    }
    // The UDP object is finalised by now; the report comes after it.
    if (!failure)
        return status;
    std::fflush(stdout);
    std::fprintf(stderr, "zeromark: %s\n", failure->c_str());
    return 1;
}
