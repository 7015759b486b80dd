// A scratch installation on C: that a case builds and throws away: a root
// holding "inst" (the installation directory) and "config" (the
// configuration directory), and on request the test PKI's client pair in the
// installation's bin.
#pragma once

#include <string>

// The one scratch tree: the suites run one at a time in the prefix, and each
// case starts by emptying it.
inline constexpr char kTestRoot[] = "C:\\kvlchecks";
// Installation directory: ends with a backslash, as the settings key holds it.
inline constexpr char kTestInstallDir[] = "C:\\kvlchecks\\inst\\";
// "config_dir": the way the provisioning writes it, without one.
inline constexpr char kTestConfigDir[] = "C:\\kvlchecks\\config";

// Empties the scratch tree and makes its root, installation and
// configuration folders. False when a folder could not be made.
bool MakeScratchInstallation();

// Puts the test PKI's client pair named by `pair` ("client_" or
// "other_client_") into `installDir`\bin as the installation's certificate
// and key, making the folders on the way. False when a copy failed.
bool InstallClientPair(const std::string& installDir, const std::string& pair);
