// "-update" and the export VPNDownloadURLFile against the development
// server's file server: a small MSI built by wixl, error pages, cut and
// unreachable downloads, names from the server that must stay plain, the
// installation's own server CA file, and its publisher file (packages signed
// by osslsigncode).
#include <windows.h>

#include <string>

#include "check_test_support.h"
#include "ferolin_entry.h"
#include "settings_names.h"
#include "update_installation.h"
#include "win_handles.h"

namespace {

constexpr char kPackage[] = "kvl-probe.msi";
// What the package installs (a 32-bit package: the x86 Program Files).
constexpr char kInstalledFile[] = "C:\\Program Files (x86)\\KvlProbe\\probe.txt";
constexpr char kUpdateStateBefore[] = "1.0.28";

using DownloadExport = int(__stdcall*)(const char*, const char*, const char*);

class UpdateTest : public CheckTest {
protected:
    void SetUp() override
    {
        CheckTest::SetUp();
        ASSERT_TRUE(SetSettingsForTest(
            {{kValueSoftwareVersion, "1.0"}, {kValueStatus, "Ativo"}, {kValueUpdateState, kUpdateStateBefore}}));
        Offer("pkg/" + std::string(kPackage), kPackage);
    }

    void Offer(const std::string& path, const std::string& file)
    {
        ASSERT_TRUE(SetSettingForTest(kValueSoftwareUrl, FilesUrl() + "/" + path));
        ASSERT_TRUE(SetSettingForTest(kValueSoftwareFile, file));
    }

    static std::string InstallTree() { return std::string(kTestInstallDir).substr(0, sizeof kTestInstallDir - 2); }
    // The installation directory's files other than the certificates.
    static std::map<std::string, std::string> Downloaded()
    {
        std::map<std::string, std::string> tree = TreeOf(InstallTree());
        for (auto entry = tree.begin(); entry != tree.end();)
            entry = entry->first.rfind("bin\\", 0) == 0 ? tree.erase(entry) : std::next(entry);
        return tree;
    }
    static std::string UpdateState() { return GetSettingForTest(kValueUpdateState).value_or("<absent>"); }
};

} // namespace

// Any user may create objects named like the runner's event; one of another
// kind (a mutex here, held by a program of theirs) must not stop the install.
TEST_F(UpdateTest, DownloadsAndInstallsThePackage)
{
    const std::string msi = ReadWholeFile(ProgramFolder() + kPackage).value_or("");
    ASSERT_FALSE(msi.empty()) << "the test package was not built beside the test";
    ServeFile(std::string("pkg/") + kPackage, msi);
    SetSettingForTest(kValueStatus, "ativo");

    std::string holder = "\"" + ProgramFolder() + "exec_probe.exe\" mutex exec_exit 120";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(CreateProcessA(nullptr, holder.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    KernelHandle holderProcess(child.hProcess);
    CloseHandle(child.hThread);
    KernelHandle held;
    for (int i = 0; i < 100 && !held; ++i, Sleep(100))
        held.reset(OpenMutexA(SYNCHRONIZE, FALSE, "exec_exit"));
    ASSERT_TRUE(held) << "the holder did not create its mutex";

    EXPECT_EQ(Ferolin("-update", 7), kUpdateDone);
    EXPECT_EQ(UpdateState(), kUpdateStateInstalled);
    EXPECT_EQ(ReadWholeFile(std::string(kTestInstallDir) + kPackage).value_or(""), msi);
    // The installer may still be finishing when its wait ends.
    for (int i = 0; i < 100 && GetFileAttributesA(kInstalledFile) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(200);
    EXPECT_EQ(ReadWholeFile(kInstalledFile).value_or("<missing>"), "installed by the KVL test package\n");

    DWORD code = 0;
    RunAndCapture("msiexec /qn /x \"" + std::string(kTestInstallDir) + kPackage + "\"", &code, 120000);
    TerminateProcess(holderProcess.get(), 0);
}

TEST_F(UpdateTest, ErrorPageCutOrUnreachableDownloadLeavesNoFile)
{
    // Not on the server: a 404 page.
    Offer("pkg/missing.msi", kPackage);
    EXPECT_EQ(Ferolin("-update", 7), kUpdateDownloadFailed);
    EXPECT_TRUE(Downloaded().empty());

    // Cut short of its announced length.
    SetState("{\"file_faults\": {\"pkg/cut.msi\": {\"truncate\": true}}}");
    ServeFile("pkg/cut.msi", std::string(4096, 'p'));
    Offer("pkg/cut.msi", kPackage);
    EXPECT_EQ(Ferolin("-update", 7), kUpdateDownloadFailed);
    EXPECT_TRUE(Downloaded().empty());

    SetSettingForTest(kValueSoftwareUrl, std::string("http://127.0.0.1:1/") + kPackage);
    EXPECT_EQ(Ferolin("-update", 7), kUpdateDownloadFailed);
    EXPECT_TRUE(Downloaded().empty());
    EXPECT_EQ(UpdateState(), kUpdateStateBefore);
}

TEST_F(UpdateTest, NothingToDo)
{
    SetSettingForTest(kValueStatus, "bloqueado");
    EXPECT_EQ(Ferolin("-update", 7), kUpdateDone);
    SetSettingForTest(kValueStatus, "Ativo");
    SetSettingForTest(kValueSoftwareUrl, "");
    EXPECT_EQ(Ferolin("-update", 7), kUpdateDone);
    Offer("pkg/x.msi", "");
    EXPECT_EQ(Ferolin("-update", 7), kUpdateDone);

    EXPECT_TRUE(FileRequests().empty());
    EXPECT_EQ(UpdateState(), kUpdateStateBefore);
}

TEST_F(UpdateTest, UnreadableOrUnsafeFileNameGivesOne)
{
    for (const std::string& name : {std::string(50, 'f'), std::string("..\\evil.msi"), std::string("sub/evil.msi"),
                                    std::string("C:evil.msi"), std::string(".."), std::string("nul")}) {
        Offer("pkg/evil.msi", name);
        EXPECT_EQ(Ferolin("-update", 7), kUpdateSettingMissing) << name;
    }
    DeleteSettingForTest(kValueSoftwareVersion);
    EXPECT_EQ(Ferolin("-update", 7), kUpdateSettingMissing);

    EXPECT_TRUE(FileRequests().empty());
    EXPECT_TRUE(Downloaded().empty());
    EXPECT_EQ(TreeOf(kTestRoot).count("evil.msi"), 0u);
    EXPECT_EQ(UpdateState(), kUpdateStateBefore);
}

// Only a whole installer package is kept for the installer; anything else,
// a package cut short without a length to show it included, is a failed
// download: deleted, "update_stt" as it was. A login too long for the
// installer run stops a kept package short of msiexec ("atualizando").
TEST_F(UpdateTest, OnlyAWholeInstallerPackageIsKept)
{
    const std::string msi = ReadWholeFile(ProgramFolder() + kPackage).value_or("");
    ASSERT_GT(msi.size(), 8192u) << "the test package was not built beside the test";
    SetSettingForTest(kValueUserLogin, std::string(15, 'u'));
    struct Case {
        const char* what;
        std::string body;
        std::string fault;
        bool kept;
    };
    const Case cases[] = {
        {"whole package", msi, "", true},
        {"package cut, chunked", msi, R"({"drop_after": )" + std::to_string(msi.size() - 512) + "}", false},
        {"not a compound file", "not a package", "", false},
    };
    for (const Case& c : cases) {
        DeleteFileA((std::string(kTestInstallDir) + kPackage).c_str());
        SetSettingForTest(kValueUpdateState, kUpdateStateBefore);
        SetState(c.fault.empty() ? "{}" : R"({"file_faults": {"pkg/case.msi": )" + c.fault + "}}");
        ServeFile("pkg/case.msi", c.body);
        Offer("pkg/case.msi", kPackage);
        EXPECT_EQ(Ferolin("-update", 7), c.kept ? kUpdateDone : kUpdateDownloadFailed) << c.what;
        EXPECT_EQ(UpdateState(), c.kept ? kUpdateStateInstalling : kUpdateStateBefore) << c.what;
        const std::map<std::string, std::string> expected =
            c.kept ? std::map<std::string, std::string>{{kPackage, msi}} : std::map<std::string, std::string>{};
        EXPECT_EQ(Downloaded(), expected) << c.what;
    }
}

TEST_F(UpdateTest, TheExport)
{
    HMODULE library = LoadLibraryA("Ferolin.dll");
    ASSERT_NE(library, nullptr);
    auto download =
        reinterpret_cast<DownloadExport>(reinterpret_cast<void*>(GetProcAddress(library, "VPNDownloadURLFile")));
    ASSERT_NE(download, nullptr);
    ServeFile("dl/named.txt", "some text");
    const std::string url = FilesUrl() + "/dl/named.txt";

    // No file name: the URL's last part, into the directory.
    EXPECT_EQ(download(url.c_str(), kTestInstallDir, ""), 1);
    EXPECT_EQ(ReadWholeFile(std::string(kTestInstallDir) + "named.txt").value_or(""), "some text");

    // No directory: the current one.
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(kTestRoot);
    EXPECT_EQ(download(url.c_str(), "", "here.txt"), 1);
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(ReadWholeFile(std::string(kTestRoot) + "\\here.txt").value_or(""), "some text");

    // A URL ending in "/" and no name, or a name over 99 characters: 0.
    EXPECT_EQ(download((FilesUrl() + "/dl/").c_str(), kTestInstallDir, nullptr), 0);
    EXPECT_EQ(download(url.c_str(), kTestInstallDir, std::string(100, 'n').c_str()), 0);
    EXPECT_EQ(Downloaded().size(), 1u);
    FreeLibrary(library);
}

TEST_F(UpdateTest, ServerCaFileInBinAloneDecidesWhichHttpsPackageServersAreTrusted)
{
    const std::string pki = DevserverRunDir() + "pki\\";
    const std::string caFile = std::string(kTestInstallDir) + "bin\\server_ca.pem";
    const std::string tlsPort = DevserverReadyValue("files_tls_port");
    const std::string misnamedPort = DevserverReadyValue("misnamed_files_tls_port");
    ASSERT_FALSE(misnamedPort.empty()) << "no misnamed file server in the ready file";
    const std::string msi = ReadWholeFile(ProgramFolder() + kPackage).value_or("");
    ASSERT_FALSE(msi.empty()) << "the test package was not built beside the test";
    ServeFile("pkg/signed.msi", msi);
    const std::string path = "/pkg/signed.msi";
    const std::string package = std::string(kTestInstallDir) + "signed.msi";
    HMODULE library = LoadLibraryA("Ferolin.dll");
    ASSERT_NE(library, nullptr);
    auto download =
        reinterpret_cast<DownloadExport>(reinterpret_cast<void*>(GetProcAddress(library, "VPNDownloadURLFile")));
    ASSERT_NE(download, nullptr);
    // Stops "-update" after the download, short of the installer.
    SetSettingForTest(kValueUserLogin, std::string(15, 'u'));

    // Without the file the Windows store decides, and it does not know the
    // test CA.
    ASSERT_TRUE(SetSettingForTest(kValueSoftwareUrl, "https://localhost:" + tlsPort + path));
    ASSERT_TRUE(SetSettingForTest(kValueSoftwareFile, "signed.msi"));
    EXPECT_EQ(Ferolin("-update", 7), kUpdateDownloadFailed);
    EXPECT_TRUE(Downloaded().empty());

    // With it, the server's name (DNS or address) and chain to the file.
    ASSERT_TRUE(CopyFileA((pki + "ca.pem").c_str(), caFile.c_str(), FALSE));
    EXPECT_EQ(Ferolin("-update", 7), kUpdateDone);
    EXPECT_EQ(ReadWholeFile(package).value_or("<missing>"), msi);
    EXPECT_EQ(download(("https://127.0.0.1:" + tlsPort + path).c_str(), kTestInstallDir, "by-address.msi"), 1);
    // Plain http would be fetched unverified, open to be swapped on the wire.
    EXPECT_EQ(download((FilesUrl() + path).c_str(), kTestInstallDir, "plain.msi"), 0);
    const std::map<std::string, std::string> fetched = Downloaded();
    EXPECT_EQ(fetched.size(), 2u);

    // A certificate of the file's CA for another name.
    for (const char* host : {"localhost", "127.0.0.1"}) {
        const std::string url = std::string("https://") + host + ":" + misnamedPort + path;
        EXPECT_EQ(download(url.c_str(), kTestInstallDir, "misnamed.msi"), 0) << url;
    }
    // A server the Windows store trusts but the file does not.
    {
        TrustedRootForTest trusted(pki + "ca.pem");
        ASSERT_TRUE(trusted.added());
        ASSERT_TRUE(CopyFileA((pki + "other_ca.pem").c_str(), caFile.c_str(), FALSE));
        EXPECT_EQ(download(("https://localhost:" + tlsPort + path).c_str(), kTestInstallDir, "other.msi"), 0);
    }
    // The file held open without sharing: no download at all, where the
    // unreadable file once meant "no file" and the Windows store decided.
    {
        TrustedRootForTest trusted(pki + "ca.pem");
        ASSERT_TRUE(trusted.added());
        ASSERT_TRUE(CopyFileA((pki + "ca.pem").c_str(), caFile.c_str(), FALSE));
        HeldFile holder(caFile, 0);
        ASSERT_TRUE(holder.held());
        EXPECT_EQ(Ferolin("-update", 7), kUpdateDownloadFailed);
        EXPECT_EQ(download(("https://localhost:" + tlsPort + path).c_str(), kTestInstallDir, "held.msi"), 0);
    }
    EXPECT_EQ(Downloaded(), fetched) << "no file, and no scratch file, from a refused server";
    FreeLibrary(library);
}

// With bin\publisher.pem only packages its publisher signed reach the
// installer; anything else is deleted as a failed download. The login stops
// "-update" just before msiexec, after the checks.
TEST_F(UpdateTest, ThePublisherFileDecidesWhichPackagesReachTheInstaller)
{
    const std::string publisherFile = std::string(kTestInstallDir) + "bin\\publisher.pem";
    const std::string candidate = std::string(kTestInstallDir) + "candidate.msi";
    auto pki = [](const char* name) { return WindowsPathOfLinuxPath(std::string(KVL_SIGNING_PKI) + "/" + name); };
    auto signedPackage = [](const char* name) {
        return ReadWholeFile(ProgramFolder() + "signed\\" + name).value_or("");
    };
    std::string flipped = signedPackage("good.msi");
    const std::size_t cabinet = flipped.find("MSCF");
    ASSERT_NE(cabinet, std::string::npos);
    flipped[cabinet + 200] = static_cast<char>(flipped[cabinet + 200] ^ 0x01);
    const std::string ca = ReadWholeFile(pki("ca.pem")).value_or("");
    ASSERT_FALSE(ca.empty()) << "no test PKI";
    SetSettingForTest(kValueUserLogin, std::string(15, 'u'));
    Offer("pkg/candidate.msi", "candidate.msi");

    enum Publisher { kNone, kCa, kOtherCa, kGarbage, kFolder };
    struct Row {
        Publisher publisher;
        std::string package;
        const char* what;
        bool installed;
    } const rows[] = {
        {kCa, signedPackage("good.msi"), "signed", true},
        {kCa, signedPackage("good_ex.msi"), "signed with metadata", true},
        {kCa, flipped, "a byte flipped in the cabinet", false},
        {kCa, signedPackage("cut.msi"), "cut", false},
        {kCa, signedPackage("unsigned.msi"), "unsigned", false},
        {kCa, signedPackage("other.msi"), "another publisher", false},
        {kCa, signedPackage("nocodesign.msi"), "not a code-signing certificate", false},
        {kCa, signedPackage("expired.msi"), "an expired certificate", false},
        {kOtherCa, signedPackage("good.msi"), "another publisher file", false},
        {kGarbage, signedPackage("good.msi"), "a publisher file with no certificate", false},
        {kFolder, signedPackage("good.msi"), "a publisher file that cannot be read", false},
        {kNone, signedPackage("unsigned.msi"), "unsigned, no publisher file", true},
    };
    for (const Row& row : rows) {
        DeleteFileA(publisherFile.c_str());
        RemoveDirectoryA(publisherFile.c_str());
        if (row.publisher == kCa || row.publisher == kOtherCa) {
            const std::string pem = row.publisher == kCa ? ca : ReadWholeFile(pki("other_ca.pem")).value_or("");
            ASSERT_TRUE(WriteWholeFile(publisherFile, pem));
        } else if (row.publisher == kGarbage) {
            ASSERT_TRUE(WriteWholeFile(publisherFile, "not a certificate\n"));
        } else if (row.publisher == kFolder) {
            ASSERT_TRUE(CreateDirectoryA(publisherFile.c_str(), nullptr));
        }
        ASSERT_FALSE(row.package.empty()) << row.what;
        ServeFile("pkg/candidate.msi", row.package);
        ASSERT_TRUE(SetSettingForTest(kValueUpdateState, kUpdateStateBefore));

        EXPECT_EQ(Ferolin("-update", 7), row.installed ? kUpdateDone : kUpdateDownloadFailed) << row.what;
        EXPECT_EQ(UpdateState(), row.installed ? kUpdateStateInstalling : kUpdateStateBefore) << row.what;
        EXPECT_EQ(ReadWholeFile(candidate).has_value(), row.installed) << row.what;
        DeleteFileA(candidate.c_str());
    }
    DeleteFileA(publisherFile.c_str());
    RemoveDirectoryA(publisherFile.c_str());
}
