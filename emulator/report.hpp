// Human-readable views of a board for tsyncemu, and the small word parsers
// of its command line (kept here so that they can be tested and fuzzed).
#ifndef ORVANE_EMULATOR_REPORT_HPP
#define ORVANE_EMULATOR_REPORT_HPP

#include "board.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emu {

// "on"/"off"; "rising"/"falling"; a board index 0..2147483647.
std::optional<bool> parse_on_off(std::string_view text) noexcept;
std::optional<edge> parse_edge(std::string_view text) noexcept;
std::optional<int> parse_board_index(std::string_view text) noexcept;

// A subcommand's arguments split into positional words and options: "--x
// VALUE" for the names in `valued`, "--x" (value "") for those in `flags`.
// Only words beginning with "--" are options, so "-5" is positional. False
// with a message in error for an unknown option, one given twice, or a
// valued option without its value.
struct command_args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
};
bool split_command_args(const std::vector<std::string> &args, const std::vector<std::string> &valued,
                        const std::vector<std::string> &flags, command_args &out, std::string &error);

// "2026 345 12:00:00.000000000 sync 1" (raw fields, never range-checked).
std::string stamp_text(const stamp &s);
// "HW_getTime answers 10 after 2 calls, 3 times" / "..., always".
std::string fault_text(const fault_rule &f);
// The whole state (tsyncemu show), at system realtime now_ns.
std::string show_text(const board &b, std::int64_t now_ns);
// One line per LED operation (tsyncemu leds).
std::string led_log_text(const board &b);
// One line per logged driver call, oldest first (tsyncemu calls).
std::string call_log_text(const board &b);

} // namespace emu

#endif
