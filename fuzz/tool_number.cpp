// The board tools read their numbers leniently; the result must be what
// strtoll reads from the same text, clamped to 32 bits.
#include "tools-common.h"

#include <cerrno>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size); // stops at a NUL as argv does
    const char *c = text.c_str();
    const long long wide = std::strtoll(c, nullptr, 10);
    const long long expected = wide < INT32_MIN ? INT32_MIN : wide > INT32_MAX ? INT32_MAX : wide;
    if (tools::read_number(c) != expected)
        std::abort();
    if (tools::read_unsigned(c) != static_cast<std::uint32_t>(static_cast<std::int32_t>(expected)))
        std::abort();
    return 0;
}
