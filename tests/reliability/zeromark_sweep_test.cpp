// Every driver call of a zeromark run made to fail in turn: the documented
// outcome for each, the board closed on every path after an open, the old
// T0 file untouched unless the run succeeds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reliability.hpp"

namespace {

using emu::op;
using rel::fault_row;
using rel::sweep_case;

const std::string announce = "Sending T0 signal to 127.0.0.1\n";
const std::string no_data = "TSYNC_BoardHandle :  No data\n";
const std::string drained = "open HW_getTsData close";
const std::string old_t0 = "2020-01-01_00:00:00.000000_UTC  # Irig_b clock\n2020-01-01_00:00:00.000000 # System clock\n";
const std::string pc_report = "Putting PC system clock T0  (";

// The board's store is empty after the drain: the no-data stamp is the T0.
sweep_case zeromark_case(std::int32_t rc)
{
    return {"zeromark_rc" + (rc < 0 ? "minus" + std::to_string(-rc) : std::to_string(rc)),
            {"zeromark", "127.0.0.1", "{dir}/t0"},
            rc,
            announce + no_data + "Putting IRIG_B date T0  (1971-03-01_00:00:00.000000_UTC)  to {dir}/t0\n" +
                pc_report + "{pc})  to {dir}/t0\n",
            drained + " open HW_getTsSingle close",
            {
                // The drain failing in any way leaves the board unusable: sent, status 0.
                {op::open, 0, announce, 0, "open={rc}", 0},
                {op::HW_getTsData, 0, announce, 0, "open HW_getTsData={rc} close", 0},
                {op::close, 0, announce, 0, "open HW_getTsData close={rc}", 1},
                // The read after the send: no valid T0, status 2.
                {op::open, 1, announce + "HW_GetTsSingle: !Could not open </dev/tsyncpci0> : rc <{rc}>\n", 2,
                 drained + " open={rc}", 0},
                {op::HW_getTsSingle, 0, announce + "{err}", 2, drained + " open HW_getTsSingle={rc} close", 0},
                {op::close, 1, announce + no_data + "HW_GetTsSingle: error closing </dev/tsyncpci0> rc: <{rc}>\n", 2,
                 drained + " open HW_getTsSingle close={rc}", 1},
            }};
}

std::string case_name(const testing::TestParamInfo<sweep_case> &p) { return p.param.name; }

class zeromark_fault_sweep : public testing::TestWithParam<sweep_case> {};

TEST_P(zeromark_fault_sweep, each_call_failing_in_turn)
{
    rel::sweep_hooks hooks;
    hooks.prepare = [](const std::string &dir, emu::board &) { testsupport::write_file(dir + "/t0", old_t0); };
    hooks.command = [](const std::string &dir, const std::vector<std::string> &argv) {
        testsupport::command cmd;
        cmd.program = testsupport::bin("zeromark");
        cmd.argv = argv;
        cmd.env_set = {"TSYNC_EMULATOR_DIR=" + dir, "TZ=UTC"};
        cmd.timeout = std::chrono::milliseconds(10000);
        return cmd;
    };
    hooks.after = [](const std::string &dir, const fault_row *row, testsupport::result &r) {
        const std::string file = testsupport::read_file(dir + "/t0");
        if (row) {
            EXPECT_EQ(file, old_t0);
        } else {
            // The PC image is the clock's; the file must carry the report's.
            const auto p = r.out.find(pc_report);
            ASSERT_NE(p, std::string::npos);
            const std::string pc = r.out.substr(p + pc_report.size(), 26);
            r.out.replace(p + pc_report.size(), 26, "{pc}");
            EXPECT_EQ(file, "1971-03-01_00:00:00.000000_UTC  # Irig_b clock\n" + pc + " # System clock\n");
        }
        EXPECT_EQ(testsupport::list_dir(dir), (std::vector<std::string>{"t0", "tsyncpci0", "tsyncpci0.lock"}));
    };
    rel::sweep(GetParam(), hooks);
}

INSTANTIATE_TEST_SUITE_P(zeromark, zeromark_fault_sweep,
                         testing::Values(zeromark_case(emu::rc_io), zeromark_case(emu::rc_timeout),
                                         zeromark_case(-5)),
                         case_name);

} // namespace
