// A scratch installation on C: that a case builds and throws away: `root`
// holding "inst" (the installation directory) and "config" (the
// configuration directory), and on request the test PKI's client pair in the
// installation's bin.
#pragma once

#include <string>

// Empties `root` (a Windows path without a trailing backslash) and makes
// root\inst and root\config. False when a folder could not be made.
bool MakeScratchInstallation(const std::string& root);

// Puts the test PKI's client pair named by `pair` ("client_" or
// "other_client_") into `installDir`\bin as the installation's certificate
// and key, making the folders on the way. False when a copy failed.
bool InstallClientPair(const std::string& installDir, const std::string& pair);
