// Shared ground of the software, configuration and command check tests: a
// subscriber and an installation that talk to the development update server,
// the server's state file and request log, and a scratch tree on C: whose
// files a test can compare before and after a check.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "request_road.h"
#include "win_test_support.h"

// The check results, with the values specified.
static_assert(kCheckDone == 0 && kCheckFailed == 4, "results of the check commands");

// The login every case uses, and the scratch tree (every case starts with it
// empty except for the installation's certificate files).
inline constexpr char kTestUser[] = "checker";
inline constexpr char kTestRoot[] = "C:\\kvlchecks";
// Installation directory: ends with a backslash, as the settings key holds it.
inline constexpr char kTestInstallDir[] = "C:\\kvlchecks\\inst\\";
// "config_dir": the way the provisioning writes it, without one.
inline constexpr char kTestConfigDir[] = "C:\\kvlchecks\\config";

// Every file below `root` (a Windows path without a trailing backslash),
// keyed by its path relative to `root`, with its content; folders appear with
// a trailing backslash and no content.
std::map<std::string, std::string> TreeOf(const std::string& root);

// Removes `root` and everything below it.
void RemoveTree(const std::string& root);

// While it lives, the PEM certificate `pemFile` is a trusted root of the
// Windows certificate store: it is added to the local machine's system store
// "Root" of the test's Wine prefix (nothing of the host changes) and removed
// again on destruction. A run cut short leaves it behind until the next one
// adds and removes it again.
class TrustedRootForTest {
public:
    explicit TrustedRootForTest(const std::string& pemFile);
    TrustedRootForTest(const TrustedRootForTest&) = delete;
    TrustedRootForTest& operator=(const TrustedRootForTest&) = delete;
    ~TrustedRootForTest();
    bool added() const { return added_; }

private:
    std::vector<unsigned char> der_;
    bool added_ = false;
};

// JSON string text of `text` (backslashes and quotes escaped).
std::string Quoted(const std::string& text);

class CheckTest : public ::testing::Test {
protected:
    void SetUp() override;

    // The scratch tree emptied, with an installation whose bin holds the
    // test PKI's client pair named by `pair` ("client_" or "other_client_").
    static void MakeTestInstallation(const std::string& pair);

    std::string FilesUrl() const { return "http://127.0.0.1:" + filesPort_; }
    // The same files over HTTPS, with the test PKI's server certificate.
    std::string FilesTlsUrl() const { return "https://127.0.0.1:" + filesTlsPort_; }

    // Replaces the server's state file (whole, by a rename).
    static void SetState(const std::string& json);
    // Puts a file on the file server, at `relativePath` ("rules/r.txt").
    static void ServeFile(const std::string& relativePath, const std::string& content);

    // Request log lines written since SetUp.
    std::vector<std::string> NewLogLines() const;
    // The update requests of `method` since SetUp, each as its "members"
    // object text, e.g. {"m":"chk_sw_upd","u":"checker","v_sw":"1.0"}.
    std::vector<std::string> RequestMembers(const std::string& method) const;
    // The paths the file server was asked for since SetUp, in order.
    std::vector<std::string> FileRequests() const;

    RegistrySnapshot registry_;

private:
    std::string port_;
    std::string filesPort_;
    std::string filesTlsPort_;
    std::size_t logStart_ = 0;
};
