// mbemu under a bounded flood of datagrams on loopback, valid and not: it
// keeps answering, logs every datagram in order (each rejection with its
// reason) and puts exactly one stamped rising edge on the board per valid
// command.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "orvane_core.hpp"
#include "reliability.hpp"

namespace {

struct datagram_kind {
    std::string name;
    std::string bytes;
    bool valid;
};

std::string with_byte(std::string s, std::size_t at, unsigned char value)
{
    s[at] = static_cast<char>(value);
    return s;
}

std::vector<datagram_kind> kinds()
{
    const std::string t0 = rel::t0_datagram();
    return {
        {"valid", t0, true},
        {"empty", "", false},
        {"truncated", t0.substr(0, 7), false},
        {"one_byte_more", t0 + "x", false},
        {"a_frame_long", t0 + std::string(1492, 'x'), false},
        {"largest_udp", std::string(65507, 'O'), false},
        {"wrong_magic", with_byte(t0, 3, 'X'), false},
        {"version_0", with_byte(t0, 4, 0), false},
        {"version_2", with_byte(t0, 4, 2), false},
        {"version_255", with_byte(t0, 4, 255), false},
        {"other_command", with_byte(t0, 5, 'X'), false},
        // Any argument is one command: one pulse.
        {"valid_argument_2", with_byte(t0, 7, 2), true},
        {"valid_argument_65535", with_byte(with_byte(t0, 6, 255), 7, 255), true},
    };
}

std::string expected_line(const datagram_kind &k)
{
    const auto d = core::syst::commands::t0_cal::decode(k.bytes.data(), k.bytes.size());
    if (!d.ok)
        return "rejected: " + d.why;
    return "T0 argument " + std::to_string(d.argument) + ": rising edge: " +
           std::string(emu::edge_outcome_text(emu::edge_outcome::taken)) +
           "; falling edge: " + std::string(emu::edge_outcome_text(emu::edge_outcome::wrong_edge));
}

TEST(mbemu_load, flood_of_mixed_datagrams_is_answered_in_order_one_stamp_per_command)
{
    constexpr int rounds = 12;
    const auto all = kinds();
    std::size_t valid_per_round = 0;
    for (const auto &k : all)
        valid_per_round += k.valid ? 1 : 0;
    // One more after the flood: it still answers, and the count ends it.
    const std::size_t commands = rounds * valid_per_round + 1;

    testsupport::temp_dir dir;
    emu::board b = rel::frozen_board();
    b.hw_ts_enabled = true;
    b.inputs[0].ts_enabled = true;
    ASSERT_EQ(emu::write_new_image(emu::image_path(dir.path(), 0), b), emu::access_status::ok);
    auto mb = rel::start_mbemu(dir, {"--count", std::to_string(commands), "--timeout", "60"});
    ASSERT_NE(mb.port, 0) << "mbemu never listened";

    // Each round in a burst; the next once the log shows this one answered,
    // so that the socket's buffer never overflows and nothing is dropped.
    rel::sender s;
    std::vector<std::string> expected = {"listening on 127.0.0.1:" + std::to_string(mb.port)};
    for (int round = 0; round < rounds; ++round) {
        // A different order each round.
        for (std::size_t i = 0; i < all.size(); ++i) {
            const auto &k = all[(i * 5 + static_cast<std::size_t>(round)) % all.size()];
            ASSERT_TRUE(s.send(mb.port, k.bytes)) << k.name;
            expected.push_back(expected_line(k));
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (rel::lines_of(mb.log_path).size() < expected.size() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_GE(rel::lines_of(mb.log_path).size(), expected.size()) << "round " << round << " not answered";
    }
    ASSERT_TRUE(s.send(mb.port, all[0].bytes));
    expected.push_back(expected_line(all[0]));
    expected.push_back("stopped: count reached");
    const auto r = mb.done.get();
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");

    const std::regex head("^[0-9]+\\.[0-9]{9} from 127\\.0\\.0\\.1:[0-9]+: ");
    std::vector<std::string> seen;
    for (const auto &line : rel::lines_of(mb.log_path))
        seen.push_back(std::regex_replace(line, head, ""));
    EXPECT_EQ(seen, expected);

    const auto after = rel::load_board(dir.path());
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->store.size(), commands);
    EXPECT_EQ(after->lost, 0u);
}

} // namespace
