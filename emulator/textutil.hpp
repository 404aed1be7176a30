// Strict text helpers of the emulated board: numbers and UTC times, as the
// image text form and tsyncemu read and write them. Nothing here throws.
#ifndef ORVANE_EMULATOR_TEXTUTIL_HPP
#define ORVANE_EMULATOR_TEXTUTIL_HPP

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace emu {

// Decimal numbers: the whole text is digits (leading zeros allowed), with
// an optional '-' first for the signed forms (no '+', no blanks), within the
// type's range. Anything else, the empty text included, gives nullopt.
std::optional<std::uint32_t> parse_u32(std::string_view text) noexcept;
std::optional<std::uint64_t> parse_u64(std::string_view text) noexcept;
std::optional<std::int32_t> parse_i32(std::string_view text) noexcept;
std::optional<std::int64_t> parse_i64(std::string_view text) noexcept;

// Days since 1970-01-01 of a Gregorian date, and back.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) noexcept;
void civil_from_days(std::int64_t z, std::int64_t &y, unsigned &m, unsigned &d) noexcept;
bool is_leap_year(std::int64_t y) noexcept;

// Smallest and largest year of a time the helpers accept.
inline constexpr int time_year_min = 1970;
inline constexpr int time_year_max = 2199;

// UTC time "YYYY-MM-DDTHH:MM:SS[.F]" (F: 1 to 9 digits) with an optional
// trailing "Z", years time_year_min..time_year_max: ns since 1970.
std::optional<std::int64_t> parse_utc_time(std::string_view text) noexcept;
// "YYYY-MM-DDTHH:MM:SS.NNNNNNNNN" (no "Z"), for any ns since 1970 (years
// before 1970 too).
std::string format_utc_time(std::int64_t utc_ns);

// Escaping of free text on one image line: '\\' -> "\\\\", control
// characters and bytes >= 0x7f -> "\\xHH". unescape_line gives nullopt for
// a malformed escape.
std::string escape_line(std::string_view text);
std::optional<std::string> unescape_line(std::string_view text);

} // namespace emu

#endif
