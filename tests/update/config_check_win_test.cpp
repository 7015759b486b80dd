// "-checkconfig" against the development update server: the version it sends,
// what it records, where the files land, and that no failure or hostile name
// costs a working file or touches anything outside the base directories.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "check_test_support.h"
#include "ferolin_entry.h"
#include "request_road.h"
#include "https_transport.h"
#include "part_file.h"
#include "settings_names.h"
#include "transfer_limits_scope.h"

namespace {

using Tree = std::map<std::string, std::string>;

// The scratch tree's view of the two base directories.
constexpr char kConfigDirInTree[] = "config\\";
constexpr char kInstallDirInTree[] = "inst\\";
// A file beside the base directories, where "..\x" would lead.
constexpr char kSentinel[] = "C:\\kvlchecks\\x";
constexpr char kRootX[] = "C:\\x";

struct Entry {
    std::string v_cnf;
    std::string is_cnf;
    std::string url_cnf;
    std::string sub_dir;
    std::string file_cnf;
};

class ConfigCheckTest : public CheckTest {
protected:
    void SetUp() override
    {
        CheckTest::SetUp();
        ASSERT_TRUE(SetSettingsForTest({{kValueConfigOnly, "1"}, {kValueConfigVersion, "6"}, {kValueFileVersion, "3"}}));
        DeleteFileA(kRootX);
    }
    void TearDown() override { DeleteFileA(kRootX); }

    std::string Url(const std::string& served) const { return FilesUrl() + "/" + served; }

    // `fileFaults`: the members of the state file's "file_faults" object.
    static void ListFiles(const std::vector<Entry>& entries, const char* result = "0",
                          const std::string& fileFaults = "")
    {
        std::string files;
        for (const Entry& e : entries) {
            files += files.empty() ? "" : ",";
            files += "{\"v_cnf\":" + Quoted(e.v_cnf) + ",\"is_cnf\":" + Quoted(e.is_cnf) +
                ",\"url_cnf\":" + Quoted(e.url_cnf) + ",\"sub_dir\":" + Quoted(e.sub_dir) +
                ",\"file_cnf\":" + Quoted(e.file_cnf) + "}";
        }
        SetState(std::string(R"({"file_faults": {)") + fileFaults + R"(}, "subscribers": {")" + kTestUser +
                 R"(": {"config": {"result": ")" + result + R"(", "files": [)" + files + "]}}}}");
    }

    static std::string ConfigMembers(const std::string& version, const std::string& configOnly)
    {
        return R"({"m":"chk_cnf_upd","u":"checker","v_cnf":")" + version + R"(","cnf_only":")" + configOnly + "\"}";
    }
};

TEST_F(ConfigCheckTest, FetchesTheVpnFileIntoConfigDirAndOtherFilesIntoTheInstallation)
{
    ServeFile("vpn.conf", "remote vpn.example 1194\n");
    ServeFile("rules/rules.txt", "allow all\n");
    ListFiles({{"7", "1", Url("vpn.conf"), "", "vpn.conf"}, {"2", "0", Url("rules/rules.txt"), "rules", "rules.txt"}});
    Tree expected = TreeOf(kTestRoot);

    ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

    EXPECT_EQ(RequestMembers("chk_cnf_upd"), std::vector<std::string>{ConfigMembers("6", "1")});
    EXPECT_EQ(FileRequests(), (std::vector<std::string>{"/vpn.conf", "/rules/rules.txt"}));
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "7");
    EXPECT_EQ(GetSettingForTest(kValueConfigFile), "vpn.conf");
    EXPECT_EQ(GetSettingForTest(kValueConfigPath), "vpn.conf");
    EXPECT_EQ(GetSettingForTest(kValueFileVersion), "2");
    // The last entry processed.
    EXPECT_EQ(GetSettingForTest(kValueConfigUrl), Url("rules/rules.txt"));
    EXPECT_EQ(GetSettingForTest(kValueConfigSubDir), "rules");
    // The installation directory ends with a backslash, so the second path
    // had a doubled one. Nothing else is left behind (no scratch files).
    expected[std::string(kConfigDirInTree) + "vpn.conf"] = "remote vpn.example 1194\n";
    expected[std::string(kInstallDirInTree) + "rules\\"] = "";
    expected[std::string(kInstallDirInTree) + "rules\\rules.txt"] = "allow all\n";
    EXPECT_EQ(TreeOf(kTestRoot), expected);
}

TEST_F(ConfigCheckTest, CnfOnlyChoosesTheVersionSentUnderTheSameMemberName)
{
    ASSERT_TRUE(SetSettingForTest(kValueConfigVersion, "C"));
    ASSERT_TRUE(SetSettingForTest(kValueFileVersion, "F"));
    ListFiles({}, "1");
    std::vector<std::string> expected;
    for (const char* configOnly : {"1", "0", "", "x", "1 ", "01"}) {
        ASSERT_TRUE(SetSettingForTest(kValueConfigOnly, configOnly));
        EXPECT_EQ(Ferolin("-checkconfig", 12), kCheckDone) << configOnly;
        expected.push_back(ConfigMembers(std::string(configOnly) == "1" ? "C" : "F", configOnly));
    }
    EXPECT_EQ(RequestMembers("chk_cnf_upd"), expected);
}

TEST_F(ConfigCheckTest, MissingValuesSendNothing)
{
    ListFiles({}, "1");
    struct Case {
        const char* configOnly;
        const char* missing;
    };
    for (const Case& c : {Case{"1", kValueUserLogin}, Case{"1", kValueConfigOnly}, Case{"1", kValueConfigVersion},
                          Case{"0", kValueFileVersion}, Case{"1", kValueInstallDir}}) {
        RegistrySnapshot restore;
        ASSERT_TRUE(SetSettingForTest(kValueConfigOnly, c.configOnly));
        DeleteSettingForTest(c.missing);
        EXPECT_EQ(Ferolin("-checkconfig", 12), kCheckFailed) << c.missing;
    }
    // Five characters do not fit the reader's buffer of five bytes.
    ASSERT_TRUE(SetSettingForTest(kValueConfigOnly, "11111"));
    EXPECT_EQ(Ferolin("-checkconfig", 12), kCheckFailed);
    EXPECT_TRUE(RequestMembers("chk_cnf_upd").empty());
}

TEST_F(ConfigCheckTest, OnlyAnIsCnfOfExactlyOneIsTheVpnFile)
{
    ServeFile("k.conf", "k");
    for (const char* kind : {" 1", "01", "0", "", "2"}) {
        SCOPED_TRACE(std::string("is_cnf [") + kind + "]");
        DeleteFileA((std::string(kTestInstallDir) + "k.conf").c_str());
        ListFiles({{"8", kind, Url("k.conf"), "", "k.conf"}});
        ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);
        EXPECT_EQ(GetSettingForTest(kValueFileVersion), "8");
        EXPECT_TRUE(FileExists(std::string(kTestInstallDir) + "k.conf"));
    }
    // "cnf_only" is "1": what was asked for does not decide where it goes.
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "6");
    EXPECT_EQ(GetSettingForTest(kValueConfigFile), std::nullopt);
    EXPECT_FALSE(FileExists(std::string(kTestConfigDir) + "\\k.conf"));

    ListFiles({{"8", "1", Url("k.conf"), "", "k.conf"}});
    ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "8");
    EXPECT_EQ(GetSettingForTest(kValueConfigFile), "k.conf");
    EXPECT_EQ(ReadWholeFile(std::string(kTestConfigDir) + "\\k.conf"), "k");
}

TEST_F(ConfigCheckTest, ExistingSubDirIsUsedAsItIs)
{
    const std::string rules = std::string(kTestConfigDir) + "\\rules";
    ASSERT_TRUE(CreateDirectoryA(rules.c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(rules + "\\keep.txt", "mine"));
    ServeFile("r.txt", "fresh");
    ListFiles({{"7", "1", Url("r.txt"), "rules", "r.txt"}});

    ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

    EXPECT_EQ(ReadWholeFile(rules + "\\r.txt"), "fresh");
    EXPECT_EQ(ReadWholeFile(rules + "\\keep.txt"), "mine");
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "7");
    // Where the service finds the file to remove on a block.
    EXPECT_EQ(GetSettingForTest(kValueConfigPath), "rules\\r.txt");
}

TEST_F(ConfigCheckTest, OnlyOneLevelOfSubDirIsCreated)
{
    ServeFile("deep.txt", "deep");
    ServeFile("next.txt", "next");
    const std::vector<Entry> entries = {{"5", "0", Url("deep.txt"), "a\\b", "deep.txt"},
                                        {"6", "0", Url("next.txt"), "", "next.txt"}};
    ListFiles(entries);
    const Tree before = TreeOf(kTestRoot);

    ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

    // The list stopped at the first entry, with its version emptied (no file
    // of that version arrived, so the next check asks again).
    EXPECT_EQ(TreeOf(kTestRoot), before);
    EXPECT_TRUE(FileRequests().empty());
    EXPECT_EQ(GetSettingForTest(kValueFileVersion), "");
    // The reply's escapes arrive undecoded: the JSON text a\\b is recorded
    // with both backslashes, and the paths made from it carry a doubled one.
    EXPECT_EQ(GetSettingForTest(kValueConfigSubDir), "a\\\\b");

    // With the first level there, the second is made and both files come.
    ASSERT_TRUE(CreateDirectoryA((std::string(kTestInstallDir) + "a").c_str(), nullptr));
    ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);
    EXPECT_EQ(ReadWholeFile(std::string(kTestInstallDir) + "a\\b\\deep.txt"), "deep");
    EXPECT_EQ(ReadWholeFile(std::string(kTestInstallDir) + "next.txt"), "next");
    EXPECT_EQ(GetSettingForTest(kValueFileVersion), "6");
}

TEST_F(ConfigCheckTest, FiftyEntriesAreFetchedAndAFiftyFirstNeverRequested)
{
    std::vector<Entry> entries;
    for (int i = 0; i <= 50; ++i) {
        char name[16];
        snprintf(name, sizeof name, "f%02d", i);
        ServeFile(name, name);
        entries.push_back({std::string("v") + name, "", Url(name), "", name});
    }
    // Lean entries: the reply must stay within the parser's token budget.
    std::string files;
    for (const Entry& e : entries)
        files += (files.empty() ? "" : ",") + std::string("{\"v_cnf\":") + Quoted(e.v_cnf) +
            ",\"url_cnf\":" + Quoted(e.url_cnf) + ",\"file_cnf\":" + Quoted(e.file_cnf) + "}";
    SetState(std::string(R"({"subscribers": {")") + kTestUser + R"(": {"config": {"result": "0", "files": [)" + files +
             "]}}}}");

    ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

    std::vector<std::string> requested = FileRequests();
    ASSERT_EQ(requested.size(), 50u);
    EXPECT_EQ(requested.front(), "/f00");
    EXPECT_EQ(requested.back(), "/f49");
    for (int i = 0; i < 50; ++i) {
        char name[16];
        snprintf(name, sizeof name, "f%02d", i);
        EXPECT_EQ(ReadWholeFile(std::string(kTestInstallDir) + name), name);
    }
    EXPECT_FALSE(FileExists(std::string(kTestInstallDir) + "f50"));
    EXPECT_EQ(GetSettingForTest(kValueFileVersion), "vf49");
}

// Every way a transfer can go wrong: the old file survives, the version is
// emptied, the list stops, and the next check asks for the file again.
TEST_F(ConfigCheckTest, FailedDownloadKeepsTheOldFileAndEmptiesTheVersion)
{
    const std::string target = std::string(kTestConfigDir) + "\\vpn.conf";
    ServeFile("vpn.conf", "remote new.example 1194\n");
    ServeFile("other.txt", "other");
    const std::vector<Entry> entries = {{"7", "1", Url("vpn.conf"), "", "vpn.conf"},
                                        {"2", "0", Url("other.txt"), "", "other.txt"}};
    ServeFile("empty.conf", "");
    // A stall ends the transfer after two seconds without a byte.
    ScopedTransferLimits limits(TransferLimits{5, 1, 2, 20});
    struct Fault {
        const char* what;
        const char* served; // file the entry asks for
        const char* json;   // file server fault, or nullptr
    };
    const Fault faults[] = {
        {"cut short", "vpn.conf", R"({"truncate": true})"},
        {"connection dropped", "vpn.conf", R"({"drop": true})"},
        {"error page", "vpn.conf", R"({"http_status": 500, "body": "<html>server error</html>"})"},
        {"redirection", "vpn.conf", R"({"http_status": 302, "body": "<html>moved</html>"})"},
        {"stalled", "vpn.conf", R"({"stall_ms": 20000})"},
        {"empty body", "empty.conf", nullptr},
        {"missing file", "no-such.conf", nullptr},
        {"nobody listening", nullptr, nullptr},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.what);
        ASSERT_TRUE(WriteWholeFile(target, "remote old.example 1194\n"));
        ASSERT_TRUE(SetSettingForTest(kValueConfigVersion, "6"));
        std::vector<Entry> listed = entries;
        listed[0].url_cnf = fault.served == nullptr ? "http://127.0.0.1:1/vpn.conf" : Url(fault.served);
        ListFiles(listed, "0", fault.json == nullptr ? "" : "\"" + std::string(fault.served) + "\": " + fault.json);
        const Tree before = TreeOf(kTestRoot);
        const std::size_t requestsBefore = FileRequests().size();
        const auto started = std::chrono::steady_clock::now();

        ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(12)) << "within the stall limit";
        EXPECT_EQ(TreeOf(kTestRoot), before) << "old file kept, no scratch file left, nothing else fetched";
        EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "");
        EXPECT_EQ(GetSettingForTest(kValueFileVersion), "3");
        for (std::size_t i = requestsBefore; i < FileRequests().size(); ++i)
            EXPECT_NE(FileRequests()[i], "/other.txt");
    }

    // The server works again: the emptied version goes out and the file comes.
    ListFiles(entries);
    ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);
    EXPECT_EQ(RequestMembers("chk_cnf_upd").back(), ConfigMembers("", "1"));
    EXPECT_EQ(ReadWholeFile(target), "remote new.example 1194\n");
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "7");
    EXPECT_EQ(ReadWholeFile(std::string(kTestInstallDir) + "other.txt"), "other");
}

// Another file may be empty: it is stored as it came.
TEST_F(ConfigCheckTest, EmptyBodyOfAnotherFileIsStored)
{
    const std::string target = std::string(kTestInstallDir) + "rules.txt";
    ASSERT_TRUE(WriteWholeFile(target, "old rules"));
    ServeFile("rules.txt", "");
    ListFiles({{"4", "0", Url("rules.txt"), "", "rules.txt"}});

    ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

    EXPECT_EQ(ReadWholeFile(target), "");
    EXPECT_EQ(GetSettingForTest(kValueFileVersion), "4");
}

// The file arrived whole, but what stands at its place cannot be replaced
// (the old file held open by a program that does not share it, or a folder
// of that name): it stays as it was, the scratch file goes, and the version
// is emptied. (A read-only file would do on Windows; Wine, run as root here,
// replaces it.)
TEST_F(ConfigCheckTest, TargetThatCannotBeReplacedStaysAndTheVersionIsEmptied)
{
    const std::string target = std::string(kTestConfigDir) + "\\vpn.conf";
    ServeFile("vpn.conf", "remote new.example 1194\n");
    ListFiles({{"7", "1", Url("vpn.conf"), "", "vpn.conf"}});
    for (const char* hold : {"locked", "folder"}) {
        SCOPED_TRACE(hold);
        ASSERT_TRUE(SetSettingForTest(kValueConfigVersion, "6"));
        HANDLE lock = INVALID_HANDLE_VALUE;
        if (std::string(hold) == "locked") {
            ASSERT_TRUE(WriteWholeFile(target, "remote old.example 1194\n"));
            lock = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(lock, INVALID_HANDLE_VALUE);
        } else {
            ASSERT_TRUE(DeleteFileA(target.c_str()));
            ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
        }
        const Tree before = TreeOf(kTestRoot);
        const std::size_t requestsBefore = FileRequests().size();

        ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

        if (lock != INVALID_HANDLE_VALUE)
            CloseHandle(lock);
        EXPECT_EQ(FileRequests().size(), requestsBefore + 1) << "the file was fetched";
        EXPECT_EQ(TreeOf(kTestRoot), before) << "nothing replaced, no scratch file left";
        EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "");
    }
}

// Held only for a moment (a scanner examining the old file, in a process of
// its own): the new file takes its place once it is let go of.
TEST_F(ConfigCheckTest, TargetHeldForAMomentIsReplacedOnceLetGo)
{
    const std::string target = std::string(kTestConfigDir) + "\\vpn.conf";
    ASSERT_TRUE(WriteWholeFile(target, "remote old.example 1194\n"));
    ServeFile("vpn.conf", "remote new.example 1194\n");
    ListFiles({{"7", "1", Url("vpn.conf"), "", "vpn.conf"}});
    HeldFile holder(target, FILE_SHARE_READ, 1000);
    ASSERT_TRUE(holder.held());

    ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

    holder.Release();
    EXPECT_EQ(ReadWholeFile(target), "remote new.example 1194\n");
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "7");
    EXPECT_EQ(ScratchFilesOf(target), 0);
}

// https: the server is verified against the trusted roots of the Windows
// certificate store. The test CA is one while the helper lives.
TEST_F(ConfigCheckTest, HttpsDownloadIsVerifiedAgainstTheWindowsCertificateStore)
{
    const std::string target = std::string(kTestConfigDir) + "\\vpn.conf";
    const std::string url = FilesTlsUrl() + "/vpn.conf";
    ServeFile("vpn.conf", "remote tls.example 1194\n");
    {
        TrustedRootForTest trusted(DevserverRunDir() + "pki\\ca.pem");
        ASSERT_TRUE(trusted.added());
        ListFiles({{"7", "1", url, "", "vpn.conf"}});

        ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

        EXPECT_EQ(ReadWholeFile(target), "remote tls.example 1194\n");
        EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "7");
        EXPECT_EQ(FileRequests(), std::vector<std::string>{"/vpn.conf"});
    }

    // The same server, its CA no longer trusted: refused in the handshake.
    ServeFile("vpn.conf", "remote untrusted.example 1194\n");
    ListFiles({{"8", "1", url, "", "vpn.conf"}});
    const Tree before = TreeOf(kTestRoot);

    ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

    EXPECT_EQ(TreeOf(kTestRoot), before) << "old file kept, no scratch file left";
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "");
    EXPECT_EQ(FileRequests().size(), 1u) << "nothing asked of the untrusted server";
}

TEST_F(ConfigCheckTest, ServerCaFileInBinAloneDecidesWhichServersAreTrusted)
{
    const std::string pki = DevserverRunDir() + "pki\\";
    const std::string caFile = std::string(kTestInstallDir) + "bin\\server_ca.pem";
    const std::string target = std::string(kTestConfigDir) + "\\vpn.conf";
    const std::string url = FilesTlsUrl() + "/vpn.conf";
    ServeFile("vpn.conf", "remote verified.example 1194\n");

    // The test CA is no Windows root, so only the file can make the
    // download's handshake succeed.
    ASSERT_TRUE(CopyFileA((pki + "ca.pem").c_str(), caFile.c_str(), FALSE));
    ListFiles({{"7", "1", url, "", "vpn.conf"}});

    ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

    EXPECT_EQ(ReadWholeFile(target), "remote verified.example 1194\n");
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "7");

    // Now the store trusts the server and the file names another CA: the
    // file wins, and the check ends before it lists or fetches anything.
    TrustedRootForTest trusted(pki + "ca.pem");
    ASSERT_TRUE(trusted.added());
    ASSERT_TRUE(CopyFileA((pki + "other_ca.pem").c_str(), caFile.c_str(), FALSE));
    ListFiles({{"8", "1", url, "", "vpn.conf"}});
    const Tree before = TreeOf(kTestRoot);

    EXPECT_EQ(Ferolin("-checkconfig", 12), kCheckFailed);

    EXPECT_EQ(TreeOf(kTestRoot), before);
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "7");
    EXPECT_EQ(FileRequests().size(), 1u);
}

TEST_F(ConfigCheckTest, FailedDownloadOfAnotherFileEmptiesItsOwnVersion)
{
    const std::string target = std::string(kTestInstallDir) + "rules.txt";
    ASSERT_TRUE(WriteWholeFile(target, "old rules"));
    ListFiles({{"4", "0", Url("rules.txt"), "", "rules.txt"}}, "0", R"("rules.txt": {"http_status": 404})");
    ServeFile("rules.txt", "new rules");

    ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

    EXPECT_EQ(ReadWholeFile(target), "old rules");
    EXPECT_EQ(GetSettingForTest(kValueFileVersion), "");
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "6");
}

TEST_F(ConfigCheckTest, NamesThatLeaveTheBaseDirectoryTouchNothingOutsideIt)
{
    ASSERT_TRUE(WriteWholeFile(kSentinel, "sentinel"));
    ServeFile("x", "payload");
    ServeFile("next.txt", "next");
    const Entry hostile[] = {
        {"7", "1", Url("x"), "", "..\\x"},   {"7", "1", Url("x"), "", "C:\\x"},      {"7", "1", Url("x"), "", "\\x"},
        {"7", "1", Url("x"), "", "a/b"},     {"7", "1", Url("x"), "", ".."},         {"7", "1", Url("x"), "..", "x"},
        {"7", "1", Url("x"), "..\\..", "x"}, {"2", "0", Url("x"), "..\\x", "x"},     {"2", "0", Url("x"), "C:\\", "x"},
        {"2", "0", Url("x"), "\\x", "x"},    {"2", "0", Url("x"), "a\\..\\..", "x"},
    };
    for (const Entry& entry : hostile) {
        SCOPED_TRACE("file_cnf [" + entry.file_cnf + "] sub_dir [" + entry.sub_dir + "]");
        ASSERT_TRUE(SetSettingForTest(kValueConfigVersion, "6"));
        ASSERT_TRUE(SetSettingForTest(kValueFileVersion, "3"));
        ASSERT_TRUE(SetSettingForTest(kValueConfigFile, "vpn.conf"));
        ListFiles({entry, {"9", "0", Url("next.txt"), "", "next.txt"}});
        const Tree before = TreeOf(kTestRoot);

        ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

        EXPECT_EQ(TreeOf(kTestRoot), before);
        EXPECT_FALSE(FileExists(kRootX));
        EXPECT_EQ(GetSettingForTest(entry.is_cnf == "1" ? kValueConfigVersion : kValueFileVersion), "");
        // The service deletes "config_dir\config_file" for a blocked account:
        // a hostile name must never be recorded there.
        EXPECT_EQ(GetSettingForTest(kValueConfigFile), "vpn.conf");
    }
    EXPECT_TRUE(FileRequests().empty());
    EXPECT_EQ(ReadWholeFile(kSentinel), "sentinel");
}

// Nothing the server names may be a file Windows loads or runs, or land in
// bin: a non-VPN file lands beside KVLService.exe and Ferolin.dll, whose
// imports are looked for there first. Each hostile entry follows a good one of
// the other kind, which still arrives; the hostile one is a failed download.
TEST_F(ConfigCheckTest, NamesWindowsWouldLoadOrRunAreRefused)
{
    ServeFile("x", "payload");
    ServeFile("good", "good file");
    const Entry goodOther = {"4", "0", Url("good"), "", "good.txt"};
    const Entry goodVpn = {"7", "1", Url("good"), "", "vpn.conf"};
    std::vector<Entry> hostile;
    for (const char* extension :
         {".exe", ".DLL", ".com", ".bat", ".cmd", ".msi",  ".msp", ".mst", ".sys",      ".drv",
          ".ocx", ".cpl", ".scr", ".pif", ".ps1", ".psm1", ".vbs", ".vbe", ".js",       ".jse",
          ".wsf", ".wsh", ".hta", ".lnk", ".url", ".inf",  ".reg", ".sct", ".manifest", ".local"})
        hostile.push_back({"2", "0", Url("x"), "", std::string("IPHLPAPI") + extension});
    for (const char* subDir : {"bin", "BIN", "Bin\\x", "bin/", "KVLService.exe.local", "a\\b.Local", "PROGRA~1"})
        hostile.push_back({"2", "0", Url("x"), subDir, "x.txt"});
    for (const char* file : {"KVLSER~1.txt", "CONIN$", "conout$.txt"})
        hostile.push_back({"2", "0", Url("x"), "", file});
    hostile.push_back({"8", "1", Url("x"), "", "vpn.dll"});
    hostile.push_back({"8", "1", Url("x"), "bin", "vpn.conf"});

    for (const Entry& entry : hostile) {
        SCOPED_TRACE("file_cnf [" + entry.file_cnf + "] sub_dir [" + entry.sub_dir + "]");
        const bool vpnFile = entry.is_cnf == "1";
        const Entry& good = vpnFile ? goodOther : goodVpn;
        const char* goodTarget = vpnFile ? "inst\\good.txt" : "config\\vpn.conf";
        MakeTestInstallation("client_");
        ASSERT_TRUE(SetSettingForTest(kValueConfigVersion, "6"));
        ASSERT_TRUE(SetSettingForTest(kValueFileVersion, "3"));
        ListFiles({good, entry});
        Tree expected = TreeOf(kTestRoot);
        expected[goodTarget] = "good file";
        const std::size_t requestsBefore = FileRequests().size();

        ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

        EXPECT_EQ(TreeOf(kTestRoot), expected);
        EXPECT_EQ(FileRequests().size(), requestsBefore + 1) << "the good file alone";
        EXPECT_EQ(GetSettingForTest(vpnFile ? kValueConfigVersion : kValueFileVersion), "");
        EXPECT_EQ(GetSettingForTest(vpnFile ? kValueFileVersion : kValueConfigVersion), good.v_cnf);
    }
}

TEST_F(ConfigCheckTest, PathThatWouldNotFitIsAFailedDownload)
{
    // 13 + 180 characters, within the 199 the base directory read accepts.
    const std::string longDir = std::string(kTestRoot) + "\\" + std::string(180, 'd');
    ASSERT_TRUE(CreateDirectoryA(longDir.c_str(), nullptr));
    ASSERT_TRUE(SetSettingForTest(kValueConfigDir, longDir));
    const std::string name(40, 'f');
    const std::string sub(40, 's');
    ServeFile(name, "long");

    // base + "\" + sub + "\" + name is 275 characters: more than a file path holds.
    ListFiles({{"7", "1", Url(name), sub, name}});
    const Tree before = TreeOf(kTestRoot);
    ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);
    EXPECT_EQ(TreeOf(kTestRoot), before) << "not even the subdirectory is made";
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "");
    EXPECT_TRUE(FileRequests().empty());

    // Without the subdirectory it is 234 characters and fits.
    ListFiles({{"7", "1", Url(name), "", name}});
    ASSERT_EQ(Ferolin("-checkconfig", 12), kCheckDone);
    EXPECT_EQ(ReadWholeFile(longDir + "\\" + name), "long");
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "7");
}

TEST_F(ConfigCheckTest, RefusalOrEmptyListChangesNothing)
{
    ServeFile("vpn.conf", "x");
    const Tree before = TreeOf(kTestRoot);
    ListFiles({{"7", "1", Url("vpn.conf"), "", "vpn.conf"}}, "1");
    EXPECT_EQ(Ferolin("-checkconfig", 12), kCheckDone);
    ListFiles({{"7", "1", Url("vpn.conf"), "", ""}, {"8", "1", Url("vpn.conf"), "", "vpn.conf"}});
    EXPECT_EQ(Ferolin("-checkconfig", 12), kCheckDone);

    EXPECT_EQ(RequestMembers("chk_cnf_upd").size(), 2u);
    EXPECT_TRUE(FileRequests().empty());
    EXPECT_EQ(TreeOf(kTestRoot), before);
    EXPECT_EQ(GetSettingForTest(kValueConfigVersion), "6");
    EXPECT_EQ(GetSettingForTest(kValueConfigFile), std::nullopt);
    EXPECT_EQ(GetSettingForTest(kValueConfigUrl), std::nullopt);
}

TEST_F(ConfigCheckTest, ThroughTheLibrary)
{
    ServeFile("vpn.conf", "via dll");
    ListFiles({{"7", "1", Url("vpn.conf"), "", "vpn.conf"}});
    DWORD exitCode = 1;
    std::optional<std::string> output =
        RunAndCapture("\"" + ProgramFolder() + "FerolinRun.exe\" -checkconfig", &exitCode);

    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(exitCode, static_cast<DWORD>(kCheckDone));
    EXPECT_EQ(ReadWholeFile(std::string(kTestConfigDir) + "\\vpn.conf"), "via dll");
}

// Another program of the VPN client runs "-checkconfig" in a process of its
// own (FerolinRun) while the service checks the same configuration, on a
// server slow enough for the transfers to overlap, and the server's files
// change between the two starts, so the two may fetch different versions.
// Whichever ends last, each file is one whole version and no scratch file
// is left.
TEST_F(ConfigCheckTest, TwoProcessesCheckingAtOnceEachLeaveWholeFiles)
{
    constexpr int kRounds = 10;
    std::mt19937 random(20261209);
    const std::string targets[] = {std::string(kTestConfigDir) + "\\vpn.conf",
                                   std::string(kTestInstallDir) + "rules\\rules.txt"};
    const char* const served[] = {"vpn.conf", "rules.txt"};
    // Versions of different lengths, so that one written over the other
    // shows.
    const auto content = [&random](const char* name, int version) {
        const std::size_t lines = std::uniform_int_distribution<std::size_t>(500, 1500)(random);
        std::string text;
        for (std::size_t i = 0; i < lines; ++i)
            text += std::string(name) + " version " + std::to_string(version) + " line " + std::to_string(i) + "\n";
        return text;
    };
    // Replaced by a rename: a transfer already under way keeps what it opened.
    const auto serve = [](const char* name, const std::string& text) {
        const std::string path = DevserverRunDir() + "files\\" + name;
        ASSERT_TRUE(WriteWholeFile(path + ".new", text));
        ASSERT_TRUE(MoveFileExA((path + ".new").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
    };
    const std::string slow = R"({"trickle_bytes": 4096, "trickle_ms": 60})";
    ListFiles({{"7", "1", Url("vpn.conf"), "", "vpn.conf"}, {"3", "0", Url("rules.txt"), "rules", "rules.txt"}}, "0",
              "\"vpn.conf\": " + slow + ", \"rules.txt\": " + slow);

    for (int round = 0; round < kRounds && !HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<std::string> versions[2];
        for (int file = 0; file < 2; ++file) {
            versions[file].push_back(content(served[file], 2 * round));
            serve(served[file], versions[file].back());
        }
        DWORD otherExit = 1;
        std::thread other(
            [&otherExit] { RunAndCapture("\"" + ProgramFolder() + "FerolinRun.exe\" -checkconfig", &otherExit); });
        Sleep(std::uniform_int_distribution<DWORD>(0, 800)(random));
        for (int file = 0; file < 2; ++file) {
            versions[file].push_back(content(served[file], 2 * round + 1));
            serve(served[file], versions[file].back());
        }
        EXPECT_EQ(Ferolin("-checkconfig", 12), kCheckDone);
        other.join();
        EXPECT_EQ(otherExit, static_cast<DWORD>(kCheckDone));

        for (int file = 0; file < 2; ++file) {
            const std::string text = ReadWholeFile(targets[file]).value_or("<missing>");
            EXPECT_TRUE(text == versions[file][0] || text == versions[file][1])
                << targets[file] << ": " << text.size() << " bytes, not one whole version";
            EXPECT_EQ(ScratchFilesOf(targets[file]), 0) << targets[file];
        }
    }
}

} // namespace
