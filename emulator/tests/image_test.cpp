// The board image's text form, the board's rules and the text helpers.
#include "fixture.hpp"
#include "report.hpp"
#include "textutil.hpp"

#include <random>
#include <sys/stat.h>

namespace {

using emu::op;

emu::board rich_board()
{
    emu::board b = emutest::frozen_board();
    b.sync = 0;
    b.year = 2026;
    b.hw_ts_enabled = true;
    b.inputs[1] = {emu::edge_falling, true};
    b.leds[2] = {4, 1};
    b.led_log.push_back({1765450000000000000, op::EC_setMode, 2, 4, 0});
    b.led_log.push_back({1765450000000000001, op::EC_setState, 7, -3, emu::rc_bad_arg});
    b.store.push_back({4294967295u, 0, 99, 99, 99, 4294967295u, 7});
    b.store.push_back({2026, 345, 12, 0, 0, 1, 1});
    b.lost = 18446744073709551615u;
    b.faults.push_back({op::CS_setYear, -2147483647 - 1, 3, 2u});
    b.faults.push_back({op::close, 10, 0, std::nullopt});
    b.calls.push_back({op::open, "/dev/tsync pci0\n\\x", 0});
    b.calls.push_back({op::HW_getTime, "", 9});
    b.open_handles = 3;
    return b;
}

void expect_same(const emu::board &a, const emu::board &b)
{
    EXPECT_EQ(emu::serialize(a), emu::serialize(b));
}

TEST(image_text, RoundTrip)
{
    for (const auto &b : {emu::board{}, emutest::frozen_board(), rich_board()}) {
        emu::board back;
        std::string why;
        ASSERT_EQ(emu::parse(emu::serialize(b), back, &why), emu::parse_status::ok) << why;
        expect_same(b, back);
        EXPECT_EQ(back.calls.size(), b.calls.size());
        if (!b.calls.empty()) {
            EXPECT_EQ(back.calls[0].args, b.calls[0].args);
        }
    }
    emu::board off;
    off.clock = {false, 0, -5};
    emu::board back;
    ASSERT_EQ(emu::parse(emu::serialize(off), back), emu::parse_status::ok);
    EXPECT_FALSE(back.clock.frozen);
    EXPECT_EQ(back.clock.offset_ns, -5);
}

TEST(image_text, Layout)
{
    std::string t = emu::serialize(emutest::frozen_board());
    EXPECT_EQ(t.rfind("tsyncemu-board 1\nclock frozen 2026-12-11T12:00:00.123456789\nsync 1\n", 0), 0u) << t;
    EXPECT_NE(t.find("\ninput 3 edge rising ts off\n"), std::string::npos);
    EXPECT_NE(t.find("\nled 2 mode 0 state 0\n"), std::string::npos);
    EXPECT_TRUE(t.ends_with("\nhandles 0\nend\n")) << t;
}

TEST(image_text, EveryTruncationIsCorrupt)
{
    std::string t = emu::serialize(rich_board());
    for (std::size_t n = 0; n + 1 < t.size(); ++n) {
        emu::board b;
        EXPECT_EQ(emu::parse(std::string_view(t).substr(0, n), b), emu::parse_status::corrupt) << n;
    }
    emu::board b;
    EXPECT_EQ(emu::parse(std::string_view(t).substr(0, t.size() - 1), b), emu::parse_status::ok); // "end" without newline
}

TEST(image_text, MutationsNeverCrash)
{
    std::string t = emu::serialize(rich_board());
    std::mt19937 rng(12345);
    static constexpr char alpha[] = "0123456789 -\n\\xabcdefghijklmnopqrstuvwxyz_\0\xff";
    const std::string alphabet(alpha, sizeof alpha - 1);
    int ok = 0;
    for (int k = 0; k < 3000; ++k) {
        std::string m = t;
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            std::size_t pos = rng() % m.size();
            switch (rng() % 3) {
            case 0: m[pos] = alphabet[rng() % alphabet.size()]; break;
            case 1: m.erase(pos, 1 + rng() % 8); break;
            default: m.insert(pos, 1, alphabet[rng() % alphabet.size()]); break;
            }
            if (m.empty())
                m = "x";
        }
        emu::board b;
        std::string why;
        auto s = emu::parse(m, b, &why);
        if (s == emu::parse_status::ok) {
            ++ok;
            emu::board again;
            EXPECT_EQ(emu::parse(emu::serialize(b), again), emu::parse_status::ok);
        } else {
            EXPECT_FALSE(why.empty());
        }
    }
    EXPECT_LT(ok, 3000);
}

TEST(image_text, Rejections)
{
    std::string good = emu::serialize(emu::board{});
    auto with = [&](const std::string &from, const std::string &to) {
        std::string t = good;
        auto p = t.find(from);
        EXPECT_NE(p, std::string::npos) << from;
        return t.replace(p, from.size(), to);
    };
    auto status = [](const std::string &t) {
        emu::board b;
        return emu::parse(t, b);
    };
    EXPECT_EQ(status(good), emu::parse_status::ok);
    EXPECT_EQ(status(with("tsyncemu-board 1", "tsyncemu-board 7")), emu::parse_status::version);
    EXPECT_EQ(status(with("tsyncemu-board 1", "tsyncemu-board 01x")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("tsyncemu-board 1", "tsyncemu-board  1")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("sync 1\n", "")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("sync 1\n", "sync 1\nsync 1\n")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("sync 1\n", "sync 4294967296\n")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("sync 1\n", "sync -1\n")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("sync 1\n", "sync 1 \n")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("clock offset 0", "clock offset 9223372036854775808")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("clock offset 0", "clock frozen 2026-02-30T00:00:00")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("input 3 edge rising", "input 4 edge rising")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("input 3 edge rising", "input 2 edge rising")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("input 3 edge rising", "input 3 edge up")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("led 1 mode 0", "led 1 mode 5")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("led 1 mode 0 state 0", "led 1 mode 0 state 2")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("hw_ts off", "hw_ts 1")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("end\n", "stamp 1 2 3 4 5 6\nend\n")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("end\n", "stamp 1 2 3 4 5 6 7\nend\n")), emu::parse_status::ok);
    EXPECT_EQ(status(with("end\n", "fault open 1 skip 0 count\nend\n")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("end\n", "fault opn 1 skip 0 always\nend\n")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("end\n", "fault open 1 skip 0 always\nend\n")), emu::parse_status::ok);
    EXPECT_EQ(status(with("end\n", "call open 0 a\\q\nend\n")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("end\n", "call open 0 a b c\nend\n")), emu::parse_status::ok);
    EXPECT_EQ(status(with("end\n", "bogus\nend\n")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("end\n", "end\n\n")), emu::parse_status::corrupt);
    EXPECT_EQ(status(with("end\n", "end\r\n")), emu::parse_status::corrupt);
    std::string stamps;
    for (std::size_t k = 0; k <= emu::store_capacity; ++k)
        stamps += "stamp 1 2 3 4 5 6 7\n";
    EXPECT_EQ(status(with("end\n", stamps + "end\n")), emu::parse_status::corrupt);
}

TEST(board_rules, EdgeOutcomes)
{
    emu::board b;
    EXPECT_EQ(emu::apply_edge(b, 0, emu::edge_rising, 0), emu::edge_outcome::hw_off);
    b.hw_ts_enabled = true;
    EXPECT_EQ(emu::apply_edge(b, 0, emu::edge_rising, 0), emu::edge_outcome::input_off);
    b.inputs[0].ts_enabled = true;
    EXPECT_EQ(emu::apply_edge(b, 0, emu::edge_falling, 0), emu::edge_outcome::wrong_edge);
    EXPECT_EQ(emu::apply_edge(b, 4, emu::edge_rising, 0), emu::edge_outcome::bad_input);
    EXPECT_EQ(emu::apply_edge(b, -1, emu::edge_rising, 0), emu::edge_outcome::bad_input);
    EXPECT_TRUE(b.store.empty());
    EXPECT_EQ(emu::apply_edge(b, 0, emu::edge_rising, emutest::frozen_ns), emu::edge_outcome::taken);
    b.inputs[0].edge = emu::edge_falling;
    EXPECT_EQ(emu::apply_edge(b, 0, emu::edge_falling, 0), emu::edge_outcome::taken);
    ASSERT_EQ(b.store.size(), 2u);
    EXPECT_EQ(b.store[0], (emu::stamp{2026, 345, 12, 0, 0, 123456789, 1}));
    EXPECT_EQ(b.store[1], (emu::stamp{1970, 1, 0, 0, 0, 0, 1}));
    EXPECT_EQ(b.lost, 0u);
    for (auto o : {emu::edge_outcome::taken, emu::edge_outcome::hw_off, emu::edge_outcome::input_off,
                   emu::edge_outcome::wrong_edge, emu::edge_outcome::lost_full, emu::edge_outcome::bad_input})
        EXPECT_FALSE(emu::edge_outcome_text(o).empty());
}

TEST(board_rules, FaultCounting)
{
    emu::board b;
    b.faults = {{op::open, 5, 1, 2u}, {op::open, 6, 0, 1u}, {op::close, 7, 0, std::nullopt}};
    EXPECT_EQ(emu::consume_fault(b, op::HW_getTime), emu::rc_ok);
    EXPECT_EQ(emu::consume_fault(b, op::open), 6);  // first rule still skipping
    EXPECT_EQ(emu::consume_fault(b, op::open), 5);
    EXPECT_EQ(emu::consume_fault(b, op::open), 5);
    EXPECT_EQ(emu::consume_fault(b, op::open), emu::rc_ok);
    EXPECT_EQ(b.faults.size(), 1u);
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(emu::consume_fault(b, op::close), 7);
    b.faults = {{op::open, 5, 0, 0u}};
    EXPECT_EQ(emu::consume_fault(b, op::open), emu::rc_ok);
    EXPECT_TRUE(b.faults.empty());
}

TEST(board_rules, OpNames)
{
    for (int k = 0; k <= static_cast<int>(op::EC_setState); ++k) {
        auto o = static_cast<op>(k);
        EXPECT_EQ(emu::op_from_name(emu::op_name(o)), o);
    }
    EXPECT_EQ(emu::op_name(op::CS_setYear), "CS_setYear");
    EXPECT_FALSE(emu::op_from_name("TSYNC_open"));
    EXPECT_FALSE(emu::op_from_name(""));
}

TEST(textutil, Numbers)
{
    EXPECT_EQ(emu::parse_u32("0"), 0u);
    EXPECT_EQ(emu::parse_u32("4294967295"), 4294967295u);
    EXPECT_EQ(emu::parse_u32("007"), 7u);
    for (const char *bad : {"", "4294967296", "-1", "+1", " 1", "1 ", "1x", "0x10", "99999999999999999999"})
        EXPECT_FALSE(emu::parse_u32(bad)) << bad;
    EXPECT_EQ(emu::parse_i32("-2147483648"), INT32_MIN);
    EXPECT_EQ(emu::parse_i32("2147483647"), INT32_MAX);
    EXPECT_FALSE(emu::parse_i32("2147483648"));
    EXPECT_FALSE(emu::parse_i32("-2147483649"));
    EXPECT_FALSE(emu::parse_i32("-"));
    EXPECT_FALSE(emu::parse_i32("--1"));
    EXPECT_EQ(emu::parse_i64("-9223372036854775808"), INT64_MIN);
    EXPECT_FALSE(emu::parse_i64("9223372036854775808"));
    EXPECT_EQ(emu::parse_u64("18446744073709551615"), UINT64_MAX);
    EXPECT_FALSE(emu::parse_u64("18446744073709551616"));
    EXPECT_EQ(emu::parse_board_index("0"), 0);
    EXPECT_FALSE(emu::parse_board_index("-1"));
}

TEST(textutil, Times)
{
    EXPECT_EQ(emu::parse_utc_time("1970-01-01T00:00:00"), 0);
    EXPECT_EQ(emu::parse_utc_time("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(emu::parse_utc_time("1970-01-01T00:00:01.5"), 1500000000);
    EXPECT_EQ(emu::parse_utc_time("2026-12-11T12:00:00.123456789Z"), emutest::frozen_ns);
    EXPECT_EQ(emu::parse_utc_time("2024-02-29T00:00:00"), 1709164800LL * 1000000000LL);
    for (const char *bad :
         {"", "2026-12-11", "2026-12-11 12:00:00", "2026-12-11T12:00:00.", "2026-12-11T12:00:00.1234567890",
          "2026-12-11T12:00:00ZZ", "2026-12-11T12:00:00x", "2026-13-01T00:00:00", "2026-00-01T00:00:00",
          "2025-02-29T00:00:00", "2026-04-31T00:00:00", "2026-12-11T24:00:00", "2026-12-11T12:60:00",
          "2026-12-11T12:00:60", "1969-12-31T23:59:59", "2200-01-01T00:00:00", "2026-1-11T12:00:00",
          "+026-12-11T12:00:00", "2026-12-11T12:00:00.-1", "2026-12-11t12:00:00"})
        EXPECT_FALSE(emu::parse_utc_time(bad)) << bad;
    EXPECT_EQ(emu::format_utc_time(emutest::frozen_ns), "2026-12-11T12:00:00.123456789");
    EXPECT_EQ(emu::format_utc_time(-1), "1969-12-31T23:59:59.999999999");
    for (std::int64_t t : {std::int64_t{0}, emutest::frozen_ns, std::int64_t{7258118399999999999}})
        EXPECT_EQ(emu::parse_utc_time(emu::format_utc_time(t)), t);
}

TEST(textutil, Escapes)
{
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    auto e = emu::escape_line(all);
    EXPECT_EQ(e.find('\n'), std::string::npos);
    EXPECT_EQ(emu::unescape_line(e), all);
    EXPECT_FALSE(emu::unescape_line("\\"));
    EXPECT_FALSE(emu::unescape_line("\\x4"));
    EXPECT_FALSE(emu::unescape_line("\\xg0"));
    EXPECT_FALSE(emu::unescape_line("a\tb"));
}

TEST(report, ShowText)
{
    auto t = emu::show_text(rich_board(), 0);
    for (const char *part : {"clock: frozen at 2026-12-11T12:00:00.123456789 UTC", "sync: 0", "year: 2026",
                             "hardware time-stamping: on", "input 1: edge falling, time-stamping on",
                             "led 2: mode 4 (host-controlled), state 1 (lit)", "store: 2 of 512 stamps",
                             "lost: 18446744073709551615", "CS_setYear answers -2147483648 after 3 more calls, 2 times",
                             "close answers 10, always", "open handles: 3"})
        EXPECT_NE(t.find(part), std::string::npos) << part << "\n" << t;
}

} // namespace

namespace {

TEST(report, SplitCommandArgs)
{
    emu::command_args a;
    std::string err;
    ASSERT_TRUE(emu::split_command_args({"0", "--at", "T", "-5", "--force"}, {"--at"}, {"--force"}, a, err));
    EXPECT_EQ(a.positional, (std::vector<std::string>{"0", "-5"}));
    EXPECT_EQ(a.options.at("--at"), "T");
    EXPECT_EQ(a.options.at("--force"), "");
    EXPECT_FALSE(emu::split_command_args({"--at"}, {"--at"}, {}, a, err));
    EXPECT_EQ(err, "option --at needs a value");
    EXPECT_FALSE(emu::split_command_args({"--x"}, {"--at"}, {}, a, err));
    EXPECT_EQ(err, "unknown option --x");
    EXPECT_FALSE(emu::split_command_args({"--f", "--f"}, {}, {"--f"}, a, err));
    EXPECT_EQ(err, "option --f given twice");
}

TEST(image_file, FailedWriteLeavesNoTemporaryFile)
{
    testsupport::temp_dir dir;
    // A directory where the image should go: the rename fails, even for root.
    ASSERT_EQ(::mkdir((dir / "tsyncpci0").c_str(), 0755), 0);
    std::string why;
    EXPECT_EQ(emu::write_new_image(dir / "tsyncpci0", emu::board{}, &why), emu::access_status::access);
    EXPECT_NE(why.find("cannot rename"), std::string::npos) << why;
    EXPECT_EQ(testsupport::list_dir(dir.path()), (std::vector<std::string>{"tsyncpci0", "tsyncpci0.lock"}));
    ::rmdir((dir / "tsyncpci0").c_str());
}

TEST(image_file, CreateRefusesAnExistingImage)
{
    testsupport::temp_dir dir;
    bool existed = true;
    ASSERT_EQ(emu::create_image(dir / "b", emutest::frozen_board(), false, existed), emu::access_status::ok);
    EXPECT_FALSE(existed);
    emu::board other;
    other.year = 2001;
    ASSERT_EQ(emu::create_image(dir / "b", other, false, existed), emu::access_status::ok);
    EXPECT_TRUE(existed);
    emu::board b;
    ASSERT_EQ(emu::read_image(dir / "b", b), emu::access_status::ok);
    EXPECT_EQ(b.year, 0u);
    ASSERT_EQ(emu::create_image(dir / "b", other, true, existed), emu::access_status::ok);
    ASSERT_EQ(emu::read_image(dir / "b", b), emu::access_status::ok);
    EXPECT_EQ(b.year, 2001u);
    EXPECT_EQ(emu::remove_image(dir / "b"), emu::access_status::ok);
    EXPECT_EQ(emu::remove_image(dir / "b"), emu::access_status::missing);
    EXPECT_EQ(emu::read_image(dir / "b", b), emu::access_status::missing);
    EXPECT_TRUE(testsupport::list_dir(dir.path()).empty());
}

} // namespace
