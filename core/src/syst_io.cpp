// The system-command UDP object.
#include "orvane_core.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace core::com::udp_io::syst_io {
namespace {

// ORVANE_CORE_TRACE names a file that receives one line per event of the
// object's life: a way to see from outside what a run did on the wire.
void trace(const char *format, ...) __attribute__((format(printf, 1, 2)));
void trace(const char *format, ...)
{
    const char *path = std::getenv("ORVANE_CORE_TRACE");
    if (!path || !*path)
        return;
    FILE *f = std::fopen(path, "a");
    if (!f)
        return;
    va_list ap;
    va_start(ap, format);
    std::vfprintf(f, format, ap);
    va_end(ap);
    std::fputc('\n', f);
    std::fclose(f);
}

[[noreturn]] void fail(const char *what)
{
    throw core::error(std::string("UDP system-command channel: ") + what + ": " + std::strerror(errno));
}

} // namespace

object::~object()
{
    if (fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
    trace("finalize");
}

void object::initialize()
{
    if (fd_ >= 0)
        throw core::error("UDP system-command channel: already initialised");
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        fail("cannot create socket");
    trace("initialize");
}

void object::set_connection(std::uint32_t address, int mode, std::uint16_t port)
{
    if (fd_ < 0)
        throw core::error("UDP system-command channel: not initialised");
    if (mode != 0)
        throw core::error("UDP system-command channel: unknown connection mode " + std::to_string(mode));
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(address);
    // Connecting now resolves the route once, so that send() only hands the
    // datagram to the kernel.
    if (::connect(fd_, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0)
        fail("cannot connect");
    connected_ = true;
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    trace("set_connection %s %d %u", text, mode, static_cast<unsigned>(port));
}

void object::send(const core::syst::commands::message &msg, int flags)
{
    if (!connected_)
        throw core::error("UDP system-command channel: no connection set");
    if (flags != 1)
        throw core::error("UDP system-command channel: unknown send flags " + std::to_string(flags));
    ssize_t sent = ::send(fd_, msg.bytes.data(), msg.bytes.size(), 0);
    if (sent < 0)
        fail("cannot send");
    if (static_cast<std::size_t>(sent) != msg.bytes.size())
        throw core::error("UDP system-command channel: short send");
    trace("send %zd bytes", sent);
}

void initialize(object &obj) { obj.initialize(); }
void set_connection(object &obj, std::uint32_t address, int mode, std::uint16_t port)
{
    obj.set_connection(address, mode, port);
}
void send(object &obj, const core::syst::commands::message &msg, int flags) { obj.send(msg, flags); }

} // namespace core::com::udp_io::syst_io
