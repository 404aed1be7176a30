// The T0 pulse on the emulated board.
#ifndef ORVANE_MBEMU_PULSE_HPP
#define ORVANE_MBEMU_PULSE_HPP

#include <cstdint>
#include <string>

namespace mbemu {

// Emits the rising edge at rising_ns and the falling edge width_ns later
// (both CLOCK_REALTIME, ns since 1970) on an input of the board image, each
// when its time has come. Returns the log text of both outcomes.
std::string emit_pulse(const std::string &image, int input, std::int64_t rising_ns, std::int64_t width_ns);

} // namespace mbemu

#endif
