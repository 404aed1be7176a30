// libtsync.so through its C interface.
#include "fixture.hpp"
#include "textutil.hpp"

#include <tsync.h>

#include <cstring>
#include <algorithm>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using emu::op;
using emutest::board_dir;
using emutest::frozen_board;

// An open handle on /dev/tsyncpci0 of a fresh frozen board.
class clib : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.put(frozen_board());
        ASSERT_EQ(TSYNC_open(&h, "/dev/tsyncpci0"), TSYNC_SUCCESS);
        ASSERT_NE(h, nullptr);
    }
    void TearDown() override
    {
        if (h) {
            EXPECT_EQ(TSYNC_close(h), TSYNC_SUCCESS);
        }
    }
    void faults(std::vector<emu::fault_rule> rules)
    {
        ASSERT_EQ(emu::update_image(dir.image(), [&](emu::board &b) {
            b.faults = rules;
            return true;
        }),
                  emu::access_status::ok);
    }
    board_dir dir;
    TSYNC_BoardHandle h = nullptr;
};

TEST_F(clib, OpenCountsHandlesAndCloseReleasesThem)
{
    EXPECT_EQ(dir.get().open_handles, 1u);
    TSYNC_BoardHandle second = nullptr;
    ASSERT_EQ(TSYNC_open(&second, "/dev/tsyncpci0"), TSYNC_SUCCESS);
    EXPECT_EQ(dir.get().open_handles, 2u);
    EXPECT_EQ(TSYNC_close(second), TSYNC_SUCCESS);
    EXPECT_EQ(dir.get().open_handles, 1u);
    auto calls = dir.get().calls;
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].operation, op::open);
    EXPECT_EQ(calls[0].args, "/dev/tsyncpci0");
    EXPECT_EQ(calls[2].operation, op::close);
}

TEST_F(clib, ImagePathWorksDirectly)
{
    TSYNC_BoardHandle direct = nullptr;
    ASSERT_EQ(TSYNC_open(&direct, dir.image().c_str()), TSYNC_SUCCESS);
    EXPECT_EQ(TSYNC_close(direct), TSYNC_SUCCESS);
}

TEST_F(clib, GetTimeFrozen)
{
    BoardTime t{};
    ASSERT_EQ(TSYNC_HW_getTime(h, &t), TSYNC_SUCCESS);
    EXPECT_EQ(t.year, 2026u);
    EXPECT_EQ(t.doy, 345u);
    EXPECT_EQ(t.hour, 12u);
    EXPECT_EQ(t.minute, 0u);
    EXPECT_EQ(t.second, 0u);
    EXPECT_EQ(t.ns, 123456789u);
    EXPECT_EQ(t.sync, 1u);
    EXPECT_EQ(TSYNC_HW_getTime(h, nullptr), emu::rc_null_pointer);
    EXPECT_EQ(dir.get().calls.back().args, "null");
}

TEST_F(clib, GetTimeFollowsSystemClockWithOffset)
{
    constexpr std::int64_t day = 86400LL * 1000000000LL;
    ASSERT_EQ(emu::update_image(dir.image(), [](emu::board &b) {
        b.clock = {false, 0, day};
        b.sync = 0;
        return true;
    }),
              emu::access_status::ok);
    std::int64_t before = emu::realtime_now_ns() + day;
    BoardTime t{};
    ASSERT_EQ(TSYNC_HW_getTime(h, &t), TSYNC_SUCCESS);
    std::int64_t after = emu::realtime_now_ns() + day;
    emu::board plain;
    auto lo = emu::stamp_of(plain, before), hi = emu::stamp_of(plain, after);
    EXPECT_EQ(t.sync, 0u);
    EXPECT_TRUE(t.year == lo.year || t.year == hi.year);
    EXPECT_TRUE(t.doy == lo.doy || t.doy == hi.doy);
    std::uint64_t sod = t.hour * 3600u + t.minute * 60u + t.second;
    std::uint64_t sod_lo = lo.hour * 3600u + lo.minute * 60u + lo.second;
    std::uint64_t sod_hi = hi.hour * 3600u + hi.minute * 60u + hi.second;
    if (lo.doy == hi.doy) {
        EXPECT_GE(sod, sod_lo);
        EXPECT_LE(sod, sod_hi);
    }
}

TEST(stamp_of, DayOfYearAndLeapYears)
{
    emu::board b;
    auto at = [&](const char *t) { return emu::stamp_of(b, *emu::parse_utc_time(t)); };
    EXPECT_EQ(at("2024-12-31T23:59:59.999999999").doy, 366u);
    EXPECT_EQ(at("2023-12-31T00:00:00").doy, 365u);
    EXPECT_EQ(at("2024-03-01T00:00:00").doy, 61u);
    EXPECT_EQ(at("1970-01-01T00:00:00").year, 1970u);
    EXPECT_EQ(at("1970-01-01T00:00:00").doy, 1u);
    auto s = at("2100-03-01T01:02:03.000000004");
    EXPECT_EQ(s, (emu::stamp{2100, 60, 1, 2, 3, 4, 1}));
    EXPECT_EQ(emu::stamp_of(b, -1).year, 1969u);
    EXPECT_EQ(emu::stamp_of(b, -1).doy, 365u);
}

TEST_F(clib, GetTsDataHandsOutTheStoreAndEmptiesIt)
{
    ASSERT_EQ(emu::update_image(dir.image(), [](emu::board &b) {
        for (std::uint32_t k = 0; k < 5; ++k)
            b.store.push_back(emu::stamp{2026, 100 + k, 1, 2, 3, k, 1});
        return true;
    }),
              emu::access_status::ok);
    auto fifo = std::make_unique<TimestampFifo>();
    std::memset(fifo.get(), 0xff, sizeof *fifo);
    ASSERT_EQ(TSYNC_HW_getTsData(h, 1, fifo.get()), TSYNC_SUCCESS);
    ASSERT_EQ(fifo->count, 5u);
    for (std::uint32_t k = 0; k < 5; ++k) {
        EXPECT_EQ(fifo->stamps[k].doy, 100 + k);
        EXPECT_EQ(fifo->stamps[k].ns, k);
    }
    EXPECT_EQ(fifo->stamps[5].doy, 0u);
    EXPECT_TRUE(dir.get().store.empty());
    ASSERT_EQ(TSYNC_HW_getTsData(h, 1, fifo.get()), TSYNC_SUCCESS);
    EXPECT_EQ(fifo->count, 0u);
    EXPECT_EQ(TSYNC_HW_getTsData(h, 1, nullptr), emu::rc_null_pointer);
    EXPECT_EQ(dir.get().calls.back().args, "1 null");
}

TEST_F(clib, GetTsDataFullStore)
{
    ASSERT_EQ(emu::update_image(dir.image(), [](emu::board &b) {
        b.hw_ts_enabled = true;
        b.inputs[2].ts_enabled = true;
        for (std::size_t k = 0; k < emu::store_capacity + 3; ++k) {
            auto out = emu::apply_edge(b, 2, emu::edge_rising, emutest::frozen_ns + static_cast<std::int64_t>(k));
            EXPECT_EQ(out, k < emu::store_capacity ? emu::edge_outcome::taken : emu::edge_outcome::lost_full);
        }
        return true;
    }),
              emu::access_status::ok);
    EXPECT_EQ(dir.get().store.size(), emu::store_capacity);
    EXPECT_EQ(dir.get().lost, 3u);
    auto fifo = std::make_unique<TimestampFifo>();
    ASSERT_EQ(TSYNC_HW_getTsData(h, 7, fifo.get()), TSYNC_SUCCESS);
    EXPECT_EQ(fifo->count, 512u);
    EXPECT_EQ(fifo->stamps[0].ns, 123456789u);
    EXPECT_EQ(fifo->stamps[511].ns, 123456789u + 511u);
    EXPECT_TRUE(dir.get().store.empty());
}

TEST_F(clib, GetTsSingleEarliestFirstThenZeros)
{
    ASSERT_EQ(emu::update_image(dir.image(), [](emu::board &b) {
        b.store.push_back(emu::stamp{2026, 1, 2, 3, 4, 5, 1});
        b.store.push_back(emu::stamp{2026, 2, 2, 3, 4, 5, 0});
        return true;
    }),
              emu::access_status::ok);
    BoardTime t{};
    ASSERT_EQ(TSYNC_HW_getTsSingle(h, 1, &t), TSYNC_SUCCESS);
    EXPECT_EQ(t.doy, 1u);
    EXPECT_EQ(t.sync, 1u);
    ASSERT_EQ(TSYNC_HW_getTsSingle(h, 0, &t), TSYNC_SUCCESS);
    EXPECT_EQ(t.doy, 2u);
    EXPECT_EQ(t.sync, 0u);
    std::memset(&t, 0xff, sizeof t);
    ASSERT_EQ(TSYNC_HW_getTsSingle(h, 1, &t), TSYNC_SUCCESS);
    BoardTime zero{};
    EXPECT_EQ(std::memcmp(&t, &zero, sizeof t), 0);
    EXPECT_EQ(TSYNC_HW_getTsSingle(h, 1, nullptr), emu::rc_null_pointer);
}

TEST_F(clib, SetTsEnable)
{
    EXPECT_EQ(TSYNC_HW_setTsEnable(h, 1), TSYNC_SUCCESS);
    EXPECT_TRUE(dir.get().hw_ts_enabled);
    EXPECT_EQ(TSYNC_HW_setTsEnable(h, 2), emu::rc_bad_arg);
    EXPECT_EQ(TSYNC_HW_setTsEnable(h, -1), emu::rc_bad_arg);
    EXPECT_TRUE(dir.get().hw_ts_enabled);
    EXPECT_EQ(TSYNC_HW_setTsEnable(h, 0), TSYNC_SUCCESS);
    EXPECT_FALSE(dir.get().hw_ts_enabled);
}

TEST_F(clib, InputEdgeAndTsEnable)
{
    EXPECT_EQ(TSYNC_GI_setEdge(h, 3, 0), TSYNC_SUCCESS);
    EXPECT_EQ(dir.get().inputs[3].edge, emu::edge_falling);
    EXPECT_EQ(TSYNC_GI_setEdge(h, 3, 1), TSYNC_SUCCESS);
    EXPECT_EQ(dir.get().inputs[3].edge, emu::edge_rising);
    EXPECT_EQ(TSYNC_GI_setEdge(h, 4, 1), emu::rc_bad_arg);
    EXPECT_EQ(TSYNC_GI_setEdge(h, -1, 1), emu::rc_bad_arg);
    EXPECT_EQ(TSYNC_GI_setEdge(h, 0, 2), emu::rc_bad_arg);
    EXPECT_EQ(TSYNC_GI_setTsEnable(h, 1, 1), TSYNC_SUCCESS);
    EXPECT_TRUE(dir.get().inputs[1].ts_enabled);
    EXPECT_EQ(TSYNC_GI_setTsEnable(h, 1, 5), emu::rc_bad_arg);
    EXPECT_EQ(TSYNC_GI_setTsEnable(h, 4, 1), emu::rc_bad_arg);
    EXPECT_EQ(TSYNC_GI_setTsEnable(h, 1, 0), TSYNC_SUCCESS);
    EXPECT_FALSE(dir.get().inputs[1].ts_enabled);
    EXPECT_EQ(dir.get().calls.back().args, "1 0");
}

TEST_F(clib, SetYear)
{
    std::uint32_t y = 2026;
    EXPECT_EQ(TSYNC_CS_setYear(h, &y), TSYNC_SUCCESS);
    EXPECT_EQ(dir.get().year, 2026u);
    for (std::uint32_t bad : {1969u, 2100u, 0u, 4294967295u}) {
        EXPECT_EQ(TSYNC_CS_setYear(h, &bad), emu::rc_bad_arg) << bad;
        EXPECT_EQ(dir.get().calls.back().args, std::to_string(bad));
    }
    EXPECT_EQ(dir.get().year, 2026u);
    y = 1970;
    EXPECT_EQ(TSYNC_CS_setYear(h, &y), TSYNC_SUCCESS);
    y = 2099;
    EXPECT_EQ(TSYNC_CS_setYear(h, &y), TSYNC_SUCCESS);
    EXPECT_EQ(dir.get().year, 2099u);
    EXPECT_EQ(TSYNC_CS_setYear(h, nullptr), emu::rc_null_pointer);
    EXPECT_EQ(dir.get().calls.back().args, "null");
}

TEST_F(clib, LedsAndTheirLog)
{
    // Led_Test's 18 operations, as far as the board is concerned, and some refused ones.
    int n = 0;
    for (int led = 0; led < 3; ++led) {
        ++n;
        EXPECT_EQ(TSYNC_EC_setMode(h, led, 4), TSYNC_SUCCESS);
        for (int state : {1, 0, 1, 0}) {
            ++n;
            EXPECT_EQ(TSYNC_EC_setState(h, led, state), TSYNC_SUCCESS);
        }
        ++n;
        EXPECT_EQ(TSYNC_EC_setMode(h, led, led), TSYNC_SUCCESS);
    }
    EXPECT_EQ(n, 18);
    auto b = dir.get();
    ASSERT_EQ(b.led_log.size(), 18u);
    for (std::size_t k = 1; k < b.led_log.size(); ++k)
        EXPECT_GE(b.led_log[k].realtime_ns, b.led_log[k - 1].realtime_ns);
    EXPECT_EQ(b.leds[2].mode, 2u);
    EXPECT_EQ(b.led_log[1].operation, op::EC_setState);
    EXPECT_EQ(b.led_log[1].value, 1);

    EXPECT_EQ(TSYNC_EC_setMode(h, 3, 0), emu::rc_bad_arg);
    EXPECT_EQ(TSYNC_EC_setMode(h, 0, 5), emu::rc_bad_arg);
    EXPECT_EQ(TSYNC_EC_setMode(h, -1, 0), emu::rc_bad_arg);
    EXPECT_EQ(TSYNC_EC_setState(h, 0, 2), emu::rc_bad_arg);
    EXPECT_EQ(TSYNC_EC_setState(h, 0, 1), TSYNC_SUCCESS);
    b = dir.get();
    ASSERT_EQ(b.led_log.size(), 23u);
    EXPECT_EQ(b.led_log[18].rc, emu::rc_bad_arg);
    EXPECT_EQ(b.led_log[18].led, 3);
    EXPECT_EQ(b.leds[0].state, 1u);
    EXPECT_EQ(b.leds[0].mode, 0u);
}

TEST_F(clib, FaultAlways)
{
    faults({{op::HW_getTime, emu::rc_timeout, 0, std::nullopt}});
    BoardTime t{};
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(TSYNC_HW_getTime(h, &t), emu::rc_timeout);
    EXPECT_EQ(TSYNC_HW_setTsEnable(h, 1), TSYNC_SUCCESS);
    auto b = dir.get();
    EXPECT_EQ(b.faults.size(), 1u);
    EXPECT_EQ(b.calls.back().operation, op::HW_setTsEnable);
    EXPECT_EQ(b.calls[b.calls.size() - 2].rc, emu::rc_timeout);
}

TEST_F(clib, FaultNextN)
{
    faults({{op::HW_setTsEnable, -7, 0, 2u}});
    EXPECT_EQ(TSYNC_HW_setTsEnable(h, 1), -7);
    EXPECT_FALSE(dir.get().hw_ts_enabled); // a faulted call changes nothing
    EXPECT_EQ(dir.get().faults.at(0).count, 1u);
    EXPECT_EQ(TSYNC_HW_setTsEnable(h, 1), -7);
    EXPECT_TRUE(dir.get().faults.empty());
    EXPECT_EQ(TSYNC_HW_setTsEnable(h, 1), TSYNC_SUCCESS);
    EXPECT_TRUE(dir.get().hw_ts_enabled);
}

TEST_F(clib, FaultAfterK)
{
    faults({{op::GI_setEdge, emu::rc_io, 2, 1u}});
    EXPECT_EQ(TSYNC_GI_setEdge(h, 0, 0), TSYNC_SUCCESS);
    EXPECT_EQ(TSYNC_GI_setEdge(h, 0, 1), TSYNC_SUCCESS);
    EXPECT_EQ(TSYNC_GI_setEdge(h, 0, 0), emu::rc_io);
    EXPECT_EQ(dir.get().inputs[0].edge, emu::edge_rising);
    EXPECT_EQ(TSYNC_GI_setEdge(h, 0, 0), TSYNC_SUCCESS);
    EXPECT_EQ(dir.get().inputs[0].edge, emu::edge_falling);
}

TEST_F(clib, FaultedReadKeepsTheStore)
{
    ASSERT_EQ(emu::update_image(dir.image(), [](emu::board &b) {
        b.store.push_back(emu::stamp{2026, 1, 0, 0, 0, 0, 1});
        b.faults.push_back({op::HW_getTsData, emu::rc_io, 0, 1u});
        b.faults.push_back({op::HW_getTsSingle, emu::rc_timeout, 0, 1u});
        return true;
    }),
              emu::access_status::ok);
    auto fifo = std::make_unique<TimestampFifo>();
    EXPECT_EQ(TSYNC_HW_getTsData(h, 1, fifo.get()), emu::rc_io);
    BoardTime t{};
    EXPECT_EQ(TSYNC_HW_getTsSingle(h, 1, &t), emu::rc_timeout);
    EXPECT_EQ(dir.get().store.size(), 1u);
    EXPECT_EQ(TSYNC_HW_getTsSingle(h, 1, &t), TSYNC_SUCCESS);
    EXPECT_EQ(t.doy, 1u);
}

TEST_F(clib, FaultedLedCallIsLogged)
{
    faults({{op::EC_setState, emu::rc_io, 0, std::nullopt}});
    EXPECT_EQ(TSYNC_EC_setMode(h, 0, 4), TSYNC_SUCCESS);
    EXPECT_EQ(TSYNC_EC_setState(h, 0, 1), emu::rc_io);
    auto b = dir.get();
    ASSERT_EQ(b.led_log.size(), 2u);
    EXPECT_EQ(b.led_log[1].rc, emu::rc_io);
    EXPECT_EQ(b.leds[0].state, 0u);
}

TEST_F(clib, FaultOnOpenGivesNoHandle)
{
    faults({{op::open, emu::rc_access, 0, 1u}});
    TSYNC_BoardHandle other = reinterpret_cast<TSYNC_BoardHandle>(&other);
    EXPECT_EQ(TSYNC_open(&other, "/dev/tsyncpci0"), emu::rc_access);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(dir.get().open_handles, 1u);
    EXPECT_EQ(dir.get().calls.back().rc, emu::rc_access);
}

TEST_F(clib, FaultOnCloseStillReleases)
{
    faults({{op::close, emu::rc_io, 0, 1u}});
    EXPECT_EQ(TSYNC_close(h), emu::rc_io);
    // The handle is gone (no leak under ASan); the board still counts it.
    EXPECT_EQ(TSYNC_close(h), emu::rc_bad_handle);
    h = nullptr;
    EXPECT_EQ(dir.get().open_handles, 1u);
}

TEST_F(clib, HandleChecks)
{
    BoardTime t{};
    EXPECT_EQ(TSYNC_HW_getTime(nullptr, &t), emu::rc_bad_handle);
    EXPECT_EQ(TSYNC_close(nullptr), emu::rc_bad_handle);
    TSYNC_BoardHandle other = nullptr;
    ASSERT_EQ(TSYNC_open(&other, "/dev/tsyncpci0"), TSYNC_SUCCESS);
    ASSERT_EQ(TSYNC_close(other), TSYNC_SUCCESS);
    EXPECT_EQ(TSYNC_HW_getTime(other, &t), emu::rc_bad_handle);
    EXPECT_EQ(TSYNC_open(nullptr, "/dev/tsyncpci0"), emu::rc_null_pointer);
    EXPECT_EQ(TSYNC_open(&other, nullptr), emu::rc_null_pointer);
}

TEST_F(clib, ImageRemovedUnderAnOpenHandle)
{
    ASSERT_EQ(emu::remove_image(dir.image()), emu::access_status::ok);
    BoardTime t{};
    EXPECT_EQ(TSYNC_HW_getTime(h, &t), emu::rc_no_device);
    EXPECT_EQ(TSYNC_close(h), emu::rc_no_device);
    h = nullptr;
    EXPECT_TRUE(testsupport::list_dir(dir.path()).empty());
}

TEST_F(clib, ImageCorruptedUnderAnOpenHandle)
{
    testsupport::write_file(dir.image(), "tsyncemu-board 1\nsync x\nend\n");
    BoardTime t{};
    EXPECT_EQ(TSYNC_HW_getTime(h, &t), emu::rc_corrupt);
    dir.put(frozen_board());
}

TEST_F(clib, CallLogKeepsTheNewest)
{
    for (std::size_t k = 0; k < emu::call_log_capacity + 10; ++k)
        ASSERT_EQ(TSYNC_HW_setTsEnable(h, static_cast<int32_t>(k % 2)), TSYNC_SUCCESS);
    auto b = dir.get();
    EXPECT_EQ(b.calls.size(), emu::call_log_capacity);
    EXPECT_EQ(b.calls.back().operation, op::HW_setTsEnable);
    EXPECT_EQ(b.calls.front().operation, op::HW_setTsEnable);
}

TEST_F(clib, NoTemporaryFilesLeft)
{
    BoardTime t{};
    for (int k = 0; k < 20; ++k)
        ASSERT_EQ(TSYNC_HW_getTime(h, &t), TSYNC_SUCCESS);
    EXPECT_EQ(testsupport::list_dir(dir.path()), (std::vector<std::string>{"tsyncpci0", "tsyncpci0.lock"}));
}

// ---- opening images that cannot be used -------------------------------------

TEST(open, MissingImage)
{
    board_dir dir;
    TSYNC_BoardHandle h = nullptr;
    EXPECT_EQ(TSYNC_open(&h, "/dev/tsyncpci0"), emu::rc_no_device);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(TSYNC_open(&h, "/dev/tsyncpci-1"), emu::rc_no_device);
    EXPECT_EQ(TSYNC_open(&h, (dir.path() + "/nodir/tsyncpci0").c_str()), emu::rc_no_device);
    EXPECT_TRUE(testsupport::list_dir(dir.path()).empty()); // no lock files for boards that are not there
}

TEST(open, SecondBoardMissing)
{
    board_dir dir;
    dir.put(frozen_board(), 0);
    TSYNC_BoardHandle h = nullptr;
    EXPECT_EQ(TSYNC_open(&h, "/dev/tsyncpci1"), emu::rc_no_device);
}

TEST(open, CorruptImages)
{
    board_dir dir;
    std::string good = emu::serialize(frozen_board());
    for (std::string bad : {std::string(), std::string("garbage\n"), good.substr(0, good.size() / 2),
                            good.substr(0, good.size() - 4), good + "more\n", std::string("tsyncemu-board x\nend\n")}) {
        testsupport::write_file(dir.image(), bad);
        TSYNC_BoardHandle h = nullptr;
        EXPECT_EQ(TSYNC_open(&h, "/dev/tsyncpci0"), emu::rc_corrupt) << bad;
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(testsupport::read_file(dir.image()), bad); // left as it was
    }
}

TEST(open, UnknownVersion)
{
    board_dir dir;
    testsupport::write_file(dir.image(), "tsyncemu-board 2\nwhatever the future holds\nend\n");
    TSYNC_BoardHandle h = nullptr;
    EXPECT_EQ(TSYNC_open(&h, "/dev/tsyncpci0"), emu::rc_version);
    EXPECT_EQ(h, nullptr);
}

TEST(open, UnreadableImage)
{
    board_dir dir;
    // A directory in the image's place cannot be read as an image, even by root.
    ASSERT_EQ(::mkdir(dir.image().c_str(), 0755), 0);
    TSYNC_BoardHandle h = nullptr;
    EXPECT_EQ(TSYNC_open(&h, "/dev/tsyncpci0"), emu::rc_access);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(testsupport::list_dir(dir.path()), std::vector<std::string>{"tsyncpci0"});
    ::rmdir(dir.image().c_str());
    if (::geteuid() != 0) {
        dir.put(frozen_board());
        ASSERT_EQ(::chmod(dir.image().c_str(), 0), 0);
        EXPECT_EQ(TSYNC_open(&h, "/dev/tsyncpci0"), emu::rc_access);
        ASSERT_EQ(::chmod(dir.image().c_str(), 0444), 0);
        EXPECT_EQ(TSYNC_open(&h, "/dev/tsyncpci0"), emu::rc_access); // read-only: cannot be written
    }
}

TEST(open, WithoutEmulatorDirThePathIsUsedAsIs)
{
    ::unsetenv("TSYNC_EMULATOR_DIR");
    TSYNC_BoardHandle h = nullptr;
    if (!testsupport::exists("/dev/tsyncpci0")) {
        EXPECT_NE(TSYNC_open(&h, "/dev/tsyncpci0"), TSYNC_SUCCESS);
        EXPECT_EQ(h, nullptr);
        EXPECT_FALSE(testsupport::exists("/dev/tsyncpci0.lock"));
    }
    // A device node is no image, and gets no lock file beside it.
    EXPECT_EQ(TSYNC_open(&h, "/dev/null"), emu::rc_access);
    EXPECT_FALSE(testsupport::exists("/dev/null.lock"));
    testsupport::temp_dir dir;
    ASSERT_EQ(emu::write_new_image(dir / "board", frozen_board()), emu::access_status::ok);
    ASSERT_EQ(TSYNC_open(&h, (dir / "board").c_str()), TSYNC_SUCCESS);
    EXPECT_EQ(TSYNC_close(h), TSYNC_SUCCESS);
}

TEST(device_path, Mapping)
{
    EXPECT_EQ(emu::image_path_for_device("/dev/tsyncpci0", "/tmp/x"), "/tmp/x/tsyncpci0");
    EXPECT_EQ(emu::image_path_for_device("/dev/tsyncpci0", nullptr), "/dev/tsyncpci0");
    EXPECT_EQ(emu::image_path_for_device("/dev/tsyncpci0", ""), "/dev/tsyncpci0");
    EXPECT_EQ(emu::image_path_for_device("/devx/tsyncpci0", "/tmp/x"), "/devx/tsyncpci0");
    EXPECT_EQ(emu::image_path_for_device("/dev/", "/tmp/x"), "/dev/");
    EXPECT_EQ(emu::image_path_for_device("rel/img", "/tmp/x"), "rel/img");
    EXPECT_EQ(emu::image_path("/d", 12), "/d/tsyncpci12");
}

// ---- return-code texts ---------------------------------------------------------

TEST(strerror, FixedTexts)
{
    for (std::int32_t rc = 0; rc <= 11; ++rc) {
        const char *t = tsync_strerror(rc);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t, tsync_strerror(rc)); // static, the same every time
        EXPECT_STRNE(t, "unknown driver return code") << rc;
    }
    EXPECT_NE(std::strstr(tsync_strerror(emu::rc_chg_pending), "RC_CHG_PENDING"), nullptr);
    EXPECT_NE(std::strstr(tsync_strerror(emu::rc_legacy_pending), "rc_chg_pending"), nullptr);
    EXPECT_EQ(std::strstr(tsync_strerror(emu::rc_legacy_pending), "RC_CHG_PENDING"), nullptr);
    for (std::int32_t rc : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10})
        EXPECT_EQ(std::strstr(tsync_strerror(rc), "RC_CHG_PENDING"), nullptr) << rc;
    EXPECT_STREQ(tsync_strerror(emu::rc_no_device), "TSYNC_RC_NO_DEVICE: no board at this device path");
    for (std::int32_t rc : {-1, 12, 1000, INT32_MIN, INT32_MAX})
        EXPECT_STREQ(tsync_strerror(rc), "unknown driver return code");
}

} // namespace

namespace {

TEST(exports, OnlyTheDriverInterface)
{
    const std::string nm = "/usr/bin/nm";
    if (!testsupport::exists(nm))
        GTEST_SKIP() << "no nm";
    testsupport::command c;
    c.program = nm;
    c.argv = {"nm", "-D", "--defined-only", testsupport::lib_dir() + "/libtsync.so"};
    auto r = testsupport::run(c);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> names;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        names.push_back(line.substr(line.rfind(' ') + 1));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"TSYNC_CS_setYear", "TSYNC_EC_setMode", "TSYNC_EC_setState",
                                               "TSYNC_GI_setEdge", "TSYNC_GI_setTsEnable", "TSYNC_HW_getTime",
                                               "TSYNC_HW_getTsData", "TSYNC_HW_getTsSingle", "TSYNC_HW_setTsEnable",
                                               "TSYNC_close", "TSYNC_open", "tsync_strerror"}))
        << r.out;
}

} // namespace
