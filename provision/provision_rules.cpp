#include "provision_rules.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "bounded_format.h"
#include "ferolin_limits.h"
#include "log_file_limits.h"
#include "monitor_limits.h"
#include "settings_names.h"

namespace {

// The service log's path is the directory, a backslash when it lacks one and
// the log's name, within the log's path buffer; a longer directory cuts the
// file name.
constexpr std::size_t kLogDirBuffer = kLogPathSize - 1 - (sizeof kLogFileName - 1);

constexpr char kHttpsScheme[] = "https://";
// "-update" and the monitoring loop read it; the smaller buffer decides.
constexpr std::size_t kInstallDirBuffer = std::min<std::size_t>(kUpdateInstallDirReadSize, kMonitorInstallDirSize);

bool StartsWithNoCase(const char* text, const char* prefix)
{
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (std::tolower(static_cast<unsigned char>(*text)) != std::tolower(static_cast<unsigned char>(*prefix)))
            return false;
    }
    return true;
}

bool IsDecimal(const char* text)
{
    if (*text == '\0')
        return false;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9')
            return false;
    }
    return true;
}

// A host after the scheme: at least one character before any "/", ":" or "?".
bool HasHost(const char* afterScheme)
{
    return *afterScheme != '\0' && *afterScheme != '/' && *afterScheme != ':' && *afterScheme != '?';
}

} // namespace

const ProvisionRule kProvisionRules[] = {
    {kValueUserLogin, "USER_LOGIN", kInstallUserReadSize, "the software installation (-update)", ValueShape::Text},
    {kValuePasswordLogin, "PASSWORD_LOGIN", kPasswordReadSize, "the status check", ValueShape::Text},
    {kValueUpdateServer, "UPDATE_SERVER", kUpdateServerReadSize, "every check", ValueShape::HttpsUrl},
    {kValueConfigDir, "CONFIG_DIR", kConfigBaseDirReadSize, "the configuration update", ValueShape::Text},
    {kValueLogDir, "LOG_DIR", kLogDirBuffer, "the service log's path", ValueShape::Text},
    {kValueSoftwareVersion, "V_SW", kSoftwareVersionReadSize, "the software check", ValueShape::Text},
    {kValueCommandVersion, "V_CMD", kCommandVersionReadSize, "the command check", ValueShape::Text},
    // The service program's own reads.
    {kValueFirstTime, "FIRST_TIME", kMonitorFirstTimeSize, "the monitoring loop", ValueShape::Text},
    {kValueStatusTime, "TM_STATUS", kMonitorStatusTimeSize, "the seven-day test", ValueShape::Decimal},
};
const std::size_t kProvisionRuleCount = sizeof kProvisionRules / sizeof kProvisionRules[0];

const ProvisionRule* FindProvisionRule(const char* name)
{
    for (const ProvisionRule& rule : kProvisionRules) {
        if (std::strcmp(rule.name, name) == 0)
            return &rule;
    }
    return nullptr;
}

std::size_t LongestAccepted(const ProvisionRule& rule) { return rule.readerBuffer - 1; }

int CheckProvisionValue(const ProvisionRule& rule, const char* value, char* message, std::size_t size)
{
    std::size_t limit = LongestAccepted(rule);
    if (std::strlen(value) > limit) {
        FormatWhole(message, size, "%s: longer than %zu characters, the limit of %s", rule.name, limit, rule.reader);
        return 0;
    }
    if (rule.shape == ValueShape::HttpsUrl &&
        (!StartsWithNoCase(value, kHttpsScheme) || !HasHost(value + sizeof kHttpsScheme - 1))) {
        FormatWhole(message, size, "%s: not an https URL with a host (https://HOST:PORT/)", rule.name);
        return 0;
    }
    if (rule.shape == ValueShape::Decimal && !IsDecimal(value)) {
        FormatWhole(message, size, "%s: not a decimal count of seconds", rule.name);
        return 0;
    }
    message[0] = '\0';
    return 1;
}

int CheckInstallDirectory(const char* directory, char* message, std::size_t size)
{
    std::size_t length = std::strlen(directory);
    if (length == 0 || directory[length - 1] != '\\') {
        FormatWhole(message, size, "installation directory \"%s\": does not end with a backslash", directory);
        return 0;
    }
    if (length > kInstallDirBuffer - 1) {
        FormatWhole(message, size, "installation directory: longer than %zu characters, the limit of %s",
                    kInstallDirBuffer - 1, "the monitoring loop and -update");
        return 0;
    }
    message[0] = '\0';
    return 1;
}
