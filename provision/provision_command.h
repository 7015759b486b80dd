// The provisioning command: sets the values that come from outside the
// system in an existing installation's settings key and places the client
// certificate and key and the server CA into its bin\ folder, all or nothing.
// It restricts bin\ and its files to SYSTEM and Administrators on every run,
// and refuses an installation, configuration or log folder reached through a
// junction or symbolic link.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Exit codes, one per stage that can stop the command.
enum ProvisionResult {
    kProvisioned = 0,
    kProvisionUsage = 1,          // unknown switch or name, malformed argument
    kProvisionValueRefused = 2,   // a value that a reader would reject
    kProvisionPairRefused = 3,    // certificate, key or server CA does not load or match
    kProvisionNoInstallation = 4, // none, or its folder is a link
    kProvisionWriteFailed = 5,    // a write failed; what was done is undone
};

// Runs the command on its words (those after the program name); every
// message goes to `out`.
int RunProvision(const std::vector<std::string>& words, std::FILE* out);
