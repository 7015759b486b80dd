#include "url_download.h"

#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bounded_format.h"
#include "ferolin_limits.h"
#include "internet_handle.h"
#include "part_file.h"
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

// A reply that is not the file asked for: an HTTP error status. Handles of
// other schemes carry no status and pass.
bool IsErrorReply(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return !IsSuccessStatus(static_cast<long>(status));
    return GetLastError() != ERROR_INTERNET_INCORRECT_HANDLE_TYPE;
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

// Copies the body into `file`. 1 when it ended normally and, where the reply
// announced its length, that many bytes arrived.
int CopyBody(HINTERNET request, std::FILE* file)
{
    unsigned long long received = 0;
    char chunk[kDownloadChunkBytes];
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, chunk, sizeof chunk, &got))
            return 0;
        if (got == 0)
            break;
        if (std::fwrite(chunk, 1, got, file) != got)
            return 0;
        received += got;
    }
    unsigned long long announced = 0;
    return !AnnouncedLength(request, &announced) || announced == received ? 1 : 0;
}

} // namespace

int FetchURLToFile(const char* url, const char* directory, const char* fileName)
{
    if (url == nullptr)
        return 0;
    InternetHandle session(InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!session)
        return 0;
    InternetHandle request(InternetOpenUrlA(session.get(), url, nullptr, 0, INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request || IsErrorReply(request.get()))
        return 0;

    // An empty name (a URL ending in "/") would name the directory itself.
    const char* name = IsGiven(fileName) ? fileName : NameFromUrl(url);
    if (name[0] == '\0' || std::strlen(name) > kDownloadNameLimit)
        return 0;
    char path[kDownloadPathLimit + 1];
    if (!FormatWhole(path, sizeof path, "%s%s", IsGiven(directory) ? directory : "", name))
        return 0;
    char partPath[sizeof path + sizeof kPartFileSuffix - 1];
    if (!FormatWhole(partPath, sizeof partPath, "%s%s", path, kPartFileSuffix))
        return 0;

    PartFile part(partPath);
    {
        FileStream file(std::fopen(partPath, "wb"));
        if (!file)
            return 0;
        if (!CopyBody(request.get(), file.get()) || std::fflush(file.get()) != 0 || std::fclose(file.release()) != 0)
            return 0;
    }
    return part.MoveOver(path);
}

extern "C" int __stdcall VPNDownloadURLFile(const char* url, const char* directory, const char* fileName)
{
    return FetchURLToFile(url, directory, fileName);
}
