// What a user can put around the agent's TLS: an OpenSSL configuration that
// names a DLL as a provider, placed wherever the build's OpenSSL would look
// for one, and environment variables that OpenSSL and libcurl would honour
// (proxies, key logging, configuration, modules, CA files). A status check
// through FerolinRun.exe and a KVLProvision.exe run must load nothing and
// reach the server the settings name.
#include <gtest/gtest.h>

#include <windows.h>

#include <openssl/crypto.h>

#include <string>
#include <utility>
#include <vector>

#include "foreign_module.h"
#include "settings_names.h"
#include "win_test_support.h"

namespace {

constexpr char kInstallDir[] = "C:\\kvltest-tls\\";
constexpr char kHostileDir[] = "C:\\kvltest-tls\\hostile\\";
constexpr char kKeyLog[] = "C:\\kvltest-tls\\keys.log";
// Nothing listens there on the loopback address.
constexpr char kDeadProxy[] = "http://127.0.0.1:1";

// "OPENSSLDIR: \"dir\"" -> "dir".
std::string QuotedPart(const char* text)
{
    std::string line = text;
    std::size_t first = line.find('"');
    std::size_t last = line.rfind('"');
    return first == std::string::npos || last <= first ? std::string() : line.substr(first + 1, last - first - 1);
}

// Where a folder named in the build lies for a Windows program: a Unix path
// is the host's folder under Wine (Z:) and a folder of the current drive on
// Windows; anything else is taken as it is.
std::vector<std::string> WindowsForms(const std::string& path, bool hostToo)
{
    if (path.empty() || path[0] != '/')
        return {path};
    std::string onC = "C:" + path;
    for (char& c : onC)
        if (c == '/')
            c = '\\';
    if (!hostToo)
        return {onC};
    return {WindowsPathOfLinuxPath(path), onC};
}

bool MakeFolders(const std::string& path)
{
    for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// A configuration that loads the foreign module from `folder` as a provider.
std::string HostileConfiguration(const std::string& folder)
{
    std::string module = folder + "\\" + kForeignModuleName;
    for (char& c : module)
        if (c == '\\')
            c = '/';
    return "openssl_conf = kvl_init\n[kvl_init]\nproviders = kvl_providers\n"
           "[kvl_providers]\nkvlmark = kvlmark_section\n"
           "[kvlmark_section]\nmodule = " +
        module + "\nactivate = 1\n";
}

// Sets environment variables for the programs this test starts; puts the
// former values back.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(const std::vector<std::pair<std::string, std::string>>& values)
    {
        for (const auto& [name, value] : values) {
            char former[2048];
            DWORD length = GetEnvironmentVariableA(name.c_str(), former, sizeof former);
            saved_.push_back({name, length > 0 && length < sizeof former, std::string(former, length)});
            SetEnvironmentVariableA(name.c_str(), value.c_str());
        }
    }
    ~ScopedEnvironment()
    {
        for (const Saved& saved : saved_)
            SetEnvironmentVariableA(saved.name.c_str(), saved.present ? saved.value.c_str() : nullptr);
    }

private:
    struct Saved {
        std::string name;
        bool present;
        std::string value;
    };
    std::vector<Saved> saved_;
};

class HostileTlsSetup : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(DevserverRunDir().empty()) << "KVL_DEVSERVER_DIR is not set";
        const std::string port = DevserverReadyValue("port");
        ASSERT_FALSE(port.empty()) << "no devserver ready file in " << DevserverRunDir();
        ASSERT_TRUE(MakeFolders(std::string(kInstallDir) + "bin"));
        ASSERT_TRUE(MakeFolders(kHostileDir));
        for (const char* name : {"client_cert.pem", "client_key.pem"})
            ASSERT_TRUE(CopyFileA((DevserverRunDir() + "pki\\" + name).c_str(),
                                  (std::string(kInstallDir) + "bin\\" + name).c_str(), FALSE));
        ASSERT_TRUE(Plant(kHostileDir));
        DeleteFileA(kForeignModuleNote);
        DeleteFileA(kKeyLog);

        ASSERT_TRUE(SetSettingForTest(kValueUserLogin, "alice"));
        ASSERT_TRUE(SetSettingForTest(kValuePasswordLogin, "secret"));
        ASSERT_TRUE(SetSettingForTest(kValueUpdateServer, "https://127.0.0.1:" + port + "/"));
        ASSERT_TRUE(SetSettingForTest(kValueInstallDir, kInstallDir));
        DeleteSettingForTest(kValueStatus);
        ASSERT_TRUE(WriteWholeFile(DevserverRunDir() + "state.json",
                                   R"({"subscribers": {"alice": {"status": {"result": "0", "stt": "ativo"}}}})"));
    }

    void TearDown() override
    {
        // The planted files may lie outside the prefix (the host's folders).
        for (const std::string& file : planted_)
            DeleteFileA(file.c_str());
    }

    // The configuration and the module in `folder`; false when the folder
    // cannot be made (a name that is no folder at all).
    bool Plant(const std::string& folder)
    {
        const std::string config = folder + "\\openssl.cnf";
        const std::string module = folder + "\\" + kForeignModuleName;
        if (!MakeFolders(folder) || !WriteWholeFile(config, HostileConfiguration(folder)))
            return false;
        planted_.push_back(config);
        if (!CopyFileA((ProgramFolder() + kForeignModuleName).c_str(), module.c_str(), FALSE))
            return false;
        planted_.push_back(module);
        return true;
    }

    // Runs `program` with `arguments` from C:\ (a service's current drive)
    // and returns its exit code.
    static DWORD RunFromC(const char* program, const std::string& arguments)
    {
        char former[MAX_PATH];
        GetCurrentDirectoryA(sizeof former, former);
        SetCurrentDirectoryA("C:\\");
        DWORD exitCode = 99;
        std::optional<std::string> output =
            RunAndCapture("\"" + ProgramFolder() + program + "\" " + arguments, &exitCode, 120000);
        SetCurrentDirectoryA(former);
        EXPECT_TRUE(output.has_value()) << program << " did not run";
        return exitCode;
    }

    static std::string ForeignModuleNote() { return ReadWholeFile(kForeignModuleNote).value_or(""); }

    std::vector<std::string> planted_;
    RegistrySnapshot registry_;
};

// Every folder this build's OpenSSL names for its configuration, modules and
// engines, and the dependency folder the build came from, in each form a
// Windows program may read them.
TEST_F(HostileTlsSetup, ConfigurationWhereTheBuildPointsLoadsNothing)
{
    std::vector<std::string> folders;
    for (int what : {OPENSSL_DIR, OPENSSL_MODULES_DIR, OPENSSL_ENGINES_DIR})
        for (const std::string& form : WindowsForms(QuotedPart(OpenSSL_version(what)), true))
            folders.push_back(form);
    // The host's form of the dependency folder only where the build names it.
    for (const char* sub : {"/ssl", "/lib/ossl-modules", "/lib/engines-3"})
        for (const std::string& form : WindowsForms(std::string(KVL_DEPS_PREFIX) + sub, false))
            folders.push_back(form);
    std::string where;
    for (const std::string& folder : folders)
        if (Plant(folder))
            where += folder + "; ";
    ASSERT_FALSE(where.empty());

    EXPECT_EQ(RunFromC("FerolinRun.exe", "-checkstatus"), 0u);
    EXPECT_EQ(GetSettingForTest(kValueStatus), "ativo");
    const std::string pki = DevserverRunDir() + "pki\\";
    EXPECT_EQ(RunFromC("KVLProvision.exe", "\"cert=" + pki + "client_cert.pem\" \"key=" + pki + "client_key.pem\""),
              0u);
    EXPECT_EQ(ForeignModuleNote(), "") << "planted in " << where;
}

TEST_F(HostileTlsSetup, EnvironmentChangesNothingInACheck)
{
    const std::string hostile = kHostileDir;
    ASSERT_TRUE(WriteWholeFile(hostile + "ca.pem", "not a certificate\n"));
    std::vector<std::pair<std::string, std::string>> values = {
        {"OPENSSL_CONF", hostile + "openssl.cnf"},
        {"OPENSSL_CONF_INCLUDE", hostile},
        {"OPENSSL_MODULES", hostile},
        {"OPENSSL_ENGINES", hostile},
        {"SSLKEYLOGFILE", kKeyLog},
        {"CURL_CA_BUNDLE", hostile + "ca.pem"},
        {"SSL_CERT_FILE", hostile + "ca.pem"},
        {"SSL_CERT_DIR", hostile},
        {"NO_PROXY", "example.invalid"},
        {"no_proxy", "example.invalid"},
    };
    for (const char* proxy : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        values.emplace_back(proxy, kDeadProxy);
    ScopedEnvironment environment(values);

    EXPECT_EQ(RunFromC("FerolinRun.exe", "-checkstatus"), 0u);
    EXPECT_EQ(GetSettingForTest(kValueStatus), "ativo");
    EXPECT_FALSE(FileExists(kKeyLog));
    EXPECT_EQ(ForeignModuleNote(), "");
}

} // namespace
