// An emulated board 0 in a temporary directory, and stdout capture for
// in-process calls of the library.
#ifndef ORVANE_BRDLINK_TESTS_BOARD_FIXTURE_HPP
#define ORVANE_BRDLINK_TESTS_BOARD_FIXTURE_HPP

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "board.hpp"
#include "testsupport.hpp"

namespace brdlink_test {

// Sets TSYNC_EMULATOR_DIR to a fresh directory, so /dev/tsyncpci0 is the
// image there; without put_board() there is no board at all.
class board_dir {
public:
    board_dir() { ::setenv("TSYNC_EMULATOR_DIR", dir_.path().c_str(), 1); }
    ~board_dir() { ::unsetenv("TSYNC_EMULATOR_DIR"); }
    board_dir(const board_dir &) = delete;
    board_dir &operator=(const board_dir &) = delete;

    std::string image() const { return emu::image_path(dir_.path(), 0); }

    void put_board(const emu::board &b) const
    {
        std::string why;
        if (emu::write_new_image(image(), b, &why) != emu::access_status::ok)
            throw std::runtime_error("cannot write board image: " + why);
    }

    emu::board board() const
    {
        emu::board b;
        std::string why;
        if (emu::read_image(image(), b, &why) != emu::access_status::ok)
            throw std::runtime_error("cannot read board image: " + why);
        return b;
    }

private:
    testsupport::temp_dir dir_;
};

// What fn wrote to file descriptor 1 through stdio.
template <typename Fn>
std::string capture_stdout(Fn &&fn)
{
    std::fflush(stdout);
    FILE *sink = std::tmpfile();
    if (!sink)
        throw std::runtime_error("tmpfile failed");
    const int saved = ::dup(1);
    ::dup2(::fileno(sink), 1);
    struct restore {
        int saved;
        ~restore()
        {
            std::fflush(stdout);
            ::dup2(saved, 1);
            ::close(saved);
        }
    };
    {
        restore guard{saved};
        fn();
    }
    std::string out;
    std::rewind(sink);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, sink)) > 0;)
        out.append(buf, n);
    std::fclose(sink);
    return out;
}

inline emu::fault_rule fail_always(emu::op o, std::int32_t rc) { return {o, rc, 0, std::nullopt}; }
inline emu::fault_rule fail_once(emu::op o, std::int32_t rc) { return {o, rc, 0, 1u}; }

} // namespace brdlink_test

#endif
