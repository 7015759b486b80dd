// The monitoring loop as the service runs it for days, compressed: start-up,
// then pass after pass on a synthetic clock (180 s a pass, a scheduled run
// every hour), with the real library entry linked in, the real settings key
// and files, and the development update server misbehaving at random from a
// fixed seed. The service manager and the shell are the monitoring tests'
// fakes, so no pass waits for anything but the network.
//
//   KVL_SOAK_PASSES  passes of the soak (default 120; docs/soak.md has the
//                    long run)
//   KVL_SOAK_SEED    seed of the misbehaviour (default 20261207)
//   KVL_FULL_DISK_DIR  the full-disk fixture's folder (its status line)
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "account_rules.h"
#include "check_test_support.h"
#include "ferolin_entry.h"
#include "ferolin_seams.h"
#include "monitor_fakes.h"
#include "monitor_pass.h"
#include "monitor_test_support.h"
#include "part_file.h"
#include "process_counters.h"
#include "service_limits.h"
#include "service_log.h"
#include "settings_names.h"
#include "transfer_limits_scope.h"
#include "update_installation.h"
#include "url_download.h"

namespace {

// How a check of the library ends when the server misbehaves one way.
enum class Outcome {
    Stored,        // the reply arrived and its values are written
    NothingStored, // the reply arrived (result 0) but holds nothing to store
    Failed,        // the exchange failed (result 4)
};

struct FaultKind {
    const char* name;
    const char* fault; // the devserver's fault object
    Outcome outcome;
};

// The limits the library runs with here: a held answer fails after a few
// seconds instead of two minutes, a transfer below a sixteenth of the shipped
// minimum speed (the files here are small) after two, a configuration
// download after three. The faults below are measured against them.
constexpr TransferLimits kSoakLimits = {3, kDefaultTransferLimits.lowSpeedBytes / 16, 2, 3, 3};
// The longest a pass may hold the loop: its four check requests and its two
// configuration downloads at their limits, and Wine's overhead. Within it the
// next status check comes on time, whatever the server did.
constexpr double kPassBoundSeconds = 4 * kSoakLimits.postSeconds + 2 * kSoakLimits.configSeconds + 10.0;

// Every misbehaviour of the update server that the soak draws from and that
// the fault case runs one by one. A new kind is one more line.
const FaultKind kServerFaults[] = {
    {"slow answer", R"({"delay_ms": 300})", Outcome::Stored},
    {"short stall", R"({"stall_ms": 300})", Outcome::Stored},
    {"answer later than the limit", R"({"delay_ms": 5000})", Outcome::Failed},
    {"stall longer than the limit", R"({"stall_ms": 5000})", Outcome::Failed},
    {"dropped connection", R"({"drop": true})", Outcome::Failed},
    {"connection reset", R"({"reset": true})", Outcome::Failed},
    {"stall in the middle of the body", R"({"stall_ms": 5000, "stall_after": 10})", Outcome::Failed},
    {"chunked body dropped", R"({"drop_after": 10})", Outcome::Failed},
    {"body cut short of its length", R"({"cut_after": 10})", Outcome::Failed},
    {"error page", R"({"http_status": 500})", Outcome::NothingStored},
    {"not a reply", R"({"body": "<html>maintenance</html>"})", Outcome::NothingStored},
    {"empty reply", R"({"body": ""})", Outcome::NothingStored},
};

// Misbehaviours of the file server: each makes the configuration download
// fail, so "v_cnf" is emptied and the old file stays.
const char* const kFileFaults[] = {
    R"({"truncate": true})",
    R"({"http_status": 404})",
    R"({"trickle_bytes": 1, "trickle_ms": 500})",
};

const char* const kStatusWords[] = {"ativo", "bloqueado", "cancelado"};

// What the soak allows the process to grow by between the end of its warm-up
// and its last pass. A handle per check, or a few hundred bytes per exchange
// kept, is more than this over a thousand passes.
constexpr unsigned long kHandleSlack = 4;
constexpr std::size_t kPrivateBytesSlack = 512u << 10;

std::string ConfigText(int version) { return "remote vpn.example 1194\n# version " + std::to_string(version) + "\n"; }

// What the server answers in one pass: the status word, the configuration
// version it offers, and the faults of each method and of the file.
struct Answers {
    std::string word = "ativo";
    int version = 7;
    const FaultKind* status = nullptr;
    const FaultKind* config = nullptr;
    const FaultKind* software = nullptr;
    const char* file = nullptr;
};

std::string StateOf(const Answers& answers)
{
    std::string misbehave;
    for (const auto& [method, kind] : {std::pair{"chk_stt", answers.status}, std::pair{"chk_cnf_upd", answers.config},
                                       std::pair{"chk_sw_upd", answers.software}}) {
        if (kind == nullptr)
            continue;
        misbehave += std::string(misbehave.empty() ? "" : ", ") + "\"" + method + "\": " + kind->fault;
    }
    const std::string version = std::to_string(answers.version);
    return R"({"subscribers": {"checker": {
        "status": {"result": "0", "v_stt": "3", "stt": ")" +
        answers.word + R"(", "msg": "Conta"},
        "config": {"result": "0", "files": [
            {"v_cnf": ")" +
        version + R"(", "is_cnf": "1", "url_cnf": "{{files}}/vpn.conf", "sub_dir": "", "file_cnf": "vpn.conf"}]},
        "misbehave": {)" +
        misbehave + "}}}" +
        (answers.file ? std::string(", \"file_faults\": {\"vpn.conf\": ") + answers.file + "}" : "") + "}";
}

// Wine 8 opens a new root key for every access to HKEY_CLASSES_ROOT in the
// 32-bit view and never closes it (a failed open too), and every status check
// writes the machine identity there. Measured, so that any other growth still
// counts: one handle under Wine 8, none on Windows.
unsigned long ClassesRootLeakPerOpen()
{
    constexpr unsigned long kOpens = 10;
    const unsigned long before = ReadProcessCounters().handles;
    for (unsigned long i = 0; i < kOpens; ++i) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kIdentitySubkey, 0, KEY_READ | KEY_WOW64_32KEY, &key) == ERROR_SUCCESS)
            RegCloseKey(key);
    }
    const unsigned long after = ReadProcessCounters().handles;
    return after > before ? (after - before) / kOpens : 0;
}

int EnvironmentNumber(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

class RunningServiceTest : public CheckTest {
protected:
    void SetUp() override
    {
        CheckTest::SetUp();
        ASSERT_TRUE(SetSettingsForTest({{kValueStatusVersion, ""},
                                        {kValueConfigVersion, ""},
                                        {kValueFileVersion, ""},
                                        {kValueSoftwareVersion, "1.0"},
                                        {kValueUpdateHours, "1"},
                                        {kValueStatus, "ativo"}}));
        std::snprintf(logPath, sizeof logPath, "%s", logFile_.c_str());
        // Whatever the library or its transport would leave in the temporary
        // folder lands in one of this case's own.
        CreateDirectoryA(tempDir_.c_str(), nullptr);
        ASSERT_TRUE(SetEnvironmentVariableA("TMP", tempDir_.c_str()));
        ASSERT_TRUE(SetEnvironmentVariableA("TEMP", tempDir_.c_str()));
        platform_ = FakePlatform();
        platform_.ferolin = Ferolin;
    }

    void TearDown() override
    {
        ResetLogPath();
        SetState("{}");
    }

    void Serve(const Answers& answers)
    {
        ServeFile(kConfigName, ConfigText(answers.version));
        SetState(StateOf(answers));
    }

    // One pass at `now`; returns what the fakes saw. Their records are the
    // test's, not the loop's, so they are emptied: they must not grow for a
    // thousand passes.
    std::vector<std::string> Pass(std::int64_t now)
    {
        world.now = now;
        RunMonitorPass(state_, platform_, now);
        std::vector<std::string> events;
        events.swap(world.events);
        world.sleeps.clear();
        world.processWaits.clear();
        return events;
    }

    // The update methods asked for since the last call.
    struct Asked {
        int status = 0;
        int config = 0;
        int software = 0;
    };
    Asked TakeAsked()
    {
        Asked asked;
        for (const LoggedRequest& request : log_.TakeNewRequests()) {
            asked.status += request.method == "chk_stt" ? 1 : 0;
            asked.config += request.method == "chk_cnf_upd" ? 1 : 0;
            asked.software += request.method == "chk_sw_upd" ? 1 : 0;
        }
        return asked;
    }

    std::string Setting(const char* name) const { return GetSettingForTest(name).value_or("<missing>"); }
    std::string ConfigPath() const { return std::string(kTestConfigDir) + "\\" + kConfigName; }
    int CountLogged(const std::string& message) const
    {
        const std::string log = ReadWholeFile(logFile_).value_or("");
        int count = 0;
        for (std::size_t at = log.find(" " + message + "\r\n"); at != std::string::npos;
             at = log.find(" " + message + "\r\n", at + 1))
            ++count;
        return count;
    }

    const std::string logFile_ = std::string(kTestRoot) + "\\kvlservice.log";
    const std::string tempDir_ = std::string(kTestRoot) + "\\tmp";
    ScopedTransferLimits limits_{kSoakLimits};
    MonitorPlatform platform_{};
    MonitorState state_{};
};

// For each way the server misbehaves, on every method at once: the pass
// returns, both schedules keep their step, and the seven-day rule blocks only
// when the exchange failed and the last success is seven days old.
TEST_F(RunningServiceTest, EveryServerFaultKeepsTheScheduleAndBlocksOnlyAfterSevenDays)
{
    for (const FaultKind& kind : kServerFaults) {
        SCOPED_TRACE(kind.name);
        const bool fails = kind.outcome == Outcome::Failed;
        platform_ = FakePlatform();
        platform_.ferolin = Ferolin;
        world.vpnState = SERVICE_RUNNING;
        DeleteFileA(logFile_.c_str());
        ASSERT_TRUE(SetSettingForTest(kValueStatus, "ativo"));
        ASSERT_TRUE(SetSettingForTest(kValueConfigVersion, "7"));
        ASSERT_TRUE(SetSettingForTest(kValueConfigFile, kConfigName));
        ASSERT_TRUE(SetSettingForTest(kValueStatusDay, DayStampOf(kStart - 6 * kDay)));
        ASSERT_TRUE(WriteWholeFile(ConfigPath(), ConfigText(7)));
        Answers answers;
        answers.status = answers.config = answers.software = &kind;
        Serve(answers);
        TakeAsked();
        state_ = MonitorState{};
        StartMonitor(state_, platform_, kTestInstallDir, kStart);

        // Six days since the last success: a failure changes nothing.
        Pass(kStart);
        EXPECT_EQ(state_.nextStatusCheck, kStart + kStatusCheckInterval);
        EXPECT_EQ(state_.nextUpdate, kStart + 3600);
        Asked asked = TakeAsked();
        EXPECT_EQ(asked.status, 1);
        EXPECT_EQ(asked.config, 2);
        EXPECT_EQ(asked.software, 1);
        EXPECT_EQ(state_.account, AccountState::Active);
        EXPECT_EQ(Setting(kValueStatusDay), DayStampOf(fails ? kStart - 6 * kDay : kStart));
        EXPECT_TRUE(FileExists(ConfigPath()));

        // Seven days: the failed check blocks at once and ends the VPN
        // connection through the elevated stop.
        const std::int64_t second = kStart + kStatusCheckInterval;
        ASSERT_TRUE(SetSettingForTest(kValueStatusDay, DayStampOf(second - 7 * kDay)));
        const std::vector<std::string> events = Pass(second);
        EXPECT_EQ(std::count(events.begin(), events.end(),
                             std::string("shell runas ") + kTestInstallDir + "bin\\Halvex.exe -stop"),
                  fails ? 1 : 0);
        EXPECT_EQ(state_.nextStatusCheck, second + kStatusCheckInterval);
        EXPECT_EQ(state_.account, fails ? AccountState::Blocked : AccountState::Active);
        EXPECT_EQ(CountLogged("KVLServiceThread 7d blocked"), fails ? 1 : 0);
        EXPECT_EQ(FileExists(ConfigPath()), !fails);
        if (fails) {
            EXPECT_EQ(Setting(kValueConfigVersion), "");
            EXPECT_EQ(Setting(kValueConfigState), "0");
        } else {
            EXPECT_EQ(Setting(kValueStatusDay), DayStampOf(second));
        }

        // An hour on: the scheduled run comes on time unless blocked, and a
        // blocked account is blocked again at the next failure.
        const std::int64_t hourOn = kStart + 3600;
        Pass(hourOn);
        EXPECT_EQ(state_.nextStatusCheck, hourOn + kStatusCheckInterval);
        EXPECT_EQ(state_.nextUpdate, fails ? hourOn : hourOn + 3600);
        asked = TakeAsked();
        EXPECT_EQ(asked.status, 2);
        EXPECT_EQ(asked.software, fails ? 0 : 1);
        EXPECT_EQ(CountLogged("KVLServiceThread 7d blocked"), fails ? 2 : 0);
    }
}

// A configuration file that trickles (a byte every half second, steady but
// far below the minimum speed) ends within its bounds: the pass returns in
// time for the next status check, the old file stays, its version is
// emptied so the next check asks again, and no scratch file is left.
TEST_F(RunningServiceTest, ATrickledConfigurationFileDoesNotHoldTheNextStatusCheck)
{
    world.vpnState = SERVICE_RUNNING;
    ASSERT_TRUE(SetSettingForTest(kValueConfigVersion, "7"));
    ASSERT_TRUE(SetSettingForTest(kValueConfigFile, kConfigName));
    ASSERT_TRUE(WriteWholeFile(ConfigPath(), ConfigText(7)));
    Answers answers;
    answers.version = 8;
    answers.file = R"({"trickle_bytes": 1, "trickle_ms": 500})";
    Serve(answers);
    TakeAsked();
    StartMonitor(state_, platform_, kTestInstallDir, kStart);

    const DWORD passStart = GetTickCount();
    Pass(kStart);
    EXPECT_LE((GetTickCount() - passStart) / 1000.0, kPassBoundSeconds);
    EXPECT_EQ(TakeAsked().config, 2);
    EXPECT_EQ(Setting(kValueConfigVersion), "");
    EXPECT_EQ(ReadWholeFile(ConfigPath()), ConfigText(7));
    EXPECT_EQ(ScratchFilesOf(ConfigPath()), 0);

    const std::int64_t next = kStart + kStatusCheckInterval;
    EXPECT_EQ(state_.nextStatusCheck, next);
    Pass(next);
    EXPECT_EQ(TakeAsked().status, 1);
    EXPECT_EQ(state_.nextStatusCheck, next + kStatusCheckInterval);
}

// The clock set back a day or forward three days after the first pass at
// kStart: the status is checked at once and one line notes the restart;
// the hourly run comes an hour after a jump back, at once after one forward
// (one late run), and the schedule goes on from the new time.
TEST_F(RunningServiceTest, AClockThatJumpsChecksAtOnceAndRestartsTheScheduleFromNow)
{
    const struct {
        std::int64_t jumpedTo, nextUpdateBefore, nextRunAt;
        int runsAtTheJump;
    } jumps[] = {{kStart - kDay, kStart + 3600, kStart - kDay + 3600, 0},
                 {kStart + 3 * kDay, kStart + 7200, kStart + 3 * kDay + 3600, 1}};
    Serve(Answers{});
    for (const auto& jump : jumps) {
        SCOPED_TRACE(jump.jumpedTo - kStart);
        state_ = MonitorState{};
        StartMonitor(state_, platform_, kTestInstallDir, kStart);
        Pass(kStart);
        TakeAsked();
        Pass(jump.jumpedTo);
        const Asked asked = TakeAsked();
        EXPECT_EQ(asked.status, 1);
        EXPECT_EQ(asked.software, jump.runsAtTheJump);
        EXPECT_EQ(CountLogged("nextUpdate <" + std::to_string(jump.nextUpdateBefore) + "> now <" +
                              std::to_string(jump.jumpedTo) + ">"),
                  1);
        Pass(jump.nextRunAt);
        EXPECT_EQ(TakeAsked().software, 1);
    }
}

// The small drive of the full-disk fixture (a tmpfs of 2 MiB).
constexpr char kFullDrive[] = "X:\\";
constexpr char kFullRoot[] = "X:\\kvl";
constexpr char kFullInstallDir[] = "X:\\kvl\\inst\\";
constexpr char kFullConfigDir[] = "X:\\kvl\\config";
constexpr ULONGLONG kFullDriveLargest = 4ull << 20;
constexpr std::size_t kPage = 4096;

// Skips, or fails where the drive must be there, unless the fixture mounted it.
std::string FullDiskUnavailable()
{
    const char* dir = std::getenv("KVL_FULL_DISK_DIR");
    if (dir == nullptr)
        return "failed: KVL_FULL_DISK_DIR is not set";
    std::string status = ReadWholeFile(WindowsPathOfLinuxPath(dir) + "\\status").value_or("failed: no status file");
    status.erase(status.find_last_not_of("\r\n") + 1);
    if (status != "mounted")
        return status;
    ULARGE_INTEGER free, total;
    if (!GetDiskFreeSpaceExA(kFullDrive, &free, &total, nullptr) || total.QuadPart > kFullDriveLargest)
        return "failed: X: is not the fixture's small drive";
    return "";
}

ULONGLONG FreeBytes()
{
    ULARGE_INTEGER free;
    return GetDiskFreeSpaceExA(kFullDrive, &free, nullptr, nullptr) ? free.QuadPart : 0;
}

// Writes `filler` until the drive has `room` bytes left (written out: a file
// merely set to its length takes no room on this file system).
bool FillLeaving(const std::string& filler, ULONGLONG room)
{
    DeleteFileA(filler.c_str());
    const ULONGLONG free = FreeBytes();
    if (free < room)
        return false;
    FILE* file = std::fopen(filler.c_str(), "wb");
    if (file == nullptr)
        return false;
    const std::string chunk(64 * 1024, 'f');
    for (ULONGLONG left = free - room; left > 0;) {
        const std::size_t part = static_cast<std::size_t>(std::min<ULONGLONG>(left, chunk.size()));
        if (std::fwrite(chunk.data(), 1, part, file) != part)
            break;
        left -= part;
    }
    return std::fclose(file) == 0 && FreeBytes() == room;
}

// Every line whole: one time stamp, its text and the line end (a line cut
// short runs into the next one's stamp).
bool EveryLineWhole(const std::string& log)
{
    static const std::regex stamp(R"(\d\d/\d\d/\d\d-\d\d:\d\d:\d\d )");
    std::ptrdiff_t lines = 0;
    for (std::size_t start = 0; start < log.size(); start = log.find("\r\n", start) + 2, ++lines)
        if (log.find("\r\n", start) == std::string::npos ||
            !std::regex_search(log.begin() + start, log.end(), stamp, std::regex_constants::match_continuous))
            return false;
    return std::distance(std::sregex_iterator(log.begin(), log.end(), stamp), std::sregex_iterator()) == lines;
}

// The configuration folder, the installation folder and the log on a small
// drive that fills up. A configuration file or package that does not fit,
// by far or by its last bytes only, is a failed download: the old file
// stays, no scratch file is left, the configuration's version is emptied (a
// package's offer stays) so that the next run fetches it again, which it
// does once there is room. The loop checks the status on time meanwhile, and
// its log loses the lines that do not fit, whole, never half a line.
TEST_F(RunningServiceTest, AFullDiskFailsTheDownloadKeepsTheOldFileAndTheLoopGoesOn)
{
    const std::string unavailable = FullDiskUnavailable();
    if (unavailable.rfind("unavailable", 0) == 0)
        GTEST_SKIP() << "no small drive to fill: " << unavailable;
    ASSERT_EQ(unavailable, "");

    const struct {
        const char* name;
        bool package;
        std::size_t roomPages;    // left on the drive
        std::size_t fileBytes;    // of the new file
        std::size_t logRoomBytes; // left in the log's last page
    } rows[] = {
        {"configuration far larger than the room", false, 2, 64 * 1024, 3000},
        {"configuration whose last bytes do not fit", false, 8, 8 * kPage + 100, 3000},
        {"no room at all, not even for a log line", false, 0, 1000, 10},
        {"package far larger than the room", true, 2, 64 * 1024, 3000},
        {"package whose last bytes do not fit", true, 8, 8 * kPage + 100, 3000},
    };
    const std::string configPath = std::string(kFullConfigDir) + "\\" + kConfigName;
    const std::string packagePath = std::string(kFullInstallDir) + "kvl.msi";
    const std::string filler = std::string(kFullRoot) + "\\filler";
    ASSERT_TRUE(SetSettingForTest(kValueInstallDir, kFullInstallDir));
    ASSERT_TRUE(SetSettingForTest(kValueConfigDir, kFullConfigDir));
    ASSERT_TRUE(SetSettingForTest(kValueConfigFile, kConfigName));
    ASSERT_TRUE(SetSettingForTest(kValueSoftwareUrl, FilesUrl() + "/kvl.msi"));
    ASSERT_TRUE(SetSettingForTest(kValueSoftwareFile, "kvl.msi"));
    std::snprintf(logPath, sizeof logPath, "%s\\kvlservice.log", kFullRoot);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RemoveTree(kFullRoot);
        for (const std::string folder : {"", "\\inst", "\\inst\\bin", "\\config"})
            ASSERT_TRUE(CreateDirectoryA((kFullRoot + folder).c_str(), nullptr));
        for (const char* pem : {"bin\\client_cert.pem", "bin\\client_key.pem"})
            ASSERT_TRUE(CopyFileA((std::string(kTestInstallDir) + pem).c_str(),
                                  (std::string(kFullInstallDir) + pem).c_str(), FALSE));
        ASSERT_TRUE(WriteWholeFile(configPath, ConfigText(7)));
        ASSERT_TRUE(WriteWholeFile(packagePath, "the package installed before"));
        const std::string firstLine = "12/07/26-12:00:00 ";
        ASSERT_TRUE(WriteWholeFile(
            logPath, firstLine + std::string(kPage - row.logRoomBytes - firstLine.size() - 2, '-') + "\r\n"));
        ASSERT_TRUE(SetSettingForTest(kValueConfigVersion, "7"));
        ASSERT_TRUE(SetSettingForTest(kValueUpdateState, "1.0.28"));
        const std::string newFile = ConfigText(8) + std::string(row.fileBytes - ConfigText(8).size(), '#');
        Answers answers;
        answers.version = 8;
        SetState(StateOf(answers));
        ServeFile(row.package ? "kvl.msi" : kConfigName, newFile);
        TakeAsked();
        ASSERT_TRUE(FillLeaving(filler, row.roomPages * kPage));
        const std::size_t logBefore = ReadWholeFile(logPath).value_or("").size();

        // Full: the download fails and leaves everything as it was.
        state_ = MonitorState{};
        StartMonitor(state_, platform_, kFullInstallDir, kStart);
        if (row.package) {
            EXPECT_EQ(Ferolin("-update", 12), kUpdateDownloadFailed);
            EXPECT_EQ(ReadWholeFile(packagePath), "the package installed before");
            EXPECT_EQ(Setting(kValueSoftwareFile), "kvl.msi");
            EXPECT_EQ(Setting(kValueUpdateState), "1.0.28");
        } else {
            Pass(kStart);
            EXPECT_EQ(TakeAsked().config, 2);
            EXPECT_EQ(Setting(kValueConfigVersion), "");
            // Compared without printing 32 KiB; its size tells a cut file.
            EXPECT_TRUE(ReadWholeFile(configPath) == ConfigText(7)) << ReadWholeFile(configPath).value_or("").size();
            // Still full, the next status check comes on time.
            Pass(kStart + kStatusCheckInterval);
            EXPECT_EQ(TakeAsked().status, 1);
            EXPECT_EQ(state_.nextStatusCheck, kStart + 2 * kStatusCheckInterval);
        }
        // Nothing but what was there: no scratch file of either download.
        std::vector<std::string> names;
        for (const auto& entry : TreeOf(kFullRoot))
            names.push_back(entry.first);
        EXPECT_EQ(names,
                  (std::vector<std::string>{"config\\", "config\\vpn.conf", "filler", "inst\\", "inst\\bin\\",
                                            "inst\\bin\\client_cert.pem", "inst\\bin\\client_key.pem", "inst\\kvl.msi",
                                            "kvlservice.log"}));
        if (row.roomPages == 0) {
            EXPECT_EQ(ReadWholeFile(logPath).value_or("").size(), logBefore);
        }

        // Room again: the next run fetches the file.
        ASSERT_TRUE(DeleteFileA(filler.c_str()));
        if (row.package) {
            EXPECT_EQ(FetchURLToFile((FilesUrl() + "/kvl.msi").c_str(), kFullInstallDir, "kvl.msi"), 1);
            EXPECT_TRUE(ReadWholeFile(packagePath) == newFile);
        } else {
            Pass(kStart + 3600);
            const std::vector<std::string> asked = RequestMembers("chk_cnf_upd");
            ASSERT_GE(asked.size(), 2u);
            EXPECT_NE(asked[asked.size() - 2].find(R"("v_cnf":"","cnf_only":"1")"), std::string::npos);
            EXPECT_EQ(Setting(kValueConfigVersion), "8");
            EXPECT_TRUE(ReadWholeFile(configPath) == newFile);
        }
        EXPECT_TRUE(EveryLineWhole(ReadWholeFile(logPath).value_or("")));
    }
    RemoveTree(kFullRoot);
}

// The soak: every pass draws the server's answers and faults, and the key,
// the files and both schedules must follow what the server said; at the end
// the process holds what it held after the warm-up, the log keeps its size
// rule and no scratch file is left.
TEST_F(RunningServiceTest, SoakAgainstAServerThatMisbehavesAtRandom)
{
    const int passes = EnvironmentNumber("KVL_SOAK_PASSES", 120);
    const unsigned seed = static_cast<unsigned>(EnvironmentNumber("KVL_SOAK_SEED", 20261207));
    const int warmUp = std::max(10, passes / 10);
    ASSERT_GT(passes, warmUp);
    std::mt19937 random(seed);
    const auto chance = [&random](int percent) { return std::uniform_int_distribution<int>(0, 99)(random) < percent; };
    const auto pick = [&random](const auto& table) {
        return &table[std::uniform_int_distribution<std::size_t>(0, std::size(table) - 1)(random)];
    };

    // The log starts just short of its size rule, so even a short run
    // crosses it.
    ASSERT_TRUE(WriteWholeFile(logFile_, std::string(kLogWrapSize - 2000, '-') + "\r\n"));
    ASSERT_TRUE(SetSettingForTest(kValueConfigFile, kConfigName));
    TakeAsked();
    StartMonitor(state_, platform_, kTestInstallDir, kStart);

    // What the key must say, from the answers alone.
    std::string word = "ativo";
    std::optional<std::string> statusDay;
    AccountState account = AccountState::Active;
    std::int64_t nextUpdate = kStart;
    std::string configVersion = Setting(kValueConfigVersion);

    Answers answers;
    ProcessCounters warm;
    int failedChecks = 0;
    int scheduledRuns = 0;
    double longestPass = 0;
    const DWORD started = GetTickCount();
    for (int pass = 0; pass < passes && !HasFailure(); ++pass) {
        SCOPED_TRACE("pass " + std::to_string(pass) + " of seed " + std::to_string(seed));
        const std::int64_t now = kStart + pass * kStatusCheckInterval;
        if (chance(4))
            ++answers.version;
        answers.word = chance(90) ? "ativo" : *pick(kStatusWords);
        answers.status = chance(25) ? pick(kServerFaults) : nullptr;
        answers.config = chance(25) ? pick(kServerFaults) : nullptr;
        answers.software = chance(25) ? pick(kServerFaults) : nullptr;
        answers.file = chance(10) ? *pick(kFileFaults) : nullptr;
        Serve(answers);

        const DWORD passStart = GetTickCount();
        Pass(now);
        const double passSeconds = (GetTickCount() - passStart) / 1000.0;
        longestPass = std::max(longestPass, passSeconds);
        EXPECT_LE(passSeconds, kPassBoundSeconds);

        const Outcome status = answers.status ? answers.status->outcome : Outcome::Stored;
        if (status == Outcome::Stored && answers.word != word) {
            word = answers.word;
            account = AccountOfWord(word);
        }
        if (status != Outcome::Failed || !statusDay)
            statusDay = DayStampOf(now);
        failedChecks += status == Outcome::Failed ? 1 : 0;
        const bool scheduled = ChecksRun(account) && now >= nextUpdate;
        if (scheduled) {
            nextUpdate += 3600;
            ++scheduledRuns;
        }

        EXPECT_EQ(state_.nextStatusCheck, now + kStatusCheckInterval);
        EXPECT_EQ(state_.nextUpdate, nextUpdate);
        EXPECT_EQ(state_.account, account);
        const Asked asked = TakeAsked();
        EXPECT_EQ(asked.status, 1);
        EXPECT_EQ(asked.software, scheduled ? 1 : 0);
        EXPECT_EQ(Setting(kValueStatus), word);
        EXPECT_EQ(Setting(kValueStatusDay), *statusDay);
        EXPECT_EQ(Setting(kValueLastTime), std::to_string(now));

        // The configuration version names the file that is there, and a
        // blocked or cancelled account has neither.
        if (!ChecksRun(account))
            configVersion = "";
        else if (asked.config > 0 && (answers.config ? answers.config->outcome : Outcome::Stored) == Outcome::Stored)
            configVersion = answers.file ? "" : std::to_string(answers.version);
        EXPECT_EQ(Setting(kValueConfigVersion), configVersion);
        if (!ChecksRun(account)) {
            EXPECT_FALSE(FileExists(ConfigPath()));
        } else if (!configVersion.empty()) {
            EXPECT_EQ(ReadWholeFile(ConfigPath()), ConfigText(std::stoi(configVersion)));
        }

        if (pass + 1 == warmUp)
            warm = ReadProcessCounters();
    }
    const ProcessCounters end = ReadProcessCounters();
    const unsigned long platformLeak = ClassesRootLeakPerOpen();
    std::printf("soak: %d passes, seed %u, %.1f s (longest pass %.1f s); %d failed status checks, %d scheduled runs\n"
                "soak: after %d passes: private %zu bytes, pagefile %zu bytes, %lu handles\n"
                "soak: at the end:      private %zu bytes, pagefile %zu bytes, %lu handles\n"
                "soak: the platform keeps %lu handle(s) per identity key access\n",
                passes, seed, (GetTickCount() - started) / 1000.0, longestPass, failedChecks, scheduledRuns, warmUp,
                warm.privateBytes, warm.pagefileBytes, warm.handles, end.privateBytes, end.pagefileBytes, end.handles,
                platformLeak);
    ASSERT_FALSE(HasFailure());
    EXPECT_GT(scheduledRuns, 0);
    EXPECT_GT(failedChecks, 0);

    // Counted by ReadProcessCounters, which reads real numbers under Wine.
    EXPECT_GT(warm.handles, 0u);
    // One identity key access per status check, one status check per pass.
    const unsigned long identityAccesses = static_cast<unsigned long>(passes - warmUp);
    EXPECT_LE(end.handles, warm.handles + kHandleSlack + platformLeak * identityAccesses);
    EXPECT_LE(end.privateBytes, warm.privateBytes + kPrivateBytesSlack);

    // The log crossed its size rule and stopped growing there.
    const std::size_t logSize = ReadWholeFile(logFile_).value_or("").size();
    EXPECT_GT(logSize, static_cast<std::size_t>(kLogWrapSize));
    EXPECT_LE(logSize, static_cast<std::size_t>(kLogWrapSize) + kLogLineSize + 1);

    // Nothing but the installation's files, the configuration and the log;
    // no scratch download, nothing in the temporary folder.
    std::map<std::string, std::string> tree = TreeOf(kTestRoot);
    tree.erase(std::string("config\\") + kConfigName);
    std::vector<std::string> names;
    for (const auto& entry : tree)
        names.push_back(entry.first);
    EXPECT_EQ(names,
              (std::vector<std::string>{"config\\", "inst\\", "inst\\bin\\", "inst\\bin\\client_cert.pem",
                                        "inst\\bin\\client_key.pem", "kvlservice.log", "tmp\\"}));
}

} // namespace
