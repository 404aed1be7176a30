#include "motherboard.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace zmtest {

motherboard::motherboard(std::function<void(const received &)> on_receive) : on_receive_(std::move(on_receive))
{
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(55555);
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd_, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        const std::string why = std::strerror(errno);
        close(fd_);
        throw std::runtime_error("cannot listen on 127.0.0.1:55555 (" + why +
                                 "): something else holds the port zeromark sends to");
    }
    thread_ = std::thread([this] { loop(); });
}

motherboard::~motherboard()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    close(fd_);
}

std::vector<received> motherboard::finish()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    std::lock_guard lock(mutex_);
    return got_;
}

void motherboard::loop()
{
    // After stop, one more short wait catches a datagram still in flight.
    for (bool last = false; !last;) {
        last = stop_;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, last ? 20 : 10) <= 0)
            continue;
        char bytes[2048];
        iovec iov{bytes, sizeof bytes};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(fd_, &msg, MSG_DONTWAIT);
        if (n < 0)
            continue;
        received r;
        r.bytes.assign(bytes, static_cast<std::size_t>(n));
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec ts{};
                std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                r.realtime_ns = static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
            }
        }
        if (on_receive_)
            on_receive_(r);
        std::lock_guard lock(mutex_);
        got_.push_back(std::move(r));
        last = false;
    }
}

} // namespace zmtest
