#include "orvane_core.hpp"
#include "testsupport.hpp"

#include <arpa/inet.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

namespace syst_io = core::com::udp_io::syst_io;
namespace t0_cal = core::syst::commands::t0_cal;

struct address_case {
    const char *text;
    std::uint32_t value; // 0 with ok=false: refused
    bool ok;
};

// Printed by value: gtest's byte dump would read the padding.
void PrintTo(const address_case &c, std::ostream *os) { *os << '\'' << c.text << '\''; }

class AddressValue : public ::testing::TestWithParam<address_case> {};

TEST_P(AddressValue, ParsesOnlyDottedQuads)
{
    const auto &c = GetParam();
    if (c.ok) {
        EXPECT_EQ(core::utils::value(c.text), c.value);
    } else {
        try {
            core::utils::value(c.text);
            FAIL() << "accepted '" << c.text << "'";
        } catch (const core::error &e) {
            EXPECT_EQ(std::string(e.what()), std::string("not a dotted IPv4 address: '") + c.text + "'");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, AddressValue,
                         ::testing::Values(address_case{"192.168.1.101", 0xc0a80165u, true},
                                           address_case{"127.0.0.1", 0x7f000001u, true},
                                           address_case{"0.0.0.0", 0, true},
                                           address_case{"255.255.255.255", 0xffffffffu, true},
                                           address_case{"", 0, false},
                                           address_case{"1.2.3", 0, false},
                                           address_case{"1.2.3.4.5", 0, false},
                                           address_case{"256.1.1.1", 0, false},
                                           address_case{"1.2.3.4 ", 0, false},
                                           address_case{" 1.2.3.4", 0, false},
                                           address_case{"01.2.3.4", 0, false},
                                           address_case{"1..3.4", 0, false},
                                           address_case{"1.2.3.-4", 0, false},
                                           address_case{"1.2.3.1000", 0, false},
                                           address_case{"localhost", 0, false},
                                           address_case{"::1", 0, false}));

struct diy_case {
    std::int32_t year, doy, month, day;
};

void PrintTo(const diy_case &c, std::ostream *os) { *os << c.year << " day " << c.doy; }

class DiyToDay : public ::testing::TestWithParam<diy_case> {};

TEST_P(DiyToDay, GivesGregorianMonthAndDay)
{
    const auto &c = GetParam();
    auto [month, day] = diy_day::diy_to_day(c.year, c.doy);
    EXPECT_EQ(month, c.month);
    EXPECT_EQ(day, c.day);
}

INSTANTIATE_TEST_SUITE_P(Table, DiyToDay,
                         ::testing::Values(diy_case{1971, 60, 3, 1}, diy_case{2024, 60, 2, 29},
                                           diy_case{2000, 60, 2, 29}, diy_case{1900, 60, 3, 1},
                                           diy_case{2023, 1, 1, 1}, diy_case{2023, 365, 12, 31},
                                           diy_case{2024, 366, 12, 31}, diy_case{2024, 182, 6, 30},
                                           diy_case{2023, 182, 7, 1}));

TEST(DiyToDay, RefusesDaysOutsideTheYear)
{
    EXPECT_THROW(diy_day::diy_to_day(2023, 366), core::error);
    EXPECT_THROW(diy_day::diy_to_day(2100, 366), core::error);
    EXPECT_THROW(diy_day::diy_to_day(2024, 367), core::error);
    EXPECT_THROW(diy_day::diy_to_day(2024, 0), core::error);
    try {
        diy_day::diy_to_day(2023, 366);
    } catch (const core::error &e) {
        EXPECT_STREQ(e.what(), "day of year 366 is not in year 2023 (1 to 365)");
    }
}

TEST(T0Message, RoundTripsAndRejectsEverythingElse)
{
    const auto m = t0_cal::new_msg(1);
    const std::array<std::uint8_t, 8> wire{'O', 'R', 'V', 'C', 1, 0x54, 0, 1};
    EXPECT_EQ(m.bytes, wire);
    auto d = t0_cal::decode(m.bytes.data(), m.bytes.size());
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.argument, 1);

    struct bad {
        std::vector<std::uint8_t> bytes;
        const char *why;
    };
    const bad cases[] = {
        {{}, "size 0 bytes, expected 8"},
        {{'O', 'R', 'V', 'C', 1, 0x54, 0}, "size 7 bytes, expected 8"},
        {{'O', 'R', 'V', 'C', 1, 0x54, 0, 1, 0}, "size 9 bytes, expected 8"},
        {{'O', 'R', 'V', 'X', 1, 0x54, 0, 1}, "wrong magic"},
        {{'O', 'R', 'V', 'C', 2, 0x54, 0, 1}, "unknown format version 2"},
        {{'O', 'R', 'V', 'C', 1, 0x55, 0, 1}, "not a T0 calibration command (code 85)"},
    };
    for (const auto &c : cases) {
        auto r = t0_cal::decode(c.bytes.data(), c.bytes.size());
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.why, c.why);
    }
    EXPECT_THROW(t0_cal::new_msg(-1), core::error);
    EXPECT_THROW(t0_cal::new_msg(65536), core::error);
}

// A receiver on an ephemeral loopback port.
struct receiver {
    int fd = -1;
    std::uint16_t port = 0;
    receiver()
    {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~receiver() { ::close(fd); }
};

TEST(SystIo, SendsTheMessageAndTracesItsLife)
{
    testsupport::temp_dir dir;
    const std::string trace = dir / "trace";
    ::setenv("ORVANE_CORE_TRACE", trace.c_str(), 1);
    receiver rx;
    {
        syst_io::object obj;
        syst_io::initialize(obj);
        syst_io::set_connection(obj, core::utils::value("127.0.0.1"), 0, rx.port);
        syst_io::send(obj, t0_cal::new_msg(1), 1);
    }
    ::unsetenv("ORVANE_CORE_TRACE");
    std::uint8_t buf[64];
    ssize_t got = ::recv(rx.fd, buf, sizeof buf, MSG_DONTWAIT);
    ASSERT_EQ(got, 8);
    EXPECT_TRUE(t0_cal::decode(buf, 8).ok);
    EXPECT_EQ(testsupport::read_file(trace), "initialize\nset_connection 127.0.0.1 0 " + std::to_string(rx.port) +
                                                 "\nsend 8 bytes\nfinalize\n");
}

TEST(SystIo, MisuseRaisesAndAnUninitialisedObjectIsNotFinalised)
{
    testsupport::temp_dir dir;
    const std::string trace = dir / "trace";
    ::setenv("ORVANE_CORE_TRACE", trace.c_str(), 1);
    {
        syst_io::object idle;
    }
    {
        syst_io::object obj;
        EXPECT_THROW(obj.set_connection(0x7f000001u, 0, 55555), core::error);
        obj.initialize();
        EXPECT_THROW(obj.initialize(), core::error);
        EXPECT_THROW(obj.send(t0_cal::new_msg(1), 1), core::error);
        EXPECT_THROW(obj.set_connection(0x7f000001u, 1, 55555), core::error);
    }
    ::unsetenv("ORVANE_CORE_TRACE");
    EXPECT_EQ(testsupport::read_file(trace), "initialize\nfinalize\n");
}

} // namespace
