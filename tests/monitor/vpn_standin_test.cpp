// The VPN service control against the real service manager, with the
// stand-in "VPNKorvService" beside this program and the stand-in "Halvex" in
// the installation's bin folder: what each of them went through lands in its
// journal beside it. The "Halvex" beside this program is a decoy (this folder
// is also made the current directory and put first on PATH): it must never
// run.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>

#include "monitor_test_support.h"
#include "scheduled_checks.h"
#include "settings_names.h"
#include "vpn_control.h"
#include "win_handles.h"

namespace {

using Events = std::vector<std::string>;

const std::string kHalvexFolder = std::string(kTestInstallDir) + "bin\\";

std::vector<std::string> JournalLines(const std::string& name, const std::string& folder = ProgramFolder())
{
    std::vector<std::string> lines;
    std::string all = ReadWholeFile(folder + name).value_or("");
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        lines.push_back(all.substr(start, end - start));
        start = end == std::string::npos ? all.size() : end + 1;
    }
    return lines;
}

DWORD VpnState()
{
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle service(manager ? OpenServiceA(manager.get(), "VPNKorvService", SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status))
        return 0;
    return status.dwCurrentState;
}

// The platform of the service itself, but for the library entry and, where
// a case says so, the clocks.
class StandinTest : public MonitorTest {
protected:
    void SetUp() override
    {
        MonitorTest::SetUp();
        platform_ = kWindowsPlatform;
        platform_.ferolin = FakePlatform().ferolin;
        Standin("-remove");
        DeleteFileA((ProgramFolder() + "vpnkorv-journal.txt").c_str());
        DeleteFileA((ProgramFolder() + "halvex-journal.txt").c_str());
        ASSERT_TRUE(CreateDirectoryA(kHalvexFolder.c_str(), nullptr));
        ASSERT_TRUE(CopyFileA((ProgramFolder() + "Halvex.exe").c_str(), (kHalvexFolder + "Halvex.exe").c_str(), FALSE));
        decoys_.emplace(ProgramFolder());
    }
    void TearDown() override
    {
        decoys_.reset();
        EXPECT_TRUE(JournalLines("halvex-journal.txt").empty()) << "a Halvex outside the installation ran";
        Standin("-remove");
        MonitorTest::TearDown();
    }

    static void Standin(const std::string& arguments)
    {
        DWORD exitCode = 1;
        ASSERT_TRUE(RunAndCapture("\"" + ProgramFolder() + "VPNKorvStandin.exe\" " + arguments, &exitCode, 30000));
        ASSERT_EQ(exitCode, 0u) << arguments;
    }

    // Installs the stand-in with `options` and starts it.
    void RunningStandin(const std::string& options = "")
    {
        Standin("-install " + options);
        ASSERT_EQ(VPNStartService(platform_), 1);
        ASSERT_EQ(VpnState(), static_cast<DWORD>(SERVICE_RUNNING));
    }

    std::optional<SearchedFirst> decoys_;
};

TEST_F(StandinTest, ChangedConfigurationRestartsTheRunningService)
{
    ProvisionInstallation();
    Set(kValueStatus, "ativo");
    RunningStandin();

    world.checkConfig = {0, "7"};
    CheckConfig(platform_);
    EXPECT_EQ(JournalLines("vpnkorv-journal.txt"), (Events{"start", "running"}));

    world.checkConfig = {0, "8"};
    CheckConfig(platform_);
    EXPECT_EQ(JournalLines("vpnkorv-journal.txt"), (Events{"start", "running", "stop", "stopped", "start", "running"}));
    EXPECT_EQ(VpnState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(StandinTest, StoppedServiceIsStartedOnANewConfiguration)
{
    ProvisionInstallation();
    Set(kValueStatus, "ativo");
    Standin("-install");
    world.checkConfig = {0, "8"};
    CheckConfig(platform_);
    EXPECT_EQ(JournalLines("vpnkorv-journal.txt"), (Events{"start", "running"}));
    EXPECT_EQ(VpnState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(StandinTest, StartWaitsWhileTheCheckPointGrowsAndNoLonger)
{
    // Three seconds start-pending, the check point growing every second.
    Standin("-install -pending 3000 -hint 4000 -checkpoints 2");
    DWORD started = GetTickCount();
    EXPECT_EQ(VPNStartService(platform_), 1);
    EXPECT_EQ(VpnState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_GE(GetTickCount() - started, 2500u);
    Standin("-remove");

    // Six seconds without growth against a hint of two: the wait gives up.
    Standin("-install -pending 6000 -hint 2000");
    started = GetTickCount();
    EXPECT_EQ(VPNStartService(platform_), 1);
    const DWORD taken = GetTickCount() - started;
    EXPECT_EQ(VpnState(), static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_GE(taken, 2000u);
    EXPECT_LT(taken, 5000u);
}

TEST_F(StandinTest, StopThatNeverCompletesIsGivenUpAfterTwentySeconds)
{
    RunningStandin("-stuck-stop");
    // The real service manager, with time that passes only in the pauses.
    const MonitorPlatform fakes = FakePlatform();
    platform_.sleep = fakes.sleep;
    platform_.tickCount = fakes.tickCount;
    EXPECT_EQ(VPNStopService(platform_), 1);
    EXPECT_EQ(world.tick, 20000u);
    EXPECT_EQ(VpnState(), static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(JournalLines("vpnkorv-journal.txt"), (Events{"start", "running", "stop"}));
}

TEST_F(StandinTest, BlockedAccountStopsTheServiceAndRemovesTheConfiguration)
{
    ProvisionInstallation();
    Set(kValueStatus, "ativo");
    RunningStandin();
    world.checkStatus = {0, "bloqueado"};
    Start(kStart);
    Pass(kStart);

    EXPECT_EQ(JournalLines("vpnkorv-journal.txt"), (Events{"start", "running", "stop", "stopped"}));
    EXPECT_EQ(VpnState(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_FALSE(FileExists(kConfigPath));
    EXPECT_EQ(Setting(kValueConfigState), "0");
    EXPECT_EQ(Setting(kValueConfigVersion), "");
    EXPECT_EQ(state_.account, AccountState::Blocked);
}

// --- the elevated stop -----------------------------------------------------------

DWORD requestedWait = 0;
DWORD cappedWaitResult = 0;

// Stands in for the 50 s: waits a little for real, notes what was asked,
// and ends a stand-in that is still there.
DWORD WINAPI ShortWait(HANDLE process, DWORD milliseconds)
{
    requestedWait = milliseconds;
    cappedWaitResult = WaitForSingleObject(process, 3000);
    if (cappedWaitResult == WAIT_TIMEOUT)
        TerminateProcess(process, 1);
    return cappedWaitResult;
}

TEST_F(StandinTest, ElevatedStopRunsHalvexFromTheInstallationAndWaitsFiftySeconds)
{
    platform_.waitForProcess = ShortWait;
    EXPECT_EQ(RunElevatedVPNStop(platform_, kTestInstallDir), 1);
    EXPECT_EQ(requestedWait, 50000u);
    EXPECT_EQ(cappedWaitResult, WAIT_OBJECT_0);
    EXPECT_EQ(JournalLines("halvex-journal.txt", kHalvexFolder), Events{"-stop"});

    // Lingering past the wait: the run still counts as done.
    PutFile(kHalvexFolder + "halvex-linger", "60000");
    EXPECT_EQ(RunElevatedVPNStop(platform_, kTestInstallDir), 1);
    EXPECT_EQ(cappedWaitResult, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(JournalLines("halvex-journal.txt", kHalvexFolder), (Events{"-stop", "-stop"}));
}

// Mended: "Halvex" was started by its bare name, which the shell looks for in
// the current directory and on PATH (and Wine's in the caller's folder), so
// a decoy there ran as the system account. Without the real one, the
// connection now ends through its service instead.
TEST_F(StandinTest, WithoutHalvexACancelledAccountStillHasTheVpnServiceStopped)
{
    ASSERT_TRUE(DeleteFileA((kHalvexFolder + "Halvex.exe").c_str()));
    EXPECT_EQ(RunElevatedVPNStop(platform_, kTestInstallDir), 0);

    ProvisionInstallation();
    Set(kValueStatus, "ativo");
    RunningStandin();
    world.checkStatus = {0, "cancelado"};
    Start(kStart);
    Pass(kStart);

    EXPECT_EQ(VpnState(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(JournalLines("vpnkorv-journal.txt"), (Events{"start", "running", "stop", "stopped"}));
    EXPECT_EQ(CountLogged("KVLServiceThread Halvex stop failed"), 1);
    EXPECT_FALSE(FileExists(kConfigPath));
}

} // namespace
