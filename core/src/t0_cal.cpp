// The T0 calibration command: its wire form and the matching decoder.
#include "orvane_core.hpp"

#include <algorithm>

namespace core::syst::commands::t0_cal {

message new_msg(int argument)
{
    if (argument < 0 || argument > 0xffff)
        throw core::error("T0 calibration: argument " + std::to_string(argument) + " is outside 0 to 65535");
    message m;
    std::copy(message_magic.begin(), message_magic.end(), m.bytes.begin());
    m.bytes[4] = message_version;
    m.bytes[5] = command_code;
    m.bytes[6] = static_cast<std::uint8_t>(argument >> 8);
    m.bytes[7] = static_cast<std::uint8_t>(argument & 0xff);
    return m;
}

decoded decode(const void *data, std::size_t size) noexcept
{
    decoded d;
    const auto *b = static_cast<const std::uint8_t *>(data);
    if (size != message_size || b == nullptr) {
        d.why = "size " + std::to_string(size) + " bytes, expected " + std::to_string(message_size);
        return d;
    }
    if (!std::equal(message_magic.begin(), message_magic.end(), b)) {
        d.why = "wrong magic";
        return d;
    }
    if (b[4] != message_version) {
        d.why = "unknown format version " + std::to_string(b[4]);
        return d;
    }
    if (b[5] != command_code) {
        d.why = "not a T0 calibration command (code " + std::to_string(b[5]) + ")";
        return d;
    }
    d.ok = true;
    d.argument = static_cast<std::uint16_t>((b[6] << 8) | b[7]);
    return d;
}

} // namespace core::syst::commands::t0_cal
