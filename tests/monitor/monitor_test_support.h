// Ground shared by the monitoring loop's tests: the real settings key (saved
// and put back around every case), a scratch installation on C: and the
// service log in it, the fake platform, and the loop's state.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "monitor_fakes.h"
#include "monitor_pass.h"
#include "scratch_installation.h"
#include "win_test_support.h"

// In the scratch installation.
inline constexpr char kProgramDir[] = "C:\\kvlchecks\\program";
inline constexpr char kConfigName[] = "vpn.conf";
inline constexpr char kConfigPath[] = "C:\\kvlchecks\\config\\vpn.conf";

// 7 December 2026, 12:00 UTC: the loop's start in most cases.
inline constexpr std::int64_t kStart = 1796731200;
inline constexpr std::int64_t kHour = 3600;
inline constexpr std::int64_t kDay = 86400;

// The day stamp of `time`, as the loop writes it.
std::string DayStampOf(std::int64_t time);

void PutFile(const std::string& path, const std::string& text = "remote vpn.example 1194\n");

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The settings a provisioned installation has: its directories, a
    // configuration file in place and its version "7".
    void ProvisionInstallation();

    void Start(std::int64_t now);
    void Pass(std::int64_t now);

    // The log's messages, without their time stamps and without the lines
    // of the settings reader about missing values.
    std::vector<std::string> LogMessages() const;
    int CountLogged(const std::string& message) const;

    std::optional<std::string> Setting(const char* name) const { return GetSettingForTest(name); }
    void Set(const char* name, const std::string& text) { SetSettingForTest(name, text); }
    void Unset(const char* name) { DeleteSettingForTest(name); }

    RegistrySnapshot registry_;
    MonitorPlatform platform_ = FakePlatform();
    MonitorState state_{};
};
