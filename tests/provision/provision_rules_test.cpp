// Each provisioned value against the reader that would later reject it, and
// the command line as the installer hands it over.
#include <gtest/gtest.h>

#include <string>

#include "command_line.h"
#include "provision_rules.h"

namespace {

struct Outcome {
    int accepted;
    std::string message;
};

Outcome Check(const char* name, const std::string& value)
{
    const ProvisionRule* rule = FindProvisionRule(name);
    EXPECT_NE(rule, nullptr) << name;
    char message[600] = "untouched";
    int accepted = rule != nullptr ? CheckProvisionValue(*rule, value.c_str(), message, sizeof message) : 0;
    return {accepted, message};
}

TEST(ProvisionRules, EachLengthStopsAtItsSmallestReader)
{
    // The installer run reads "user_login" into 15 bytes although the checks
    // take 19 characters: 15 characters pass the checks and fail -update.
    struct Limit {
        const char* name;
        std::size_t longest;
    } limits[] = {{"user_login", 14}, {"password_login", 49}, {"config_dir", 199}, {"v_sw", 19},
                  {"v_cmd", 19},      {"first_time", 7},      {"log_dir", 244}};
    for (const Limit& limit : limits) {
        EXPECT_EQ(Check(limit.name, std::string(limit.longest, 'a')).accepted, 1) << limit.name;
        Outcome over = Check(limit.name, std::string(limit.longest + 1, 'a'));
        EXPECT_EQ(over.accepted, 0) << limit.name;
        EXPECT_NE(over.message.find(limit.name), std::string::npos) << over.message;
        EXPECT_NE(over.message.find(std::to_string(limit.longest)), std::string::npos) << over.message;
    }
    // The whole URL counts, scheme included: 254 characters at most.
    std::string url = "https://" + std::string(246, 'h');
    EXPECT_EQ(Check("update_server", url).accepted, 1);
    EXPECT_EQ(Check("update_server", url + "/").accepted, 0);
}

TEST(ProvisionRules, UpdateServerMustBeHttpsWithAHost)
{
    EXPECT_EQ(Check("update_server", "https://updates.example:5016/").accepted, 1);
    EXPECT_EQ(Check("update_server", "HTTPS://127.0.0.1:5016/").accepted, 1);
    for (const char* bad :
         {"http://updates.example:5016/", "https://", "https:///path", "https://:5016/", "updates.example:5016", ""}) {
        Outcome outcome = Check("update_server", bad);
        EXPECT_EQ(outcome.accepted, 0) << bad;
        EXPECT_NE(outcome.message.find("update_server"), std::string::npos) << outcome.message;
        EXPECT_NE(outcome.message.find("https"), std::string::npos) << outcome.message;
    }
}

TEST(ProvisionRules, StatusTimeIsDecimalSeconds)
{
    EXPECT_EQ(Check("tm_status", "1765238400").accepted, 1);
    EXPECT_EQ(Check("tm_status", "").accepted, 0);
    EXPECT_EQ(Check("tm_status", "17652x").accepted, 0);
    EXPECT_EQ(Check("tm_status", "-5").accepted, 0);
    EXPECT_EQ(FindProvisionRule("stt"), nullptr) << "the library's own values are not provisioned";
}

TEST(ProvisionRules, InstallDirectoryNeedsItsTrailingBackslash)
{
    char message[600];
    EXPECT_EQ(CheckInstallDirectory("C:\\Program Files (x86)\\KVL\\", message, sizeof message), 1);
    EXPECT_EQ(CheckInstallDirectory("C:\\Program Files (x86)\\KVL", message, sizeof message), 0);
    EXPECT_NE(std::string(message).find("backslash"), std::string::npos) << message;
    EXPECT_EQ(CheckInstallDirectory("", message, sizeof message), 0);
    std::string longest = "C:\\" + std::string(195, 'd') + "\\";
    EXPECT_EQ(CheckInstallDirectory(longest.c_str(), message, sizeof message), 1);
    EXPECT_EQ(CheckInstallDirectory(("C:\\x" + longest.substr(2)).c_str(), message, sizeof message), 0);
}

TEST(ProvisionCommandLine, DirectoriesKeepTheirBackslashBeforeTheQuote)
{
    using Words = std::vector<std::string>;
    // As the installer formats its custom action: a quoted word per value.
    EXPECT_EQ(SplitCommandLine("\"C:\\Program Files (x86)\\KVL\\KVLProvision.exe\" -installer "
                               "\"log_dir=C:\\Program Files\\KVL logs\\\" \"v_cmd=\" \"v_sw=1.0\""),
              (Words{"-installer", "log_dir=C:\\Program Files\\KVL logs\\", "v_cmd=", "v_sw=1.0"}));
    // As an operator types it.
    EXPECT_EQ(SplitCommandLine("KVLProvision.exe  config_dir=\"C:\\VPN config\"\tuser_login=abc"),
              (Words{"config_dir=C:\\VPN config", "user_login=abc"}));
    EXPECT_EQ(SplitCommandLine("KVLProvision.exe"), Words{});
    EXPECT_EQ(SplitCommandLine("KVLProvision.exe \"\""), Words{""});
}

} // namespace
