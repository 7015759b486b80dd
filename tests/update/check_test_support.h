// Shared ground of the software, configuration and command check tests: a
// subscriber and an installation that talk to the development update server,
// the server's state file and request log, and a scratch tree on C: whose
// files a test can compare before and after a check.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "win_test_support.h"

inline constexpr int kCheckDone = 0;
inline constexpr int kCheckFailed = 4;

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

class CheckTest : public ::testing::Test {
protected:
    void SetUp() override;

    std::string FilesUrl() const { return "http://127.0.0.1:" + filesPort_; }

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
    std::size_t logStart_ = 0;
};
