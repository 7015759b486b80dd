// The monitoring loop driven pass by pass with a clock of the test's choosing:
// start-up, every transition of the account state, the seven-day rule, the
// installation clean-up and the update schedule. The settings key and the
// files are real; the library, the service manager and the shell are fakes.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <ctime>
#include <thread>
#include <utility>

#include "monitor_test_support.h"
#include "monitor_thread.h"
#include "service_runtime.h"
#include "settings_names.h"

namespace {

using Events = std::vector<std::string>;

const std::string kCheckStatus = "library -checkstatus 12";
const std::string kCheckConfig = "library -checkconfig 12";
const std::string kCheckUpdate = "library -checkupdate 12";
// By its full path in the installation's bin folder.
const std::string kElevatedStop = "shell runas C:\\kvlchecks\\inst\\bin\\Halvex.exe -stop";
// What a scheduled run asks when nothing changes: the configuration check,
// then the update check with its own configuration check and pause.
const Events kScheduledRun = {kCheckConfig, kCheckConfig, "sleep 2000", kCheckUpdate};

Events Concat(Events a, const Events& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool Contains(const Events& events, const std::string& event)
{
    return std::find(events.begin(), events.end(), event) != events.end();
}

TEST(DayStamp, YearsSince1900AndMonthsFromZero)
{
    std::tm noon{};
    noon.tm_year = 126;
    noon.tm_mon = 11;
    noon.tm_mday = 7;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    EXPECT_EQ(DayStampOf(std::mktime(&noon)), "1261107");
    noon.tm_mon = 0;
    noon.tm_mday = 31;
    EXPECT_EQ(DayStampOf(std::mktime(&noon)), "1260031");
    // Fixed widths keep the text order chronological across months.
    EXPECT_LT(DayStampOf(kStart - 30 * kDay), DayStampOf(kStart));
}

// --- start-up ----------------------------------------------------------------

TEST_F(MonitorTest, StartUpTakesTheStateFromTheLastWord)
{
    const struct {
        const char* stt; // nullptr: missing
        AccountState state;
        Events logged;
        bool testsConfigFile;
    } rows[] = {
        {"ativo", AccountState::Active, {"KVLServiceThread status[ativo]"}, true},
        {"ATIVO", AccountState::Active, {"KVLServiceThread status[ATIVO]"}, true},
        {"bloqueado", AccountState::Blocked, {"KVLServiceThread status[bloqueado]"}, false},
        {"cancelado", AccountState::Cancelled, {"KVLServiceThread status[cancelado]"}, false},
        {"Duplicado", AccountState::Cancelled, {"KVLServiceThread status[Duplicado]"}, false},
        {"pendente",
         AccountState::Pending,
         {"KVLServiceThread status[pendente]", "KVLServiceThread last[pendente]"},
         true},
        {nullptr, AccountState::Active, {}, false},
    };
    ProvisionInstallation();
    DeleteFileA(kConfigPath); // the configuration file is missing
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stt ? row.stt : "(missing)");
        DeleteFileA("C:\\kvlchecks\\kvlservice.log");
        Set(kValueConfigVersion, "7");
        if (row.stt)
            Set(kValueStatus, row.stt);
        else
            Unset(kValueStatus);

        Start(kStart);

        EXPECT_EQ(state_.account, row.state);
        EXPECT_STREQ(state_.lastStatus, row.stt ? row.stt : "");
        Events expected = row.logged;
        if (row.testsConfigFile)
            expected.push_back("KVLServiceThread config force update");
        EXPECT_EQ(LogMessages(), expected);
        EXPECT_EQ(Setting(kValueConfigVersion), row.testsConfigFile ? "" : "7");
        EXPECT_EQ(state_.nextStatusCheck, kStart);
        EXPECT_EQ(state_.nextUpdate, kStart);
    }
    EXPECT_STREQ(state_.installDir, kTestInstallDir);
    EXPECT_STREQ(state_.configDir, kTestConfigDir);
}

TEST_F(MonitorTest, StartUpFallsBackToTheProgramDirectory)
{
    Start(kStart);
    EXPECT_STREQ(state_.installDir, kProgramDir);
    EXPECT_STREQ(state_.configDir, kProgramDir);
}

TEST_F(MonitorTest, UpdateIntervalOutsideOneToTwentyFourHoursIsADay)
{
    const struct {
        const char* updateTm; // nullptr: missing
        int hours;
    } rows[] = {{"0", 24}, {"25", 24}, {"-3", 24}, {"abc", 24}, {nullptr, 24}, {"6", 6}, {"1", 1}, {"24", 24}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.updateTm ? row.updateTm : "(missing)");
        if (row.updateTm)
            Set(kValueUpdateHours, row.updateTm);
        else
            Unset(kValueUpdateHours);
        Start(kStart);
        EXPECT_EQ(state_.updateHours, row.hours);
        // Only a missing value is written; a bad one stays as it was.
        EXPECT_EQ(Setting(kValueUpdateHours), row.updateTm ? row.updateTm : "24");
    }
}

// --- the first pass and the update schedule -----------------------------------

TEST_F(MonitorTest, FirstPassChecksTheStatusThenRunsTheScheduledChecks)
{
    ProvisionInstallation();
    Set(kValueStatus, "ativo");
    world.checkStatus = {0, "ativo"};
    Start(kStart);
    Pass(kStart);

    EXPECT_EQ(world.events, Concat({kCheckStatus}, kScheduledRun));
    EXPECT_EQ(
        LogMessages(),
        (Events{"KVLServiceThread status[ativo]", "Atualizacao 24h", "CheckConfig", "UpdateSoft", "CheckConfig"}));
    EXPECT_EQ(state_.nextStatusCheck, kStart + 180);
    EXPECT_EQ(state_.nextUpdate, kStart + 24 * kHour);
    EXPECT_EQ(Setting(kValueLastTime), std::to_string(kStart));
    EXPECT_EQ(Setting(kValueStatusDay), DayStampOf(kStart));
    EXPECT_EQ(Setting(kValueConfigOnly), "0");

    // Nothing is due a second later; the status is checked again after 180 s.
    world.events.clear();
    Pass(kStart + 1);
    Pass(kStart + 179);
    EXPECT_TRUE(world.events.empty());
    Pass(kStart + 180);
    EXPECT_EQ(world.events, Events{kCheckStatus});
}

TEST_F(MonitorTest, FirstTimeOnlyChangesTheLogLine)
{
    ProvisionInstallation();
    Set(kValueStatus, "ativo");
    world.checkStatus = {0, "ativo"};
    Set(kValueFirstTime, "true");
    Start(kStart);
    Pass(kStart);
    EXPECT_EQ(CountLogged("Atualizando a aplicacao"), 1);
    EXPECT_EQ(CountLogged("Atualizacao 24h"), 0);
    EXPECT_EQ(world.events, Concat({kCheckStatus}, kScheduledRun));
}

TEST_F(MonitorTest, PassLaterThanOneIntervalRestartsTheScheduleFromNow)
{
    ProvisionInstallation();
    Start(kStart);
    Pass(kStart);

    // Late, but within the next interval: the phase from the start is kept.
    Pass(kStart + 24 * kHour + 30);
    EXPECT_EQ(state_.nextUpdate, kStart + 48 * kHour);
    EXPECT_EQ(CountLogged("Atualizacao 24h"), 2);

    // More than a whole interval late (suspended): one line, then from now.
    const std::int64_t late = kStart + 72 * kHour + 10;
    Pass(late);
    const std::string expected =
        "nextUpdate <" + std::to_string(kStart + 72 * kHour) + "> now <" + std::to_string(late) + ">";
    EXPECT_EQ(CountLogged(expected), 1);
    EXPECT_EQ(state_.nextUpdate, late + 24 * kHour);
    EXPECT_EQ(CountLogged("Atualizacao 24h"), 3);
}

// --- the transition table ------------------------------------------------------

struct TransitionRow {
    const char* name;
    const char* from;              // "stt" at start-up
    std::optional<std::string> to; // the word the check leaves; nullopt: the check fails
    std::int64_t lastSuccessAge;   // failed checks: age of "ts_stt" in seconds
    bool vpnRunning;
    Events actions; // after the status check of the second pass
    AccountState after;
    bool configRemoved;        // file deleted, "cnf" = "0", "v_cnf" = ""
    bool scheduledChecksAfter; // the next scheduled time runs the checks
};

// Names the row in test listings.
void PrintTo(const TransitionRow& row, std::ostream* out) { *out << row.name; }

class TransitionTest : public MonitorTest, public ::testing::WithParamInterface<TransitionRow> { };

TEST_P(TransitionTest, SecondStatusCheck)
{
    const TransitionRow& row = GetParam();
    ProvisionInstallation();
    Set(kValueStatus, row.from);
    world.checkStatus = {0, row.from};
    Start(kStart);
    // A blocked start removes a configuration that a block cut short left
    // behind; put back, so that each row shows what its transition does.
    PutFile(kConfigPath);
    Set(kValueConfigState, "1");
    Pass(kStart); // the same word again; active and pending accounts run their checks

    world.events.clear();
    world.vpnState = row.vpnRunning ? SERVICE_RUNNING : SERVICE_STOPPED;
    if (row.to) {
        world.checkStatus = {0, *row.to};
    } else {
        world.checkStatus = {4, std::nullopt};
        Set(kValueStatusDay, DayStampOf(kStart + 180 - row.lastSuccessAge));
    }
    Pass(kStart + 180);

    EXPECT_EQ(world.events, Concat({kCheckStatus}, row.actions));
    EXPECT_EQ(state_.account, row.after);
    // The same word in other letters is not stored again; a seven-day block
    // forgets the word, so that the next one lifts or confirms it.
    const std::string lastWord = row.to ? *row.to : row.after == AccountState::Blocked ? "" : row.from;
    EXPECT_EQ(_stricmp(state_.lastStatus, lastWord.c_str()), 0);
    EXPECT_EQ(!FileExists(kConfigPath), row.configRemoved);
    EXPECT_EQ(Setting(kValueConfigState), row.configRemoved ? "0" : "1");
    if (row.configRemoved) {
        EXPECT_EQ(Setting(kValueConfigVersion), "");
    }
    EXPECT_EQ(CountLogged("KVLServiceThread 7d blocked"), !row.to && row.configRemoved ? 1 : 0);
    // A successful check stamps the day; a failed one leaves the last stamp.
    EXPECT_EQ(Setting(kValueStatusDay), DayStampOf(kStart + 180 - (row.to ? 0 : row.lastSuccessAge)));

    world.events.clear();
    Pass(kStart + 24 * kHour);
    EXPECT_EQ(Contains(world.events, kCheckUpdate), row.scheduledChecksAfter);
}

const Events kRefetch = {kCheckConfig};

INSTANTIATE_TEST_SUITE_P(
    AccountState, TransitionTest,
    ::testing::Values(
        // Back to active from blocked: the configuration is fetched again at
        // once, and the checks that were held back run in the same pass.
        TransitionRow{"BlockedToActive", "bloqueado", "ativo", 0, false, Concat(kRefetch, kScheduledRun),
                      AccountState::Active, false, true},
        TransitionRow{"CancelledToActive", "cancelado", "ativo", 0, false, kScheduledRun, AccountState::Active, false,
                      true},
        TransitionRow{"PendingToActive", "pendente", "ativo", 0, true, {}, AccountState::Active, false, true},
        TransitionRow{
            "ActiveToBlocked", "ativo", "bloqueado", 0, true, {"service stop"}, AccountState::Blocked, true, false},
        TransitionRow{
            "ActiveToBlockedVpnStopped", "ativo", "bloqueado", 0, false, {}, AccountState::Blocked, true, false},
        TransitionRow{
            "ActiveToCancelled", "ativo", "cancelado", 0, true, {kElevatedStop}, AccountState::Cancelled, true, false},
        // Both words mean cancelled, but the word changed: stopped and removed again.
        TransitionRow{"CancelledToDuplicated",
                      "cancelado",
                      "duplicado",
                      0,
                      true,
                      {kElevatedStop},
                      AccountState::Cancelled,
                      true,
                      false},
        TransitionRow{"SameWordInCapitals", "bloqueado", "BLOQUEADO", 0, true, {}, AccountState::Blocked, false, false},
        TransitionRow{"AnotherWord", "ativo", "suspenso", 0, true, {}, AccountState::Active, false, true},
        TransitionRow{"FailedEightDaysAfterSuccess",
                      "ativo",
                      std::nullopt,
                      8 * kDay,
                      true,
                      {kElevatedStop},
                      AccountState::Blocked,
                      true,
                      false},
        TransitionRow{
            "FailedADayAfterSuccess", "ativo", std::nullopt, kDay, true, {}, AccountState::Active, false, true}),
    [](const ::testing::TestParamInfo<TransitionRow>& info) { return std::string(info.param.name); });

TEST_F(MonitorTest, SameWordFetchesAMissingConfigurationFile)
{
    ProvisionInstallation();
    Set(kValueStatus, "ativo");
    world.checkStatus = {0, "ativo"};
    Start(kStart);
    Pass(kStart);

    world.events.clear();
    Pass(kStart + 180);
    EXPECT_EQ(world.events, Events{kCheckStatus}); // the file is there

    DeleteFileA(kConfigPath);
    Set(kValueConfigOnly, "0");
    world.events.clear();
    Pass(kStart + 360);
    EXPECT_EQ(world.events, (Events{kCheckStatus, kCheckConfig}));
    EXPECT_EQ(Setting(kValueConfigVersion), "");
    EXPECT_EQ(Setting(kValueConfigOnly), "1");
}

// --- the seven-day rule --------------------------------------------------------

TEST_F(MonitorTest, FailedChecksBlockOnceTheLastSuccessIsSevenDaysOld)
{
    const struct {
        const char* name;
        std::optional<std::string> tsStt; // nullopt: missing
        bool blocked;
        std::string tsSttAfter;
    } rows[] = {
        {"six days", DayStampOf(kStart - 6 * kDay), false, DayStampOf(kStart - 6 * kDay)},
        {"seven days", DayStampOf(kStart - 7 * kDay), true, DayStampOf(kStart - 7 * kDay)},
        {"eight days", DayStampOf(kStart - 8 * kDay), true, DayStampOf(kStart - 8 * kDay)},
        // The empty text is smaller than any stamp.
        {"empty", "", true, ""},
        // Initialised to today: a block comes a week later at the earliest.
        {"missing", std::nullopt, false, DayStampOf(kStart)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        platform_ = FakePlatform();
        ProvisionInstallation();
        DeleteFileA("C:\\kvlchecks\\kvlservice.log");
        if (row.tsStt)
            Set(kValueStatusDay, *row.tsStt);
        else
            Unset(kValueStatusDay);
        world.checkStatus = {4, std::nullopt};
        world.vpnState = SERVICE_RUNNING;
        Start(kStart);

        // Two failed checks in a row: the rule applies at each.
        Pass(kStart);
        Set(kValueConfigVersion, "7");
        Pass(kStart + 180);

        const int expectedBlocks = row.blocked ? 2 : 0;
        EXPECT_EQ(CountLogged("KVLServiceThread 7d blocked"), expectedBlocks);
        EXPECT_EQ(std::count(world.events.begin(), world.events.end(), kElevatedStop), expectedBlocks);
        EXPECT_EQ(Setting(kValueConfigVersion), row.blocked ? "" : "7");
        EXPECT_EQ(state_.account, row.blocked ? AccountState::Blocked : AccountState::Active);
        EXPECT_EQ(Setting(kValueStatusDay), row.tsSttAfter);
    }
}

// Mended: a failed elevated stop in the cancelled branch no longer ends the
// loop; the configuration goes all the same and the checks go on.
TEST_F(MonitorTest, FailedElevatedStopIsLoggedAndTheLoopGoesOn)
{
    ProvisionInstallation();
    Set(kValueStatus, "ativo");
    world.checkStatus = {0, "cancelado"};
    world.vpnState = SERVICE_RUNNING;
    world.shellStarts = false;
    monitorPlatform = platform_;
    exitEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(exitEvent, nullptr);

    // The clock moves a status interval at each reading, so every pass of the
    // real thread checks the status.
    monitorPlatform.clock = [] { return world.now += 180; };
    DWORD result = 99;
    std::thread thread([&result] { result = MonitorThread(nullptr); });
    // Passes are a second apart.
    Sleep(2500);
    SetEvent(exitEvent);
    thread.join();
    monitorPlatform = kWindowsPlatform;
    CloseHandle(exitEvent);
    exitEvent = nullptr;

    EXPECT_GE(std::count(world.events.begin(), world.events.end(), kCheckStatus), 2);
    EXPECT_EQ(CountLogged("KVLServiceThread Halvex stop failed"), 1);
    // The connection ends all the same, through its service.
    EXPECT_TRUE(Contains(world.events, "service stop"));
    EXPECT_FALSE(FileExists(kConfigPath));
    EXPECT_EQ(Setting(kValueConfigState), "0");
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(LogMessages().back(), "KVLServiceThread stopped");
}

// --- a configuration that a user holds -------------------------------------------

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// How often Windows' list of deletions at the next restart names `path`.
int ScheduledAtRestart(const std::string& path)
{
    std::wstring all(65536, L'\0');
    DWORD size = static_cast<DWORD>(all.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr,
                     all.data(), &size) != ERROR_SUCCESS)
        return 0;
    const std::wstring wide(path.begin(), path.end());
    int count = 0;
    for (std::size_t at = all.find(wide); at != std::wstring::npos; at = all.find(wide, at + 1))
        ++count;
    return count;
}

// Mended: a failed deletion was ignored and "cnf" said "0", so a user who
// held the VPN configuration open without delete sharing kept it through a
// block; and a configuration that came in a subdirectory was never the file
// deleted. Now it is tried at every check until it goes, and left to the
// next restart of Windows as well.
TEST_F(MonitorTest, HeldConfigurationGoesAtTheFirstCheckAfterItIsLetGo)
{
    ProvisionInstallation();
    const std::string held = std::string(kTestConfigDir) + "\\sub\\vpn.conf";
    ASSERT_TRUE(CreateDirectoryA((std::string(kTestConfigDir) + "\\sub").c_str(), nullptr));
    PutFile(held);
    Set(kValueConfigPath, "sub\\vpn.conf");
    Set(kValueStatus, "ativo");
    world.checkStatus = {0, "bloqueado"};
    Start(kStart);
    const auto notRemoved = [this] {
        const std::vector<std::string> lines = LogMessages();
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.rfind("KVLServiceThread config not removed: C:\\kvlchecks\\config\\sub\\vpn.conf - ", 0) == 0;
        });
    };
    {
        HeldFile holder(held, FILE_SHARE_READ);
        ASSERT_TRUE(holder.held());
        Pass(kStart);
        Pass(kStart + 180);
        EXPECT_TRUE(FileExists(held));
        EXPECT_EQ(Setting(kValueConfigState), "1");
        EXPECT_EQ(notRemoved(), 2);
        EXPECT_EQ(ScheduledAtRestart(held), 1);
        // The test prefix's own list: nothing else is ever scheduled there.
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
    }
    Pass(kStart + 360);
    EXPECT_FALSE(FileExists(held));
    EXPECT_EQ(Setting(kValueConfigState), "0");
    EXPECT_EQ(Setting(kValueConfigVersion), "");
    EXPECT_TRUE(FileExists(kConfigPath)) << "only the file named with its subdirectory is the configuration";
    Pass(kStart + 540);
    EXPECT_EQ(notRemoved(), 2);
}

// The process ended after the library had stored a blocking word and before
// the stop and the removal: started again, it takes that word as its state,
// yet the connection ends and the configuration goes at once, whatever the
// first check then says.
TEST_F(MonitorTest, BlockCutShortByAKilledProcessIsFinishedAtTheRestart)
{
    ProvisionInstallation();
    for (const auto& [word, stop] :
         {std::pair{"bloqueado", "service stop"}, std::pair{"duplicado", kElevatedStop.c_str()}}) {
        SCOPED_TRACE(word);
        Set(kValueStatus, word);
        Set(kValueConfigVersion, "7");
        Set(kValueConfigState, "1");
        PutFile(kConfigPath);
        world.vpnState = SERVICE_RUNNING;
        world.events.clear();
        Start(kStart);
        EXPECT_TRUE(Contains(world.events, stop));
        EXPECT_FALSE(FileExists(kConfigPath));
        EXPECT_EQ(Setting(kValueConfigState), "0");
        EXPECT_EQ(Setting(kValueConfigVersion), "");
    }
}

// --- installation clean-up -------------------------------------------------------

TEST_F(MonitorTest, InstalledPackageIsRemovedAfterTheStatusCheck)
{
    const struct {
        const char* name;
        const char* updateStt;
        const char* fileSw;
        bool packageThere;
        bool checkSucceeds;
        bool cleaned;
    } rows[] = {
        {"installed", "atualizado", "KVL-2.1.0.msi", true, true, true},
        {"after a failed check too", "atualizado", "KVL-2.1.0.msi", true, false, true},
        {"word with a capital", "Atualizado", "KVL-2.1.0.msi", true, true, false},
        {"still installing", "atualizando", "KVL-2.1.0.msi", true, true, false},
        {"package already gone", "atualizado", "KVL-2.1.0.msi", false, true, false},
        {"empty name", "atualizado", "", false, true, false},
        // A name from the server that leaves the installation directory.
        {"path in the name", "atualizado", "..\\outside.msi", true, true, false},
        // Nor a program of the installation itself.
        {"library of the installation", "atualizado", "Ferolin.dll", true, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        platform_ = FakePlatform();
        ProvisionInstallation();
        Set(kValueStatus, "bloqueado"); // no scheduled checks in the way
        Set(kValueUpdateState, row.updateStt);
        Set(kValueSoftwareFile, row.fileSw);
        const std::string package = std::string(kTestInstallDir) + row.fileSw;
        if (row.packageThere)
            PutFile(package, "MSI");
        world.checkStatus = row.checkSucceeds ? FakeAnswer{0, "bloqueado"} : FakeAnswer{4, std::nullopt};
        Start(kStart);
        Pass(kStart);

        if (row.fileSw[0] != '\0') {
            EXPECT_EQ(FileExists(package), row.packageThere && !row.cleaned);
        }
        EXPECT_EQ(Setting(kValueSoftwareFile), row.cleaned ? "" : row.fileSw);
        EXPECT_EQ(Setting(kValueUpdateState), row.cleaned ? "1.0.28" : row.updateStt);
        DeleteFileA(package.c_str());
    }
}

// The installer still reads the package (it shares reading, not deletion):
// both values stay, and the first status check after it let go cleans up.
TEST_F(MonitorTest, PackageStillHeldIsRemovedAtALaterCheck)
{
    ProvisionInstallation();
    Set(kValueStatus, "bloqueado");
    Set(kValueUpdateState, "atualizado");
    Set(kValueSoftwareFile, "KVL-2.1.0.msi");
    const std::string package = std::string(kTestInstallDir) + "KVL-2.1.0.msi";
    PutFile(package, "MSI");
    world.checkStatus = FakeAnswer{0, "bloqueado"};
    HANDLE installer = CreateFileA(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(installer, INVALID_HANDLE_VALUE);
    Start(kStart);
    Pass(kStart);
    CloseHandle(installer);
    EXPECT_TRUE(FileExists(package));
    EXPECT_EQ(Setting(kValueSoftwareFile), "KVL-2.1.0.msi");
    EXPECT_EQ(Setting(kValueUpdateState), "atualizado");

    Pass(kStart + kStatusCheckInterval);
    EXPECT_FALSE(FileExists(package));
    EXPECT_EQ(Setting(kValueSoftwareFile), "");
    EXPECT_EQ(Setting(kValueUpdateState), "1.0.28");
}

} // namespace
