// The installed service end to end: KVLService.exe (with Ferolin.dll beside
// it) under Wine's service manager, against the development update server,
// with the stand-in VPN connection service installed. Each case installs the
// service, starts it, watches the server's request log, the stand-in's
// journal, the settings key and the service log, and removes it again.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>

#include "check_test_support.h"
#include "service_limits.h"
#include "settings_names.h"

namespace {

const std::string kServiceLog = std::string(kTestRoot) + "\\kvlservice.log";

// A subscriber the server answers with `status`, and one configuration file.
std::string StateWith(const std::string& status, const std::string& misbehave = "")
{
    return R"({"subscribers": {"checker": {
        "status": {"result": "0", "v_stt": "3", "stt": ")" +
        status + R"(", "msg": "Conta"},
        "config": {"result": "0", "files": [
            {"v_cnf": "7", "is_cnf": "1", "url_cnf": "{{files}}/vpn.conf", "sub_dir": "", "file_cnf": "vpn.conf"}]})" +
        (misbehave.empty() ? "" : ",\n        \"misbehave\": " + misbehave) + "}}}";
}

std::string BuildPath(const char* relative) { return WindowsPathOfLinuxPath(KVL_BUILD_DIR) + "\\" + relative; }

class InstalledServiceTest : public CheckTest {
protected:
    void SetUp() override
    {
        CheckTest::SetUp();
        ASSERT_TRUE(SetSettingsForTest({{kValueStatusVersion, ""},
                                        {kValueConfigVersion, ""},
                                        {kValueFileVersion, ""},
                                        {kValueSoftwareVersion, "1.0"},
                                        {kValueLogDir, kTestRoot}}));
        ServeFile("vpn.conf", "remote vpn.example 1194\n");
        DeleteFileA((ProgramFolder() + "vpnkorv-journal.txt").c_str());

        Tool(BuildPath("tests\\service\\svctool.exe"), "purge");
        Tool(ProgramFolder() + "VPNKorvStandin.exe", "-remove");
        Tool(ProgramFolder() + "VPNKorvStandin.exe", "-install");
        Tool(service_, "-install");
    }

    void TearDown() override
    {
        Tool(BuildPath("tests\\service\\svctool.exe"), "purge");
        Tool(ProgramFolder() + "VPNKorvStandin.exe", "-remove");
        SetState("{}");
    }

    // Runs a program and returns its exit code (-1 when it did not run).
    static int Tool(const std::string& program, const std::string& arguments)
    {
        DWORD exitCode = 0;
        if (!RunAndCapture("\"" + program + "\" " + arguments, &exitCode, 90000))
            return -1;
        return static_cast<int>(exitCode);
    }

    static bool WaitUntil(const std::function<bool()>& condition, int seconds)
    {
        for (int i = 0; i < seconds * 10; ++i) {
            if (condition())
                return true;
            Sleep(100);
        }
        return condition();
    }

    // The update methods asked for since SetUp, in order.
    std::vector<std::string> Methods() const
    {
        std::vector<std::string> methods;
        for (const LoggedRequest& request : NewRequests())
            if (request.server == "update")
                methods.push_back(request.method);
        return methods;
    }

    static std::string Journal() { return ReadWholeFile(ProgramFolder() + "vpnkorv-journal.txt").value_or(""); }
    static std::string ServiceLog() { return ReadWholeFile(kServiceLog).value_or(""); }

    const std::string service_ = BuildPath("service\\KVLService.exe");
    const std::string configFile_ = std::string(kTestConfigDir) + "\\vpn.conf";
};

TEST_F(InstalledServiceTest, ActiveAccountGetsItsConfigurationAndBlockedLosesIt)
{
    SetState(StateWith("ativo"));
    ASSERT_EQ(Tool(service_, "-start"), 0);

    // The first pass: status, the scheduled configuration check (which starts
    // the VPN connection service on the new version), the update check.
    ASSERT_TRUE(WaitUntil([this] { return Methods().size() >= 4; }, 60)) << ServiceLog();
    EXPECT_EQ(Methods(), (std::vector<std::string>{"chk_stt", "chk_cnf_upd", "chk_cnf_upd", "chk_sw_upd"}));
    EXPECT_TRUE(WaitUntil([] { return Journal() == "start\nrunning\n"; }, 10)) << Journal();
    EXPECT_TRUE(FileExists(configFile_));
    EXPECT_EQ(GetSettingForTest(kValueStatus), "ativo");
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "7");
    const std::string firstRun = ServiceLog();
    for (const char* line : {"Atualizacao 24h", "CheckConfig", "Kvl - VPNStartService", "UpdateSoft"})
        EXPECT_NE(firstRun.find(line), std::string::npos) << line << " not in\n" << firstRun;

    // Blocked on the server; the restarted service's first status check
    // stops the VPN connection service and deletes the configuration, and no
    // scheduled check follows.
    SetState(StateWith("bloqueado"));
    ASSERT_EQ(Tool(service_, "-stop"), 0);
    const std::size_t requestsBefore = Methods().size();
    ASSERT_EQ(Tool(service_, "-start"), 0);
    EXPECT_TRUE(WaitUntil([] { return Journal() == "start\nrunning\nstop\nstopped\n"; }, 30)) << Journal();
    EXPECT_TRUE(WaitUntil([this] { return !FileExists(configFile_); }, 5));
    EXPECT_EQ(GetSettingForTest(kValueConfigState), "0");
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "");
    EXPECT_NE(ServiceLog().find("KVLServiceThread status[ativo]"), std::string::npos);
    Sleep(2000);
    std::vector<std::string> methods = Methods();
    EXPECT_EQ(std::vector<std::string>(methods.begin() + requestsBefore, methods.end()),
              std::vector<std::string>{"chk_stt"});
}

TEST_F(InstalledServiceTest, ServerThatDropsEveryRequestBlocksAfterSevenDaysAndTheServiceRunsOn)
{
    // The last successful check long ago, and a server that hangs up on
    // every request.
    SetState(StateWith("ativo", R"({"chk_stt": {"drop": true}, "chk_cnf_upd": {"drop": true}})"));
    ASSERT_TRUE(SetSettingForTest(kValueStatus, "ativo"));
    ASSERT_TRUE(SetSettingForTest(kValueStatusDay, "1200101"));
    ASSERT_TRUE(SetSettingForTest(kValueConfigFile, "vpn.conf"));
    ASSERT_TRUE(SetSettingForTest(kValueConfigVersion, "7"));
    ASSERT_TRUE(WriteWholeFile(configFile_, "remote vpn.example 1194\n"));
    ASSERT_EQ(Tool(service_, "-start"), 0);

    EXPECT_TRUE(WaitUntil([] { return ServiceLog().find("KVLServiceThread 7d blocked") != std::string::npos; }, 60))
        << ServiceLog();
    EXPECT_FALSE(FileExists(configFile_));
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "");
    // Blocked: no scheduled check follows the failed one, and the loop is
    // still there to see the stop.
    Sleep(2000);
    EXPECT_EQ(Methods(), std::vector<std::string>{"chk_stt"});
    EXPECT_EQ(Tool(BuildPath("tests\\service\\svctool.exe"), "wait RUNNING 1000"), 0);
    EXPECT_EQ(Tool(service_, "-stop"), 0);
    EXPECT_TRUE(WaitUntil([] { return ServiceLog().find("KVLServiceThread stopped") != std::string::npos; }, 10))
        << ServiceLog();
}

TEST_F(InstalledServiceTest, StopDuringAStalledRequestEndsWithinTheStopBound)
{
    SetState(StateWith("ativo", R"({"chk_stt": {"stall_ms": 20000}})"));
    ASSERT_EQ(Tool(service_, "-start"), 0);
    ASSERT_TRUE(WaitUntil([this] { return !Methods().empty(); }, 30)) << ServiceLog();

    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(Tool(service_, "-stop"), 0);
    const auto taken = std::chrono::steady_clock::now() - asked;
    EXPECT_LT(taken, std::chrono::milliseconds(kMonitorStopWait + 5000));
    EXPECT_EQ(Tool(BuildPath("tests\\service\\svctool.exe"), "wait STOPPED 1000"), 0);
    // The body ended without its thread, which was still inside the library.
    EXPECT_NE(ServiceLog().find("ServiceStart end"), std::string::npos) << ServiceLog();
    EXPECT_EQ(ServiceLog().find("KVLServiceThread stopped"), std::string::npos) << ServiceLog();
}

} // namespace
