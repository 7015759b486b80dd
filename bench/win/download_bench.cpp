// Download throughput of the library's two download paths, one transfer of
// each per run, of the same file from the same server:
//   config:   the configuration download (libcurl, DownloadToFile);
//   package:  the package download (WinINet, FetchURLToFile, in the
//             library's chunks);
//   wininet-<N>: the same WinINet loop written out here with a chunk of N
//             bytes, the library's size and a large one, to tell what the
//             chunk size costs;
//   curl-bare: libcurl alone, its defaults, writing the file as the curl
//             tool does, and curl-discard, the same dropping the bytes: they
//             tell the library's share from libcurl's and the file's under
//             Wine; curl-512k, libcurl alone with its largest receive
//             buffer, and curl-buf-<N>, with a receive buffer of N bytes
//             (64 KiB to 1 MiB), to choose the configuration download's.
// The script pairs each run with the curl tool and alternates the order.
//
//   kvl_download_bench URL OUTDIR BYTES [reverse]
//
// OUTDIR ends with a backslash. Every transfer must leave exactly BYTES
// bytes in its file, or the run fails: a fast failed download measures
// nothing.
#include <windows.h>
#include <wininet.h>

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "ferolin_limits.h"
#include "ferolin_seams.h"
#include "https_transport.h"
#include "url_download.h"

namespace {

std::string url;
std::string outDir;

unsigned long long FileBytes(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string Config()
{
    const std::string path = outDir + "config.bin";
    long status = 0;
    // The file is far larger than a configuration file may be, and takes
    // longer under a loaded machine than one may take.
    transferLimits.configBytes = kPackageBytesLimit;
    transferLimits.configSeconds = 0;
    curl_global_init(CURL_GLOBAL_ALL);
    const int result = DownloadToFile(url.c_str(), path.c_str(), &status);
    curl_global_cleanup();
    transferLimits = kDefaultTransferLimits;
    return result == 0 && status == 200 ? path : "";
}

size_t WriteToFile(char* data, size_t size, size_t count, void* file)
{
    return std::fwrite(data, size, count, static_cast<std::FILE*>(file));
}

// Counts what arrives instead of keeping it, so the check of the byte count
// still holds for a transfer that keeps nothing.
unsigned long long discarded = 0;
size_t CountAndDiscard(char*, size_t size, size_t count, void*)
{
    discarded += size * count;
    return size * count;
}

std::string BareCurl(bool keep, long receiveBuffer = 0)
{
    const std::string path = outDir + (keep ? "curl-bare.bin" : "curl-discard.bin");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return "";
    curl_global_init(CURL_GLOBAL_ALL);
    CURL* curl = curl_easy_init();
    CURLcode result = CURLE_FAILED_INIT;
    long status = 0;
    discarded = 0;
    if (curl != nullptr) {
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, keep ? WriteToFile : CountAndDiscard);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, static_cast<void*>(file));
        if (receiveBuffer != 0)
            curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, receiveBuffer);
        result = curl_easy_perform(curl);
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_cleanup(curl);
    }
    curl_global_cleanup();
    const bool closed = std::fclose(file) == 0;
    return result == CURLE_OK && status == 200 && closed ? path : "";
}

std::string CurlBare() { return BareCurl(true); }
std::string CurlDiscard() { return BareCurl(false); }
// libcurl's largest receive buffer instead of its 16 KB default.
std::string CurlLargeBuffer() { return BareCurl(true, CURL_MAX_READ_SIZE); }
std::string CurlBuffer64k() { return BareCurl(true, 64 * 1024); }
std::string CurlBuffer128k() { return BareCurl(true, 128 * 1024); }
std::string CurlBuffer256k() { return BareCurl(true, 256 * 1024); }
std::string CurlBuffer512k() { return BareCurl(true, 512 * 1024); }
std::string CurlBuffer1m() { return BareCurl(true, 1024 * 1024); }

std::string Package()
{
    return FetchURLToFile(url.c_str(), outDir.c_str(), "package.bin") == 1 ? outDir + "package.bin" : "";
}

std::string WinInetLoop(DWORD chunkBytes)
{
    const std::string path = outDir + "wininet-" + std::to_string(chunkBytes) + ".bin";
    HINTERNET session = InternetOpenA("vpndownload", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (session == nullptr)
        return "";
    bool whole = false;
    HINTERNET request = InternetOpenUrlA(session, url.c_str(), nullptr, 0, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (request != nullptr) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file != nullptr) {
            std::vector<char> chunk(chunkBytes);
            for (;;) {
                DWORD got = 0;
                if (!InternetReadFile(request, chunk.data(), chunkBytes, &got))
                    break;
                if (got == 0) {
                    whole = true;
                    break;
                }
                if (std::fwrite(chunk.data(), 1, got, file) != got)
                    break;
            }
            whole = std::fclose(file) == 0 && whole;
        }
        InternetCloseHandle(request);
    }
    InternetCloseHandle(session);
    return whole ? path : "";
}

std::string LibraryChunks() { return WinInetLoop(kDownloadChunkBytes); }
std::string LargeChunks() { return WinInetLoop(64 * 1024); }

struct Method {
    const char* name;
    std::string (*fetch)();
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: kvl_download_bench URL OUTDIR BYTES [reverse]\n");
        return 2;
    }
    url = argv[1];
    outDir = argv[2];
    const unsigned long long bytes = std::strtoull(argv[3], nullptr, 10);
    const bool reverse = argc == 5 && std::strcmp(argv[4], "reverse") == 0;

    std::vector<Method> methods = {{"config", Config},
                                   {"package", Package},
                                   {"wininet-1024", LibraryChunks},
                                   {"wininet-65536", LargeChunks},
                                   {"curl-bare", CurlBare},
                                   {"curl-discard", CurlDiscard},
                                   {"curl-512k", CurlLargeBuffer},
                                   {"curl-buf-65536", CurlBuffer64k},
                                   {"curl-buf-131072", CurlBuffer128k},
                                   {"curl-buf-262144", CurlBuffer256k},
                                   {"curl-buf-524288", CurlBuffer512k},
                                   {"curl-buf-1048576", CurlBuffer1m}};
    static_assert(kDownloadChunkBytes == 1024, "the names above say which chunk the library reads");
    if (reverse)
        std::reverse(methods.begin(), methods.end());
    int failures = 0;
    for (const Method& method : methods) {
        const double start = NowMs();
        const std::string path = method.fetch();
        const double taken = NowMs() - start;
        unsigned long long got = path.empty() ? 0 : FileBytes(path);
        if (!path.empty() && std::strcmp(method.name, "curl-discard") == 0)
            got = discarded;
        if (got != bytes) {
            std::fprintf(stderr, "kvl_download_bench: %s left %llu bytes, not %llu\n", method.name, got, bytes);
            ++failures;
            continue;
        }
        DeleteFileA(path.c_str());
        std::printf("download-ms %s %.3f\n", method.name, taken);
    }
    return failures == 0 ? 0 : 1;
}
