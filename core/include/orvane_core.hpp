// The part of the acquisition system's core library that orvane-tsync uses:
// the system-command UDP object, the T0 calibration message, address
// parsing and the day-of-year calendar step.
#ifndef ORVANE_CORE_HPP
#define ORVANE_CORE_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#if defined(ORVANE_CORE_BUILDING)
#define ORVANE_CORE_API __attribute__((visibility("default")))
#else
#define ORVANE_CORE_API
#endif

namespace core {

// Every error of the core library; the message says what to fix.
class ORVANE_CORE_API error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace core

namespace core::syst::commands {

// Wire form of a system command (see docs/t0-message.md):
// bytes 0-3 magic "ORVC", byte 4 format version, byte 5 command code,
// bytes 6-7 the command's argument, big-endian.
inline constexpr std::size_t message_size = 8;
inline constexpr std::array<std::uint8_t, 4> message_magic{'O', 'R', 'V', 'C'};
inline constexpr std::uint8_t message_version = 1;

struct message {
    std::array<std::uint8_t, message_size> bytes{};
};

} // namespace core::syst::commands

namespace core::syst::commands::t0_cal {

inline constexpr std::uint8_t command_code = 0x54; // 'T'

// The T0 calibration command with its argument (1: emit one T0 pulse).
ORVANE_CORE_API message new_msg(int argument);

// Result of decoding a received datagram.
struct decoded {
    bool ok = false;
    std::uint16_t argument = 0;
    std::string why; // reason of a rejection, empty when ok
};

// Accepts exactly a T0 calibration message of our format; anything else
// (wrong size, magic, version or command) is rejected with its reason.
ORVANE_CORE_API decoded decode(const void *data, std::size_t size) noexcept;

} // namespace core::syst::commands::t0_cal

namespace core::com::udp_io::syst_io {

// The system-command UDP object. initialize() opens the socket,
// set_connection() connects it, send() hands one datagram to the kernel.
// The destructor finalises an initialised object exactly once.
class ORVANE_CORE_API object {
public:
    object() noexcept = default;
    ~object();
    object(const object &) = delete;
    object &operator=(const object &) = delete;

    void initialize();
    void set_connection(std::uint32_t address, int mode, std::uint16_t port);
    void send(const core::syst::commands::message &msg, int flags);
    int fd() const noexcept { return fd_; }

private:
    int fd_ = -1;
    bool connected_ = false;
};

ORVANE_CORE_API void initialize(object &obj);
// address: IPv4 address in host byte order; mode 0: plain unicast UDP.
ORVANE_CORE_API void set_connection(object &obj, std::uint32_t address, int mode, std::uint16_t port);
// flags 1: fire and forget, no answer awaited. Throws core::error on failure.
ORVANE_CORE_API void send(object &obj, const core::syst::commands::message &msg, int flags);

} // namespace core::com::udp_io::syst_io

namespace core::utils {

// Dotted IPv4 address ("192.168.1.101") to its 32-bit value in host byte
// order. Anything else, the empty text included, throws core::error.
ORVANE_CORE_API std::uint32_t value(std::string_view text);

} // namespace core::utils

namespace diy_day {

// Year and day of year to (month, day of month), Gregorian calendar.
// A day outside the year throws core::error.
ORVANE_CORE_API std::pair<std::int32_t, std::int32_t> diy_to_day(std::int32_t year, std::int32_t day_of_year);

} // namespace diy_day

#endif
