// Edges reach the board image one at a time, each at its own instant, so
// that a board read in between sees the store as the real board would.
#include "pulse.hpp"

#include <cerrno>
#include <ctime>

#include "board.hpp"

namespace mbemu {
namespace {

void sleep_until(std::int64_t realtime_ns)
{
    const timespec until{static_cast<time_t>(realtime_ns / 1'000'000'000),
                         static_cast<long>(realtime_ns % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

std::string status_text(emu::access_status s)
{
    switch (s) {
    case emu::access_status::ok: return "ok";
    case emu::access_status::missing: return "no board image";
    case emu::access_status::access: return "board image not accessible";
    case emu::access_status::corrupt: return "board image corrupt";
    case emu::access_status::version: return "board image of an unknown version";
    }
    return "board image not usable";
}

std::string emit_edge(const std::string &image, int input, emu::edge direction, std::int64_t realtime_ns)
{
    sleep_until(realtime_ns);
    emu::edge_outcome outcome{};
    std::string why;
    const auto status = emu::update_image(
        image,
        [&](emu::board &b) {
            outcome = emu::apply_edge(b, input, direction, emu::board_time_at(b, realtime_ns));
            return outcome == emu::edge_outcome::taken || outcome == emu::edge_outcome::lost_full;
        },
        &why);
    if (status != emu::access_status::ok)
        return "not applied: " + status_text(status) + (why.empty() ? "" : " (" + why + ")");
    return std::string(emu::edge_outcome_text(outcome));
}

} // namespace

std::string emit_pulse(const std::string &image, int input, std::int64_t rising_ns, std::int64_t width_ns)
{
    std::string text = "rising edge: " + emit_edge(image, input, emu::edge_rising, rising_ns);
    text += "; falling edge: " + emit_edge(image, input, emu::edge_falling, rising_ns + width_ns);
    return text;
}

} // namespace mbemu
