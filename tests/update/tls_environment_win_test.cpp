// What a user can put around the agent's TLS: an OpenSSL configuration that
// names a DLL as a provider, wherever the build's OpenSSL would look for one,
// and the environment variables OpenSSL and libcurl would honour. A status
// check (FerolinRun.exe) and a KVLProvision.exe run, both started from C:\ as
// a service would be, must load nothing and reach the server of the settings.
#include <gtest/gtest.h>

#include <windows.h>

#include <openssl/crypto.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "foreign_module.h"
#include "settings_names.h"
#include "check_test_support.h"

namespace {

constexpr char kHostileDir[] = "C:\\kvlchecks\\hostile";
constexpr char kKeyLog[] = "C:\\kvlchecks\\keys.log";

// A Unix path as a Windows program on the current drive reads it.
std::string OnDriveC(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return "C:" + path;
}

class HostileTlsSetup : public CheckTest {
protected:
    void SetUp() override
    {
        CheckTest::SetUp();
        ASSERT_TRUE(Plant(kHostileDir));
        DeleteFileA(kForeignModuleNote);
        SetState(R"({"subscribers": {"checker": {"status": {"result": "0", "stt": "ativo"}}}})");
    }

    // The planted files may lie in the host's folders, outside the prefix.
    void TearDown() override
    {
        for (const std::string& file : planted_)
            DeleteFileA(file.c_str());
    }

    // A configuration in `folder` that caps TLS below what the transport
    // asks for (so a check fails if it is read at all, DLL loader or not) and
    // activates the foreign module, copied beside it, as a provider; false
    // when `folder` cannot be made.
    bool Plant(const std::string& folder)
    {
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        std::string module = folder + "\\" + kForeignModuleName;
        const std::string config = folder + "\\openssl.cnf";
        if (!CopyFileA((ProgramFolder() + kForeignModuleName).c_str(), module.c_str(), FALSE))
            return false;
        planted_.push_back(module);
        std::replace(module.begin(), module.end(), '\\', '/');
        planted_.push_back(config);
        return WriteWholeFile(config,
                              "openssl_conf = kvl_init\n[kvl_init]\nssl_conf = kvl_ssl\nproviders = kvl_providers\n"
                              "[kvl_ssl]\nsystem_default = kvl_tls\n[kvl_tls]\nMaxProtocol = TLSv1.1\n"
                              "[kvl_providers]\nkvlmark = kvlmark_section\n[kvlmark_section]\nmodule = " +
                                  module + "\nactivate = 1\n");
    }

    // Runs a program of the build from C:\ (a service's current drive);
    // returns its exit code.
    static DWORD RunFromC(const std::string& commandLine)
    {
        char former[MAX_PATH];
        GetCurrentDirectoryA(sizeof former, former);
        SetCurrentDirectoryA("C:\\");
        DWORD exitCode = 99;
        EXPECT_TRUE(RunAndCapture("\"" + ProgramFolder() + commandLine, &exitCode, 120000)) << commandLine;
        SetCurrentDirectoryA(former);
        return exitCode;
    }

    static std::string ForeignModuleNote() { return ReadWholeFile(kForeignModuleNote).value_or(""); }

    std::vector<std::string> planted_;
};

// Every folder this build's OpenSSL names for its configuration, modules and
// engines, and the dependency folder the build came from (its host form only
// where the build names it).
TEST_F(HostileTlsSetup, ConfigurationWhereTheBuildPointsLoadsNothing)
{
    std::vector<std::string> folders;
    for (int what : {OPENSSL_DIR, OPENSSL_MODULES_DIR, OPENSSL_ENGINES_DIR}) {
        std::string named = OpenSSL_version(what); // NAME: "folder"
        named = named.substr(named.find('"') + 1);
        named.erase(named.rfind('"'));
        folders.push_back(named[0] == '/' ? WindowsPathOfLinuxPath(named) : named);
        if (named[0] == '/')
            folders.push_back(OnDriveC(named));
    }
    for (const char* sub : {"/ssl", "/lib/ossl-modules", "/lib/engines-3"})
        folders.push_back(OnDriveC(KVL_DEPS_PREFIX + std::string(sub)));
    std::string where;
    for (const std::string& folder : folders)
        if (Plant(folder))
            where += folder + "; ";

    EXPECT_EQ(RunFromC("FerolinRun.exe\" -checkstatus"), 0u);
    EXPECT_EQ(GetSettingForTest(kValueStatus), "ativo");
    const std::string pki = DevserverRunDir() + "pki\\";
    EXPECT_EQ(RunFromC("KVLProvision.exe\" \"cert=" + pki + "client_cert.pem\" \"key=" + pki + "client_key.pem\""), 0u);
    EXPECT_EQ(ForeignModuleNote(), "") << "planted in " << where;
}

TEST_F(HostileTlsSetup, EnvironmentChangesNothingInACheck)
{
    const std::string hostile = std::string(kHostileDir) + "\\";
    ASSERT_TRUE(WriteWholeFile(hostile + "ca.pem", "not a certificate\n"));
    std::vector<std::pair<std::string, std::string>> values = {
        {"OPENSSL_CONF", hostile + "openssl.cnf"}, {"SSLKEYLOGFILE", kKeyLog}, {"NO_PROXY", "example.invalid"}};
    for (const char* name : {"OPENSSL_CONF_INCLUDE", "OPENSSL_MODULES", "OPENSSL_ENGINES", "SSL_CERT_DIR"})
        values.emplace_back(name, hostile);
    for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"})
        values.emplace_back(name, hostile + "ca.pem");
    // Nothing listens there. (Windows' variable names ignore case.)
    for (const char* proxy : {"http_proxy", "https_proxy", "all_proxy"})
        values.emplace_back(proxy, "http://127.0.0.1:1");
    for (const auto& [name, value] : values)
        SetEnvironmentVariableA(name.c_str(), value.c_str());

    EXPECT_EQ(RunFromC("FerolinRun.exe\" -checkstatus"), 0u);

    for (const auto& [name, value] : values)
        SetEnvironmentVariableA(name.c_str(), nullptr);
    EXPECT_EQ(GetSettingForTest(kValueStatus), "ativo");
    EXPECT_FALSE(FileExists(kKeyLog));
    EXPECT_EQ(ForeignModuleNote(), "");
}

} // namespace
