// The configuration update ("-checkconfig"): tells the update server which
// configuration version the client holds, records the versions and places of
// the files it lists in the settings key and fetches them into the base
// directory ("config_dir" for the VPN configuration file, the installation
// directory for the others).
#pragma once

// "-checkconfig": kCheckDone once the server has answered, else kCheckFailed
// (request_road.h).
int CheckConfigUpdate();

// "cnf_only" of exactly this text asks for the VPN configuration file and
// sends "v_cnf"; any other text asks for the other files and sends "v_file".
inline constexpr char kConfigOnlyVpnFile[] = "1";
// An entry whose is_cnf is exactly this text is the VPN configuration file.
inline constexpr char kVpnConfigKind[] = "1";

// Results of StoreConfigFiles.
inline constexpr int kStoreConfigDone = 0;    // refused by the server, or every listed file fetched
inline constexpr int kStoreConfigStopped = 1; // stopped at an entry that failed

// For each listed entry up to the first without a file name (at most fifty):
// records its version, file name, URL and subdirectory, creates one level of
// subdirectory and fetches the file. An entry whose names would leave the
// base directory, whose path would not fit, or whose download fails is a
// failed download: its kind's version value is emptied, so that the next
// check asks for the file again, and the list stops there. An https download
// verifies its server against `serverCaFile` when it is not null, else
// against the Windows certificate store.
int StoreConfigFiles(const char* serverCaFile);
