#include "https_transport.h"

#include <cstdio>
#include <cstring>

#include <curl/curl.h>

#include "reply_buffer.h"
#include "unique_resource.h"

namespace {

// Result of DownloadToFile when the target file cannot be opened, or its
// last bytes cannot be written; libcurl's own code for a local write failure.
constexpr int kCannotOpenFile = CURLE_WRITE_ERROR;
constexpr int kCannotWriteFile = CURLE_WRITE_ERROR;

struct CurlEasyTraits {
    using Handle = CURL*;
    static Handle None() { return nullptr; }
    static void Close(Handle handle) { curl_easy_cleanup(handle); }
};
// A transfer handle; created empty-checked, cleaned up on every path.
class CurlEasy : public UniqueResource<CurlEasyTraits> {
public:
    CurlEasy() : UniqueResource(curl_easy_init()) { }
};

// Shared by both transfers: a connection that cannot be made, or a transfer
// that stops moving, ends with libcurl's time-out error.
void SetStallLimits(CURL* curl)
{
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, transferLimits.connectSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, transferLimits.lowSpeedBytes);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, transferLimits.lowSpeedSeconds);
}

// Both transfers go straight to the server. A proxy is never taken from the
// environment (http_proxy, HTTPS_PROXY, ALL_PROXY, NO_PROXY and kin): this
// libcurl is built without proxy support, and the empty proxy keeps it so
// should it ever be built with it.
void NoProxy(CURL* curl) { curl_easy_setopt(curl, CURLOPT_PROXY, ""); }

// The server is verified, its certificate and its name, against `caFile`
// alone, or (no file) against the trusted roots of the Windows certificate
// store. No CA folder is used: the cross-built libcurl's defaults name the
// build machine's "/etc/ssl/certs", which on Windows is a folder any user may
// create on the current drive.
void VerifyServer(CURL* curl, const char* caFile)
{
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_CAINFO, caFile);
    curl_easy_setopt(curl, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, caFile != nullptr ? 0L : static_cast<long>(CURLSSLOPT_NATIVE_CA));
}

// The file a download writes and how much it may still take. A server that
// announces no length (or a false one) is held to the limit all the same.
struct LimitedFile {
    std::FILE* file;
    long long room;
};

std::size_t LimitedFileSink(char* data, std::size_t size, std::size_t count, void* stream)
{
    auto* target = static_cast<LimitedFile*>(stream);
    const long long bytes = static_cast<long long>(size * count);
    if (bytes > target->room)
        return 0; // libcurl ends the transfer with its write error
    target->room -= bytes;
    return ReplySink(data, size, count, target->file);
}

// Which schemes a transfer may use, and which a redirection may lead to.
// With a CA file of its own the installation has opted into a verified
// channel, and a plain http URL or hop would be fetched unverified, open to be
// swapped on the wire: only https then. Never anything but http and https (this
// libcurl is built for http only, but the rule must not rest on the build).
// A libcurl that cannot take the rule fails the transfer instead.
CURLcode LimitSchemes(CURL* curl, const char* caFile, bool redirectHttpsOnly)
{
    const char* const scheme = caFile != nullptr ? "https" : "http,https";
    const CURLcode result = curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, scheme);
    if (result != CURLE_OK)
        return result;
    return curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, redirectHttpsOnly ? "https" : scheme);
}

} // namespace

int PostRequest(const char* url, const char* body, const char* certFile, const char* keyPassPhrase, const char* keyFile,
                const char* serverCaFile)
{
    // Outlives the handle, which may write into it until it is cleaned up.
    char errorText[CURL_ERROR_SIZE];
    CurlEasy curl;
    if (curl.get() == nullptr)
        return kNoTransferHandle;
    ResetReplyBuffer();

    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(strlen(body)));
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body);
    curl_easy_setopt(handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
    curl_easy_setopt(handle, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    // The client proves itself with its certificate; the server is trusted
    // without checking its certificate or name unless the installation has
    // opted in with a CA file of its own.
    if (serverCaFile != nullptr) {
        VerifyServer(handle, serverCaFile);
    } else {
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    // The request carries the login and the password's digest: whatever the
    // mode, a redirection never takes it to plain http.
    if (const CURLcode refused = LimitSchemes(handle, serverCaFile, true); refused != CURLE_OK)
        return static_cast<int>(refused);
    // This libcurl follows any number of redirections by default.
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, ReplySink);
    // libcurl's default stream is stdout: a reply (a subscriber's status, or
    // whatever the server sends) must never end up on the caller's console.
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
    curl_easy_setopt(handle, CURLOPT_SSLCERTTYPE, "PEM");
    curl_easy_setopt(handle, CURLOPT_SSLCERT, certFile);
    curl_easy_setopt(handle, CURLOPT_KEYPASSWD, keyPassPhrase);
    curl_easy_setopt(handle, CURLOPT_SSLKEYTYPE, "PEM");
    curl_easy_setopt(handle, CURLOPT_SSLKEY, keyFile);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    NoProxy(handle);
    SetStallLimits(handle);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, transferLimits.postSeconds);

    errorText[0] = '\0';
    return static_cast<int>(curl_easy_perform(handle));
}

int DownloadToFile(const char* url, const char* path, long* httpStatus, const char* serverCaFile)
{
    if (httpStatus != nullptr)
        *httpStatus = 0;
    // Declared before the handle so that the handle is cleaned up first and
    // the file closed last.
    FileStream file(fopen(path, "wb"));
    if (file.get() == nullptr)
        return kCannotOpenFile;
    CurlEasy curl;
    if (curl.get() == nullptr)
        return kNoTransferHandle;

    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    LimitedFile target = {file.get(), transferLimits.configBytes};
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, LimitedFileSink);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, static_cast<void*>(&target));
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kDownloadBufferBytes);
    VerifyServer(handle, serverCaFile);
    NoProxy(handle);
    if (const CURLcode refused = LimitSchemes(handle, serverCaFile, false); refused != CURLE_OK)
        return static_cast<int>(refused);
    // The monitoring loop waits on this transfer: a server that keeps it just
    // above the minimum speed must not keep it for longer than a file needs.
    SetStallLimits(handle);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, transferLimits.configSeconds);
    const CURLcode result = curl_easy_perform(handle);
    long status = 0;
    if (httpStatus != nullptr && curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK)
        *httpStatus = status;
    if (result != CURLE_OK)
        return static_cast<int>(result);
    // The stream holds the file's last bytes until it is flushed, and on a
    // full disk only then is it found that they did not fit: a transfer is
    // complete only once they are in the file. Flushed explicitly, since
    // Wine's fclose reports success even when its own flush failed.
    curl.reset();
    if (std::fflush(file.get()) != 0 || std::ferror(file.get()) != 0 || std::fclose(file.release()) != 0)
        return kCannotWriteFile;
    return CURLE_OK;
}
