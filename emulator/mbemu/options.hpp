// The command line of mbemu.
#ifndef ORVANE_MBEMU_OPTIONS_HPP
#define ORVANE_MBEMU_OPTIONS_HPP

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace mbemu {

struct options {
    std::string address = "127.0.0.1";
    std::uint16_t port = 55555; // 0: any free port
    std::string dir;            // directory of the board images
    int board = 0;
    int input = 0;
    std::int64_t delay_ns = 0;   // datagram's arrival to the rising edge
    std::int64_t width_ns = 1000; // rising to falling edge
    std::optional<std::uint64_t> count;      // T0 commands before stopping
    std::optional<std::int64_t> timeout_ns;  // time before stopping
};

enum class action { run, help, version };

struct command_line {
    action what = action::run;
    options opts;
};

// A command line that cannot be run; what() says why.
class usage_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// env_dir: $TSYNC_EMULATOR_DIR, or null. Throws usage_error.
command_line parse(int argc, const char *const *argv, const char *env_dir);

extern const char *const help_text;

} // namespace mbemu

#endif
