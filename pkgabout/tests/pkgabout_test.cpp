// pkgabout as a user runs it: each form, the usage block, unwritable output.
#include <gtest/gtest.h>

#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "orvane_version.h"
#include "testsupport.hpp"

namespace {

using testsupport::bin;
using testsupport::run;

const std::string short_line = std::string("orvane-tsync ") + ORVANE_VERSION + "-" + ORVANE_RELEASE + "\n";
const std::string verbose_line = std::string("orvane-tsync ") + ORVANE_VERSION + "-" + ORVANE_RELEASE +
                                 "   [Spectracom TSync-PCI 2.5.0]   (2200)   "
                                 "https://orvane-tsync.example.org   orvane-tsync@lists.example.org\n";
const std::string usage_block = "\n"
                                "pkgabout   -- display orvane-tsync package infos.\n"
                                "\n"
                                "usage :\n"
                                "  pkgabout [option]\n"
                                "\n"
                                "  options : \n"
                                "            -n  :  version number only\n"
                                "            -v  :  verbose output\n"
                                "            \n"
                                "\n";

struct form_case {
    std::string name;
    std::vector<std::string> args;
    std::string out;
    int status;
};

void PrintTo(const form_case &c, std::ostream *os) { *os << c.name; }
std::string case_name(const testing::TestParamInfo<form_case> &p) { return p.param.name; }

testsupport::result run_pkgabout(const std::vector<std::string> &args, const std::string &stdout_path = "",
                                 bool close_stdout = false)
{
    testsupport::command cmd;
    cmd.program = bin("pkgabout");
    cmd.argv = {"pkgabout"};
    cmd.argv.insert(cmd.argv.end(), args.begin(), args.end());
    cmd.stdout_path = stdout_path;
    cmd.close_stdout = close_stdout;
    return run(cmd);
}

class PkgaboutForm : public testing::TestWithParam<form_case> {};

TEST_P(PkgaboutForm, PrintsItsFormAndStatus)
{
    const form_case &c = GetParam();
    const auto r = run_pkgabout(c.args);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, PkgaboutForm,
    testing::Values(form_case{"no_argument", {}, short_line, 0},
                    form_case{"version_only", {"-n"}, ORVANE_VERSION, 0},
                    form_case{"verbose", {"-v"}, verbose_line, 0},
                    form_case{"only_first_counts_n", {"-n", "-v"}, ORVANE_VERSION, 0},
                    form_case{"only_first_counts_v", {"-v", "junk"}, verbose_line, 0},
                    form_case{"combined_letters", {"-nv"}, usage_block, 1},
                    form_case{"upper_case", {"-N"}, usage_block, 1},
                    form_case{"long_option", {"--version"}, usage_block, 1},
                    form_case{"empty_argument", {""}, usage_block, 1},
                    form_case{"dash_alone", {"-"}, usage_block, 1},
                    form_case{"trailing_blank", {"-n "}, usage_block, 1},
                    form_case{"no_dash", {"v"}, usage_block, 1},
                    form_case{"usage_then_valid", {"-x", "-n"}, usage_block, 1}),
    case_name);

// Output that cannot be written must not end with success, whatever form.
class PkgaboutUnwritable : public testing::TestWithParam<form_case> {};

TEST_P(PkgaboutUnwritable, FullDeviceFails)
{
    const auto r = run_pkgabout(GetParam().args, "/dev/full");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
}

TEST_P(PkgaboutUnwritable, ClosedPipeIsNoSuccess)
{
    const auto r = run_pkgabout(GetParam().args, "", true);
    EXPECT_EQ(r.err, "");
    // SIGPIPE is at its default, so the write kills the program.
    EXPECT_EQ(r.signal, SIGPIPE);
}

TEST_P(PkgaboutUnwritable, ClosedPipeWithSigpipeIgnoredFails)
{
    // An ignored signal stays ignored across exec: pkgabout meets EPIPE.
    testsupport::command cmd;
    cmd.program = "/bin/sh";
    cmd.argv = {"sh", "-c", "trap '' PIPE; exec \"$@\"", "sh", bin("pkgabout")};
    cmd.argv.insert(cmd.argv.end(), GetParam().args.begin(), GetParam().args.end());
    cmd.close_stdout = true;
    const auto r = run(cmd);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
}

INSTANTIATE_TEST_SUITE_P(Forms, PkgaboutUnwritable,
                         testing::Values(form_case{"short", {}, "", 1}, form_case{"version_only", {"-n"}, "", 1},
                                         form_case{"verbose", {"-v"}, "", 1}, form_case{"usage", {"-x"}, "", 1}),
                         case_name);

} // namespace
