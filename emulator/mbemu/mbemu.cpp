// mbemu: the acquisition motherboard's stand-in. Receives T0 calibration
// commands over UDP and answers each with the T0 pulse on the emulated board.
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "board.hpp"
#include "options.hpp"
#include "orvane_core.hpp"
#include "orvane_version.h"
#include "pulse.hpp"

namespace {

volatile std::sig_atomic_t stop_signal = 0;

extern "C" void on_stop(int signo) { stop_signal = signo; }

[[noreturn]] void die(const std::string &message)
{
    std::fprintf(stderr, "mbemu: %s\n", message.c_str());
    std::exit(1);
}

std::int64_t monotonic_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::string endpoint(const sockaddr_in &a)
{
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

int open_socket(const mbemu::options &o)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        die(std::string("cannot create socket: ") + std::strerror(errno));
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0)
        die(std::string("cannot enable receive time stamps: ") + std::strerror(errno));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(o.port);
    inet_pton(AF_INET, o.address.c_str(), &local.sin_addr);
    if (bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0)
        die("cannot listen on " + endpoint(local) + ": " + std::strerror(errno));
    socklen_t size = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size);
    std::printf("listening on %s\n", endpoint(local).c_str());
    std::fflush(stdout);
    return fd;
}

// One datagram: the kernel's receive time (CLOCK_REALTIME), its sender and
// its bytes. False when nothing is waiting.
struct datagram {
    std::int64_t received_ns = 0;
    sockaddr_in from{};
    std::size_t size = 0;
    unsigned char bytes[65536];
};

bool receive(int fd, datagram &d)
{
    iovec iov{d.bytes, sizeof d.bytes};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr msg{};
    msg.msg_name = &d.from;
    msg.msg_namelen = sizeof d.from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return false;
        die(std::string("cannot receive: ") + std::strerror(errno));
    }
    d.size = static_cast<std::size_t>(n);
    d.received_ns = 0;
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec ts{};
            std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
            d.received_ns = static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
        }
    }
    if (d.received_ns == 0)
        d.received_ns = emu::realtime_now_ns();
    return true;
}

// Logs the datagram and answers a T0 command; true for a T0 command.
bool handle(const mbemu::options &o, const std::string &image, const datagram &d)
{
    const auto cmd = core::syst::commands::t0_cal::decode(d.bytes, d.size);
    std::printf("%lld.%09lld from %s: ", static_cast<long long>(d.received_ns / 1'000'000'000),
                static_cast<long long>(d.received_ns % 1'000'000'000), endpoint(d.from).c_str());
    if (!cmd.ok) {
        std::printf("rejected: %s\n", cmd.why.c_str());
    } else {
        const std::string outcome = mbemu::emit_pulse(image, o.input, d.received_ns + o.delay_ns, o.width_ns);
        std::printf("T0 argument %u: %s\n", static_cast<unsigned>(cmd.argument), outcome.c_str());
    }
    std::fflush(stdout);
    return cmd.ok;
}

int serve(const mbemu::options &o)
{
    // SIGINT and SIGTERM are let in only while waiting, so a pulse is
    // never cut in half.
    sigset_t stoppers, waiting;
    sigemptyset(&stoppers);
    sigaddset(&stoppers, SIGINT);
    sigaddset(&stoppers, SIGTERM);
    sigprocmask(SIG_BLOCK, &stoppers, &waiting);
    sigdelset(&waiting, SIGINT);
    sigdelset(&waiting, SIGTERM);
    struct sigaction sa{};
    sa.sa_handler = on_stop;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    const std::string image = emu::image_path(o.dir, o.board);
    const int fd = open_socket(o);
    const std::int64_t deadline = o.timeout_ns ? monotonic_ns() + *o.timeout_ns : 0;
    const auto d = std::make_unique<datagram>();
    std::uint64_t commands = 0;
    std::string reason;
    while (reason.empty()) {
        pollfd p{fd, POLLIN, 0};
        timespec limit{}, *limit_p = nullptr;
        if (o.timeout_ns) {
            const std::int64_t left = deadline - monotonic_ns();
            if (left <= 0) {
                reason = "time limit";
                break;
            }
            limit = {static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
            limit_p = &limit;
        }
        const int ready = ppoll(&p, 1, limit_p, &waiting);
        if (ready < 0 && errno != EINTR)
            die(std::string("cannot wait for datagrams: ") + std::strerror(errno));
        if (stop_signal) {
            reason = stop_signal == SIGINT ? "SIGINT" : "SIGTERM";
            break;
        }
        while (ready > 0 && receive(fd, *d)) {
            if (handle(o, image, *d) && o.count && ++commands >= *o.count) {
                reason = "count reached";
                break;
            }
        }
    }
    close(fd);
    std::printf("stopped: %s\n", reason.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    mbemu::command_line cl;
    try {
        cl = mbemu::parse(argc, argv, std::getenv("TSYNC_EMULATOR_DIR"));
    } catch (const mbemu::usage_error &e) {
        std::fprintf(stderr, "mbemu: %s\nTry 'mbemu --help' for more information.\n", e.what());
        return 2;
    }
    if (cl.what == mbemu::action::help) {
        std::fputs(mbemu::help_text, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (cl.what == mbemu::action::version) {
        std::printf("mbemu (%s) %s\n", ORVANE_PACKAGE_NAME, ORVANE_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    return serve(cl.opts);
}
