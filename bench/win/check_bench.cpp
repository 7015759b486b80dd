// Cost of one "-checkstatus", called in process in a loop, against
//   bare:  libcurl alone doing the same client-certificate POST (global
//          init and clean-up, a fresh handle per call), and
//   floor: that POST plus the platform calls a status check cannot avoid
//          (each settings read and write opening its key, the volume serial,
//          the adapter list with its size probe, the identity write).
// A fourth set, the platform calls alone, tells how the floor splits.
// Rounds are paired: every round runs each set for the same number of calls,
// and alternate rounds run them in reverse order, so drift on a shared
// machine falls on all sets alike. Figures are per call; ratios per round.
//
//   kvl_check_bench SERVER_URL INSTALL_DIR ROUNDS CALLS
//
// INSTALL_DIR ends with a backslash and holds bin\client_cert.pem and
// bin\client_key.pem; the server must answer the status with stt "ativo".
#include <windows.h>
#include <iphlpapi.h>

#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "ferolin_entry.h"
#include "installation_files.h"
#include "request_bodies.h"
#include "settings_names.h"

namespace {

constexpr char kUser[] = "bencher";
constexpr char kPassword[] = "secret";
constexpr char kExpectedStatus[] = "ativo";

std::string serverUrl;
std::string certFile;
std::string keyFile;
std::string body;

bool SetSetting(const char* name, const char* text)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                       static_cast<DWORD>(std::strlen(text) + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

std::string GetSetting(const char* name)
{
    char text[256] = "";
    DWORD size = sizeof text - 1;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return "";
    RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return text;
}

// --- the sets -------------------------------------------------------------

int Ours() { return Ferolin("-checkstatus", 12); }

struct Reply {
    std::string text;
};

size_t KeepReply(char* data, size_t size, size_t count, void* user)
{
    static_cast<Reply*>(user)->text.append(data, size * count);
    return size * count;
}

// What the library's transport asks of libcurl, and no more.
int BarePost(Reply* reply)
{
    curl_global_init(CURL_GLOBAL_ALL);
    CURL* curl = curl_easy_init();
    int result = -1;
    long status = 0;
    if (curl != nullptr) {
        curl_easy_setopt(curl, CURLOPT_URL, serverUrl.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, KeepReply);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, static_cast<void*>(reply));
        curl_easy_setopt(curl, CURLOPT_SSLCERT, certFile.c_str());
        curl_easy_setopt(curl, CURLOPT_KEYPASSWD, kKeyPassPhrase);
        curl_easy_setopt(curl, CURLOPT_SSLKEY, keyFile.c_str());
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        result = static_cast<int>(curl_easy_perform(curl));
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_cleanup(curl);
    }
    curl_global_cleanup();
    return result == 0 && status == 200 ? 0 : 1;
}

int Bare()
{
    Reply reply;
    return BarePost(&reply);
}

void ReadOneSetting(const char* name)
{
    char text[512];
    DWORD size = sizeof text;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsSubkey, 0, KEY_READ | KEY_WOW64_32KEY, &key) == ERROR_SUCCESS) {
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
    }
}

void WriteOne(HKEY root, const char* subkey, const char* name, const char* text)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey, 0, KEY_WRITE | KEY_WOW64_32KEY, &key) == ERROR_SUCCESS) {
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>(std::strlen(text) + 1));
        RegCloseKey(key);
    }
}

// The calls no status check can do without, in the order the check makes
// them; the values written are the ones the server's reply carries.
int PlatformCalls()
{
    for (const char* name : {kValueUserLogin, kValuePasswordLogin, kValueStatusVersion})
        ReadOneSetting(name);

    ULONG length = 4;
    IP_ADAPTER_INFO* list = static_cast<IP_ADAPTER_INFO*>(std::malloc(sizeof(IP_ADAPTER_INFO)));
    if (GetAdaptersInfo(list, &length) == ERROR_BUFFER_OVERFLOW) {
        std::free(list);
        list = static_cast<IP_ADAPTER_INFO*>(std::malloc(length));
    }
    const DWORD listed = GetAdaptersInfo(list, &length);
    std::free(list);

    char volumeName[MAX_PATH + 1];
    char fileSystem[MAX_PATH + 1];
    DWORD serial = 0, componentLength = 0, flags = 0;
    GetVolumeInformationA("C:\\", volumeName, sizeof volumeName, &serial, &componentLength, &flags, fileSystem,
                          sizeof fileSystem);
    WriteOne(HKEY_CLASSES_ROOT, kIdentitySubkey, kValueIdentityKey, "0000012345");

    for (const char* name : {kValueUpdateServer, kValueInstallDir})
        ReadOneSetting(name);
    const char* stored[][2] = {{kValueStatus, "ativo"},
                               {kValueStatusMessage, "Conta ativa"},
                               {kValueStatusVersion, "3"},
                               {kValueStatusInt, "180"},
                               {kValueStatusPer, "30"}};
    for (const auto& value : stored)
        WriteOne(HKEY_LOCAL_MACHINE, kSettingsSubkey, value[0], value[1]);
    return listed == NO_ERROR ? 0 : 1;
}

int Floor()
{
    // The check makes its reads and the identity write before the POST and
    // its status writes after it; the order does not change the cost.
    const int platform = PlatformCalls();
    return Bare() | platform;
}

struct Set {
    const char* name;
    int (*call)();
    std::vector<double> perCall;
    int failures = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: kvl_check_bench SERVER_URL INSTALL_DIR ROUNDS CALLS\n");
        return 2;
    }
    serverUrl = argv[1];
    const std::string installDir = argv[2];
    const int rounds = std::atoi(argv[3]);
    const int calls = std::atoi(argv[4]);
    certFile = installDir + "bin\\" + kClientCertFileName;
    keyFile = installDir + "bin\\" + kClientKeyFileName;
    if (rounds < 1 || calls < 1)
        return 2;

    if (!SetSetting(kValueUserLogin, kUser) || !SetSetting(kValuePasswordLogin, kPassword) ||
        !SetSetting(kValueUpdateServer, serverUrl.c_str()) || !SetSetting(kValueInstallDir, installDir.c_str()) ||
        !SetSetting(kValueStatusVersion, "3") || !SetSetting(kValueStatus, "")) {
        std::fprintf(stderr, "kvl_check_bench: cannot write the settings key\n");
        return 1;
    }
    // One check first: it stores the identity (so the identity key exists for
    // the floor's write), warms the caches, and proves the path works.
    if (Ours() != 0 || GetSetting(kValueStatus) != kExpectedStatus) {
        std::fprintf(stderr, "kvl_check_bench: the status check did not store stt \"%s\" (got \"%s\")\n",
                     kExpectedStatus, GetSetting(kValueStatus).c_str());
        return 1;
    }
    // The bare POST must send what the check sends: the server answers the
    // same status for the same body.
    char passwordDigest[kMd5HexSize];
    char identityDigest[kMd5HexSize];
    std::snprintf(passwordDigest, sizeof passwordDigest, "%s", "5ebe2294ecd0e0f08eab7690d2a6ee69");
    std::snprintf(identityDigest, sizeof identityDigest, "%s", "0123456789abcdef0123456789abcdef");
    char text[kRequestBodySize];
    if (!FormatStatusBody(text, sizeof text, kUser, passwordDigest, identityDigest, "3"))
        return 1;
    body = text;
    Reply reply;
    if (BarePost(&reply) != 0 || reply.text.find(kExpectedStatus) == std::string::npos) {
        std::fprintf(stderr, "kvl_check_bench: the bare POST got no status reply: %s\n", reply.text.c_str());
        return 1;
    }

    Set sets[] = {{"ours", Ours, {}}, {"floor", Floor, {}}, {"bare", Bare, {}}, {"platform", PlatformCalls, {}}};
    constexpr int kSetCount = sizeof sets / sizeof sets[0];
    std::vector<double> overFloor, overBare, platformShare;
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < kSetCount; ++k) {
            Set& set = sets[r % 2 == 0 ? k : kSetCount - 1 - k];
            const double start = NowMs();
            for (int c = 0; c < calls; ++c)
                set.failures += set.call() != 0 ? 1 : 0;
            set.perCall.push_back((NowMs() - start) / calls);
        }
        overFloor.push_back(sets[0].perCall.back() / sets[1].perCall.back());
        overBare.push_back(sets[0].perCall.back() / sets[2].perCall.back());
        platformShare.push_back(sets[3].perCall.back() / sets[0].perCall.back());
    }

    int failures = 0;
    for (const Set& set : sets) {
        const Spread s = SpreadOf(set.perCall);
        std::printf("check-ms %s median %.3f low %.3f high %.3f failures %d\n", set.name, s.median, s.low, s.high,
                    set.failures);
        failures += set.failures;
    }
    const Spread f = SpreadOf(overFloor);
    const Spread b = SpreadOf(overBare);
    const Spread p = SpreadOf(platformShare);
    std::printf("check-ratio over-floor median %.3f low %.3f high %.3f rounds %d calls %d\n", f.median, f.low, f.high,
                rounds, calls);
    std::printf("check-ratio over-bare median %.3f low %.3f high %.3f\n", b.median, b.low, b.high);
    std::printf("check-share platform median %.3f low %.3f high %.3f\n", p.median, p.low, p.high);
    if (GetSetting(kValueStatus) != kExpectedStatus) {
        std::fprintf(stderr, "kvl_check_bench: stt is no longer \"%s\" after the rounds\n", kExpectedStatus);
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
