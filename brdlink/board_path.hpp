// Device path of board 0, the only board this library talks to.
#ifndef ORVANE_BRDLINK_BOARD_PATH_HPP
#define ORVANE_BRDLINK_BOARD_PATH_HPP

#include <array>
#include <cstdio>

namespace brdlink {

// "/dev/" + "tsyncpci" + a signed 32-bit index fits in 24 characters.
using board_path = std::array<char, 32>;

inline board_path board0_path() noexcept
{
    board_path path{};
    std::snprintf(path.data(), path.size(), "%s%s%d", "/dev/", "tsyncpci", 0);
    return path;
}

} // namespace brdlink

#endif
