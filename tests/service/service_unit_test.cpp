// The service program's decisions that do not need the service manager:
// recovery settings, command line, error text, switches, usage text, the
// status reports and the service body in console mode.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "service_command.h"
#include "service_control.h"
#include "service_limits.h"
#include "service_log.h"
#include "service_report.h"
#include "service_runtime.h"
#include "settings_names.h"
#include "win_test_support.h"

namespace {

const char kTestLog[] = "c:\\kvl_service_unit.log";

// --- recovery settings and command line ------------------------------------

TEST(ServiceInstallRecord, FailureActionsRestartTwiceThenNothing)
{
    FailureActionsRecord record;
    std::memset(static_cast<void*>(&record), 0x5a, sizeof record);
    FillFailureActions(record);

    EXPECT_EQ(record.actions.dwResetPeriod, 86400u);
    EXPECT_EQ(record.actions.lpRebootMsg, nullptr);
    EXPECT_EQ(record.actions.lpCommand, nullptr);
    ASSERT_EQ(record.actions.cActions, 3u);
    ASSERT_EQ(record.actions.lpsaActions, record.steps);
    const SC_ACTION_TYPE types[] = {SC_ACTION_RESTART, SC_ACTION_RESTART, SC_ACTION_NONE};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(record.steps[i].Type, types[i]) << "action " << i;
        EXPECT_EQ(record.steps[i].Delay, 60000u) << "action " << i;
    }
}

TEST(ServiceInstallRecord, CommandLineQuotesThePath)
{
    char line[kServiceCommandLineSize];
    ASSERT_TRUE(FormatServiceCommandLine("C:\\Program Files\\KVL\\KVLService.exe", line, sizeof line));
    EXPECT_STREQ(line, "\"C:\\Program Files\\KVL\\KVLService.exe\" -service");
}

TEST(ServiceInstallRecord, CommandLineTakesTheLongestAcceptedPath)
{
    std::string path = "C:\\" + std::string(kModulePathLimit - 3, 'a');
    ASSERT_EQ(path.size(), kModulePathLimit);
    char line[kServiceCommandLineSize];
    ASSERT_TRUE(FormatServiceCommandLine(path.c_str(), line, sizeof line));
    EXPECT_EQ(std::string(line), "\"" + path + "\" -service");
}

TEST(ServiceInstallRecord, CommandLineThatDoesNotFitIsRefusedNotCut)
{
    char line[16];
    std::memset(line, 'x', sizeof line);
    EXPECT_FALSE(FormatServiceCommandLine("C:\\a\\much\\longer\\path.exe", line, sizeof line));
    EXPECT_STREQ(line, "");
}

// --- error text ------------------------------------------------------------

TEST(ServiceErrorText, DropsLineBreakAndAddsLowerCaseHexCode)
{
    char text[kLastErrorTextSize];
    FormatErrorText("The specified service already exists.\r\n", 0x431, text, sizeof text);
    EXPECT_STREQ(text, "The specified service already exists. (0x431)");
    FormatErrorText("Access denied.\r\n", 0xABCDEF, text, sizeof text);
    EXPECT_STREQ(text, "Access denied. (0xabcdef)");
}

TEST(ServiceErrorText, LongestTextThatLeavesRoomForTheCode)
{
    char text[kLastErrorTextSize];
    std::string fits(240, 'e');
    fits += "\r\n"; // 242 characters: 242 + 14 = 256
    FormatErrorText(fits.c_str(), 0xFFFFFFFF, text, sizeof text);
    EXPECT_EQ(std::string(text), std::string(240, 'e') + " (0xffffffff)");

    std::string tooLong(241, 'e');
    tooLong += "\r\n"; // 243 characters
    std::memset(text, 'x', sizeof text);
    FormatErrorText(tooLong.c_str(), 5, text, sizeof text);
    EXPECT_STREQ(text, "");
}

TEST(ServiceErrorText, BoundedByTheBufferItIsGiven)
{
    // 8 + 14 characters: the text fits a buffer of 22 and not one of 21,
    // whatever the global buffer's size.
    char text[22];
    FormatErrorText("Denied\r\n", 5, text, sizeof text);
    EXPECT_STREQ(text, "Denied (0x5)");
    std::memset(text, 'x', sizeof text);
    FormatErrorText("Denied\r\n", 5, text, sizeof text - 1);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(text[sizeof text - 1], 'x') << "nothing written past the size given";
}

TEST(ServiceErrorText, MissingOrTinyTextNeverUnderflows)
{
    char text[kLastErrorTextSize] = "stale";
    FormatErrorText(nullptr, 5, text, sizeof text);
    EXPECT_STREQ(text, "");
    FormatErrorText("x", 5, text, sizeof text);
    EXPECT_STREQ(text, " (0x5)");
}

TEST(ServiceErrorText, LastErrorTextNamesTheThreadsCode)
{
    SetLastError(ERROR_SERVICE_EXISTS);
    std::string text = LastErrorText();
    ASSERT_GT(text.size(), std::strlen(" (0x431)"));
    EXPECT_EQ(text.substr(text.size() - 8), " (0x431)");
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);

    // A code the system has no text for gives the empty text.
    SetLastError(0x2000ABCD);
    EXPECT_STREQ(LastErrorText(), "");
}

// --- switches ----------------------------------------------------

TEST(ServiceCommandLine, SwitchesByNameIgnoringCaseAfterEitherPrefix)
{
    const struct {
        const char* argument;
        ServiceSwitch expected;
    } cases[] = {
        {"-service", ServiceSwitch::Service},
        {"-install", ServiceSwitch::Install},
        {"/INSTALL", ServiceSwitch::Install},
        {"-Install", ServiceSwitch::Install},
        {"/config", ServiceSwitch::Config},
        {"-REMOVE", ServiceSwitch::Remove},
        {"-start", ServiceSwitch::Start},
        {"/Stop", ServiceSwitch::Stop},
        {"-debug", ServiceSwitch::Debug},
        {nullptr, ServiceSwitch::None},
        {"", ServiceSwitch::None},
        {"install", ServiceSwitch::None},
        {"\\install", ServiceSwitch::None},
        {"-foo", ServiceSwitch::Unknown},
        {"-", ServiceSwitch::Unknown},
        {"--install", ServiceSwitch::Unknown},
        {"-installs", ServiceSwitch::Unknown},
        {"-stop ", ServiceSwitch::Unknown},
    };
    for (const auto& entry : cases)
        EXPECT_EQ(ParseSwitch(entry.argument), entry.expected) << (entry.argument ? entry.argument : "(none)");
}

// --- status reports and handlers -------------------------------------------

std::vector<SERVICE_STATUS> reports;
BOOL recorderResult = TRUE;

BOOL WINAPI RecordStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status)
{
    reports.push_back(*status);
    return recorderResult;
}

std::atomic<int> monitorStarts{0};
std::atomic<bool> monitorSawExit{false};
HANDLE monitorRelease = nullptr;

// Stands in for a monitoring thread stuck in a long call.
DWORD WINAPI BusyMonitor(LPVOID)
{
    ++monitorStarts;
    WaitForSingleObject(monitorRelease, INFINITE);
    // The event must still be usable when the call finally returns.
    monitorSawExit = WaitForSingleObject(exitEvent, 0) == WAIT_OBJECT_0;
    return 0;
}

class ServiceBody : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::snprintf(logPath, sizeof logPath, "%s", kTestLog);
        DeleteFileA(kTestLog);
        // The body moves its log to "log_dir"; keep it away for these cases.
        DeleteSettingForTest(kValueLogDir);
        reports.clear();
        recorderResult = TRUE;
        monitorStarts = 0;
        monitorSawExit = false;
        setServiceStatusCall = RecordStatus;
        debugMode = false;
    }
    void TearDown() override
    {
        setServiceStatusCall = SetServiceStatus;
        debugMode = false;
        DeleteFileA(kTestLog);
        ResetLogPath();
    }

    // Runs the body in console mode on its own thread.
    std::thread StartBody()
    {
        debugMode = true;
        return std::thread([] { ServiceStart(BusyMonitor); });
    }

    static bool WaitUntil(const std::atomic<int>& counter, int value)
    {
        for (int i = 0; i < 500 && counter.load() < value; ++i)
            Sleep(10);
        return counter.load() >= value;
    }

private:
    RegistrySnapshot registry_;
};

TEST_F(ServiceBody, PendingReportsNumberTheirCheckPoints)
{
    ASSERT_TRUE(ReportStatusToSCMgr(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint));
    ASSERT_TRUE(ReportStatusToSCMgr(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint));
    ASSERT_TRUE(ReportStatusToSCMgr(SERVICE_RUNNING, NO_ERROR, 0));
    ASSERT_TRUE(ReportStatusToSCMgr(SERVICE_STOP_PENDING, NO_ERROR, 0));
    ASSERT_TRUE(ReportStatusToSCMgr(SERVICE_STOPPED, NO_ERROR, 0));
    ASSERT_EQ(reports.size(), 5u);

    EXPECT_EQ(reports[0].dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(reports[0].dwControlsAccepted, 0u);
    EXPECT_EQ(reports[0].dwWaitHint, 3000u);
    EXPECT_GE(reports[0].dwCheckPoint, 1u);
    EXPECT_EQ(reports[1].dwCheckPoint, reports[0].dwCheckPoint + 1);

    EXPECT_EQ(reports[2].dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(reports[2].dwCheckPoint, 0u);
    EXPECT_EQ(reports[2].dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));

    // The counter is never reset: stop-pending takes the next value.
    EXPECT_EQ(reports[3].dwCheckPoint, reports[1].dwCheckPoint + 1);
    EXPECT_EQ(reports[3].dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
    EXPECT_EQ(reports[4].dwCheckPoint, 0u);
    for (const SERVICE_STATUS& report : reports) {
        EXPECT_EQ(report.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
        EXPECT_EQ(report.dwWin32ExitCode, 0u);
        EXPECT_EQ(report.dwServiceSpecificExitCode, 0u);
    }
}

TEST_F(ServiceBody, FailedReportIsLoggedAndReturnsZero)
{
    recorderResult = FALSE;
    EXPECT_FALSE(ReportStatusToSCMgr(SERVICE_RUNNING, NO_ERROR, 0));
    EXPECT_NE(ReadWholeFile(kTestLog).value_or("").find(" SetServiceStatus\r\n"), std::string::npos);
}

// The event the body waits on may have no name (when its name was taken
// before the start): the handler sets that one.
TEST_F(ServiceBody, StopControlReportsStopPendingThenSetsTheEvent)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    exitEvent = event;
    ASSERT_TRUE(ReportStatusToSCMgr(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint));
    ASSERT_TRUE(ReportStatusToSCMgr(SERVICE_RUNNING, NO_ERROR, 0));

    ServiceCtrlHandler(SERVICE_CONTROL_STOP);

    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[2].dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(reports[2].dwCheckPoint, reports[0].dwCheckPoint + 1);
    EXPECT_EQ(reports[2].dwWaitHint, kStopWaitHint);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    exitEvent = nullptr;
    CloseHandle(event);
}

TEST_F(ServiceBody, InterrogateRepeatsTheRunningState)
{
    ASSERT_TRUE(ReportStatusToSCMgr(SERVICE_RUNNING, NO_ERROR, 0));
    ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(reports[1].dwCheckPoint, 0u);
    EXPECT_EQ(reports[1].dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
}

TEST_F(ServiceBody, ConsoleHandlerTakesCtrlCAndLeavesClose)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, kExitEventName);
    ASSERT_NE(event, nullptr);
    exitEvent = event;

    EXPECT_FALSE(ConsoleCtrlHandler(CTRL_CLOSE_EVENT));
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(ReadWholeFile(kTestLog).value_or(""), "");

    EXPECT_TRUE(ConsoleCtrlHandler(CTRL_C_EVENT));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_NE(ReadWholeFile(kTestLog).value_or("").find(" Stopping KVL Service.\n\r\n"), std::string::npos);
    exitEvent = nullptr;
    CloseHandle(event);
}

TEST_F(ServiceBody, BusyMonitorDelaysTheEndAtMostFiveSeconds)
{
    monitorRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(monitorRelease, nullptr);

    std::thread body = StartBody();
    ASSERT_TRUE(WaitUntil(monitorStarts, 1));
    auto stopAsked = std::chrono::steady_clock::now();
    ASSERT_TRUE(ConsoleCtrlHandler(CTRL_C_EVENT));
    body.join();
    auto taken = std::chrono::steady_clock::now() - stopAsked;

    EXPECT_GE(taken, std::chrono::milliseconds(kMonitorStopWait - 500));
    EXPECT_LT(taken, std::chrono::milliseconds(kMonitorStopWait + 3000));
    EXPECT_NE(ReadWholeFile(kTestLog).value_or("").find(" ServiceStart end\r\n"), std::string::npos);

    // The event was left open for the thread, which can still look at it.
    ASSERT_NE(exitEvent, nullptr);
    SetEvent(monitorRelease);
    for (int i = 0; i < 200 && !monitorSawExit; ++i)
        Sleep(10);
    EXPECT_TRUE(monitorSawExit);

    CloseHandle(exitEvent);
    exitEvent = nullptr;
    CloseHandle(monitorRelease);
    monitorRelease = nullptr;
}

} // namespace
