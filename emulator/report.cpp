#include "report.hpp"
#include "textutil.hpp"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace emu {

std::optional<bool> parse_on_off(std::string_view text) noexcept
{
    if (text == "on")
        return true;
    if (text == "off")
        return false;
    return std::nullopt;
}

std::optional<edge> parse_edge(std::string_view text) noexcept
{
    if (text == "rising")
        return edge_rising;
    if (text == "falling")
        return edge_falling;
    return std::nullopt;
}

std::optional<int> parse_board_index(std::string_view text) noexcept
{
    auto v = parse_i32(text);
    if (!v || *v < 0)
        return std::nullopt;
    return *v;
}

bool split_command_args(const std::vector<std::string> &args, const std::vector<std::string> &valued,
                        const std::vector<std::string> &flags, command_args &out, std::string &error)
{
    out = command_args{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a.rfind("--", 0) != 0) {
            out.positional.push_back(a);
            continue;
        }
        bool is_valued = std::find(valued.begin(), valued.end(), a) != valued.end();
        if (!is_valued && std::find(flags.begin(), flags.end(), a) == flags.end()) {
            error = "unknown option " + a;
            return false;
        }
        if (out.options.count(a)) {
            error = "option " + a + " given twice";
            return false;
        }
        if (is_valued && i + 1 >= args.size()) {
            error = "option " + a + " needs a value";
            return false;
        }
        out.options[a] = is_valued ? args[++i] : "";
    }
    return true;
}

std::string stamp_text(const stamp &s)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "%u %03u %02u:%02u:%02u.%09u sync %u", s.year, s.doy, s.hour, s.minute, s.second,
                  s.ns, s.sync);
    return buf;
}

std::string fault_text(const fault_rule &f)
{
    std::string t = std::string(op_name(f.operation)) + " answers " + std::to_string(f.rc);
    if (f.skip)
        t += " after " + std::to_string(f.skip) + " more call" + (f.skip == 1 ? "" : "s");
    if (f.count)
        t += ", " + std::to_string(*f.count) + " time" + (*f.count == 1 ? "" : "s");
    else
        t += ", always";
    return t;
}

namespace {
const char *led_mode_text(std::uint32_t m)
{
    switch (m) {
    case 0: return "board: sync status";
    case 1: return "board: time-stamp activity";
    case 2: return "board: 1PPS";
    case 3: return "board: reference activity";
    case 4: return "host-controlled";
    default: return "unknown";
    }
}
} // namespace

std::string show_text(const board &b, std::int64_t now_ns)
{
    std::ostringstream o;
    std::int64_t t = board_time_at(b, now_ns);
    if (b.clock.frozen)
        o << "clock: frozen at " << format_utc_time(b.clock.frozen_utc_ns) << " UTC\n";
    else
        o << "clock: system clock " << (b.clock.offset_ns < 0 ? "" : "+") << b.clock.offset_ns << " ns, now "
          << format_utc_time(t) << " UTC\n";
    o << "board time: " << stamp_text(stamp_of(b, t)) << "\n";
    o << "sync: " << b.sync << (b.sync ? " (synchronised)" : " (not synchronised)") << "\n";
    o << "year: " << b.year << (b.year ? "" : " (never set)") << "\n";
    o << "hardware time-stamping: " << (b.hw_ts_enabled ? "on" : "off") << "\n";
    for (std::size_t i = 0; i < b.inputs.size(); ++i)
        o << "input " << i << ": edge " << (b.inputs[i].edge == edge_falling ? "falling" : "rising")
          << ", time-stamping " << (b.inputs[i].ts_enabled ? "on" : "off") << "\n";
    for (std::size_t i = 0; i < b.leds.size(); ++i) {
        o << "led " << i << ": mode " << b.leds[i].mode << " (" << led_mode_text(b.leds[i].mode) << "), state "
          << b.leds[i].state;
        if (b.leds[i].mode == led_mode_host)
            o << (b.leds[i].state ? " (lit)" : " (dark)");
        o << "\n";
    }
    o << "led operations: " << b.led_log.size() << "\n";
    o << "store: " << b.store.size() << " of " << store_capacity << " stamps\n";
    std::size_t n = 0;
    for (const auto &s : b.store)
        o << "  " << n++ << ": " << stamp_text(s) << "\n";
    o << "lost: " << b.lost << "\n";
    if (b.faults.empty())
        o << "faults: none\n";
    else
        o << "faults: " << b.faults.size() << "\n";
    for (const auto &f : b.faults)
        o << "  " << fault_text(f) << "\n";
    o << "open handles: " << b.open_handles << "\n";
    o << "calls logged: " << b.calls.size() << "\n";
    return o.str();
}

std::string led_log_text(const board &b)
{
    std::ostringstream o;
    for (const auto &e : b.led_log)
        o << format_utc_time(e.realtime_ns) << " UTC (" << e.realtime_ns << ") " << op_name(e.operation) << " led "
          << e.led << (e.operation == op::EC_setMode ? " mode " : " state ") << e.value << " rc " << e.rc << "\n";
    return o.str();
}

std::string call_log_text(const board &b)
{
    std::ostringstream o;
    for (const auto &c : b.calls) {
        o << op_name(c.operation);
        if (!c.args.empty())
            o << ' ' << escape_line(c.args);
        o << " -> rc " << c.rc << "\n";
    }
    return o.str();
}

} // namespace emu
