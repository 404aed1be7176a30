// A board directory for in-process tests of libtsync.so.
#ifndef ORVANE_EMULATOR_TESTS_FIXTURE_HPP
#define ORVANE_EMULATOR_TESTS_FIXTURE_HPP

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "board.hpp"
#include "testsupport.hpp"

namespace emutest {

// TSYNC_EMULATOR_DIR points at a fresh directory for the test's lifetime.
class board_dir {
public:
    board_dir() { ::setenv("TSYNC_EMULATOR_DIR", dir_.path().c_str(), 1); }
    ~board_dir() { ::unsetenv("TSYNC_EMULATOR_DIR"); }
    board_dir(const board_dir &) = delete;
    board_dir &operator=(const board_dir &) = delete;

    const std::string &path() const { return dir_.path(); }
    std::string image(int index = 0) const { return emu::image_path(dir_.path(), index); }

    void put(const emu::board &b, int index = 0) const
    {
        std::string why;
        if (emu::write_new_image(image(index), b, &why) != emu::access_status::ok)
            throw std::runtime_error("cannot write board image: " + why);
    }
    emu::board get(int index = 0) const
    {
        emu::board b;
        std::string why;
        if (emu::read_image(image(index), b, &why) != emu::access_status::ok)
            throw std::runtime_error("cannot read board image: " + why);
        return b;
    }

private:
    testsupport::temp_dir dir_;
};

// 2026-12-11T12:00:00.123456789 UTC.
inline constexpr std::int64_t frozen_ns = 1796990400LL * 1000000000LL + 123456789;

inline emu::board frozen_board()
{
    emu::board b;
    b.clock = {true, frozen_ns, 0};
    return b;
}

} // namespace emutest

#endif
