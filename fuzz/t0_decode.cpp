// The motherboard emulator decodes every datagram it receives.
#include "orvane_core.hpp"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    namespace t0_cal = core::syst::commands::t0_cal;
    const auto d = t0_cal::decode(data, size);
    if (d.ok) {
        // Only our own message decodes, and it survives a round trip.
        const auto m = t0_cal::new_msg(d.argument);
        if (size != m.bytes.size() || !std::equal(m.bytes.begin(), m.bytes.end(), data))
            std::abort();
    } else if (d.why.empty()) {
        std::abort();
    }
    return 0;
}
