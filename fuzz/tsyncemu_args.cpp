// tsyncemu's command line: words separated by NUL bytes go through the
// option splitter and the strict number, time and word parsers.
#include "report.hpp"
#include "textutil.hpp"

#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string> words(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            words.emplace_back();
        else
            words.back().push_back(static_cast<char>(data[i]));
    }
    emu::command_args parsed;
    std::string error;
    if (!emu::split_command_args(words, {"--frozen", "--offset", "--at", "--edge", "--after", "--times", "--dir"},
                                 {"--no-sync", "--force"}, parsed, error) &&
        error.empty())
        std::abort();

    for (const auto &w : words) {
        if (auto t = emu::parse_utc_time(w)) {
            // A time that parses formats back to a text of the same time.
            if (emu::parse_utc_time(emu::format_utc_time(*t)) != t)
                std::abort();
        }
        if (auto n = emu::parse_i64(w); n && emu::parse_i64(std::to_string(*n)) != n)
            std::abort();
        (void)emu::parse_u32(w);
        (void)emu::parse_i32(w);
        (void)emu::parse_on_off(w);
        (void)emu::parse_edge(w);
        (void)emu::parse_board_index(w);
        if (auto u = emu::unescape_line(w); u && emu::unescape_line(emu::escape_line(*u)) != u)
            std::abort();
    }
    return 0;
}
