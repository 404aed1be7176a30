// Address text to address value.
#include "orvane_core.hpp"

namespace core::utils {

std::uint32_t value(std::string_view text)
{
    auto refuse = [text]() -> core::error {
        return core::error("not a dotted IPv4 address: '" + std::string(text) + "'");
    };
    std::uint32_t address = 0;
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.')
                throw refuse();
            ++pos;
        }
        std::size_t start = pos;
        unsigned number = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
            number = number * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
        }
        // Leading zeros are refused: some readers take them for octal.
        const std::size_t digits = pos - start;
        if (digits == 0 || number > 255 || (digits > 1 && text[start] == '0'))
            throw refuse();
        address = (address << 8) | number;
    }
    if (pos != text.size())
        throw refuse();
    return address;
}

} // namespace core::utils
