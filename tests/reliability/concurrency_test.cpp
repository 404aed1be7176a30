// Several processes at once on one board for a bounded number of rounds:
// tsyncemu taking stamps, mbemu stamping the T0 pulses of datagrams sent to
// it, the board tools, zeromark draining and reading, a drainer of our own
// and a reader of the raw image. The image always parses, every stamp taken
// is found exactly once (drained, read or still stored), and every edge a
// full store refused is counted as lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "reliability.hpp"

namespace {

using key = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                       std::uint32_t>;
key key_of(const emu::stamp &s) { return {s.year, s.doy, s.hour, s.minute, s.second, s.ns, s.sync}; }

constexpr int tsyncemu_stamps = 40;
constexpr int pulses = 30;
constexpr int tool_rounds = 6;
constexpr int zeromark_runs = 4;
constexpr int drain_rounds = 8;
constexpr std::size_t prefill = 505; // a few stamps short of a full store

testsupport::command command_in(const std::string &dir, std::vector<std::string> argv)
{
    testsupport::command cmd;
    cmd.program = testsupport::bin(argv.at(0));
    cmd.argv = std::move(argv);
    cmd.env_set = rel::board_env(dir);
    cmd.env_unset = {"SPEC_KTSAL_EN"};
    cmd.timeout = std::chrono::milliseconds(30000);
    return cmd;
}

std::string at_time(int i)
{
    char text[64];
    std::snprintf(text, sizeof text, "2030-01-01T00:00:00.%09d", i + 1);
    return text;
}

TEST(board_concurrency, stamps_are_neither_lost_nor_duplicated_and_every_loss_is_counted)
{
    testsupport::temp_dir dir;
    const std::string image = emu::image_path(dir.path(), 0);
    emu::board b; // the clock follows the system clock: mbemu's stamps differ
    b.hw_ts_enabled = true;
    b.inputs[0].ts_enabled = true;
    std::vector<key> expected_known;
    for (std::size_t i = 0; i < prefill; ++i) {
        b.store.push_back({2031, 1, 0, 0, 0, static_cast<std::uint32_t>(i), 1});
        expected_known.push_back(key_of(b.store.back()));
    }
    ASSERT_EQ(emu::write_new_image(image, b), emu::access_status::ok);

    auto mb = rel::start_mbemu(dir, {"--count", std::to_string(pulses), "--timeout", "60"});
    ASSERT_NE(mb.port, 0) << "mbemu never listened";

    std::mutex m;
    std::vector<std::string> failures;
    auto fail = [&](const std::string &what) {
        std::lock_guard<std::mutex> g(m);
        failures.push_back(what);
    };
    std::vector<key> observed;
    auto observe = [&](const std::vector<key> &ks) {
        std::lock_guard<std::mutex> g(m);
        observed.insert(observed.end(), ks.begin(), ks.end());
    };
    std::atomic<int> writers_left{5};
    // The readers of the store start once it has been full, so that edges
    // are lost meanwhile.
    std::atomic<bool> filled{false};
    auto wait_filled = [&] {
        for (int i = 0; i < 1000 && !filled; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    std::atomic<std::uint64_t> raw_reads{0};

    int taken_by_tsyncemu = 0, lost_by_tsyncemu = 0;
    std::thread stamper([&] {
        for (int i = 0; i < tsyncemu_stamps; ++i) {
            const auto r = testsupport::run(command_in(dir.path(), {"tsyncemu", "stamp", "0", "0", "--at", at_time(i)}));
            const std::string head = "board 0 input 0 at " + at_time(i) + " UTC: ";
            if (r.status == 0 && r.out == head + "stamp taken\n") {
                ++taken_by_tsyncemu;
                std::lock_guard<std::mutex> g(m);
                expected_known.push_back({2030, 1, 0, 0, 0, static_cast<std::uint32_t>(i + 1), 1});
            } else if (r.status == 0 && r.out == head + "not taken: time-stamp store full, stamp lost\n") {
                ++lost_by_tsyncemu;
            } else {
                fail("tsyncemu stamp: " + r.out + r.err);
            }
        }
        --writers_left;
    });
    std::thread pulser([&] {
        rel::sender s;
        for (int i = 0; i < pulses; ++i) {
            if (!s.send(mb.port, rel::t0_datagram()))
                fail("send to mbemu");
            std::this_thread::sleep_for(std::chrono::milliseconds(8));
        }
        --writers_left;
    });
    std::thread tools([&] {
        const std::vector<std::vector<std::string>> settings = {{"brdclock", "0"},
                                                                 {"brdmark", "0", "1"},
                                                                 {"brdpinmark", "0", "0", "1"},
                                                                 {"brdflank", "0", "0", "1"},
                                                                 {"brdanno", "0", "2026"}};
        for (int round = 0; round < tool_rounds; ++round)
            for (const auto &argv : settings) {
                const auto r = testsupport::run(command_in(dir.path(), argv));
                if (r.status != 0 || !r.err.empty())
                    fail(argv[0] + ": " + r.out + r.err);
            }
        --writers_left;
    });
    std::thread marker([&] {
        const std::string ledger = dir / "ledger";
        const char *asan = std::getenv("ASAN_OPTIONS");
        wait_filled();
        for (int i = 0; i < zeromark_runs; ++i) {
            auto cmd = command_in(dir.path(), {"zeromark", "127.0.0.1"});
            // The ledger is preloaded ahead of the sanitizer's runtime.
            cmd.env_set.push_back("LD_PRELOAD=" ORVANE_RELIABILITY_LEDGER);
            cmd.env_set.push_back("RELIABILITY_LEDGER=" + ledger);
            cmd.env_set.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
            cmd.env_set.push_back("TZ=UTC");
            const auto r = testsupport::run(cmd);
            if (r.status != 0 || !r.err.empty() || !r.out.starts_with("Sending T0 signal to 127.0.0.1\n"))
                fail("zeromark: " + r.out + r.err);
        }
        --writers_left;
    });
    std::thread drainer([&] {
        for (int i = 0; i < 1000 && !filled; ++i) {
            const auto now = rel::load_board(dir.path());
            filled = now && now->lost > 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        filled = true; // or the time is up: the check below tells
        for (int round = 0; round < drain_rounds; ++round) {
            std::vector<key> got;
            const auto s = emu::update_image(image, [&](emu::board &board) {
                for (const auto &st : board.store)
                    got.push_back(key_of(st));
                board.store.clear();
                return true;
            });
            if (s != emu::access_status::ok)
                fail("drain");
            observe(got);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        --writers_left;
    });
    std::thread reader([&] {
        // Without the lock, as any reader of the file: never a torn image.
        for (int i = 0; i < 5000 && writers_left > 0; ++i) {
            emu::board seen;
            std::string why;
            const std::string text = testsupport::read_file(image);
            if (emu::parse(text, seen, &why) != emu::parse_status::ok)
                fail("torn image: " + why);
            ++raw_reads;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (auto *t : {&stamper, &pulser, &tools, &marker, &drainer, &reader})
        t->join();
    const auto mbemu_result = mb.done.get();
    for (const auto &f : failures)
        ADD_FAILURE() << f;
    EXPECT_GT(raw_reads.load(), 0u);
    ASSERT_FALSE(mbemu_result.timed_out);
    EXPECT_EQ(mbemu_result.status, 0);

    // mbemu's word on each pulse's rising edge.
    int taken_by_mbemu = 0, lost_by_mbemu = 0;
    for (const auto &line : rel::lines_of(mb.log_path)) {
        if (line.find(": T0 argument 1: rising edge: stamp taken; ") != std::string::npos)
            ++taken_by_mbemu;
        else if (line.find(": T0 argument 1: rising edge: not taken: time-stamp store full, stamp lost; ") !=
                 std::string::npos)
            ++lost_by_mbemu;
        else if (!line.starts_with("listening on ") && line != "stopped: count reached")
            ADD_FAILURE() << "mbemu: " << line;
    }
    EXPECT_EQ(taken_by_tsyncemu + lost_by_tsyncemu, tsyncemu_stamps);
    EXPECT_EQ(taken_by_mbemu + lost_by_mbemu, pulses);

    const auto after = rel::load_board(dir.path());
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->lost, static_cast<std::uint64_t>(lost_by_tsyncemu + lost_by_mbemu));
    EXPECT_GT(after->lost, 0u) << "the store never filled";
    EXPECT_EQ(after->open_handles, 0u);
    std::vector<key> rest;
    for (const auto &st : after->store)
        rest.push_back(key_of(st));
    observe(rest);
    std::istringstream ledger(testsupport::exists(dir / "ledger") ? testsupport::read_file(dir / "ledger") : "");
    std::uint32_t f[7];
    while (ledger >> f[0] >> f[1] >> f[2] >> f[3] >> f[4] >> f[5] >> f[6])
        observed.push_back({f[0], f[1], f[2], f[3], f[4], f[5], f[6]});

    // Every stamp once: ours and tsyncemu's by value, mbemu's by number.
    std::map<key, int> count;
    for (const auto &k : observed)
        ++count[k];
    for (const auto &[k, n] : count)
        EXPECT_EQ(n, 1) << "stamp of year " << std::get<0>(k) << " ns " << std::get<5>(k) << " seen " << n << " times";
    for (const auto &k : expected_known)
        EXPECT_EQ(count.count(k), 1u) << "stamp of year " << std::get<0>(k) << " ns " << std::get<5>(k) << " lost";
    EXPECT_EQ(observed.size(), expected_known.size() + static_cast<std::size_t>(taken_by_mbemu));
}

} // namespace
