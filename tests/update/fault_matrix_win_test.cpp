// Every exchange of the library with a server, under every way a server or
// the network can fail it: what the command returns, which settings it
// changes, what it leaves on disk, how often it asks and how long it takes.
// The run writes the table to docs/fault-matrix.md for operators; a cell whose
// observation differs from its expectation fails the run (and the table shows
// both).
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "check_test_support.h"
#include "ferolin_entry.h"
#include "https_transport.h"
#include "settings_names.h"
#include "update_installation.h"
#include "url_download.h"

namespace {

using Values = std::map<std::string, std::string>;
using Tree = std::map<std::string, std::string>;

// Short limits, so that a stall costs seconds: a transfer that stays below a
// sixteenth of the shipped minimum speed (the test's files are small) for two
// seconds is abandoned, a whole POST after eight, a configuration download
// after three; files may hold 32 KiB.
constexpr TransferLimits kMatrixLimits = {3, kDefaultTransferLimits.lowSpeedBytes / 16, 2, 8, 3, 32 * 1024, 32 * 1024};
// What each call may take beyond its own limit (process and Wine overhead).
constexpr double kSlackSeconds = 4.0;
// libcurl judges a transfer's speed over about its last five seconds, so a
// stall is noticed up to that much later than its limit says.
constexpr double kSpeedWindowSeconds = 5.0;
// The server's stalls outlast the client's limits by far.
constexpr int kServerStallMs = 20000;
// Bytes of a body that go out before a mid-body fault strikes.
constexpr int kBodyBytesBeforeFault = 8;
// A reply or file beyond the check replies' buffer.
constexpr std::size_t kLargeBytes = 20000;
// Tokens of a reply beyond the tokenizer's array.
constexpr int kManyTokens = 500;
// A trickle far below the minimum speed (a quarter of the test's), of a file
// that would take 25 s at that pace.
constexpr char kTrickleFault[] = R"({"trickle_bytes": 4, "trickle_ms": 250})";
constexpr std::size_t kTrickledBytes = 400;
// A pace well above the minimum speed, of a file that takes longer than a
// configuration download may.
constexpr char kSlowFault[] = R"({"trickle_bytes": 100, "trickle_ms": 250})";
constexpr std::size_t kSlowBytes = 2000;
constexpr double kSlowFileSeconds = (kSlowBytes / 100 - 1) * 0.25;

constexpr char kOldConfig[] = "old configuration\n";
constexpr char kNewConfig[] = "new configuration\n";
constexpr char kPackageName[] = "KVL-2.0.msi";
constexpr char kUpdateStateBefore[] = "1.0.28";

enum class Kind { kCheck, kConfigDownload, kPackage, kExport };

struct Exchange {
    const char* name; // first column of the table
    Kind kind;
    const char* method; // of the check request (kCheck)
    const char* command;
};

const Exchange kExchanges[] = {
    {"status check (-checkstatus)", Kind::kCheck, "chk_stt", "-checkstatus"},
    {"software check (-checkupdate)", Kind::kCheck, "chk_sw_upd", "-checkupdate"},
    {"configuration check (-checkconfig)", Kind::kCheck, "chk_cnf_upd", "-checkconfig"},
    {"command check (-checkcommand)", Kind::kCheck, "chk_cmd_upd", "-checkcommand"},
    {"configuration download (-checkconfig)", Kind::kConfigDownload, "", "-checkconfig"},
    {"package download (-update, WinINet)", Kind::kPackage, "", "-update"},
    {"VPNDownloadURLFile (WinINet)", Kind::kExport, "", ""},
};

enum class Fault {
    kRefused,
    kStallBeforeHeaders,
    kStallMidBody,
    kDropMidBody,
    kReset,
    kTlsHandshake,
    kClientCertificate,
    kHttp500,
    kRedirectLoop,
    kLargeReply,
    kMalformed,
    kTooManyTokens,
    kCutShort,
    kTrickle,
    kSlowFile,
    kOversized,
    kPlainHttpVerified,
    kRedirectToHttp,
    kLoadableName,
};

struct FaultInfo {
    Fault fault;
    const char* name;
    const char* what; // for the operators' introduction
};

const FaultInfo kFaults[] = {
    {Fault::kRefused, "refused connection", "nothing listens on the server's port"},
    {Fault::kStallBeforeHeaders, "stall before the headers", "the server takes the request and says nothing"},
    {Fault::kStallMidBody, "stall mid-body",
     "the server sends the headers and a few bytes of the body, then pauses far longer than the client's stall limit"},
    {Fault::kDropMidBody, "drop mid-body",
     "the body comes with chunked encoding (no length announced) and the connection closes after a few bytes, "
     "without the closing chunk"},
    {Fault::kReset, "connection reset", "the server aborts the connection (TCP reset) instead of answering"},
    {Fault::kTlsHandshake, "TLS handshake failure",
     "the server answers the TLS ClientHello with plain-text HTTP (an https URL on a plain HTTP port)"},
    {Fault::kClientCertificate, "client certificate refused",
     "the installation's client certificate is signed by a CA the server does not trust; the server ends the "
     "handshake"},
    {Fault::kHttp500, "HTTP 500 with an HTML page", "status 500 and an HTML error page instead of the document"},
    {Fault::kRedirectLoop, "3xx redirect loop", "status 307 with a Location naming the very URL that was asked for"},
    {Fault::kLargeReply, "reply of 15000 bytes and more",
     "a well-formed answer of 20000 bytes: a check reply that carries new values (and padding), or a file that "
     "large"},
    {Fault::kMalformed, "malformed document", "the check reply's document ends before its closing braces"},
    {Fault::kTooManyTokens, "more than 480 tokens", "a check reply that carries new values and a list of 500 strings"},
    {Fault::kCutShort, "body cut short of its Content-Length",
     "the whole length is announced, a few bytes are sent, the connection closes"},
    {Fault::kTrickle, "trickle below the minimum speed",
     "the reply or file comes 4 bytes every 250 ms (16 bytes a second): steady, but far below the minimum speed"},
    {Fault::kSlowFile, "file slower than its time limit",
     "a file of 2000 bytes comes 100 bytes every 250 ms, above the minimum speed, in about 5 s"},
    {Fault::kOversized, "file beyond the size limit", "a file one byte larger than the size limit (with its length)"},
    {Fault::kPlainHttpVerified, "plain http, server CA file in force",
     "the installation holds bin\\server_ca.pem and the URL of the exchange (\"update_server\", \"url_cnf\", "
     "\"url_sw\", the export's URL) is plain http, which the file server would answer"},
    {Fault::kRedirectToHttp, "https redirected to plain http",
     "the server answers 307 with a Location on the plain-http file server; for the checks without a server CA "
     "file (the check never follows a hop to http, whatever the mode), for the downloads with one"},
    {Fault::kLoadableName, "name Windows would load",
     "the server names a library beside the programs: \"file_sw\" \"IPHLPAPI.DLL\", or a VPN configuration "
     "\"vpn.dll\""},
};

// What a cell should show, or the reason it does not apply.
struct Expectation {
    std::string notApplicable;
    // A fault of the agent that is known and not yet mended: the expectation
    // is what it does today, and the table says what it should do.
    std::string knownFault;
    std::string result;
    Values settingChanges; // name -> value afterwards ("<absent>" when removed)
    Tree fileChanges;      // path below the scratch tree -> content ("<absent>" when removed)
    int requests = 0;      // requests the server logged for the exchange
    double maxSeconds = 0;
};

struct Observation {
    std::string result;
    Values settingChanges;
    Tree fileChanges;
    int requests = 0;
    double seconds = 0;
};

constexpr char kAbsent[] = "<absent>";
// What the identity key holds before each cell: the status check rebuilds the
// identity and stores it before it asks the server, whatever then happens.
constexpr char kStaleIdentity[] = "stale";
constexpr char kIdentityName[] = "(identity key)";

// The settings key's values, read without the library.
Values SettingsNow()
{
    Values values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Pelmora\\VPNKorv", 0, KEY_READ | KEY_WOW64_32KEY, &key) !=
        ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        BYTE data[4096];
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS)
            break;
        std::string text(reinterpret_cast<const char*>(data), dataLength);
        while (!text.empty() && text.back() == '\0')
            text.pop_back();
        values[std::string(name, nameLength)] = text;
    }
    RegCloseKey(key);
    if (std::optional<std::string> identity = GetIdentityForTest())
        values[kIdentityName] = *identity;
    return values;
}

template <typename Map>
Map Changes(const Map& before, const Map& after)
{
    Map changes;
    for (const auto& [name, value] : after) {
        auto was = before.find(name);
        if (was == before.end() || was->second != value)
            changes[name] = value;
    }
    for (const auto& [name, value] : before)
        if (after.count(name) == 0)
            changes[name] = kAbsent;
    return changes;
}

std::string ShowSettings(const Values& changes)
{
    if (changes.empty())
        return "untouched";
    std::string text;
    for (const auto& [name, value] : changes) {
        text += text.empty() ? "" : ", ";
        text += "`" + (name.empty() ? std::string("(default)") : name) + "`";
        text += value == kAbsent ? " removed" : " = \"" + value + "\"";
    }
    return text;
}

std::string ShowFiles(const Tree& changes)
{
    if (changes.empty())
        return "intact, nothing left behind";
    std::string text;
    for (const auto& [path, content] : changes) {
        text += text.empty() ? "" : ", ";
        text += "`" + path + "`";
        text += content == kAbsent ? " removed" : " " + std::to_string(content.size()) + " bytes";
    }
    return text;
}

// Whole seconds, for the table: finer would change it on every run.
std::string ShowSeconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f s", seconds);
    return text;
}

std::string ChunkedCutFault()
{
    return "known fault: the cut body is kept as the whole file; it should give the download's failure and leave "
           "no file";
}

// One row of the table, built up column by column.
struct Row {
    std::string exchange;
    std::string fault;
    std::vector<std::string> cells; // result, settings, files, requests, time
    bool ok = true;
};

class FaultMatrixTest : public CheckTest {
protected:
    void SetUp() override
    {
        CheckTest::SetUp();
        transferLimits = kMatrixLimits;
        configUrl_ = FilesUrl() + "/vpn.conf";
        packageUrl_ = FilesUrl() + "/pkg/" + kPackageName;
    }
    void TearDown() override { transferLimits = kDefaultTransferLimits; }

    // The answers of a server that works, as JSON text of the subscriber entry.
    std::string GoodAnswers(const std::string& configUrl) const
    {
        return R"("status": {"result": "0", "v_stt": "4", "stt": "bloqueado", "msg": "Conta bloqueada",)"
               R"( "int": "90", "per": "15"},)"
               R"( "soft": {"result": "0", "v_sw": "2.0", "url_sw": "{{files}}/pkg/KVL-2.0.msi", "file_sw": ")" +
            packageFile_ + R"("},)" +
            R"( "config": {"result": "0", "files": [{"v_cnf": "8", "is_cnf": "1", "url_cnf": )" + Quoted(configUrl) +
            R"(, "sub_dir": "", "file_cnf": ")" + configFile_ + R"("}]},)" +
            R"( "command": {"result": "0", "cmds": [{"v_cmd": "5", "cod_cmd": "1"}]})";
    }

    // The document the devserver composes for `method` from GoodAnswers.
    std::string GoodDocument(const std::string& method) const
    {
        if (method == "chk_stt")
            return R"({"result":"0","v_stt":"4","stt":"bloqueado","msg":"Conta bloqueada","int":"90","per":"15"})";
        if (method == "chk_sw_upd")
            return R"({"soft":{"result":"0","v_sw":"2.0","url_sw":")" + packageUrl_ + R"(","file_sw":")" +
                kPackageName + "\"}}";
        if (method == "chk_cnf_upd")
            return R"({"config":{"result":"0","files":[{"v_cnf":"8","is_cnf":"1","url_cnf":")" + configUrl_ +
                R"(","sub_dir":"","file_cnf":"vpn.conf"}]}})";
        return R"({"command":{"result":"0","cmds":[{"v_cmd":"5","cod_cmd":"1"}]}})";
    }

    // Settings, files and certificates as they stand before every cell.
    void Prepare(const Exchange& exchange, Fault fault)
    {
        MakeTestInstallation(fault == Fault::kClientCertificate ? "other_client_" : "client_");
        ASSERT_TRUE(WriteWholeFile(std::string(kTestConfigDir) + "\\vpn.conf", kOldConfig));

        const std::string refusedServer = "https://127.0.0.1:1/";
        const std::string plainPortServer = "https://127.0.0.1:" + DevserverReadyValue("files_port") + "/";
        std::string updateServer = "https://127.0.0.1:" + DevserverReadyValue("port") + "/";
        if (exchange.kind == Kind::kCheck && fault == Fault::kRefused)
            updateServer = refusedServer;
        if (exchange.kind == Kind::kCheck && fault == Fault::kTlsHandshake)
            updateServer = plainPortServer;
        if (exchange.kind == Kind::kCheck && fault == Fault::kPlainHttpVerified)
            updateServer = FilesUrl() + "/";
        if (UsesServerCaFile(exchange, fault)) {
            ASSERT_TRUE(CopyFileA((DevserverRunDir() + "pki\\ca.pem").c_str(),
                                  (std::string(kTestInstallDir) + "bin\\server_ca.pem").c_str(), FALSE));
        }
        const bool loadableName = fault == Fault::kLoadableName;
        configFile_ = loadableName ? "vpn.dll" : "vpn.conf";
        packageFile_ = loadableName ? "IPHLPAPI.DLL" : kPackageName;
        const Values settings = {
            {kValueUserLogin, kTestUser},
            {kValuePasswordLogin, "secret"},
            {kValueUpdateServer, updateServer},
            {kValueInstallDir, kTestInstallDir},
            {kValueConfigDir, kTestConfigDir},
            {kValueStatusVersion, "3"},
            {kValueStatus, "ativo"},
            {kValueStatusMessage, "Conta ativa"},
            {kValueStatusInt, "180"},
            {kValueStatusPer, "30"},
            {kValueSoftwareVersion, "1.0"},
            {kValueNewSoftwareVersion, "1.0"},
            {kValueSoftwareUrl, "http://old.example/KVL-1.0.msi"},
            {kValueSoftwareFile, "KVL-1.0.msi"},
            {kValueConfigOnly, "1"},
            {kValueConfigVersion, "6"},
            {kValueFileVersion, "3"},
            {kValueConfigFile, "vpn.conf"},
            {kValueConfigUrl, "http://old.example/vpn.conf"},
            {kValueConfigSubDir, "old"},
            {kValueCommandVersion, "1"},
            {kValueCommandCode1, "1"},
            {kValueCommandVersion1, "1"},
            {kValueUpdateState, kUpdateStateBefore},
        };
        for (const auto& [name, value] : settings)
            ASSERT_TRUE(SetSettingForTest(name.c_str(), value)) << name;
        ASSERT_TRUE(SetIdentityForTest(kStaleIdentity));
        if (exchange.kind == Kind::kPackage) {
            ASSERT_TRUE(SetSettingForTest(kValueSoftwareUrl, FaultedUrl(exchange, fault, packageUrl_)));
            ASSERT_TRUE(SetSettingForTest(kValueSoftwareFile, packageFile_));
            // Without the password the installer is not started: a package
            // that arrived shows as "atualizando", and no installer runs.
            DeleteSettingForTest(kValuePasswordLogin);
        }

        std::string answers = GoodAnswers(FaultedUrl(exchange, fault, configUrl_));
        std::string misbehave;
        std::string fileFaults;
        const std::string faultJson =
            FaultJson(fault,
                      exchange.kind == Kind::kCheck                ? "/"
                          : exchange.kind == Kind::kConfigDownload ? "/vpn.conf"
                                                                   : "/pkg/" + std::string(kPackageName));
        if (exchange.kind == Kind::kCheck) {
            const std::string raw = RawReply(exchange.method, fault);
            if (!raw.empty())
                answers += R"(, "raw": {")" + std::string(exchange.method) + "\": " + Quoted(raw) + "}";
            if (!faultJson.empty())
                misbehave = "\"" + std::string(exchange.method) + "\": " + faultJson;
        } else if (!faultJson.empty()) {
            fileFaults = (exchange.kind == Kind::kConfigDownload ? "\"vpn.conf\": " : "\"KVL-2.0.msi\": ") + faultJson;
        }
        const std::string served = ServedFile(fault);
        ServeFile("vpn.conf", served.empty() ? std::string(kNewConfig) : served);
        ServeFile(std::string("pkg/") + kPackageName, served.empty() ? std::string(4096, 'p') : served);
        SetState(R"({"misbehave": {)" + misbehave + R"(}, "file_faults": {)" + fileFaults + R"(}, "subscribers": {")" +
                 kTestUser + "\": {" + answers + "}}}");
    }

    static std::string LargeFile() { return std::string(kLargeBytes, 'L'); }

    // The file both downloads get under `fault`; empty: the usual ones.
    static std::string ServedFile(Fault fault)
    {
        switch (fault) {
        case Fault::kLargeReply:
            return LargeFile();
        case Fault::kTrickle:
            return std::string(kTrickledBytes, 't');
        case Fault::kSlowFile:
            return std::string(kSlowBytes, 's');
        case Fault::kOversized:
            return std::string(static_cast<std::size_t>(kMatrixLimits.configBytes) + 1, 'O');
        default:
            return "";
        }
    }

    // The URL a download exchange fetches under `fault`.
    std::string FaultedUrl(const Exchange& exchange, Fault fault, const std::string& url) const
    {
        if (exchange.kind == Kind::kCheck)
            return url;
        const std::string path = url.substr(FilesUrl().size());
        if (fault == Fault::kRefused)
            return "http://127.0.0.1:1" + path;
        if (fault == Fault::kTlsHandshake)
            return "https://127.0.0.1:" + DevserverReadyValue("files_port") + path;
        if (fault == Fault::kRedirectToHttp)
            return FilesTlsUrl() + path;
        return url;
    }

    // The verified channel's cells hold the server CA file; a check
    // redirected to http shows that the mode does not matter for it.
    static bool UsesServerCaFile(const Exchange& exchange, Fault fault)
    {
        return fault == Fault::kPlainHttpVerified || (fault == Fault::kRedirectToHttp && exchange.kind != Kind::kCheck);
    }

    std::string FaultJson(Fault fault, const std::string& path) const
    {
        const std::string before = std::to_string(kBodyBytesBeforeFault);
        switch (fault) {
        case Fault::kStallBeforeHeaders:
            return R"({"delay_ms": )" + std::to_string(kServerStallMs) + "}";
        case Fault::kStallMidBody:
            return R"({"stall_ms": )" + std::to_string(kServerStallMs) + R"(, "stall_after": )" + before + "}";
        case Fault::kDropMidBody:
            return R"({"drop_after": )" + before + "}";
        case Fault::kReset:
            return R"({"reset": true})";
        case Fault::kHttp500:
            return R"({"http_status": 500})";
        case Fault::kRedirectLoop:
            return R"({"redirect_loop": true})";
        case Fault::kCutShort:
            return R"({"cut_after": )" + before + "}";
        case Fault::kTrickle:
            return kTrickleFault;
        case Fault::kSlowFile:
            return kSlowFault;
        case Fault::kRedirectToHttp:
            return R"({"redirect_to": )" + Quoted(FilesUrl() + path) + "}";
        default:
            return "";
        }
    }

    // The whole reply of a check under the faults that are about its content.
    std::string RawReply(const std::string& method, Fault fault) const
    {
        const std::string good = GoodDocument(method);
        switch (fault) {
        case Fault::kLargeReply:
        case Fault::kTrickle: {
            // The new values first, the padding behind them: a trickled
            // reply as long as the trickled file, so that it outlasts the
            // speed window (a short one would arrive before it is judged).
            std::string doc = good.substr(0, good.size() - 1) + R"(,"pad":")";
            const std::string tail = "\"}";
            const std::size_t size = fault == Fault::kTrickle ? kTrickledBytes : kLargeBytes;
            doc += std::string(size - doc.size() - tail.size(), 'x') + tail;
            return doc;
        }
        case Fault::kMalformed:
            return good.substr(0, good.size() - 1);
        case Fault::kTooManyTokens: {
            std::string list = R"({"pad":[)";
            for (int i = 0; i < kManyTokens; ++i)
                list += i == 0 ? "\"t\"" : ",\"t\"";
            return list + "]," + good.substr(1);
        }
        default:
            return "";
        }
    }

    Expectation Expect(const Exchange& exchange, Fault fault) const
    {
        Expectation e;
        if (fault == Fault::kLoadableName)
            return ExpectLoadableName(exchange);
        const bool transferFails = fault != Fault::kHttp500 && fault != Fault::kLargeReply &&
            fault != Fault::kMalformed && fault != Fault::kTooManyTokens;
        // A plain-http URL under the server CA file is refused before
        // anything is sent.
        const bool reachesServer = fault != Fault::kRefused && fault != Fault::kTlsHandshake &&
            fault != Fault::kClientCertificate && fault != Fault::kPlainHttpVerified;
        e.requests = reachesServer ? 1 : 0;
        if (exchange.kind == Kind::kCheck && (fault == Fault::kSlowFile || fault == Fault::kOversized)) {
            e.notApplicable = "a check reply is held to the POST's whole limit and to its buffer (the rows above)";
            return e;
        }
        if (exchange.kind == Kind::kCheck) {
            // The reply arrived: 0, whatever it held; none of these replies
            // gives the parser anything to store. The transfer failed: 4,
            // nothing written.
            e.result = transferFails ? "4" : "0";
            if (std::string(exchange.method) == "chk_stt")
                e.settingChanges = {{kIdentityName, ExpectedMachineIdentity()}};
            if (fault == Fault::kRedirectLoop)
                e.requests = kMaxRedirects + 1;
            e.maxSeconds = kMatrixLimits.postSeconds + kSlackSeconds;
            return e;
        }
        if (fault == Fault::kClientCertificate) {
            e.notApplicable = "downloads present no client certificate";
            return e;
        }
        if (fault == Fault::kMalformed || fault == Fault::kTooManyTokens) {
            e.notApplicable = "a downloaded file is not parsed";
            return e;
        }
        // A download ends at its stall limit or its minimum speed; the
        // configuration download also at its time limit, while a package
        // that keeps above the minimum speed takes as long as it takes.
        e.maxSeconds = exchange.kind == Kind::kConfigDownload
            ? kMatrixLimits.lowSpeedSeconds + kSpeedWindowSeconds + kSlackSeconds
            : kMatrixLimits.connectSeconds + kMatrixLimits.lowSpeedSeconds + kSlackSeconds;
        if (fault == Fault::kSlowFile)
            e.maxSeconds = exchange.kind == Kind::kConfigDownload ? kMatrixLimits.configSeconds + kSlackSeconds
                                                                  : kSlowFileSeconds + kSlackSeconds;
        const bool arrives =
            fault == Fault::kLargeReply || (fault == Fault::kSlowFile && exchange.kind != Kind::kConfigDownload);
        switch (exchange.kind) {
        case Kind::kConfigDownload:
            // The check's own exchange works; the entry is recorded, the
            // fetch fails and empties the version again, the old file stays.
            e.result = "0";
            e.settingChanges = {{kValueConfigVersion, arrives ? "8" : ""},
                                {kValueConfigUrl, FaultedUrl(exchange, fault, configUrl_)},
                                {kValueConfigSubDir, ""}};
            if (arrives) {
                e.settingChanges[kValueConfigPath] = "vpn.conf";
                e.fileChanges = {{"config\\vpn.conf", ServedFile(fault)}};
            }
            // The check request, then the file (redirections are not followed).
            break;
        case Kind::kPackage:
            if (fault == Fault::kRedirectLoop)
                e.requests = kMaxRedirects + 1;
            // Whatever arrives here, whole or cut short (WinINet ends a
            // chunked body cut short as if it were complete), is no
            // installer package: refused and deleted as a failed download.
            e.result = std::to_string(kUpdateDownloadFailed);
            break;
        case Kind::kExport:
            if (fault == Fault::kRedirectLoop)
                e.requests = kMaxRedirects + 1;
            if (fault == Fault::kDropMidBody) {
                e.knownFault = ChunkedCutFault();
                e.result = "1";
                e.fileChanges = {{std::string("inst\\") + kPackageName, std::string(kBodyBytesBeforeFault, 'p')}};
                break;
            }
            e.result = arrives ? "1" : "0";
            if (arrives)
                e.fileChanges = {{std::string("inst\\") + kPackageName, ServedFile(fault)}};
            break;
        case Kind::kCheck:
            break;
        }
        return e;
    }

    // A name from the server that Windows would load is refused as an unsafe
    // name is: the offer is not recorded, the entry is a failed download, the
    // package is not fetched.
    Expectation ExpectLoadableName(const Exchange& exchange) const
    {
        Expectation e;
        e.maxSeconds = kMatrixLimits.postSeconds + kSlackSeconds;
        switch (exchange.kind) {
        case Kind::kCheck:
            if (std::string(exchange.method) != "chk_sw_upd") {
                e.notApplicable = "this reply names no file";
                break;
            }
            e.result = "0";
            e.requests = 1;
            break;
        case Kind::kConfigDownload:
            e.result = "0";
            e.settingChanges = {{kValueConfigVersion, ""}};
            break;
        case Kind::kPackage:
            e.result = std::to_string(kUpdateSettingMissing);
            break;
        case Kind::kExport:
            e.notApplicable = "the calling program names the file, not the server";
            break;
        }
        return e;
    }

    Observation Run(const Exchange& exchange)
    {
        Observation seen;
        const Values settingsBefore = SettingsNow();
        const Tree treeBefore = TreeOf(kTestRoot);
        const std::size_t updateBefore = Requests("update");
        const std::size_t filesBefore = Requests("files");
        const auto started = std::chrono::steady_clock::now();
        if (exchange.kind == Kind::kExport) {
            const std::string url = FaultedUrl(exchange, currentFault_, packageUrl_);
            seen.result = std::to_string(VPNDownloadURLFile(url.c_str(), kTestInstallDir, kPackageName));
        } else {
            seen.result = std::to_string(Ferolin(exchange.command, 12));
        }
        seen.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        seen.settingChanges = Changes(settingsBefore, SettingsNow());
        seen.fileChanges = Changes(treeBefore, TreeOf(kTestRoot));
        seen.requests = static_cast<int>(exchange.kind == Kind::kCheck ? Requests("update") - updateBefore
                                                                       : Requests("files") - filesBefore);
        return seen;
    }

    std::size_t Requests(const std::string& server) const
    {
        std::size_t count = 0;
        for (const std::string& line : NewLogLines())
            if (line.find("\"server\":\"" + server + "\"") != std::string::npos)
                ++count;
        return count;
    }

    // `text` with this run's ports and this machine's identity as placeholders.
    std::string Redacted(std::string text) const
    {
        const std::pair<std::string, std::string> swaps[] = {
            {"127.0.0.1:" + DevserverReadyValue("files_port"), "127.0.0.1:FILES_PORT"},
            {"127.0.0.1:" + DevserverReadyValue("files_tls_port"), "127.0.0.1:FILES_TLS_PORT"},
            {ExpectedMachineIdentity(), "(this machine's identity)"},
        };
        for (const auto& [from, to] : swaps) {
            for (std::size_t at = text.find(from); !from.empty() && at != std::string::npos;
                 at = text.find(from, at + to.size()))
                text.replace(at, from.size(), to);
        }
        return text;
    }

    Fault currentFault_ = Fault::kRefused;
    std::string configFile_ = "vpn.conf";
    std::string packageFile_ = kPackageName;
    std::string configUrl_;
    std::string packageUrl_;
};

// "seen" when it matches, else both, marked.
std::string Cell(const std::string& expected, const std::string& seen, bool equal, bool& ok)
{
    if (equal)
        return seen;
    ok = false;
    return "**expected " + expected + ", seen " + seen + "**";
}

std::string Introduction()
{
    std::string text =
        "# What the agent does when a server fails it\n\n"
        "This table is written by the Windows test `FaultMatrixTest` (tests/update/fault_matrix_win_test.cpp) "
        "each time it runs; do not edit it by hand. The test runs every exchange of the library with a server "
        "through the library's own entry (`Ferolin` with the command shown, or the export "
        "`VPNDownloadURLFile`) against the development server `kvl-devserver` under Wine, with every fault "
        "below, and fails when any cell differs from what the agent is meant to do. A cell that differs shows "
        "**expected ..., seen ...** in bold.\n\n"
        "Each exchange starts from the same settings (an active account with a status, a software offer, a "
        "configuration version and a command slot), an old VPN configuration file `config\\vpn.conf`, and a "
        "server whose answers, when they arrive whole, would change all of them. So \"untouched\" means that a "
        "failure cost nothing. The package download runs `-update` without the subscriber's password, so that "
        "a package that arrives is recorded (`update_stt` = \"atualizando\") but no installer is started.\n\n"
        "The test shortens the library's transfer limits: a transfer that moves less than " +
        std::to_string(kMatrixLimits.lowSpeedBytes) + " bytes a second for " +
        std::to_string(kMatrixLimits.lowSpeedSeconds) + " s is abandoned, a connection must be made within " +
        std::to_string(kMatrixLimits.connectSeconds) + " s, a check's whole POST within " +
        std::to_string(kMatrixLimits.postSeconds) + " s, a configuration download within " +
        std::to_string(kMatrixLimits.configSeconds) + " s, and a file may hold " +
        std::to_string(kMatrixLimits.configBytes) + " bytes (the shipped limits are " +
        std::to_string(kDefaultTransferLimits.lowSpeedBytes) + " bytes a second over " +
        std::to_string(kDefaultTransferLimits.lowSpeedSeconds) + " s, " +
        std::to_string(kDefaultTransferLimits.connectSeconds) + " s, " +
        std::to_string(kDefaultTransferLimits.postSeconds) + " s, " +
        std::to_string(kDefaultTransferLimits.configSeconds) + " s, " +
        std::to_string(kDefaultTransferLimits.configBytes) + " bytes for a configuration file and " +
        std::to_string(kDefaultTransferLimits.packageBytes) +
        " bytes for a package). The package download waits at most as long for its connection and for each "
        "piece of data, and judges the speed over windows of the same length. A "
        "check follows at most " +
        std::to_string(kMaxRedirects) +
        " redirections (to https only), so does the package download (to http or https, and none with a server "
        "CA file in force); the configuration download follows none. Times are "
        "measured under Wine and include its overhead.\n\n"
        "Faults:\n\n";
    for (const FaultInfo& f : kFaults)
        text += std::string("- **") + f.name + "**: " + f.what + ".\n";
    text += "\nColumns:\n\n"
            "- **result**: what the command returns: for the checks 0 (the reply arrived, whatever it held) or 4 "
            "(a setting was missing or the exchange failed); for `-update` 0 (done), 1 (a setting missing) or 2 "
            "(the download failed); for `VPNDownloadURLFile` 1 (the whole file arrived) or 0.\n"
            "- **settings**: every value of the settings key and the identity key, compared one by one with "
            "what they held before; the ones that changed, with their new value.\n"
            "- **files**: the installation and configuration folders compared file by file with before: the old "
            "configuration file intact, no partial download or scratch (`.part`) file left, or the file that "
            "arrived.\n"
            "- **requests**: how many requests the server saw (0: the connection never got as far as a "
            "request).\n"
            "- **time**: how long the call took, and the most it may take.\n\n"
            "| exchange | fault | result | settings | files | requests | time |\n"
            "|---|---|---|---|---|---|---|\n";
    return text;
}

} // namespace

TEST_F(FaultMatrixTest, EveryExchangeUnderEveryFault)
{
    std::vector<Row> rows;
    for (const Exchange& exchange : kExchanges) {
        for (const FaultInfo& info : kFaults) {
            SCOPED_TRACE(std::string(exchange.name) + " / " + info.name);
            Row row{exchange.name, info.name, {}, true};
            const Expectation expected = Expect(exchange, info.fault);
            if (!expected.notApplicable.empty()) {
                row.cells = {"n/a: " + expected.notApplicable, "", "", "", ""};
                rows.push_back(row);
                continue;
            }
            currentFault_ = info.fault;
            Prepare(exchange, info.fault);
            if (HasFatalFailure())
                return;
            const Observation seen = Run(exchange);
            // Compared whole; the table shows file sizes, and placeholders for
            // what differs from run to run (ports, the machine's identity).
            row.cells.push_back(Cell(expected.result, seen.result, expected.result == seen.result, row.ok));
            row.cells.push_back(Cell(Redacted(ShowSettings(expected.settingChanges)),
                                     Redacted(ShowSettings(seen.settingChanges)),
                                     expected.settingChanges == seen.settingChanges, row.ok));
            const bool sameFiles = expected.fileChanges == seen.fileChanges;
            const bool sameLook = ShowFiles(expected.fileChanges) == ShowFiles(seen.fileChanges);
            row.cells.push_back(Cell(ShowFiles(expected.fileChanges),
                                     ShowFiles(seen.fileChanges) + (!sameFiles && sameLook ? " (other content)" : ""),
                                     sameFiles, row.ok));
            row.cells.push_back(Cell(std::to_string(expected.requests), std::to_string(seen.requests),
                                     expected.requests == seen.requests, row.ok));
            const bool inTime = seen.seconds <= expected.maxSeconds;
            row.cells.push_back(
                inTime ? ShowSeconds(seen.seconds) + " (at most " + ShowSeconds(expected.maxSeconds) + ")"
                       : "**" + ShowSeconds(seen.seconds) + ", more than " + ShowSeconds(expected.maxSeconds) + "**");
            row.ok = row.ok && inTime;
            if (!expected.knownFault.empty())
                row.cells[0] += " (" + expected.knownFault + ")";
            EXPECT_TRUE(row.ok) << row.cells[0] << " | " << row.cells[1] << " | " << row.cells[2] << " | "
                                << row.cells[3] << " | " << row.cells[4];
            rows.push_back(row);
        }
    }

    std::string table = Introduction();
    for (const Row& row : rows) {
        table += "| " + row.exchange + " | " + row.fault;
        for (const std::string& cell : row.cells)
            table += " | " + cell;
        table += " |\n";
    }
    const std::string doc = WindowsPathOfLinuxPath(KVL_SOURCE_DIR "/docs/fault-matrix.md");
    EXPECT_TRUE(WriteWholeFile(doc, table)) << doc;
}
