// The status check end to end against the development update server: the
// request body the server receives, what lands in the settings key and the
// identity key, and every way the exchange can fail. The library's objects
// are linked in, so the transfer limits can be shortened; the cases marked
// "through Ferolin.dll" load the real library instead.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>
#include <iphlpapi.h>

#include "ferolin_entry.h"
#include "ferolin_seams.h"
#include "machine_identity_win.h"
#include "https_transport.h"
#include "md5_hex.h"
#include "reply_buffer.h"
#include "request_road.h"
#include "settings_names.h"
#include "url_download.h"
#include "check_test_support.h"
#include "transfer_limits_scope.h"

namespace {

// The check results other programs act on.
static_assert(kCheckDone == 0 && kCheckFailed == 4, "results of the check commands");
// MD5 of the test password "secret", worked out outside this code base.
constexpr char kPasswordDigest[] = "5ebe2294ecd0e0f08eab7690d2a6ee69";
// A client pair from another authority, and the test client again in an
// installation that holds a server CA file.
constexpr char kForeignInstallDir[] = "C:\\kvlchecks\\foreign\\";
constexpr char kVerifyingInstallDir[] = "C:\\kvlchecks\\verifying\\";
// Nothing listens there on the loopback address.
constexpr char kDeadServerUrl[] = "https://127.0.0.1:1/";
constexpr char kStaleIdentity[] = "stale-id";

std::string Md5Of(const std::string& text)
{
    char digest[kMd5HexSize];
    EXPECT_EQ(Md5Hex(text.data(), static_cast<int>(text.size()), digest), 0);
    return digest;
}

std::string ExpectedStatusBody(const std::string& identity, const std::string& statusVersion)
{
    return std::string(R"(data={\"m\":\"chk_stt\",\"u\":\")") + kTestUser + R"(\",\"s\":\")" + kPasswordDigest +
        R"(\",\"c_id\":\")" + Md5Of(identity) + R"(\",\"v_stt\":\")" + statusVersion + R"(\"})";
}

class StatusCheckTest : public CheckTest {
protected:
    void SetUp() override
    {
        CheckTest::SetUp();
        ASSERT_TRUE(InstallClientPair(kForeignInstallDir, "other_client_"));
        ASSERT_TRUE(InstallClientPair(kVerifyingInstallDir, "client_"));
        ASSERT_TRUE(SetIdentityForTest(kStaleIdentity));
        SetState(R"({"subscribers": {"checker": {"status": {"result": "0", "v_stt": "7", "stt": "ativo",
                   "msg": "Bem-vindo", "int": "30", "per": "12"}}}})");
    }

    // Puts the test PKI's `caName` into the verifying installation's bin as
    // its server CA file, and points the settings at that installation.
    static void VerifyServerAgainst(const char* caName)
    {
        const std::string pki = DevserverRunDir() + "pki\\";
        ASSERT_TRUE(CopyFileA((pki + caName).c_str(),
                              (std::string(kVerifyingInstallDir) + "bin\\server_ca.pem").c_str(), FALSE));
        ASSERT_TRUE(SetSettingForTest(kValueInstallDir, kVerifyingInstallDir));
    }

    // The status values as the service program would read them.
    static std::vector<std::optional<std::string>> StoredStatus()
    {
        std::vector<std::optional<std::string>> values;
        for (const char* name :
             {kValueStatus, kValueStatusMessage, kValueStatusVersion, kValueStatusInt, kValueStatusPer})
            values.push_back(GetSettingForTest(name));
        return values;
    }

    static void SeedStatus(const char* stt, const char* msg, const char* version, const char* intText, const char* per)
    {
        ASSERT_TRUE(SetSettingForTest(kValueStatus, stt));
        ASSERT_TRUE(SetSettingForTest(kValueStatusMessage, msg));
        ASSERT_TRUE(SetSettingForTest(kValueStatusVersion, version));
        ASSERT_TRUE(SetSettingForTest(kValueStatusInt, intText));
        ASSERT_TRUE(SetSettingForTest(kValueStatusPer, per));
    }
};

using Values = std::vector<std::optional<std::string>>;

TEST_F(StatusCheckTest, SendsTheStatusRequestAndStoresTheAnswer)
{
    const std::string identity = ExpectedMachineIdentity();

    ASSERT_EQ(Ferolin("-checkstatus", 12), kCheckDone);

    std::vector<LoggedRequest> requests = NewRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "chk_stt");
    // No "v_stt" stored yet: the member is sent empty.
    EXPECT_EQ(requests[0].raw, ExpectedStatusBody(identity, ""));
    EXPECT_EQ(GetIdentityForTest(), identity);
    EXPECT_EQ(StoredStatus(), (Values{"ativo", "Bem-vindo", "7", "30", "12"}));
}

TEST_F(StatusCheckTest, NextRequestCarriesTheStoredStatusVersion)
{
    ASSERT_EQ(Ferolin("-checkstatus", 12), kCheckDone);
    SetState(R"({"subscribers": {"checker": {"status": {"result": "0", "v_stt": "8", "stt": "ativo"}}}})");
    ASSERT_EQ(Ferolin("-checkstatus", 12), kCheckDone);

    std::vector<LoggedRequest> requests = NewRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].raw, ExpectedStatusBody(ExpectedMachineIdentity(), "7"));
    EXPECT_EQ(GetSettingForTest(kValueStatusVersion), "8");
}

TEST_F(StatusCheckTest, EmptyReplyFieldsLeaveStoredValuesAlone)
{
    SeedStatus("ativo", "old message", "5", "60", "24");
    // A refusal ("result" non-zero) is still an answer: its status is stored.
    SetState(R"({"subscribers": {"checker": {"status": {"result": "3", "stt": "bloqueado",
               "msg": "Conta bloqueada"}}}})");

    ASSERT_EQ(Ferolin("-checkstatus", 12), kCheckDone);

    EXPECT_EQ(StoredStatus(), (Values{"bloqueado", "Conta bloqueada", "5", "60", "24"}));
    ASSERT_EQ(NewRequests().size(), 1u);
    EXPECT_EQ(NewRequests()[0].raw, ExpectedStatusBody(ExpectedMachineIdentity(), "5"));
}

TEST_F(StatusCheckTest, MissingLoginOrPasswordSendsAndWritesNothing)
{
    for (const char* missing : {kValueUserLogin, kValuePasswordLogin}) {
        RegistrySnapshot restore;
        DeleteSettingForTest(missing);
        EXPECT_EQ(Ferolin("-checkstatus", 12), kCheckFailed) << missing;
        EXPECT_EQ(GetIdentityForTest(), kStaleIdentity) << missing;
    }
    EXPECT_TRUE(NewRequests().empty());
    EXPECT_EQ(StoredStatus(), Values(5));
}

TEST_F(StatusCheckTest, MissingInstallDirSendsNothingButStoresTheIdentity)
{
    DeleteSettingForTest(kValueInstallDir);

    EXPECT_EQ(Ferolin("-checkstatus", 12), kCheckFailed);

    EXPECT_TRUE(NewRequests().empty());
    EXPECT_EQ(GetIdentityForTest(), ExpectedMachineIdentity());
    EXPECT_EQ(StoredStatus(), Values(5));
}

TEST_F(StatusCheckTest, InstallDirWithoutTrailingBackslashFails)
{
    ASSERT_TRUE(SetSettingForTest(kValueInstallDir, "C:\\kvlchecks\\inst"));
    EXPECT_EQ(Ferolin("-checkstatus", 12), kCheckFailed);
    EXPECT_EQ(StoredStatus(), Values(5));
}

TEST_F(StatusCheckTest, UnreachableServerFailsAfterStoringTheIdentity)
{
    SeedStatus("ativo", "m", "5", "60", "24");
    ASSERT_TRUE(SetSettingForTest(kValueUpdateServer, kDeadServerUrl));

    EXPECT_EQ(Ferolin("-checkstatus", 12), kCheckFailed);

    EXPECT_EQ(GetIdentityForTest(), ExpectedMachineIdentity());
    EXPECT_EQ(StoredStatus(), (Values{"ativo", "m", "5", "60", "24"}));
}

TEST_F(StatusCheckTest, ClientCertificateFromAnotherAuthorityIsRefused)
{
    ASSERT_TRUE(SetSettingForTest(kValueInstallDir, kForeignInstallDir));

    EXPECT_EQ(Ferolin("-checkstatus", 12), kCheckFailed);

    EXPECT_EQ(StoredStatus(), Values(5));
}

TEST_F(StatusCheckTest, ServerVerifiedAgainstTheInstallationsCaIsAnswered)
{
    VerifyServerAgainst("ca.pem");

    ASSERT_EQ(Ferolin("-checkstatus", 12), kCheckDone);

    EXPECT_EQ(NewRequests().size(), 1u);
    EXPECT_EQ(StoredStatus(), (Values{"ativo", "Bem-vindo", "7", "30", "12"}));
}

// Mended: a CA file that could not be opened counted as no CA file, so a user
// who held it open without sharing switched the verification off. Only a
// missing file means "not opted in"; a held file, or a folder in its place,
// fails the check before anything is sent.
TEST_F(StatusCheckTest, UnusableCaFileFailsTheCheckInsteadOfSwitchingVerificationOff)
{
    VerifyServerAgainst("ca.pem");
    const std::string caFile = std::string(kVerifyingInstallDir) + "bin\\server_ca.pem";
    {
        HeldFile holder(caFile, 0);
        ASSERT_TRUE(holder.held());
        EXPECT_EQ(Ferolin("-checkstatus", 12), kCheckFailed);
        EXPECT_TRUE(NewRequests().empty());
        EXPECT_EQ(StoredStatus(), Values(5));
    }
    ASSERT_TRUE(DeleteFileA(caFile.c_str()));
    ASSERT_TRUE(CreateDirectoryA(caFile.c_str(), nullptr));
    const int withFolder = Ferolin("-checkstatus", 12);
    RemoveDirectoryA(caFile.c_str());
    EXPECT_EQ(withFolder, kCheckFailed);
    EXPECT_TRUE(NewRequests().empty());

    // Let go of, the same file verifies the server again.
    VerifyServerAgainst("ca.pem");
    ASSERT_EQ(Ferolin("-checkstatus", 12), kCheckDone);
    EXPECT_EQ(StoredStatus(), (Values{"ativo", "Bem-vindo", "7", "30", "12"}));
}

TEST_F(StatusCheckTest, ServerThatFailsTheInstallationsCaIsAFailedTransfer)
{
    VerifyServerAgainst("other_ca.pem");

    EXPECT_EQ(Ferolin("-checkstatus", 12), kCheckFailed);

    EXPECT_TRUE(NewRequests().empty()) << "refused in the handshake, before the request";
    EXPECT_EQ(StoredStatus(), Values(5));
}

// The certificate is the trusted CA's own, issued for another host: only the
// host-name check can refuse it. Without the CA file the same server is
// answered, so the refusal is the verification's.
TEST_F(StatusCheckTest, ServerNamedOtherwiseThanItsAddressIsAFailedTransfer)
{
    const std::string misnamedUrl = "https://127.0.0.1:" + DevserverReadyValue("misnamed_port") + "/";
    ASSERT_NE(misnamedUrl, "https://127.0.0.1:/") << "the fixture started no misnamed server";
    ASSERT_TRUE(SetSettingForTest(kValueUpdateServer, misnamedUrl));
    ASSERT_EQ(Ferolin("-checkstatus", 12), kCheckDone);

    for (const char* name : {kValueStatusVersion, kValueStatus, kValueStatusMessage, kValueStatusInt, kValueStatusPer})
        DeleteSettingForTest(name);
    VerifyServerAgainst("ca.pem");
    ASSERT_TRUE(SetSettingForTest(kValueUpdateServer, misnamedUrl));

    EXPECT_EQ(Ferolin("-checkstatus", 12), kCheckFailed);
    EXPECT_EQ(StoredStatus(), Values(5));
}

// A server whose certificate is signed by the test CA's intermediate and sent
// with its full chain (the intermediate and the CA). The checks (libcurl) and the package download (WinINet and the
// chain engine) must agree on every CA file: a provider that ships only its
// intermediate once got checks that passed and downloads that failed.
TEST_F(StatusCheckTest, BothTransportsAgreeOnWhatTheCaFileHolds)
{
    const std::string checkUrl = "https://127.0.0.1:" + DevserverReadyValue("chained_port") + "/";
    const std::string packageUrl =
        "https://localhost:" + DevserverReadyValue("chained_files_tls_port") + "/chained-package.msi";
    ASSERT_NE(checkUrl, "https://127.0.0.1:/") << "the fixture started no chained server";
    ASSERT_TRUE(WriteWholeFile(DevserverRunDir() + "files\\chained-package.msi", "package bytes"));
    const std::string pki = DevserverRunDir() + "pki\\";
    const struct {
        std::vector<const char*> caFile;
        bool trusted;
    } cases[] = {
        {{"intermediate_ca.pem"}, true},
        {{"ca.pem"}, true},
        {{"other_ca.pem", "intermediate_ca.pem"}, true},
        {{"other_ca.pem"}, false},
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("CA file: ") + c.caFile[0] + (c.caFile.size() > 1 ? " and more" : ""));
        std::string pem;
        for (const char* name : c.caFile)
            pem += ReadWholeFile(pki + name).value_or("");
        ASSERT_TRUE(WriteWholeFile(std::string(kVerifyingInstallDir) + "bin\\server_ca.pem", pem));
        ASSERT_TRUE(SetSettingForTest(kValueInstallDir, kVerifyingInstallDir));
        ASSERT_TRUE(SetSettingForTest(kValueUpdateServer, checkUrl));

        EXPECT_EQ(Ferolin("-checkstatus", 12), c.trusted ? kCheckDone : kCheckFailed);
        const std::string saved = "chained-" + std::to_string(++row) + ".msi";
        EXPECT_EQ(VPNDownloadURLFile(packageUrl.c_str(), kVerifyingInstallDir, saved.c_str()), c.trusted ? 1 : 0);
    }
}

// A server that holds its answer: the stall rule ends a transfer that
// sends nothing, and the overall limit one that the stall rule lets run.
TEST_F(StatusCheckTest, HeldAnswerIsCutOffByTheTransferLimits)
{
    const struct {
        const char* what;
        const char* misbehave;
        TransferLimits limits;
    } rows[] = {
        {"stalled", R"({"stall_ms": 30000})", {5, 1, 2, 20}},
        {"slow, within a generous stall rule", R"({"delay_ms": 30000})", {5, 1, 60, 3}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SetState(std::string(R"({"misbehave": {"chk_stt": )") + row.misbehave +
                 R"(}, "subscribers": {"checker": {"status": {"result": "0", "stt": "ativo"}}}})");
        ScopedTransferLimits limits(row.limits);

        auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(Ferolin("-checkstatus", 12), kCheckFailed);
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);

        // Ended by the limit, long before the server would have answered.
        EXPECT_LT(seconds.count(), 15);
        EXPECT_EQ(StoredStatus(), Values(5));
    }
}

TEST_F(StatusCheckTest, HttpErrorPageIsAnAnswerThatStoresNothing)
{
    SetState(R"({"misbehave": {"chk_stt": {"http_status": 500}}})");

    EXPECT_EQ(Ferolin("-checkstatus", 12), kCheckDone);

    EXPECT_EQ(NewRequests().size(), 1u);
    EXPECT_EQ(StoredStatus(), Values(5));
}

TEST_F(StatusCheckTest, ReplyThatDoesNotParseStoresNothing)
{
    SetState(R"({"subscribers": {"checker": {"raw": {"chk_stt": "{\"stt\":\"ativo\",\"msg\":\"cut"}}}})");

    EXPECT_EQ(Ferolin("-checkstatus", 12), kCheckDone);

    EXPECT_EQ(StoredStatus(), Values(5));
}

TEST_F(StatusCheckTest, DroppedConnectionFails)
{
    SetState(R"({"misbehave": {"chk_stt": {"drop": true}}})");
    EXPECT_EQ(Ferolin("-checkstatus", 12), kCheckFailed);
    EXPECT_EQ(StoredStatus(), Values(5));
}

// Through Ferolin.dll, loaded by name from this program's folder the way a
// program of the VPN client would.
TEST_F(StatusCheckTest, ThroughTheLibraryTwoChecksInOneProcessBothWork)
{
    HMODULE library = LoadLibraryA((ProgramFolder() + "Ferolin.dll").c_str());
    ASSERT_NE(library, nullptr);
    using Entry = int(__stdcall*)(const char*, int);
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(library, "Ferolin")));
    ASSERT_NE(entry, nullptr);

    EXPECT_EQ(entry("-CheckStatus", 12), kCheckDone);
    SetState(R"({"subscribers": {"checker": {"status": {"result": "0", "stt": "cancelado"}}}})");
    EXPECT_EQ(entry("/checkstatus", 12), kCheckDone);
    FreeLibrary(library);

    std::vector<LoggedRequest> requests = NewRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "chk_stt");
    EXPECT_EQ(requests[1].raw, ExpectedStatusBody(ExpectedMachineIdentity(), "7"));
    EXPECT_EQ(GetSettingForTest(kValueStatus), "cancelado");
}

// The reply is the subscriber's business: it must not appear on the console
// of whatever program runs the check.
TEST_F(StatusCheckTest, ThroughTheLibraryTheReplyNeverReachesStandardOutput)
{
    DWORD exitCode = 1;
    std::optional<std::string> output =
        RunAndCapture("\"" + ProgramFolder() + "FerolinRun.exe\" -checkstatus", &exitCode);

    ASSERT_TRUE(output.has_value());
    EXPECT_EQ(*output, WithCrLf("result: 0\n"));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(GetSettingForTest(kValueStatus), "ativo");
}

// Downloads: the same transport without client certificate, into a file.
class DownloadTest : public StatusCheckTest {
protected:
    void SetUp() override
    {
        StatusCheckTest::SetUp();
        curl_global_init(CURL_GLOBAL_ALL);
    }
    void TearDown() override { curl_global_cleanup(); }
};

TEST_F(DownloadTest, FetchesTheFileAndAppendsItToTheReplyBuffer)
{
    const std::string content = "client\ndev tun\nremote 127.0.0.1\n";
    ASSERT_TRUE(WriteWholeFile(DevserverRunDir() + "files\\korv.ovpn", content));
    const std::string target = std::string(kTestInstallDir) + "korv.ovpn";
    ResetReplyBuffer();
    char earlier[] = "before:";
    ReplySink(earlier, 1, sizeof earlier - 1, nullptr);

    EXPECT_EQ(DownloadToFile((FilesUrl() + "/korv.ovpn").c_str(), target.c_str()), 0);

    EXPECT_EQ(ReadWholeFile(target), content);
    EXPECT_EQ(std::string(ReplyBuffer), "before:" + content);
}

TEST_F(DownloadTest, HttpErrorStatusCompletesWithThePageAsContent)
{
    const std::string target = std::string(kTestInstallDir) + "missing.ovpn";
    EXPECT_EQ(DownloadToFile((FilesUrl() + "/no-such-file.ovpn").c_str(), target.c_str()), 0);
    std::optional<std::string> page = ReadWholeFile(target);
    ASSERT_TRUE(page.has_value());
    EXPECT_FALSE(page->empty());
}

TEST_F(DownloadTest, FolderThatDoesNotExistFailsWithoutATransfer)
{
    ASSERT_TRUE(WriteWholeFile(DevserverRunDir() + "files\\korv.ovpn", "x"));
    EXPECT_NE(DownloadToFile((FilesUrl() + "/korv.ovpn").c_str(), "C:\\kvlchecks\\no-such-folder\\korv.ovpn"), 0);
    EXPECT_TRUE(NewRequests().empty());
}

TEST_F(DownloadTest, ExistingFileIsTruncatedEvenWhenTheTransferFails)
{
    const std::string target = std::string(kTestInstallDir) + "old.ovpn";
    ASSERT_TRUE(WriteWholeFile(target, "old content"));
    EXPECT_NE(DownloadToFile("http://127.0.0.1:1/korv.ovpn", target.c_str()), 0);
    EXPECT_EQ(ReadWholeFile(target), "");
}

// The VPN's own adapter comes up while the identity is being read: each call
// finds the list one adapter longer than the size the previous call gave.
// The identity still takes the list once it has stopped growing.
TEST(AdapterListTest, ListThatGrowsBetweenTheCallsIsAskedForAgain)
{
    static int calls;
    calls = 0;
    readAdapterList = [](IP_ADAPTER_INFO* list, ULONG* length) -> ULONG {
        ++calls;
        const ULONG needed = sizeof(IP_ADAPTER_INFO) * static_cast<ULONG>(calls < 3 ? calls : 3);
        if (*length < needed) {
            *length = needed;
            return ERROR_BUFFER_OVERFLOW;
        }
        ZeroMemory(list, sizeof *list);
        list->Type = MIB_IF_TYPE_ETHERNET;
        list->AddressLength = 6;
        const BYTE address[6] = {2, 0, 0, 0, 0, 7};
        CopyMemory(list->Address, address, sizeof address);
        return NO_ERROR;
    };
    char text[64] = "";
    EXPECT_EQ(ReadAdapterText(text, sizeof text), 1);
    readAdapterList = GetAdaptersInfo;
    EXPECT_STREQ(text, "200007");
    EXPECT_EQ(calls, 4);
}

} // namespace
