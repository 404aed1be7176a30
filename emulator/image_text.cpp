// The board image's text form (see docs/emulator.md, "Board image").
#include "board.hpp"
#include "textutil.hpp"

#include <sstream>

namespace emu {
namespace {

constexpr std::string_view magic = "tsyncemu-board";

const char *on_off(bool v) { return v ? "on" : "off"; }
const char *edge_word(std::uint32_t e) { return e == edge_falling ? "falling" : "rising"; }

std::vector<std::string_view> split(std::string_view line, std::size_t max_fields)
{
    std::vector<std::string_view> out;
    while (out.size() + 1 < max_fields) {
        auto sp = line.find(' ');
        if (sp == std::string_view::npos)
            break;
        out.push_back(line.substr(0, sp));
        line.remove_prefix(sp + 1);
    }
    out.push_back(line);
    return out;
}

std::optional<bool> parse_on_off(std::string_view t)
{
    if (t == "on")
        return true;
    if (t == "off")
        return false;
    return std::nullopt;
}

std::optional<std::uint32_t> parse_edge_word(std::string_view t)
{
    if (t == "rising")
        return edge_rising;
    if (t == "falling")
        return edge_falling;
    return std::nullopt;
}

struct parser {
    board &b;
    std::string &why;
    bool seen_clock = false, seen_sync = false, seen_year = false, seen_hw = false, seen_lost = false,
         seen_handles = false;
    std::array<bool, input_count> seen_input{};
    std::array<bool, led_count> seen_led{};

    bool fail(std::string msg)
    {
        why = std::move(msg);
        return false;
    }
    bool once(bool &seen, std::string_view what)
    {
        if (seen)
            return fail("duplicate " + std::string(what) + " line");
        seen = true;
        return true;
    }

    bool line(std::string_view l)
    {
        auto f = split(l, 64);
        auto key = f[0];
        if (key == "clock") {
            if (!once(seen_clock, "clock"))
                return false;
            if (f.size() == 3 && f[1] == "frozen") {
                auto t = parse_utc_time(f[2]);
                if (!t)
                    return fail("bad frozen time");
                b.clock = {true, *t, 0};
                return true;
            }
            if (f.size() == 3 && f[1] == "offset") {
                auto o = parse_i64(f[2]);
                if (!o)
                    return fail("bad clock offset");
                b.clock = {false, 0, *o};
                return true;
            }
            return fail("bad clock line");
        }
        if (key == "sync" || key == "year" || key == "handles") {
            bool &seen = key == "sync" ? seen_sync : key == "year" ? seen_year : seen_handles;
            if (!once(seen, key))
                return false;
            std::optional<std::uint32_t> v;
            if (f.size() != 2 || !(v = parse_u32(f[1])))
                return fail("bad " + std::string(key) + " line");
            (key == "sync" ? b.sync : key == "year" ? b.year : b.open_handles) = *v;
            return true;
        }
        if (key == "hw_ts") {
            if (!once(seen_hw, key))
                return false;
            std::optional<bool> v;
            if (f.size() != 2 || !(v = parse_on_off(f[1])))
                return fail("bad hw_ts line");
            b.hw_ts_enabled = *v;
            return true;
        }
        if (key == "lost") {
            if (!once(seen_lost, key))
                return false;
            std::optional<std::uint64_t> v;
            if (f.size() != 2 || !(v = parse_u64(f[1])))
                return fail("bad lost line");
            b.lost = *v;
            return true;
        }
        if (key == "input") { // input PIN edge E ts on|off
            std::optional<std::uint32_t> pin, e;
            std::optional<bool> ts;
            if (f.size() != 6 || !(pin = parse_u32(f[1])) || *pin >= input_count || f[2] != "edge" ||
                !(e = parse_edge_word(f[3])) || f[4] != "ts" || !(ts = parse_on_off(f[5])))
                return fail("bad input line");
            if (!once(seen_input[*pin], "input"))
                return false;
            b.inputs[*pin] = {*e, *ts};
            return true;
        }
        if (key == "led") { // led N mode M state S
            std::optional<std::uint32_t> n, m, st;
            if (f.size() != 6 || !(n = parse_u32(f[1])) || *n >= led_count || f[2] != "mode" ||
                !(m = parse_u32(f[3])) || *m > led_mode_max || f[4] != "state" || !(st = parse_u32(f[5])) ||
                *st > 1)
                return fail("bad led line");
            if (!once(seen_led[*n], "led"))
                return false;
            b.leds[*n] = {*m, *st};
            return true;
        }
        if (key == "stamp") { // stamp Y D H M S NS SYNC
            if (f.size() != 8)
                return fail("bad stamp line");
            std::uint32_t v[7];
            for (std::size_t i = 0; i < 7; ++i) {
                auto x = parse_u32(f[i + 1]);
                if (!x)
                    return fail("bad stamp line");
                v[i] = *x;
            }
            if (b.store.size() >= store_capacity)
                return fail("more stamps than the store holds");
            b.store.push_back(stamp{v[0], v[1], v[2], v[3], v[4], v[5], v[6]});
            return true;
        }
        if (key == "ledlog") { // ledlog NS OP LED VALUE RC
            std::optional<std::int64_t> ns;
            std::optional<op> o;
            std::optional<std::int32_t> led, val, rc;
            if (f.size() != 6 || !(ns = parse_i64(f[1])) || !(o = op_from_name(f[2])) || !(led = parse_i32(f[3])) ||
                !(val = parse_i32(f[4])) || !(rc = parse_i32(f[5])))
                return fail("bad ledlog line");
            if (b.led_log.size() >= led_log_capacity)
                return fail("too many ledlog lines");
            b.led_log.push_back(led_event{*ns, *o, *led, *val, *rc});
            return true;
        }
        if (key == "fault") { // fault OP RC skip K count N|always
            std::optional<op> o;
            std::optional<std::int32_t> rc;
            std::optional<std::uint32_t> skip;
            if (f.size() < 6 || !(o = op_from_name(f[1])) || !(rc = parse_i32(f[2])) || f[3] != "skip" ||
                !(skip = parse_u32(f[4])))
                return fail("bad fault line");
            fault_rule r{*o, *rc, *skip, std::nullopt};
            if (f.size() == 6 && f[5] == "always") {
            } else if (f.size() == 7 && f[5] == "count") {
                auto n = parse_u32(f[6]);
                if (!n)
                    return fail("bad fault line");
                r.count = *n;
            } else {
                return fail("bad fault line");
            }
            if (b.faults.size() >= fault_capacity)
                return fail("too many fault lines");
            b.faults.push_back(r);
            return true;
        }
        if (key == "call") { // call OP RC [ARGS]
            auto g = split(l, 4);
            std::optional<op> o;
            std::optional<std::int32_t> rc;
            if (g.size() < 3 || !(o = op_from_name(g[1])) || !(rc = parse_i32(g[2])))
                return fail("bad call line");
            std::optional<std::string> args = std::string();
            if (g.size() == 4 && !(args = unescape_line(g[3])))
                return fail("bad call arguments");
            if (b.calls.size() >= call_log_capacity)
                return fail("too many call lines");
            b.calls.push_back(call_record{*o, std::move(*args), *rc});
            return true;
        }
        return fail("unknown line \"" + escape_line(l.substr(0, 40)) + "\"");
    }

    bool complete()
    {
        if (!seen_clock || !seen_sync || !seen_year || !seen_hw || !seen_lost || !seen_handles)
            return fail("image incomplete: a clock, sync, year, hw_ts, lost or handles line is missing");
        for (bool s : seen_input)
            if (!s)
                return fail("image incomplete: an input line is missing");
        for (bool s : seen_led)
            if (!s)
                return fail("image incomplete: an led line is missing");
        return true;
    }
};

} // namespace

std::string serialize(const board &b)
{
    std::ostringstream o;
    o << magic << ' ' << image_version << '\n';
    if (b.clock.frozen)
        o << "clock frozen " << format_utc_time(b.clock.frozen_utc_ns) << '\n';
    else
        o << "clock offset " << b.clock.offset_ns << '\n';
    o << "sync " << b.sync << '\n' << "year " << b.year << '\n' << "hw_ts " << on_off(b.hw_ts_enabled) << '\n';
    for (std::size_t i = 0; i < b.inputs.size(); ++i)
        o << "input " << i << " edge " << edge_word(b.inputs[i].edge) << " ts " << on_off(b.inputs[i].ts_enabled)
          << '\n';
    for (std::size_t i = 0; i < b.leds.size(); ++i)
        o << "led " << i << " mode " << b.leds[i].mode << " state " << b.leds[i].state << '\n';
    o << "lost " << b.lost << '\n' << "handles " << b.open_handles << '\n';
    for (const auto &s : b.store)
        o << "stamp " << s.year << ' ' << s.doy << ' ' << s.hour << ' ' << s.minute << ' ' << s.second << ' ' << s.ns
          << ' ' << s.sync << '\n';
    for (const auto &e : b.led_log)
        o << "ledlog " << e.realtime_ns << ' ' << op_name(e.operation) << ' ' << e.led << ' ' << e.value << ' '
          << e.rc << '\n';
    for (const auto &f : b.faults) {
        o << "fault " << op_name(f.operation) << ' ' << f.rc << " skip " << f.skip;
        if (f.count)
            o << " count " << *f.count << '\n';
        else
            o << " always\n";
    }
    for (const auto &c : b.calls) {
        o << "call " << op_name(c.operation) << ' ' << c.rc;
        if (!c.args.empty())
            o << ' ' << escape_line(c.args);
        o << '\n';
    }
    o << "end\n";
    return o.str();
}

parse_status parse(std::string_view text, board &out, std::string *why)
{
    std::string dummy;
    std::string &reason = why ? *why : dummy;
    try {
        auto nl = text.find('\n');
        if (nl == std::string_view::npos) {
            reason = "no complete first line";
            return parse_status::corrupt;
        }
        auto head = split(text.substr(0, nl), 3);
        if (head.size() != 2 || head[0] != magic) {
            reason = "not a tsyncemu board image";
            return parse_status::corrupt;
        }
        auto version = parse_u32(head[1]);
        if (!version) {
            reason = "bad image version";
            return parse_status::corrupt;
        }
        if (*version != static_cast<std::uint32_t>(image_version)) {
            reason = "image version " + std::to_string(*version) + ", this emulator reads version " +
                     std::to_string(image_version);
            return parse_status::version;
        }
        board b;
        parser p{b, reason};
        text.remove_prefix(nl + 1);
        for (;;) {
            nl = text.find('\n');
            auto l = text.substr(0, nl);
            if (l == "end") {
                if (nl != std::string_view::npos && nl + 1 != text.size()) {
                    reason = "text after the end line";
                    return parse_status::corrupt;
                }
                break;
            }
            if (nl == std::string_view::npos) {
                reason = "image truncated: no end line";
                return parse_status::corrupt;
            }
            if (!p.line(l))
                return parse_status::corrupt;
            text.remove_prefix(nl + 1);
        }
        if (!p.complete())
            return parse_status::corrupt;
        out = std::move(b);
        return parse_status::ok;
    } catch (...) {
        reason = "out of memory reading the image";
        return parse_status::corrupt;
    }
}

} // namespace emu
