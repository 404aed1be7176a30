// Several processes changing one image at once lose no change.
#include "fixture.hpp"

#include <tsync.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// Run fn in `children` forked processes at once; true when all exited 0.
template <typename Fn>
bool in_children(int children, Fn fn)
{
    std::vector<pid_t> pids;
    for (int k = 0; k < children; ++k) {
        pid_t pid = ::fork();
        if (pid == 0)
            ::_exit(fn(k) ? 0 : 1);
        if (pid < 0)
            return false;
        pids.push_back(pid);
    }
    bool ok = true;
    for (pid_t pid : pids) {
        int status = 0;
        ok = ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ok;
    }
    return ok;
}

TEST(concurrency, TwoProcessesTakingStamps)
{
    emutest::board_dir dir;
    emu::board b = emutest::frozen_board();
    b.hw_ts_enabled = true;
    b.inputs[0].ts_enabled = true;
    b.inputs[1].ts_enabled = true;
    dir.put(b);
    const std::string image = dir.image();
    ASSERT_TRUE(in_children(2, [&](int k) {
        for (int n = 0; n < 200; ++n) {
            auto s = emu::update_image(image, [&](emu::board &x) {
                return emu::apply_edge(x, k, emu::edge_rising, emutest::frozen_ns + n) == emu::edge_outcome::taken;
            });
            if (s != emu::access_status::ok)
                return false;
        }
        return true;
    }));
    auto after = dir.get();
    EXPECT_EQ(after.store.size(), 400u);
    EXPECT_EQ(after.lost, 0u);
    EXPECT_EQ(testsupport::list_dir(dir.path()), (std::vector<std::string>{"tsyncpci0", "tsyncpci0.lock"}));
}

TEST(concurrency, ProcessesOpeningThroughTheDriver)
{
    emutest::board_dir dir;
    dir.put(emutest::frozen_board());
    ASSERT_TRUE(in_children(3, [&](int) {
        for (int n = 0; n < 40; ++n) {
            TSYNC_BoardHandle h = nullptr;
            if (TSYNC_open(&h, "/dev/tsyncpci0") != 0)
                return false;
            // every second handle stays open, so the count shows every change
            if (n % 2 == 0 && TSYNC_close(h) != 0)
                return false;
        }
        return true;
    }));
    EXPECT_EQ(dir.get().open_handles, 60u);
}

TEST(concurrency, ReaderNeverSeesATornImage)
{
    emutest::board_dir dir;
    dir.put(emutest::frozen_board());
    const std::string image = dir.image();
    ASSERT_TRUE(in_children(2, [&](int k) {
        for (int n = 0; n < 150; ++n) {
            if (k == 0) {
                auto s = emu::update_image(image, [&](emu::board &x) {
                    x.store.push_back(emu::stamp{2026, 1, 0, 0, 0, static_cast<std::uint32_t>(n), 1});
                    return true;
                });
                if (s != emu::access_status::ok)
                    return false;
            } else {
                // Without the lock: the image file itself must always be whole.
                emu::board x;
                if (emu::parse(testsupport::read_file(image), x) != emu::parse_status::ok)
                    return false;
            }
        }
        return true;
    }));
    EXPECT_EQ(dir.get().store.size(), 150u);
}

} // namespace
