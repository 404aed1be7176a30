// HW_GetTsData and HW_GetTsSingle as any program sees them: through dlopen
// of the built library, by their plain C names.
#include <gtest/gtest.h>

#include <cstdint>
#include <dlfcn.h>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "board_fixture.hpp"

namespace {

using brdlink_test::board_dir;
using brdlink_test::capture_stdout;
using brdlink_test::fail_always;
using brdlink_test::fail_once;

using get_ts_data_fn = int (*)();
using get_ts_single_fn = void (*)(std::uint8_t *, std::uint32_t *, std::uint32_t *, std::uint32_t *,
                                  std::uint32_t *, std::uint32_t *, std::uint32_t *);

struct library {
    void *handle = nullptr;
    get_ts_data_fn get_ts_data = nullptr;
    get_ts_single_fn get_ts_single = nullptr;

    library()
    {
        const std::string path = testsupport::lib_dir() + "/libbrdlink.so";
        handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return;
        get_ts_data = reinterpret_cast<get_ts_data_fn>(::dlsym(handle, "HW_GetTsData"));
        get_ts_single = reinterpret_cast<get_ts_single_fn>(::dlsym(handle, "HW_GetTsSingle"));
    }
    ~library()
    {
        if (handle)
            ::dlclose(handle);
    }
};

library &lib()
{
    static library l;
    return l;
}

class CApi : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(lib().handle, nullptr) << ::dlerror();
        ASSERT_NE(lib().get_ts_data, nullptr);
        ASSERT_NE(lib().get_ts_single, nullptr);
    }
    board_dir dir;
};

std::vector<emu::op> ops_of(const emu::board &b)
{
    std::vector<emu::op> ops;
    for (const auto &c : b.calls)
        ops.push_back(c.operation);
    return ops;
}

// ---- HW_GetTsSingle ------------------------------------------------------

struct fields {
    std::uint32_t year, doy, hour, minute, second, ns;
    bool operator==(const fields &) const = default;
};
// What the caller put in before the call; must survive every early return.
constexpr fields caller_values{11, 22, 33, 44, 55, 66};
constexpr fields no_data{1971, 60, 0, 0, 0, 0};

struct single_case {
    const char *name;
    std::vector<emu::stamp> store;
    std::vector<emu::fault_rule> faults;
    std::string output;
    std::uint8_t valid;
    fields out;
    std::vector<emu::op> calls;
};

void PrintTo(const single_case &c, std::ostream *os) { *os << c.name; }

const emu::stamp synced{2024, 123, 4, 5, 6, 7, 1};
const std::string synced_line = "  123, 2024 04:05:06.000000007, Sync\n";
const std::string read_error_line = std::string("  Error: ") + emu::rc_text(emu::rc_io) + ".\n";
const std::string close_error_line = "HW_GetTsSingle: error closing </dev/tsyncpci0> rc: <9>\n";
const std::vector<emu::op> full_cycle{emu::op::open, emu::op::HW_getTsSingle, emu::op::close};

const single_case single_cases[] = {
    {"OpenFails", {synced}, {fail_once(emu::op::open, emu::rc_access)},
     "HW_GetTsSingle: !Could not open </dev/tsyncpci0> : rc <2>\n", 0, caller_values, {emu::op::open}},
    {"ReadFails", {synced}, {fail_once(emu::op::HW_getTsSingle, emu::rc_io)},
     read_error_line, 0, caller_values, full_cycle},
    {"ReadAndCloseFail", {synced},
     {fail_once(emu::op::HW_getTsSingle, emu::rc_io), fail_once(emu::op::close, emu::rc_timeout)},
     read_error_line, 0, caller_values, full_cycle},
    {"EmptyStore", {}, {}, "TSYNC_BoardHandle :  No data\n", 1, no_data, full_cycle},
    {"StampWithSync", {synced}, {}, synced_line, 1, {2024, 123, 4, 5, 6, 7}, full_cycle},
    {"StampWithoutSync", {{1999, 7, 23, 59, 59, 999999999, 0}}, {},
     "  007, 1999 23:59:59.999999999, No Sync\n", 1, {1999, 7, 23, 59, 59, 999999999}, full_cycle},
    {"WideFieldsPrintedInFull", {{123456, 1234, 100, 200, 300, 4294967295u, 7}}, {},
     "  1234, 123456 100:200:300.4294967295, Sync\n", 1, {123456, 1234, 100, 200, 300, 4294967295u},
     full_cycle},
    {"DayZeroIsNoStamp", {{2024, 0, 4, 5, 6, 7, 1}}, {}, "TSYNC_BoardHandle :  No data\n", 1, no_data,
     full_cycle},
    {"CloseFailsAfterStamp", {synced}, {fail_once(emu::op::close, emu::rc_timeout)},
     synced_line + close_error_line, 0, {2024, 123, 4, 5, 6, 7}, full_cycle},
    {"CloseFailsAfterNoData", {}, {fail_once(emu::op::close, emu::rc_timeout)},
     "TSYNC_BoardHandle :  No data\n" + close_error_line, 0, no_data, full_cycle},
};

class GetTsSingle : public CApi, public testing::WithParamInterface<single_case> {};

TEST_P(GetTsSingle, PrintsAndHandsOutAsTheCaseSays)
{
    const single_case &c = GetParam();
    emu::board b;
    b.store.assign(c.store.begin(), c.store.end());
    b.faults = c.faults;
    dir.put_board(b);

    std::uint8_t valid = 1; // a stale true from an earlier call
    fields out = caller_values;
    const std::string printed = capture_stdout(
        [&] { lib().get_ts_single(&valid, &out.year, &out.doy, &out.hour, &out.minute, &out.second, &out.ns); });

    EXPECT_EQ(printed, c.output);
    EXPECT_EQ(valid, c.valid);
    EXPECT_EQ(out, c.out) << "fields " << out.year << " " << out.doy << " " << out.hour << " " << out.minute
                          << " " << out.second << " " << out.ns;
    const emu::board after = dir.board();
    EXPECT_EQ(ops_of(after), c.calls);
}

INSTANTIATE_TEST_SUITE_P(Cases, GetTsSingle, testing::ValuesIn(single_cases),
                         [](const testing::TestParamInfo<single_case> &i) { return std::string(i.param.name); });

TEST_F(CApi, GetTsSingleWithoutBoardPrintsOnlyTheOpenMessage)
{
    std::uint8_t valid = 1;
    fields out = caller_values;
    const std::string printed = capture_stdout(
        [&] { lib().get_ts_single(&valid, &out.year, &out.doy, &out.hour, &out.minute, &out.second, &out.ns); });
    EXPECT_EQ(printed, "HW_GetTsSingle: !Could not open </dev/tsyncpci0> : rc <1>\n");
    EXPECT_EQ(valid, 0);
    EXPECT_EQ(out, caller_values);
}

// ---- HW_GetTsData --------------------------------------------------------

struct data_case {
    const char *name;
    std::size_t stamps;
    std::vector<emu::fault_rule> faults;
    int result;
    std::vector<emu::op> calls;
};

void PrintTo(const data_case &c, std::ostream *os) { *os << c.name; }

const std::vector<emu::op> drain_cycle{emu::op::open, emu::op::HW_getTsData, emu::op::close};

const data_case data_cases[] = {
    {"EmptyStore", 0, {}, 0, drain_cycle},
    {"FullStore", emu::store_capacity, {}, 0, drain_cycle},
    {"OpenFails", 3, {fail_once(emu::op::open, emu::rc_access)}, 1, {emu::op::open}},
    {"ReadFails", 3, {fail_once(emu::op::HW_getTsData, emu::rc_io)}, 1, drain_cycle},
    {"CloseFails", 3, {fail_once(emu::op::close, emu::rc_timeout)}, 1, drain_cycle},
};

class GetTsData : public CApi, public testing::WithParamInterface<data_case> {};

TEST_P(GetTsData, ResultDependsOnTheThreeCallsAlone)
{
    const data_case &c = GetParam();
    emu::board b;
    for (std::size_t i = 0; i < c.stamps; ++i)
        b.store.push_back({2024, 100, 1, 2, 3, static_cast<std::uint32_t>(i), 1});
    b.faults = c.faults;
    dir.put_board(b);

    int result = -1;
    EXPECT_EQ(capture_stdout([&] { result = lib().get_ts_data(); }), "");
    EXPECT_EQ(result, c.result);
    const emu::board after = dir.board();
    EXPECT_EQ(ops_of(after), c.calls);
    if (c.result == 0) {
        EXPECT_TRUE(after.store.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, GetTsData, testing::ValuesIn(data_cases),
                         [](const testing::TestParamInfo<data_case> &i) { return std::string(i.param.name); });

TEST_F(CApi, GetTsDataWithoutBoardFailsSilently)
{
    int result = -1;
    EXPECT_EQ(capture_stdout([&] { result = lib().get_ts_data(); }), "");
    EXPECT_EQ(result, 1);
}

// The drain empties the store, so the next single read sees no stamp.
TEST_F(CApi, SingleReadAfterDrainSeesNoData)
{
    emu::board b;
    b.store.push_back(synced);
    dir.put_board(b);
    ASSERT_EQ(lib().get_ts_data(), 0);
    std::uint8_t valid = 0;
    fields out = caller_values;
    const std::string printed = capture_stdout(
        [&] { lib().get_ts_single(&valid, &out.year, &out.doy, &out.hour, &out.minute, &out.second, &out.ns); });
    EXPECT_EQ(printed, "TSYNC_BoardHandle :  No data\n");
    EXPECT_EQ(out, no_data);
}

} // namespace
