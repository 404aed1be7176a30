// tsyncemu: the control tool of the emulated board (docs/emulator.md).
#include "board.hpp"
#include "report.hpp"
#include "textutil.hpp"

#include <orvane_version.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstdlib>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct usage_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const char *help_text =
    "Usage: tsyncemu [--dir DIR] COMMAND ARGS...\n"
    "Control the emulated time-code boards (board images DIR/tsyncpciINDEX).\n"
    "DIR defaults to $TSYNC_EMULATOR_DIR.\n\n"
    "Commands:\n"
    "  create INDEX [--frozen TIME | --offset NS] [--no-sync] [--force]\n"
    "  show INDEX\n"
    "  set INDEX hw-ts on|off\n"
    "  set INDEX input PIN ts on|off\n"
    "  set INDEX input PIN edge rising|falling\n"
    "  set INDEX sync on|off\n"
    "  set INDEX frozen TIME | set INDEX offset NS\n"
    "  stamp INDEX INPUT [--edge rising|falling] [--at TIME]\n"
    "  push INDEX YEAR DOY HOUR MIN SEC NS [SYNC]\n"
    "  fault INDEX OP RC [--after K] [--times N]\n"
    "  clear-faults INDEX [OP]\n"
    "  leds INDEX\n"
    "  calls INDEX\n"
    "  remove INDEX\n\n"
    "TIME is UTC YYYY-MM-DDTHH:MM:SS[.FRACTION][Z]. OP is a driver operation without\n"
    "\"TSYNC_\" (open, close, HW_getTime, HW_getTsData, HW_getTsSingle, HW_setTsEnable,\n"
    "GI_setEdge, GI_setTsEnable, CS_setYear, EC_setMode, EC_setState).\n"
    "Exit status: 0 success, 1 failure, 2 wrong command line.\n"
    "Options: --help, --version.\n";

// A subcommand's positional words and options.
emu::command_args split(const std::vector<std::string> &args)
{
    emu::command_args p;
    std::string error;
    if (!emu::split_command_args(args, {"--frozen", "--offset", "--edge", "--at", "--after", "--times"},
                                 {"--no-sync", "--force"}, p, error))
        throw usage_error(error);
    return p;
}

template <typename T>
T need(std::optional<T> v, const std::string &what, const std::string &text)
{
    if (!v)
        throw usage_error("bad " + what + " \"" + text + "\"");
    return *v;
}

void positional_count(const emu::command_args &p, std::size_t lo, std::size_t hi, const std::string &cmd)
{
    if (p.positional.size() < lo || p.positional.size() > hi)
        throw usage_error("wrong number of arguments for " + cmd);
}

void check(emu::access_status s, const std::string &why)
{
    if (s != emu::access_status::ok)
        throw failure(why);
}

emu::board load(const std::string &image)
{
    emu::board b;
    std::string why;
    check(emu::read_image(image, b, &why), why);
    return b;
}

void update(const std::string &image, const std::function<bool(emu::board &)> &fn)
{
    std::string why;
    check(emu::update_image(image, fn, &why), why);
}

int run(const std::string &dir, const std::string &cmd, const std::vector<std::string> &args)
{
    auto p = split(args);
    auto allowed = [&](std::initializer_list<const char *> names) {
        for (const auto &option : p.options) {
            const std::string &k = option.first;
            if (std::find_if(names.begin(), names.end(), [&](const char *n) { return k == n; }) == names.end())
                throw usage_error("option " + k + " does not go with " + cmd);
        }
    };
    // An unknown word is named as such, not as a command short of its index.
    static const char *const commands[] = {"create", "show", "set", "stamp", "push", "fault",
                                           "clear-faults", "leds", "calls", "remove"};
    if (std::find_if(std::begin(commands), std::end(commands), [&](const char *c) { return cmd == c; }) ==
        std::end(commands))
        throw usage_error("unknown command \"" + cmd + "\"");
    if (p.positional.empty())
        throw usage_error(cmd + " needs a board index");
    int index = need(emu::parse_board_index(p.positional[0]), "board index", p.positional[0]);
    const std::string image = emu::image_path(dir, index);
    const std::string name = "board " + std::to_string(index);

    if (cmd == "create") {
        positional_count(p, 1, 1, cmd);
        allowed({"--frozen", "--offset", "--no-sync", "--force"});
        if (p.options.count("--frozen") && p.options.count("--offset"))
            throw usage_error("give --frozen or --offset, not both");
        emu::board b;
        if (p.options.count("--frozen"))
            b.clock = {true, need(emu::parse_utc_time(p.options["--frozen"]), "time", p.options["--frozen"]), 0};
        if (p.options.count("--offset"))
            b.clock.offset_ns = need(emu::parse_i64(p.options["--offset"]), "offset", p.options["--offset"]);
        b.sync = p.options.count("--no-sync") ? 0 : 1;
        bool existed = false;
        std::string why;
        check(emu::create_image(image, b, p.options.count("--force") != 0, existed, &why), why);
        if (existed && !p.options.count("--force"))
            throw failure(name + " already exists at " + image + " (use --force to replace it)");
        std::printf("created %s at %s\n", name.c_str(), image.c_str());
    } else if (cmd == "show") {
        positional_count(p, 1, 1, cmd);
        allowed({});
        std::printf("%s: %s\n%s", name.c_str(), image.c_str(), emu::show_text(load(image), emu::realtime_now_ns()).c_str());
    } else if (cmd == "set") {
        allowed({});
        positional_count(p, 3, 5, cmd);
        const auto &what = p.positional[1];
        std::function<bool(emu::board &)> fn;
        if (what == "input" && p.positional.size() == 5 && (p.positional[3] == "ts" || p.positional[3] == "edge")) {
            auto pin = need(emu::parse_u32(p.positional[2]), "input", p.positional[2]);
            if (pin >= emu::input_count)
                throw usage_error("input " + p.positional[2] + " out of range 0.." + std::to_string(emu::input_count - 1));
            if (p.positional[3] == "ts") {
                bool on = need(emu::parse_on_off(p.positional[4]), "on/off", p.positional[4]);
                fn = [=](emu::board &b) { return b.inputs[pin].ts_enabled = on, true; };
            } else {
                auto e = need(emu::parse_edge(p.positional[4]), "edge", p.positional[4]);
                fn = [=](emu::board &b) { return b.inputs[pin].edge = e, true; };
            }
        } else if (p.positional.size() == 3 && (what == "hw-ts" || what == "sync")) {
            bool on = need(emu::parse_on_off(p.positional[2]), "on/off", p.positional[2]);
            bool sync = what == "sync";
            fn = [=](emu::board &b) {
                if (sync)
                    b.sync = on ? 1 : 0;
                else
                    b.hw_ts_enabled = on;
                return true;
            };
        } else if (p.positional.size() == 3 && what == "frozen") {
            auto t = need(emu::parse_utc_time(p.positional[2]), "time", p.positional[2]);
            fn = [=](emu::board &b) { return b.clock = {true, t, 0}, true; };
        } else if (p.positional.size() == 3 && what == "offset") {
            auto o = need(emu::parse_i64(p.positional[2]), "offset", p.positional[2]);
            fn = [=](emu::board &b) { return b.clock = {false, 0, o}, true; };
        } else {
            throw usage_error("unknown setting: set INDEX hw-ts|sync|input|frozen|offset ...");
        }
        update(image, fn);
        std::string text;
        for (std::size_t i = 1; i < p.positional.size(); ++i)
            text += " " + p.positional[i];
        std::printf("%s:%s\n", name.c_str(), text.c_str());
    } else if (cmd == "stamp") {
        positional_count(p, 2, 2, cmd);
        allowed({"--edge", "--at"});
        auto pin = need(emu::parse_u32(p.positional[1]), "input", p.positional[1]);
        if (pin >= emu::input_count)
            throw usage_error("input " + p.positional[1] + " out of range 0.." + std::to_string(emu::input_count - 1));
        std::optional<emu::edge> dir_edge;
        std::optional<std::int64_t> at;
        if (p.options.count("--edge"))
            dir_edge = need(emu::parse_edge(p.options["--edge"]), "edge", p.options["--edge"]);
        if (p.options.count("--at"))
            at = need(emu::parse_utc_time(p.options["--at"]), "time", p.options["--at"]);
        emu::edge_outcome out{};
        std::int64_t when = 0;
        update(image, [&](emu::board &b) {
            when = at ? *at : emu::board_time_at(b, emu::realtime_now_ns());
            auto e = dir_edge ? *dir_edge : static_cast<emu::edge>(b.inputs[pin].edge);
            out = emu::apply_edge(b, static_cast<int>(pin), e, when);
            return out == emu::edge_outcome::taken || out == emu::edge_outcome::lost_full;
        });
        std::printf("%s input %u at %s UTC: %s\n", name.c_str(), pin, emu::format_utc_time(when).c_str(),
                    std::string(emu::edge_outcome_text(out)).c_str());
    } else if (cmd == "push") {
        positional_count(p, 7, 8, cmd);
        allowed({});
        std::uint32_t v[7] = {0, 0, 0, 0, 0, 0, 1};
        for (std::size_t i = 1; i < p.positional.size(); ++i)
            v[i - 1] = need(emu::parse_u32(p.positional[i]), "number", p.positional[i]);
        emu::stamp s{v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
        bool full = false;
        update(image, [&](emu::board &b) {
            full = b.store.size() >= emu::store_capacity;
            full ? static_cast<void>(++b.lost) : b.store.push_back(s);
            return true;
        });
        std::printf("%s: %s %s\n", name.c_str(), full ? "store full, record lost:" : "pushed", emu::stamp_text(s).c_str());
    } else if (cmd == "fault") {
        positional_count(p, 3, 3, cmd);
        allowed({"--after", "--times"});
        emu::fault_rule r;
        r.operation = need(emu::op_from_name(p.positional[1]), "operation", p.positional[1]);
        r.rc = need(emu::parse_i32(p.positional[2]), "return code", p.positional[2]);
        if (p.options.count("--after"))
            r.skip = need(emu::parse_u32(p.options["--after"]), "count", p.options["--after"]);
        if (p.options.count("--times")) {
            r.count = need(emu::parse_u32(p.options["--times"]), "count", p.options["--times"]);
            if (*r.count == 0)
                throw usage_error("--times needs a count of at least 1");
        }
        update(image, [&](emu::board &b) {
            if (b.faults.size() >= emu::fault_capacity)
                throw failure(name + " holds " + std::to_string(emu::fault_capacity) + " fault rules already");
            b.faults.push_back(r);
            return true;
        });
        std::printf("%s: fault rule: %s\n", name.c_str(), emu::fault_text(r).c_str());
    } else if (cmd == "clear-faults") {
        positional_count(p, 1, 2, cmd);
        allowed({});
        std::optional<emu::op> o;
        if (p.positional.size() == 2)
            o = need(emu::op_from_name(p.positional[1]), "operation", p.positional[1]);
        std::size_t removed = 0;
        update(image, [&](emu::board &b) {
            removed = std::erase_if(b.faults, [&](const emu::fault_rule &f) { return !o || f.operation == *o; });
            return true;
        });
        std::printf("%s: %zu fault rule%s removed\n", name.c_str(), removed, removed == 1 ? "" : "s");
    } else if (cmd == "leds" || cmd == "calls") {
        positional_count(p, 1, 1, cmd);
        allowed({});
        auto b = load(image);
        std::fputs((cmd == "leds" ? emu::led_log_text(b) : emu::call_log_text(b)).c_str(), stdout);
    } else if (cmd == "remove") {
        positional_count(p, 1, 1, cmd);
        allowed({});
        std::string why;
        check(emu::remove_image(image, &why), why);
        std::printf("removed %s (%s)\n", name.c_str(), image.c_str());
    } else {
        throw usage_error("unknown command \"" + cmd + "\"");
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    try {
        std::optional<std::string> dir;
        std::size_t i = 0;
        for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
            if (args[i] == "--help") {
                std::fputs(help_text, stdout);
                return std::fflush(stdout) == 0 ? 0 : 1;
            }
            if (args[i] == "--version") {
                std::printf("tsyncemu (%s) %s-%s\n", ORVANE_PACKAGE_NAME, ORVANE_VERSION, ORVANE_RELEASE);
                return std::fflush(stdout) == 0 ? 0 : 1;
            }
            if (args[i] == "--dir" && i + 1 < args.size())
                dir = args[++i];
            else if (args[i].rfind("--dir=", 0) == 0)
                dir = args[i].substr(6);
            else
                throw usage_error(args[i] == "--dir" ? "option --dir needs a value" : "unknown option " + args[i]);
        }
        if (i == args.size())
            throw usage_error("no command given");
        if (!dir) {
            const char *env = std::getenv("TSYNC_EMULATOR_DIR");
            if (!env || !*env)
                throw failure("no board directory: give --dir DIR or set TSYNC_EMULATOR_DIR");
            dir = env;
        }
        if (dir->empty())
            throw usage_error("empty board directory");
        int rc = run(*dir, args[i], std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end()));
        if (std::fflush(stdout) != 0)
            throw failure("cannot write to standard output");
        return rc;
    } catch (const usage_error &e) {
        std::fprintf(stderr, "tsyncemu: %s\nTry 'tsyncemu --help' for more information.\n", e.what());
        return 2;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "tsyncemu: %s\n", e.what());
        return 1;
    }
}
