#include "textutil.hpp"

#include <cstdio>
#include <limits>

namespace emu {
namespace {

// Magnitude of a digit string, at most limit; nullopt when not digits or too big.
std::optional<std::uint64_t> parse_digits(std::string_view text, std::uint64_t limit) noexcept
{
    if (text.empty())
        return std::nullopt;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        auto d = static_cast<std::uint64_t>(c - '0');
        if (v > (limit - d) / 10)
            return std::nullopt;
        v = v * 10 + d;
    }
    return v;
}

template <typename T>
std::optional<T> parse_signed(std::string_view text) noexcept
{
    bool neg = !text.empty() && text.front() == '-';
    if (neg)
        text.remove_prefix(1);
    auto max = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
    auto mag = parse_digits(text, neg ? max + 1 : max);
    if (!mag)
        return std::nullopt;
    if (!neg)
        return static_cast<T>(*mag);
    if (*mag == max + 1)
        return std::numeric_limits<T>::min();
    return static_cast<T>(-static_cast<T>(*mag));
}

int hex_value(char c) noexcept
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::uint32_t> parse_u32(std::string_view text) noexcept
{
    auto v = parse_digits(text, std::numeric_limits<std::uint32_t>::max());
    if (!v)
        return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

std::optional<std::uint64_t> parse_u64(std::string_view text) noexcept
{
    return parse_digits(text, std::numeric_limits<std::uint64_t>::max());
}

std::optional<std::int32_t> parse_i32(std::string_view text) noexcept { return parse_signed<std::int32_t>(text); }
std::optional<std::int64_t> parse_i64(std::string_view text) noexcept { return parse_signed<std::int64_t>(text); }

bool is_leap_year(std::int64_t y) noexcept { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Howard Hinnant's days_from_civil / civil_from_days.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) noexcept
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civil_from_days(std::int64_t z, std::int64_t &y, unsigned &m, unsigned &d) noexcept
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

std::optional<std::int64_t> parse_utc_time(std::string_view t) noexcept
{
    if (!t.empty() && t.back() == 'Z')
        t.remove_suffix(1);
    // YYYY-MM-DDTHH:MM:SS is 19 characters.
    if (t.size() < 19 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':')
        return std::nullopt;
    auto field = [&](std::size_t pos, std::size_t len) { return parse_u32(t.substr(pos, len)); };
    auto y = field(0, 4), mo = field(5, 2), d = field(8, 2), h = field(11, 2), mi = field(14, 2), s = field(17, 2);
    if (!y || !mo || !d || !h || !mi || !s)
        return std::nullopt;
    if (*y < static_cast<unsigned>(time_year_min) || *y > static_cast<unsigned>(time_year_max) || *mo < 1 || *mo > 12)
        return std::nullopt;
    static constexpr unsigned mdays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    unsigned dmax = mdays[*mo - 1] + (*mo == 2 && is_leap_year(*y) ? 1 : 0);
    if (*d < 1 || *d > dmax || *h > 23 || *mi > 59 || *s > 59)
        return std::nullopt;
    std::int64_t ns = 0;
    if (t.size() > 19) {
        auto frac = t.substr(20);
        if (t[19] != '.' || frac.empty() || frac.size() > 9)
            return std::nullopt;
        auto f = parse_u32(frac);
        if (!f)
            return std::nullopt;
        ns = *f;
        for (std::size_t i = frac.size(); i < 9; ++i)
            ns *= 10;
    }
    std::int64_t days = days_from_civil(*y, *mo, *d);
    return ((days * 24 + *h) * 60 + *mi) * 60 * 1000000000LL + static_cast<std::int64_t>(*s) * 1000000000LL + ns;
}

std::string format_utc_time(std::int64_t utc_ns)
{
    constexpr std::int64_t ns_per_day = 86400LL * 1000000000LL;
    std::int64_t days = utc_ns / ns_per_day, rem = utc_ns % ns_per_day;
    if (rem < 0) {
        rem += ns_per_day;
        --days;
    }
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    civil_from_days(days, y, m, d);
    auto secs = rem / 1000000000LL;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%09lld", static_cast<long long>(y), m, d,
                  static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                  static_cast<long long>(secs % 60), static_cast<long long>(rem % 1000000000LL));
    return buf;
}

std::string escape_line(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (u < 0x20 || u >= 0x7f) {
            static constexpr char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescape_line(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto u = static_cast<unsigned char>(text[i]);
        if (u < 0x20 || u >= 0x7f)
            return std::nullopt;
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (i + 3 < text.size() && text[i + 1] == 'x') {
            int hi = hex_value(text[i + 2]), lo = hex_value(text[i + 3]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

} // namespace emu
