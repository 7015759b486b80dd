// Every exchange of the library with a server, under every way a server or
// the network can fail it: what the command returns, which settings it
// changes, what it leaves on disk, how often it asks and how long it takes.
// The expectations are one plain table (kExpected), which reads like the
// operators' page docs/fault-matrix.md: a cell whose observation differs from
// its row fails the run (and the page shows both). The run writes the page into
// the build tree and fails when the checked-in one differs; run with
// KVL_FAULT_MATRIX_REFRESH=1 to write it over the checked-in one instead.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <optional>
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

// The exchanges, in the page's order.
enum class Ex { kStatus, kSoftware, kConfig, kCommand, kConfigDownload, kPackage, kExport };

struct Exchange {
    Ex id;
    const char* name; // first column of the table
    Kind kind;
    const char* method; // of the check request (kCheck)
    const char* command;
};

const Exchange kExchanges[] = {
    {Ex::kStatus, "status check (-checkstatus)", Kind::kCheck, "chk_stt", "-checkstatus"},
    {Ex::kSoftware, "software check (-checkupdate)", Kind::kCheck, "chk_sw_upd", "-checkupdate"},
    {Ex::kConfig, "configuration check (-checkconfig)", Kind::kCheck, "chk_cnf_upd", "-checkconfig"},
    {Ex::kCommand, "command check (-checkcommand)", Kind::kCheck, "chk_cmd_upd", "-checkcommand"},
    {Ex::kConfigDownload, "configuration download (-checkconfig)", Kind::kConfigDownload, "", "-checkconfig"},
    {Ex::kPackage, "package download (-update, WinINet)", Kind::kPackage, "", "-update"},
    {Ex::kExport, "VPNDownloadURLFile (WinINet)", Kind::kExport, "", ""},
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

// What each cell should show, as the page shows it: settings and files as
// "changed" lists with this run's ports and the machine's identity as
// placeholders, the time as the most a call may take.
struct Expected {
    Ex exchange;
    Fault fault;
    // What the command returns, or "n/a: why" for a cell that does not apply.
    std::string result;
    std::string settings = "";
    std::string files = "";
    int requests = 0; // requests the server logged for the exchange
    double bound = 0; // seconds
    // A fault of the agent that is known and not yet mended: the row says
    // what it does today, the page also what it should do.
    const char* knownFault = nullptr;
};

// What a call may take: a check its whole POST; a download its stall limit
// or minimum speed (a configuration download with libcurl's speed window, a
// package after its connection), a configuration download at most its time
// limit, a package that keeps above the minimum speed as long as it takes.
constexpr double kCheckBound = kMatrixLimits.postSeconds + kSlackSeconds;
constexpr double kConfigBound = kMatrixLimits.lowSpeedSeconds + kSpeedWindowSeconds + kSlackSeconds;
constexpr double kConfigTimeBound = kMatrixLimits.configSeconds + kSlackSeconds;
constexpr double kPackageBound = kMatrixLimits.connectSeconds + kMatrixLimits.lowSpeedSeconds + kSlackSeconds;
constexpr double kSlowPackageBound = kSlowFileSeconds + kSlackSeconds;
// A redirect loop: the request and every redirection followed.
constexpr int kLoop = static_cast<int>(kMaxRedirects) + 1;

const std::string kUntouched = "untouched";
const std::string kIdentity = "`(identity key)` = \"(this machine's identity)\"";
const std::string kIntact = "intact, nothing left behind";
const std::string kNoReplyLimit =
    "n/a: a check reply is held to the POST's whole limit and to its buffer (the rows above)";
const std::string kNoFileNamed = "n/a: this reply names no file";
const std::string kNoClientCertificate = "n/a: downloads present no client certificate";
const std::string kNotParsed = "n/a: a downloaded file is not parsed";
constexpr char kCutChunkedKept[] =
    "known fault: the cut body is kept as the whole file; it should give the download's failure and leave no file";

// The configuration entry recorded with `url`, its download failed: the
// version emptied again.
std::string ConfigDropped(const std::string& url)
{
    return "`sub_dir` = \"\", `url_cnf` = \"" + url + "/vpn.conf\", `v_cnf` = \"\"";
}
const std::string kFilesUrl = "http://127.0.0.1:FILES_PORT";

std::string Package(std::size_t bytes) { return "`inst\\KVL-2.0.msi` " + std::to_string(bytes) + " bytes"; }

// clang-format off
const Expected kExpected[] = {
    // exchange          fault                          result  settings  files  requests  bound
    {Ex::kStatus, Fault::kRefused,            "4", kIdentity, kIntact, 0, kCheckBound},
    {Ex::kStatus, Fault::kStallBeforeHeaders, "4", kIdentity, kIntact, 1, kCheckBound},
    {Ex::kStatus, Fault::kStallMidBody,       "4", kIdentity, kIntact, 1, kCheckBound},
    {Ex::kStatus, Fault::kDropMidBody,        "4", kIdentity, kIntact, 1, kCheckBound},
    {Ex::kStatus, Fault::kReset,              "4", kIdentity, kIntact, 1, kCheckBound},
    {Ex::kStatus, Fault::kTlsHandshake,       "4", kIdentity, kIntact, 0, kCheckBound},
    {Ex::kStatus, Fault::kClientCertificate,  "4", kIdentity, kIntact, 0, kCheckBound},
    {Ex::kStatus, Fault::kHttp500,            "0", kIdentity, kIntact, 1, kCheckBound},
    {Ex::kStatus, Fault::kRedirectLoop,       "4", kIdentity, kIntact, kLoop, kCheckBound},
    {Ex::kStatus, Fault::kLargeReply,         "0", kIdentity, kIntact, 1, kCheckBound},
    {Ex::kStatus, Fault::kMalformed,          "0", kIdentity, kIntact, 1, kCheckBound},
    {Ex::kStatus, Fault::kTooManyTokens,      "0", kIdentity, kIntact, 1, kCheckBound},
    {Ex::kStatus, Fault::kCutShort,           "4", kIdentity, kIntact, 1, kCheckBound},
    {Ex::kStatus, Fault::kTrickle,            "4", kIdentity, kIntact, 1, kCheckBound},
    {Ex::kStatus, Fault::kSlowFile,           kNoReplyLimit},
    {Ex::kStatus, Fault::kOversized,          kNoReplyLimit},
    {Ex::kStatus, Fault::kPlainHttpVerified,  "4", kIdentity, kIntact, 0, kCheckBound},
    {Ex::kStatus, Fault::kRedirectToHttp,     "4", kIdentity, kIntact, 1, kCheckBound},
    {Ex::kStatus, Fault::kLoadableName,       kNoFileNamed},

    {Ex::kSoftware, Fault::kRefused,            "4", kUntouched, kIntact, 0, kCheckBound},
    {Ex::kSoftware, Fault::kStallBeforeHeaders, "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kSoftware, Fault::kStallMidBody,       "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kSoftware, Fault::kDropMidBody,        "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kSoftware, Fault::kReset,              "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kSoftware, Fault::kTlsHandshake,       "4", kUntouched, kIntact, 0, kCheckBound},
    {Ex::kSoftware, Fault::kClientCertificate,  "4", kUntouched, kIntact, 0, kCheckBound},
    {Ex::kSoftware, Fault::kHttp500,            "0", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kSoftware, Fault::kRedirectLoop,       "4", kUntouched, kIntact, kLoop, kCheckBound},
    {Ex::kSoftware, Fault::kLargeReply,         "0", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kSoftware, Fault::kMalformed,          "0", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kSoftware, Fault::kTooManyTokens,      "0", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kSoftware, Fault::kCutShort,           "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kSoftware, Fault::kTrickle,            "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kSoftware, Fault::kSlowFile,           kNoReplyLimit},
    {Ex::kSoftware, Fault::kOversized,          kNoReplyLimit},
    {Ex::kSoftware, Fault::kPlainHttpVerified,  "4", kUntouched, kIntact, 0, kCheckBound},
    {Ex::kSoftware, Fault::kRedirectToHttp,     "4", kUntouched, kIntact, 1, kCheckBound},
    // The offer of a loadable name is not recorded.
    {Ex::kSoftware, Fault::kLoadableName,       "0", kUntouched, kIntact, 1, kCheckBound},

    {Ex::kConfig, Fault::kRefused,            "4", kUntouched, kIntact, 0, kCheckBound},
    {Ex::kConfig, Fault::kStallBeforeHeaders, "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kConfig, Fault::kStallMidBody,       "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kConfig, Fault::kDropMidBody,        "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kConfig, Fault::kReset,              "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kConfig, Fault::kTlsHandshake,       "4", kUntouched, kIntact, 0, kCheckBound},
    {Ex::kConfig, Fault::kClientCertificate,  "4", kUntouched, kIntact, 0, kCheckBound},
    {Ex::kConfig, Fault::kHttp500,            "0", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kConfig, Fault::kRedirectLoop,       "4", kUntouched, kIntact, kLoop, kCheckBound},
    {Ex::kConfig, Fault::kLargeReply,         "0", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kConfig, Fault::kMalformed,          "0", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kConfig, Fault::kTooManyTokens,      "0", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kConfig, Fault::kCutShort,           "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kConfig, Fault::kTrickle,            "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kConfig, Fault::kSlowFile,           kNoReplyLimit},
    {Ex::kConfig, Fault::kOversized,          kNoReplyLimit},
    {Ex::kConfig, Fault::kPlainHttpVerified,  "4", kUntouched, kIntact, 0, kCheckBound},
    {Ex::kConfig, Fault::kRedirectToHttp,     "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kConfig, Fault::kLoadableName,       kNoFileNamed},

    {Ex::kCommand, Fault::kRefused,            "4", kUntouched, kIntact, 0, kCheckBound},
    {Ex::kCommand, Fault::kStallBeforeHeaders, "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kCommand, Fault::kStallMidBody,       "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kCommand, Fault::kDropMidBody,        "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kCommand, Fault::kReset,              "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kCommand, Fault::kTlsHandshake,       "4", kUntouched, kIntact, 0, kCheckBound},
    {Ex::kCommand, Fault::kClientCertificate,  "4", kUntouched, kIntact, 0, kCheckBound},
    {Ex::kCommand, Fault::kHttp500,            "0", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kCommand, Fault::kRedirectLoop,       "4", kUntouched, kIntact, kLoop, kCheckBound},
    {Ex::kCommand, Fault::kLargeReply,         "0", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kCommand, Fault::kMalformed,          "0", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kCommand, Fault::kTooManyTokens,      "0", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kCommand, Fault::kCutShort,           "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kCommand, Fault::kTrickle,            "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kCommand, Fault::kSlowFile,           kNoReplyLimit},
    {Ex::kCommand, Fault::kOversized,          kNoReplyLimit},
    {Ex::kCommand, Fault::kPlainHttpVerified,  "4", kUntouched, kIntact, 0, kCheckBound},
    {Ex::kCommand, Fault::kRedirectToHttp,     "4", kUntouched, kIntact, 1, kCheckBound},
    {Ex::kCommand, Fault::kLoadableName,       kNoFileNamed},

    // The check's own exchange works and records the entry; a failed fetch
    // empties the version again and the old file stays.
    {Ex::kConfigDownload, Fault::kRefused,            "0", ConfigDropped("http://127.0.0.1:1"), kIntact, 0, kConfigBound},
    {Ex::kConfigDownload, Fault::kStallBeforeHeaders, "0", ConfigDropped(kFilesUrl), kIntact, 1, kConfigBound},
    {Ex::kConfigDownload, Fault::kStallMidBody,       "0", ConfigDropped(kFilesUrl), kIntact, 1, kConfigBound},
    {Ex::kConfigDownload, Fault::kDropMidBody,        "0", ConfigDropped(kFilesUrl), kIntact, 1, kConfigBound},
    {Ex::kConfigDownload, Fault::kReset,              "0", ConfigDropped(kFilesUrl), kIntact, 1, kConfigBound},
    {Ex::kConfigDownload, Fault::kTlsHandshake,       "0", ConfigDropped("https://127.0.0.1:FILES_PORT"), kIntact, 0, kConfigBound},
    {Ex::kConfigDownload, Fault::kClientCertificate,  kNoClientCertificate},
    // Redirections are not followed: the one request.
    {Ex::kConfigDownload, Fault::kHttp500,            "0", ConfigDropped(kFilesUrl), kIntact, 1, kConfigBound},
    {Ex::kConfigDownload, Fault::kRedirectLoop,       "0", ConfigDropped(kFilesUrl), kIntact, 1, kConfigBound},
    {Ex::kConfigDownload, Fault::kLargeReply,         "0",
     "`config_path` = \"vpn.conf\", `sub_dir` = \"\", `url_cnf` = \"" + kFilesUrl + "/vpn.conf\", `v_cnf` = \"8\"",
     "`config\\vpn.conf` 20000 bytes", 1, kConfigBound},
    {Ex::kConfigDownload, Fault::kMalformed,          kNotParsed},
    {Ex::kConfigDownload, Fault::kTooManyTokens,      kNotParsed},
    {Ex::kConfigDownload, Fault::kCutShort,           "0", ConfigDropped(kFilesUrl), kIntact, 1, kConfigBound},
    {Ex::kConfigDownload, Fault::kTrickle,            "0", ConfigDropped(kFilesUrl), kIntact, 1, kConfigBound},
    {Ex::kConfigDownload, Fault::kSlowFile,           "0", ConfigDropped(kFilesUrl), kIntact, 1, kConfigTimeBound},
    {Ex::kConfigDownload, Fault::kOversized,          "0", ConfigDropped(kFilesUrl), kIntact, 1, kConfigBound},
    {Ex::kConfigDownload, Fault::kPlainHttpVerified,  "0", ConfigDropped(kFilesUrl), kIntact, 0, kConfigBound},
    {Ex::kConfigDownload, Fault::kRedirectToHttp,     "0", ConfigDropped("https://127.0.0.1:FILES_TLS_PORT"), kIntact, 1, kConfigBound},
    // Refused as an unsafe name is: the entry is a failed download.
    {Ex::kConfigDownload, Fault::kLoadableName,       "0", "`v_cnf` = \"\"", kIntact, 0, kCheckBound},

    // -update without the password: a package that arrives is recorded, no
    // installer runs.
    {Ex::kPackage, Fault::kRefused,            "2", kUntouched, kIntact, 0, kPackageBound},
    {Ex::kPackage, Fault::kStallBeforeHeaders, "2", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kPackage, Fault::kStallMidBody,       "2", kUntouched, kIntact, 1, kPackageBound},
    // WinINet (Wine's, at least) ends a chunked body cut short as if it were
    // complete, and announces no length to compare; what arrives is no whole
    // installer package, so it is refused like any failed download.
    {Ex::kPackage, Fault::kDropMidBody,        "2", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kPackage, Fault::kReset,              "2", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kPackage, Fault::kTlsHandshake,       "2", kUntouched, kIntact, 0, kPackageBound},
    {Ex::kPackage, Fault::kClientCertificate,  kNoClientCertificate},
    {Ex::kPackage, Fault::kHttp500,            "2", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kPackage, Fault::kRedirectLoop,       "2", kUntouched, kIntact, kLoop, kPackageBound},
    {Ex::kPackage, Fault::kLargeReply,         "2", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kPackage, Fault::kMalformed,          kNotParsed},
    {Ex::kPackage, Fault::kTooManyTokens,      kNotParsed},
    {Ex::kPackage, Fault::kCutShort,           "2", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kPackage, Fault::kTrickle,            "2", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kPackage, Fault::kSlowFile,           "2", kUntouched, kIntact, 1, kSlowPackageBound},
    {Ex::kPackage, Fault::kOversized,          "2", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kPackage, Fault::kPlainHttpVerified,  "2", kUntouched, kIntact, 0, kPackageBound},
    {Ex::kPackage, Fault::kRedirectToHttp,     "2", kUntouched, kIntact, 1, kPackageBound},
    // Refused as an unsafe name is: not fetched.
    {Ex::kPackage, Fault::kLoadableName,       "1", kUntouched, kIntact, 0, kCheckBound},

    {Ex::kExport, Fault::kRefused,            "0", kUntouched, kIntact, 0, kPackageBound},
    {Ex::kExport, Fault::kStallBeforeHeaders, "0", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kExport, Fault::kStallMidBody,       "0", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kExport, Fault::kDropMidBody,        "1", kUntouched, Package(kBodyBytesBeforeFault), 1, kPackageBound, kCutChunkedKept},
    {Ex::kExport, Fault::kReset,              "0", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kExport, Fault::kTlsHandshake,       "0", kUntouched, kIntact, 0, kPackageBound},
    {Ex::kExport, Fault::kClientCertificate,  kNoClientCertificate},
    {Ex::kExport, Fault::kHttp500,            "0", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kExport, Fault::kRedirectLoop,       "0", kUntouched, kIntact, kLoop, kPackageBound},
    {Ex::kExport, Fault::kLargeReply,         "1", kUntouched, Package(kLargeBytes), 1, kPackageBound},
    {Ex::kExport, Fault::kMalformed,          kNotParsed},
    {Ex::kExport, Fault::kTooManyTokens,      kNotParsed},
    {Ex::kExport, Fault::kCutShort,           "0", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kExport, Fault::kTrickle,            "0", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kExport, Fault::kSlowFile,           "1", kUntouched, Package(kSlowBytes), 1, kSlowPackageBound},
    {Ex::kExport, Fault::kOversized,          "0", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kExport, Fault::kPlainHttpVerified,  "0", kUntouched, kIntact, 0, kPackageBound},
    {Ex::kExport, Fault::kRedirectToHttp,     "0", kUntouched, kIntact, 1, kPackageBound},
    {Ex::kExport, Fault::kLoadableName,       "n/a: the calling program names the file, not the server"},
};
// clang-format on

const Expected* ExpectedCell(Ex exchange, Fault fault)
{
    for (const Expected& row : kExpected)
        if (row.exchange == exchange && row.fault == fault)
            return &row;
    return nullptr;
}

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

// The settings key's values and the identity, read without the library.
Values SettingsNow()
{
    Values values = AllSettingsForTest();
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
            // Without the password the installer is not started even for a
            // package that passed its check; what the matrix serves is none.
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
        ServeFile("vpn.conf", ServedAt("config\\vpn.conf"));
        ServeFile(std::string("pkg/") + kPackageName, ServedAt(std::string("inst\\") + kPackageName));
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

    // What the server serves at `path` below the scratch tree under the
    // current fault.
    std::string ServedAt(const std::string& path) const
    {
        const std::string served = ServedFile(currentFault_);
        if (!served.empty())
            return served;
        return path == "config\\vpn.conf" ? std::string(kNewConfig) : std::string(4096, 'p');
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
        for (const LoggedRequest& request : NewRequests())
            count += request.server == server ? 1 : 0;
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
std::string Cell(const std::string& expected, const std::string& seen, bool& ok)
{
    if (expected == seen)
        return seen;
    ok = false;
    return "**expected " + expected + ", seen " + seen + "**";
}

std::string Introduction()
{
    std::string text =
        "# What the agent does when a server fails it\n\n"
        "This page is written by the Windows test `FaultMatrixTest` (tests/update/fault_matrix_win_test.cpp); "
        "do not edit it by hand. The test runs every exchange of the library with a server through the "
        "library's own entry (`Ferolin` with the command shown, or the export `VPNDownloadURLFile`) against the "
        "development server `kvl-devserver` under Wine, with every fault below, and compares each cell with "
        "its row of the test's table of expectations (`kExpected`), which reads like this page. A cell that "
        "differs shows **expected ..., seen ...** in bold and fails the test. Each run writes the page into "
        "the build tree (`build/win64/tests/update/fault-matrix.md`) and fails when this checked-in copy "
        "differs; after a change to the table, refresh it with\n\n"
        "    KVL_FAULT_MATRIX_REFRESH=1 ctest --test-dir build/win64 -R FaultMatrix --output-on-failure\n\n"
        "which writes this page only when every cell agrees with its row.\n\n"
        "Each exchange starts from the same settings (an active account with a status, a software offer, a "
        "configuration version and a command slot), an old VPN configuration file `config\\vpn.conf`, and a "
        "server whose answers, when they arrive whole, would change all of them. So \"untouched\" means that a "
        "failure cost nothing. The package download runs `-update` without the subscriber's password, and what the "
        "matrix serves as a package is no installer package: whatever arrives, whole or cut, is refused and "
        "deleted as a failed download, and no installer is started.\n\n"
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
            "configuration file intact, no partial download or scratch (`<file>~NNNN`) file left, or the file that "
            "arrived.\n"
            "- **requests**: how many requests the server saw (0: the connection never got as far as a "
            "request).\n"
            "- **time**: the most the call may take; the test's output lists what each call took, and a call "
            "that took longer shows here in bold.\n\n"
            "| exchange | fault | result | settings | files | requests | time |\n"
            "|---|---|---|---|---|---|---|\n";
    return text;
}

} // namespace

TEST_F(FaultMatrixTest, EveryExchangeUnderEveryFault)
{
    ASSERT_EQ(std::size(kExpected), std::size(kExchanges) * std::size(kFaults)) << "one row per cell";
    std::vector<Row> rows;
    for (const Exchange& exchange : kExchanges) {
        for (const FaultInfo& info : kFaults) {
            SCOPED_TRACE(std::string(exchange.name) + " / " + info.name);
            const Expected* expected = ExpectedCell(exchange.id, info.fault);
            ASSERT_NE(expected, nullptr) << "no row in kExpected";
            Row row{exchange.name, info.name, {}, true};
            if (expected->result.rfind("n/a", 0) == 0) {
                row.cells = {expected->result, "", "", "", ""};
                rows.push_back(row);
                continue;
            }
            currentFault_ = info.fault;
            Prepare(exchange, info.fault);
            if (HasFatalFailure())
                return;
            const Observation seen = Run(exchange);
            // Settings are shown whole, with placeholders for what differs
            // from run to run (ports, the machine's identity); files by size,
            // and a file that arrived must hold what was served.
            const std::string settings = Redacted(ShowSettings(seen.settingChanges));
            const std::string files = ShowFiles(seen.fileChanges);
            row.cells.push_back(Cell(expected->result, seen.result, row.ok));
            row.cells.push_back(Cell(expected->settings, settings, row.ok));
            row.cells.push_back(Cell(expected->files, files, row.ok));
            row.cells.push_back(Cell(std::to_string(expected->requests), std::to_string(seen.requests), row.ok));
            const std::string bound = "at most " + ShowSeconds(expected->bound);
            const bool inTime = seen.seconds <= expected->bound;
            row.cells.push_back(inTime ? bound : "**" + ShowSeconds(seen.seconds) + ", " + bound + "**");
            row.ok = row.ok && inTime;
            if (expected->knownFault != nullptr)
                row.cells[0] += std::string(" (") + expected->knownFault + ")";
            for (const auto& [path, content] : seen.fileChanges) {
                const std::string served = ServedAt(path);
                if (content != kAbsent) {
                    EXPECT_EQ(content, served.substr(0, content.size())) << path << " holds what was not served";
                }
            }
            std::printf("[ cell ] %s / %s: %.1f s\n", exchange.name, info.name, seen.seconds);
            EXPECT_TRUE(row.ok) << row.cells[0] << " | " << row.cells[1] << " | " << row.cells[2] << " | "
                                << row.cells[3] << " | " << row.cells[4];
            rows.push_back(row);
        }
    }

    std::string page = Introduction();
    for (const Row& row : rows) {
        page += "| " + row.exchange + " | " + row.fault;
        for (const std::string& cell : row.cells)
            page += " | " + cell;
        page += " |\n";
    }
    ASSERT_TRUE(WriteWholeFile(WindowsPathOfLinuxPath(KVL_FAULT_MATRIX_PAGE), page)) << KVL_FAULT_MATRIX_PAGE;
    const std::string checkedIn = WindowsPathOfLinuxPath(KVL_SOURCE_DIR "/docs/fault-matrix.md");
    const char* refresh = std::getenv("KVL_FAULT_MATRIX_REFRESH");
    if (refresh != nullptr && std::string(refresh) == "1" && !HasFailure()) {
        EXPECT_TRUE(WriteWholeFile(checkedIn, page)) << checkedIn;
        return;
    }
    EXPECT_EQ(ReadWholeFile(checkedIn).value_or(""), page)
        << "docs/fault-matrix.md differs from this run's page " << KVL_FAULT_MATRIX_PAGE
        << "; when the run is right, refresh it with KVL_FAULT_MATRIX_REFRESH=1 ctest --test-dir build/win64 "
           "-R FaultMatrix";
}
