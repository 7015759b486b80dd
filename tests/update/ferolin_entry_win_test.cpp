// The library's entry as its callers see it: Ferolin.dll loaded at start-up
// through the import library (as the service program loads it), and
// FerolinRun.exe as a child process whose standard output is captured.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "ferolin_entry.h"
#include "settings_names.h"
#include "win_test_support.h"

namespace {

constexpr int kCheckFailed = 4;

const std::string kUsageText = "Ferolin -install          to install the Ferolin\n"
                               "Ferolin -uninstall        to uninstall the Ferolin\n"
                               "Ferolin -update\t\t\t to update the VPN Korv\n"
                               "Ferolin -checkupdate\t\t to check for update the VPN Korv\n"
                               "Ferolin -checkstatus\t\t to check for status the VPN Korv\n";

// What FerolinRun printed for `argument` (already quoted as needed).
std::string RunFerolin(const std::string& argument, DWORD* exitCode)
{
    std::string line = "\"" + ProgramFolder() + "FerolinRun.exe\" " + argument;
    std::optional<std::string> output = RunAndCapture(line, exitCode);
    if (!output)
        ADD_FAILURE() << "could not run " << line;
    return output.value_or("");
}

// Without a subscriber login every check stops at its first read and returns
// 4 without sending anything, which tells a check that ran from a switch that
// ran nothing (0).
class EntryTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteSettingForTest(kValueUserLogin); }

    RegistrySnapshot registry_;
};

TEST_F(EntryTest, StatusSwitchWorksWithEitherPrefixAndAnyCase)
{
    for (const char* command : {"-checkstatus", "/checkstatus", "-CheckStatus", "/CHECKSTATUS"})
        EXPECT_EQ(Ferolin(command, 12), kCheckFailed) << command;
}

TEST_F(EntryTest, NamesAreComparedWhole)
{
    for (const char* command : {"-checkstatusx", "-checkstat", "-check", "--checkstatus", "- checkstatus"})
        EXPECT_EQ(Ferolin(command, 12), 0) << command;
}

TEST_F(EntryTest, SwitchesMissingFromTheUsageTextStillRunTheirHandlers)
{
    for (const char* command : {"-checkconfig", "/checkcommand"}) {
        DWORD exitCode = 0;
        EXPECT_EQ(RunFerolin(command, &exitCode), WithCrLf("result: 4\n")) << command;
        EXPECT_EQ(exitCode, static_cast<DWORD>(kCheckFailed)) << command;
    }
}

TEST_F(EntryTest, TextWithoutPrefixRunsNothingAndPrintsNothing)
{
    for (const char* argument : {"checkstatus", "\"\"", "help", "+checkstatus"}) {
        DWORD exitCode = 1;
        EXPECT_EQ(RunFerolin(argument, &exitCode), WithCrLf("result: 0\n")) << argument;
        EXPECT_EQ(exitCode, 0u) << argument;
    }
}

TEST_F(EntryTest, UnknownSwitchesPrintTheUsageTextAndSucceed)
{
    for (const char* argument : {"-", "-help", "-checkstatusx", "/?"}) {
        DWORD exitCode = 1;
        EXPECT_EQ(RunFerolin(argument, &exitCode), WithCrLf(kUsageText + "result: 0\n")) << argument;
        EXPECT_EQ(exitCode, 0u) << argument;
    }
}

TEST_F(EntryTest, CommandLengthHasNoEffect)
{
    for (int length : {0, -1, 1, 12, 1000, INT_MAX, INT_MIN}) {
        EXPECT_EQ(Ferolin("-checkstatus", length), kCheckFailed) << length;
        EXPECT_EQ(Ferolin("checkstatus", length), 0) << length;
    }
}

} // namespace
