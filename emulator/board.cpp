// Board behaviour: return-code texts, operation names, the clock, edges and
// fault rules.
#include "board.hpp"
#include "textutil.hpp"

#include <ctime>

namespace emu {

const char *rc_text(std::int32_t code) noexcept
{
    switch (code) {
    case rc_ok: return "TSYNC_SUCCESS: success";
    case rc_no_device: return "TSYNC_RC_NO_DEVICE: no board at this device path";
    case rc_access: return "TSYNC_RC_ACCESS: the board cannot be read or written (permission denied)";
    case rc_corrupt: return "TSYNC_RC_CORRUPT: the board does not answer sensibly (corrupt board image)";
    case rc_version: return "TSYNC_RC_VERSION: the board speaks an unknown interface version";
    case rc_bad_handle: return "TSYNC_RC_BAD_HANDLE: invalid or closed board handle";
    case rc_bad_arg: return "TSYNC_RC_BAD_ARG: argument out of range";
    case rc_null_pointer: return "TSYNC_RC_NULL_POINTER: null pointer argument";
    case rc_chg_pending: return "TSYNC_RC_CHG_PENDING: change pending, it takes effect at the next reference update";
    case rc_timeout: return "TSYNC_RC_TIMEOUT: the board did not answer in time";
    case rc_io: return "TSYNC_RC_IO: input/output error talking to the board";
    case rc_legacy_pending: return "tsync legacy code rc_chg_pending: queued for the next reference update";
    default: return "unknown driver return code";
    }
}

namespace {
constexpr std::string_view op_names[] = {
    "open", "close", "HW_getTime", "HW_getTsData", "HW_getTsSingle", "HW_setTsEnable",
    "GI_setEdge", "GI_setTsEnable", "CS_setYear", "EC_setMode", "EC_setState",
};
constexpr std::int64_t ns_per_s = 1000000000LL;
constexpr std::int64_t ns_per_day = 86400LL * ns_per_s;
} // namespace

std::string_view op_name(op o) noexcept
{
    auto i = static_cast<std::size_t>(o);
    return i < std::size(op_names) ? op_names[i] : std::string_view("unknown");
}

std::optional<op> op_from_name(std::string_view name) noexcept
{
    for (std::size_t i = 0; i < std::size(op_names); ++i)
        if (op_names[i] == name)
            return static_cast<op>(i);
    return std::nullopt;
}

std::int64_t realtime_now_ns() noexcept
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * ns_per_s + ts.tv_nsec;
}

std::int64_t board_time_at(const board &b, std::int64_t realtime_ns) noexcept
{
    if (b.clock.frozen)
        return b.clock.frozen_utc_ns;
    // Wrap instead of overflowing (offsets are unchecked numbers).
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(realtime_ns) +
                                     static_cast<std::uint64_t>(b.clock.offset_ns));
}

stamp stamp_of(const board &b, std::int64_t board_utc_ns) noexcept
{
    std::int64_t days = board_utc_ns / ns_per_day, rem = board_utc_ns % ns_per_day;
    if (rem < 0) {
        rem += ns_per_day;
        --days;
    }
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    civil_from_days(days, y, m, d);
    stamp s;
    s.year = static_cast<std::uint32_t>(y);
    s.doy = static_cast<std::uint32_t>(days - days_from_civil(y, 1, 1) + 1);
    auto secs = rem / ns_per_s;
    s.hour = static_cast<std::uint32_t>(secs / 3600);
    s.minute = static_cast<std::uint32_t>(secs / 60 % 60);
    s.second = static_cast<std::uint32_t>(secs % 60);
    s.ns = static_cast<std::uint32_t>(rem % ns_per_s);
    s.sync = b.sync;
    return s;
}

std::string_view edge_outcome_text(edge_outcome o) noexcept
{
    switch (o) {
    case edge_outcome::taken: return "stamp taken";
    case edge_outcome::hw_off: return "not taken: hardware time-stamping is off";
    case edge_outcome::input_off: return "not taken: time-stamping of this input is off";
    case edge_outcome::wrong_edge: return "not taken: not the input's active edge";
    case edge_outcome::lost_full: return "not taken: time-stamp store full, stamp lost";
    case edge_outcome::bad_input: return "not taken: no such input";
    }
    return "unknown outcome";
}

edge_outcome apply_edge(board &b, int input, edge direction, std::int64_t board_utc_ns)
{
    if (input < 0 || input >= input_count)
        return edge_outcome::bad_input;
    const auto &in = b.inputs[static_cast<std::size_t>(input)];
    if (!b.hw_ts_enabled)
        return edge_outcome::hw_off;
    if (!in.ts_enabled)
        return edge_outcome::input_off;
    if (in.edge != static_cast<std::uint32_t>(direction))
        return edge_outcome::wrong_edge;
    if (b.store.size() >= store_capacity) {
        ++b.lost;
        return edge_outcome::lost_full;
    }
    b.store.push_back(stamp_of(b, board_utc_ns));
    return edge_outcome::taken;
}

// Each rule of the operation sees every call: while its skip count is above
// zero the call only counts it down; the first rule whose skip is used up
// answers the call (and counts its count down; a rule whose count reaches 0
// is gone).
std::int32_t consume_fault(board &b, op o)
{
    std::int32_t answer = rc_ok;
    bool answered = false;
    for (auto it = b.faults.begin(); it != b.faults.end();) {
        if (it->operation != o) {
            ++it;
            continue;
        }
        if (it->count && *it->count == 0) {
            it = b.faults.erase(it);
            continue;
        }
        if (it->skip > 0) {
            --it->skip;
        } else if (!answered) {
            answered = true;
            answer = it->rc;
            if (it->count) {
                if (--*it->count == 0) {
                    it = b.faults.erase(it);
                    continue;
                }
            }
        }
        ++it;
    }
    return answer;
}

void log_call(board &b, op o, std::string args, std::int32_t rc)
{
    b.calls.push_back(call_record{o, std::move(args), rc});
    while (b.calls.size() > call_log_capacity)
        b.calls.pop_front();
}

void log_led(board &b, std::int64_t realtime_ns, op o, std::int32_t led, std::int32_t value, std::int32_t rc)
{
    b.led_log.push_back(led_event{realtime_ns, o, led, value, rc});
    if (b.led_log.size() > led_log_capacity)
        b.led_log.erase(b.led_log.begin(),
                        b.led_log.begin() + static_cast<std::ptrdiff_t>(b.led_log.size() - led_log_capacity));
}

} // namespace emu
