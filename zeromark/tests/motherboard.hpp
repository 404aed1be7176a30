// A stand-in motherboard for the tests: a UDP listener on zeromark's fixed
// destination, 127.0.0.1 port 55555, that notes the kernel receive time of
// every datagram and can act on the board when one arrives.
#ifndef ORVANE_ZEROMARK_TESTS_MOTHERBOARD_HPP
#define ORVANE_ZEROMARK_TESTS_MOTHERBOARD_HPP

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zmtest {

struct received {
    std::int64_t realtime_ns = 0; // kernel receive time
    std::string bytes;
};

class motherboard {
public:
    // Throws when the port is taken, naming it.
    explicit motherboard(std::function<void(const received &)> on_receive = {});
    ~motherboard();
    motherboard(const motherboard &) = delete;
    motherboard &operator=(const motherboard &) = delete;

    // Stops listening (waiting for a last datagram in flight) and returns
    // all that arrived.
    std::vector<received> finish();

private:
    void loop();

    int fd_ = -1;
    std::function<void(const received &)> on_receive_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<received> got_;
    std::thread thread_;
};

} // namespace zmtest

#endif
