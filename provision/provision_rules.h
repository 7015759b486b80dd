// What the provisioning command accepts for each value that comes from
// outside the system: each limit is the buffer of the value's smallest reader,
// so a value that passes here is one that every reader will later see.
#pragma once

#include <cstddef>

enum class ValueShape {
    Text,     // any text that fits
    HttpsUrl, // "https://" and a host
    Decimal,  // digits only
};

struct ProvisionRule {
    const char* name;         // value name in the settings key
    const char* property;     // the package's public property
    std::size_t readerBuffer; // smallest reader's buffer, terminator included
    const char* reader;       // who reads with that buffer, for the message
    ValueShape shape;
};

// The nine values, in the order the messages and the usage list them.
extern const ProvisionRule kProvisionRules[];
extern const std::size_t kProvisionRuleCount;

// The rule for `name`, or null for a name that is not provisioned.
const ProvisionRule* FindProvisionRule(const char* name);

// Longest text a rule accepts, in characters.
std::size_t LongestAccepted(const ProvisionRule& rule);

// 1 when `value` is acceptable for `rule`; otherwise 0 and `message` (capacity
// `size`) names the value and the limit it breaks.
int CheckProvisionValue(const ProvisionRule& rule, const char* value, char* message, std::size_t size);

// The installation directory (the settings key's default value) as the
// library forms its paths from it: it must end with a backslash and fit the
// smallest reader. Same result convention as CheckProvisionValue.
int CheckInstallDirectory(const char* directory, char* message, std::size_t size);
