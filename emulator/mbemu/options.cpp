// Strict parsing of mbemu's options: junk and values out of range are
// refused rather than read as something else.
#include "options.hpp"

#include <arpa/inet.h>
#include <climits>
#include <string_view>

#include "board.hpp"

namespace mbemu {

const char *const help_text =
    "Usage: mbemu [OPTION]...\n"
    "Stands in for the acquisition motherboard: receives T0 calibration commands\n"
    "over UDP and emits the T0 pulse on an input of an emulated board.\n"
    "\n"
    "  --address ADDR     IPv4 address to listen on (default 127.0.0.1)\n"
    "  --port PORT        UDP port, 0 for any free one (default 55555)\n"
    "  --dir DIR          directory of the board images (default $TSYNC_EMULATOR_DIR)\n"
    "  --board N          board index (default 0)\n"
    "  --input N          input the T0 signal is wired to, 0 to 3 (default 0)\n"
    "  --delay NS         rising edge NS nanoseconds after the datagram arrived (default 0)\n"
    "  --width NS         falling edge NS nanoseconds after the rising one (default 1000)\n"
    "  --count N          stop after N T0 commands\n"
    "  --timeout SECONDS  stop after SECONDS (fractions allowed)\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "Once ready it prints \"listening on ADDR:PORT\", then one line per datagram:\n"
    "  SECONDS.NANOSECONDS from ADDR:PORT: T0 argument N: rising edge: OUTCOME; falling edge: OUTCOME\n"
    "  SECONDS.NANOSECONDS from ADDR:PORT: rejected: REASON\n"
    "(the kernel's receive time of the datagram), and \"stopped: REASON\" at the end.\n"
    "\n"
    "Exit status: 0 after a stop by count, time limit, SIGINT or SIGTERM;\n"
    "1 on an error; 2 on a wrong command line.\n";

namespace {

constexpr std::int64_t ns_per_s = 1'000'000'000;
constexpr std::int64_t max_delay_ns = 60 * ns_per_s;
constexpr std::int64_t max_timeout_s = 366LL * 86400;

[[noreturn]] void refuse(std::string_view option, std::string_view text, std::string_view expected)
{
    throw usage_error("invalid value '" + std::string(text) + "' for " + std::string(option) + ": expected " +
                      std::string(expected));
}

// Plain decimal digits only: no sign, blank or suffix.
std::int64_t integer(std::string_view option, std::string_view text, std::int64_t low, std::int64_t high,
                     std::string_view expected)
{
    if (text.empty())
        refuse(option, text, expected);
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            refuse(option, text, expected);
        if (value > (high - (c - '0')) / 10)
            refuse(option, text, expected);
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high)
        refuse(option, text, expected);
    return value;
}

// Seconds as digits with an optional fraction of up to nine digits.
std::int64_t seconds(std::string_view option, std::string_view text)
{
    constexpr std::string_view expected = "seconds above 0, at most 31622400";
    const auto point = text.find('.');
    const auto whole = text.substr(0, point);
    std::int64_t ns = integer(option, whole, 0, max_timeout_s, expected) * ns_per_s;
    if (point != std::string_view::npos) {
        const auto fraction = text.substr(point + 1);
        if (fraction.empty() || fraction.size() > 9)
            refuse(option, text, expected);
        std::int64_t part = integer(option, fraction, 0, ns_per_s - 1, expected);
        for (auto i = fraction.size(); i < 9; ++i)
            part *= 10;
        ns += part;
    }
    if (ns <= 0 || ns > max_timeout_s * ns_per_s)
        refuse(option, text, expected);
    return ns;
}

} // namespace

command_line parse(int argc, const char *const *argv, const char *env_dir)
{
    command_line cl;
    options &o = cl.opts;
    if (env_dir)
        o.dir = env_dir;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help") {
            cl.what = action::help;
            return cl;
        }
        if (arg == "--version") {
            cl.what = action::version;
            return cl;
        }
        if (!arg.starts_with("--"))
            throw usage_error("unexpected argument '" + std::string(arg) + "'");
        // "--name value" or "--name=value"
        std::string_view name = arg, value;
        if (const auto eq = arg.find('='); eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        } else {
            const bool known = name == "--address" || name == "--port" || name == "--dir" || name == "--board" ||
                               name == "--input" || name == "--delay" || name == "--width" || name == "--count" ||
                               name == "--timeout";
            if (!known)
                throw usage_error("unknown option '" + std::string(arg) + "'");
            if (i + 1 >= argc)
                throw usage_error("option " + std::string(name) + " needs a value");
            value = argv[++i];
        }
        if (name == "--address") {
            in_addr parsed{};
            if (inet_pton(AF_INET, std::string(value).c_str(), &parsed) != 1)
                refuse(name, value, "a dotted IPv4 address");
            o.address = value;
        } else if (name == "--port") {
            o.port = static_cast<std::uint16_t>(integer(name, value, 0, 65535, "a port from 0 to 65535"));
        } else if (name == "--dir") {
            if (value.empty())
                refuse(name, value, "a directory");
            o.dir = value;
        } else if (name == "--board") {
            o.board = static_cast<int>(integer(name, value, 0, INT_MAX, "a board index from 0"));
        } else if (name == "--input") {
            o.input = static_cast<int>(integer(name, value, 0, emu::input_count - 1, "an input from 0 to 3"));
        } else if (name == "--delay") {
            o.delay_ns = integer(name, value, 0, max_delay_ns, "nanoseconds from 0 to 60000000000");
        } else if (name == "--width") {
            o.width_ns = integer(name, value, 0, max_delay_ns, "nanoseconds from 0 to 60000000000");
        } else if (name == "--count") {
            o.count = static_cast<std::uint64_t>(integer(name, value, 1, INT64_MAX, "a count from 1"));
        } else if (name == "--timeout") {
            o.timeout_ns = seconds(name, value);
        } else {
            throw usage_error("unknown option '" + std::string(name) + "'");
        }
    }
    if (o.dir.empty())
        throw usage_error("no board directory: give --dir or set TSYNC_EMULATOR_DIR");
    return cl;
}

} // namespace mbemu
