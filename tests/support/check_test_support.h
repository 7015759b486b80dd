// The one fixture of a check against the development update server: a
// subscriber and an installation that talk to it, its state file and request
// log, and a scratch tree on C: whose files a case can compare before and
// after a check. The registry is put back after every case.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devserver_session.h"
#include "scratch_installation.h"
#include "win_test_support.h"

// The login every case uses; every case starts with the scratch
// installation empty except for its certificate files.
inline constexpr char kTestUser[] = "checker";
inline constexpr char kTestPassword[] = "secret";

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

    std::string ServerUrl() const { return "https://127.0.0.1:" + port_ + "/"; }
    std::string FilesUrl() const { return "http://127.0.0.1:" + filesPort_; }
    // The same files over HTTPS, with the test PKI's server certificate.
    std::string FilesTlsUrl() const { return "https://127.0.0.1:" + filesTlsPort_; }

    static void SetState(const std::string& json) { ASSERT_TRUE(SetDevserverState(json)); }
    static void ServeFile(const std::string& relativePath, const std::string& content)
    {
        ASSERT_TRUE(ServeDevserverFile(relativePath, content)) << relativePath;
    }

    // What reached the server since SetUp.
    std::vector<std::string> NewLogLines() const { return log_.NewLines(); }
    std::vector<LoggedRequest> NewRequests() const { return log_.NewRequests(); }
    // The update requests of `method`, each as its "members" object text,
    // e.g. {"m":"chk_sw_upd","u":"checker","v_sw":"1.0"}.
    std::vector<std::string> RequestMembers(const std::string& method) const;
    // The paths the file server was asked for, in order.
    std::vector<std::string> FileRequests() const;

    RegistrySnapshot registry_;
    RequestLog log_;

private:
    std::string port_;
    std::string filesPort_;
    std::string filesTlsPort_;
};
