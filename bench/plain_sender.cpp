// The plainest possible T0 sender, the yardstick of the send-path bench:
// read the clock, sendto on an unconnected socket. Prints the clock reading
// (ns since 1970) after the send.
#include <arpa/inet.h>
#include <cstdio>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>

#include "orvane_core.hpp"

int main()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(55555);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto msg = core::syst::commands::t0_cal::new_msg(1);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (sendto(fd, msg.bytes.data(), msg.bytes.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) < 0)
        return 1;
    std::printf("%lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    return 0;
}
