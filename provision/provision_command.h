// The provisioning command: sets the values that come from outside the
// system in an existing installation's settings key and places the client
// certificate and key into its bin\ folder, all or nothing.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Exit codes, one per stage that can stop the command.
enum ProvisionResult {
    kProvisioned = 0,
    kProvisionUsage = 1,        // unknown switch or name, malformed argument
    kProvisionValueRefused = 2, // a value that a reader would reject
    kProvisionPairRefused = 3,  // certificate or key does not load or match
    kProvisionNoInstallation = 4,
    kProvisionWriteFailed = 5, // a write failed; what was done is undone
};

// Runs the command on its words (those after the program name); every
// message goes to `out`.
int RunProvision(const std::vector<std::string>& words, std::FILE* out);
