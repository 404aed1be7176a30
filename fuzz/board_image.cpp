// Every access of the emulated board reads its image file, which anyone
// may have edited: parsing must never crash, and what parses must survive
// a round trip unchanged.
#include "board.hpp"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    emu::board b;
    std::string why;
    if (emu::parse(text, b, &why) != emu::parse_status::ok)
        return 0;
    const std::string once = emu::serialize(b);
    emu::board again;
    if (emu::parse(once, again, &why) != emu::parse_status::ok || emu::serialize(again) != once)
        std::abort();
    return 0;
}
