#include "url_download.h"

#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "bounded_format.h"
#include "crypt_handles.h"
#include "ferolin_limits.h"
#include "ferolin_seams.h"
#include "http_status.h"
#include "installation_files.h"
#include "internet_handle.h"
#include "part_file.h"
#include "server_ca_file.h"
#include "server_certificate.h"
#include "settings_names.h"
#include "settings_store.h"
#include "unique_resource.h"

namespace {

constexpr char kUserAgent[] = "vpndownload";

bool IsGiven(const char* text) { return text != nullptr && text[0] != '\0'; }

const char* NameFromUrl(const char* url)
{
    const char* name = url;
    for (const char* c = url; *c != '\0'; ++c)
        if (*c == '/' || *c == '\\')
            name = c + 1;
    return name;
}

// A reply that is not the file asked for: an HTTP error status, or none.
bool IsErrorReply(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return true;
    return !IsSuccessStatus(static_cast<long>(status));
}

bool IsRedirection(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return false;
    return status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT || status == HTTP_STATUS_REDIRECT_METHOD ||
        status == HTTP_STATUS_REDIRECT_KEEP_VERB || status == HTTP_STATUS_PERMANENT_REDIRECT;
}

// The platform's defaults may wait for ever (Wine's do) on a server that
// accepts the connection and then says nothing: the same limits as the
// library's other transfers. The receive limit bounds each wait for data, the
// headers' and every read of the body alike, so a reply that stops moving
// ends the download. Set on the connection, whose requests inherit them (a
// session's are not honoured everywhere), and on the request itself.
void LimitWaits(HINTERNET handle)
{
    DWORD connectMs = static_cast<DWORD>(transferLimits.connectSeconds * 1000);
    DWORD stallMs = static_cast<DWORD>(transferLimits.lowSpeedSeconds * 1000);
    InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof connectMs);
    InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &stallMs, sizeof stallMs);
    InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &stallMs, sizeof stallMs);
}

// The announced length, when the reply has one.
bool AnnouncedLength(HINTERNET request, unsigned long long* length)
{
    char text[32];
    DWORD size = sizeof text;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr))
        return false;
    char* end = nullptr;
    *length = std::strtoull(text, &end, 10);
    return end != text;
}

// The minimum speed, judged over windows of the stall limit's length: the
// receive limit alone ends only a body that stops, and a few bytes within
// each wait would keep one going for ever.
class SpeedWatch {
public:
    SpeedWatch() : windowStart_(GetTickCount64()) { }
    // False once a whole window has carried less than the minimum.
    bool Keeps(DWORD got)
    {
        windowBytes_ += got;
        const ULONGLONG elapsedMs = GetTickCount64() - windowStart_;
        if (elapsedMs < static_cast<ULONGLONG>(transferLimits.lowSpeedSeconds) * 1000)
            return true;
        if (windowBytes_ * 1000 < static_cast<ULONGLONG>(transferLimits.lowSpeedBytes) * elapsedMs)
            return false;
        windowStart_ += elapsedMs;
        windowBytes_ = 0;
        return true;
    }

private:
    ULONGLONG windowStart_;
    ULONGLONG windowBytes_ = 0;
};

// Copies the body into `file`. 1 when it ended normally, at most the size
// limit arrived at no less than the minimum speed, and, where the reply
// announced its length, that many bytes arrived.
int CopyBody(HINTERNET request, std::FILE* file)
{
    unsigned long long received = 0;
    char chunk[kDownloadChunkBytes];
    SpeedWatch speed;
    for (;;) {
        // A read asks only for what has arrived: a synchronous read of a
        // whole chunk may wait for all of it, one trickled byte at a time,
        // and the speed would be judged only once it is full.
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0))
            return 0;
        DWORD got = 0;
        if (available > 0 &&
            !InternetReadFile(request, chunk, available < sizeof chunk ? available : sizeof chunk, &got))
            return 0;
        if (got == 0)
            break;
        received += got;
        if (received > static_cast<unsigned long long>(transferLimits.packageBytes) || !speed.Keeps(got) ||
            std::fwrite(chunk, 1, got, file) != got)
            return 0;
    }
    unsigned long long announced = 0;
    return !AnnouncedLength(request, &announced) || announced == received ? 1 : 0;
}

// The installation's opt-in server CA file, found the way the check requests
// find theirs (kServerCaAbsent without an installation directory).
int FindInstallationServerCa(char* caFile, std::size_t size)
{
    char installDir[kInstallDirReadSize];
    if (!ReadSetting(kValueInstallDir, installDir, sizeof installDir))
        return kServerCaAbsent;
    return FindServerCaFile(caFile, size, installDir);
}

// An https URL taken apart for InternetConnect and HttpOpenRequest.
struct HttpsTarget {
    char host[INTERNET_MAX_HOST_NAME_LENGTH];
    INTERNET_PORT port = 0;
    char object[INTERNET_MAX_PATH_LENGTH];
};

bool HasHttpsScheme(const char* url) { return _strnicmp(url, "https:", sizeof "https:" - 1) == 0; }

// 1 for an https URL that fits `target`; its path and query become the
// object asked for.
bool CrackHttpsUrl(const char* url, HttpsTarget* target)
{
    char path[INTERNET_MAX_PATH_LENGTH];
    char extra[INTERNET_MAX_PATH_LENGTH];
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = target->host;
    parts.dwHostNameLength = sizeof target->host;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof path;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = sizeof extra;
    if (!InternetCrackUrlA(url, 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTPS || target->host[0] == '\0')
        return false;
    target->port = parts.nPort;
    return FormatWhole(target->object, sizeof target->object, "%s%s", path[0] != '\0' ? path : "/", extra) != 0;
}

// Sends a GET for an https URL whose server must chain to `caFile`.
// WinINet's own checks against the Windows store are switched off on the
// request, so that the file alone decides; the server's certificate is then
// checked before anything of the reply is used. The request itself has
// reached the server by then (it carries nothing secret). Redirections are
// not followed: each hop would need the same check, and the package has one
// home; a redirection is then an error status like any other.
bool OpenVerifiedRequest(HINTERNET session, const HttpsTarget& target, const char* caFile, InternetHandle* connection,
                         InternetHandle* request)
{
    connection->reset(
        InternetConnectA(session, target.host, target.port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!*connection)
        return false;
    LimitWaits(connection->get());
    // From the wire always: a reply from the cache has no server to check.
    request->reset(HttpOpenRequestA(connection->get(), "GET", target.object, nullptr, nullptr, nullptr,
                                    INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD |
                                        INTERNET_FLAG_NO_AUTO_REDIRECT,
                                    0));
    if (!*request)
        return false;
    LimitWaits(request->get());
    DWORD flags = 0;
    DWORD size = sizeof flags;
    if (!InternetQueryOptionA(request->get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &size))
        return false;
    flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
        SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_WRONG_USAGE | SECURITY_FLAG_IGNORE_REVOCATION;
    if (!InternetSetOptionA(request->get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags) ||
        !HttpSendRequestA(request->get(), nullptr, 0, nullptr, 0))
        return false;

    CertChain served;
    size = sizeof(PCCERT_CHAIN_CONTEXT);
    if (!InternetQueryOptionA(request->get(), INTERNET_OPTION_SERVER_CERT_CHAIN_CONTEXT, served.out(), &size) ||
        !served || served.get()->cChain == 0 || served.get()->rgpChain[0]->cElement == 0)
        return false;
    // WinINet's chain was built against the Windows store; only the server's
    // own certificate (and the store of what it sent) is taken from it.
    return ServerChainsToCaFile(served.get()->rgpChain[0]->rgpElement[0]->pCertContext, caFile, target.host) != 0;
}

// Sends a GET for `url` (http or https) with the library's waits, following
// no redirection; WinINet checks an https server against the Windows store.
// False when the URL cannot be opened.
bool SendGet(HINTERNET session, const char* url, InternetHandle* connection, InternetHandle* request)
{
    char host[INTERNET_MAX_HOST_NAME_LENGTH];
    char path[INTERNET_MAX_URL_LENGTH];
    char query[INTERNET_MAX_URL_LENGTH];
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof path;
    parts.lpszExtraInfo = query;
    parts.dwExtraInfoLength = sizeof query;
    if (!InternetCrackUrlA(url, 0, 0, &parts))
        return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    char object[INTERNET_MAX_URL_LENGTH];
    if (!FormatWhole(object, sizeof object, "%s%s", path[0] != '\0' ? path : "/", query))
        return false;
    request->reset();
    connection->reset(InternetConnectA(session, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!*connection)
        return false;
    LimitWaits(connection->get());
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_RELOAD;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS)
        flags |= INTERNET_FLAG_SECURE;
    request->reset(HttpOpenRequestA(connection->get(), "GET", object, nullptr, nullptr, nullptr, flags, 0));
    if (!*request)
        return false;
    LimitWaits(request->get());
    return HttpSendRequestA(request->get(), nullptr, 0, nullptr, 0) != FALSE;
}

// Opens `url`, following at most kMaxRedirects redirections: left to itself,
// WinINet may follow a server that sends it round in a circle for ever (Wine's
// does), and the download never ends. Only for an installation without a CA
// file of its own; SendGet refuses a hop to any scheme but http and https.
bool OpenFollowingRedirects(HINTERNET session, const char* url, InternetHandle* connection, InternetHandle* request)
{
    char target[INTERNET_MAX_URL_LENGTH];
    if (!FormatWhole(target, sizeof target, "%s", url))
        return false;
    for (long followed = 0;; ++followed) {
        if (!SendGet(session, target, connection, request))
            return false;
        if (!IsRedirection(request->get()))
            return true;
        if (followed == kMaxRedirects)
            return false;
        char location[INTERNET_MAX_URL_LENGTH];
        DWORD size = sizeof location;
        if (!HttpQueryInfoA(request->get(), HTTP_QUERY_LOCATION, location, &size, nullptr))
            return false;
        // A relative Location is resolved against the URL that gave it.
        char next[INTERNET_MAX_URL_LENGTH];
        DWORD nextSize = sizeof next;
        if (!InternetCombineUrlA(target, location, next, &nextSize, ICU_NO_ENCODE))
            return false;
        std::memcpy(target, next, nextSize + 1);
    }
}

} // namespace

int FetchURLToFile(const char* url, const char* directory, const char* fileName)
{
    if (url == nullptr)
        return 0;
    char caFile[kClientFilePathSize];
    const int serverCa = FindInstallationServerCa(caFile, sizeof caFile);
    if (serverCa == kServerCaUnusable)
        return 0;
    const bool verifyServer = serverCa == kServerCaFound;
    // Closed in the reverse order: request, connection, session. Direct, not
    // the Internet Options' proxy (a per-user setting) nor, under Wine, the
    // http_proxy variable: whoever sets a proxy could answer any download
    // that is not verified against the installation's CA file.
    InternetHandle session(InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    InternetHandle connection;
    InternetHandle request;
    if (!session)
        return 0;
    // With a CA file of its own the installation has opted into a verified
    // channel: a plain http URL would be fetched unverified, open to be
    // swapped on the wire, so it fails like any other unverified server.
    HttpsTarget target;
    if (verifyServer) {
        if (!HasHttpsScheme(url) || !CrackHttpsUrl(url, &target) ||
            !OpenVerifiedRequest(session.get(), target, caFile, &connection, &request))
            return 0;
    } else if (!OpenFollowingRedirects(session.get(), url, &connection, &request)) {
        return 0;
    }
    if (IsErrorReply(request.get()))
        return 0;

    // An empty name (a URL ending in "/") would name the directory itself.
    const char* name = IsGiven(fileName) ? fileName : NameFromUrl(url);
    if (name[0] == '\0' || std::strlen(name) > kDownloadNameLimit)
        return 0;
    char path[kDownloadPathLimit + 1];
    if (!FormatWhole(path, sizeof path, "%s%s", IsGiven(directory) ? directory : "", name))
        return 0;
    static_assert(sizeof path + kPartFileSuffixLength <= MAX_PATH, "the package's scratch file must stay openable");
    PartFile part(path);
    if (part.path() == nullptr)
        return 0;
    {
        FileStream file(std::fopen(part.path(), "wb"));
        if (!file)
            return 0;
        if (!CopyBody(request.get(), file.get()) || std::fflush(file.get()) != 0 || std::fclose(file.release()) != 0)
            return 0;
    }
    return part.MoveOver(kHeldTargetMoveAttempts, kHeldTargetMoveWaitMs);
}

extern "C" int __stdcall VPNDownloadURLFile(const char* url, const char* directory, const char* fileName)
{
    return FetchURLToFile(url, directory, fileName);
}
