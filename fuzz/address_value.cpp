// zeromark's first argument goes through core::utils::value.
#include "orvane_core.hpp"

#include <arpa/inet.h>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    try {
        const std::uint32_t v = core::utils::value(text);
        // What is accepted is exactly the canonical dotted form of its value.
        in_addr a{htonl(v)};
        char canon[INET_ADDRSTRLEN];
        if (!inet_ntop(AF_INET, &a, canon, sizeof canon) || text != canon)
            std::abort();
    } catch (const core::error &) {
    }
    return 0;
}
