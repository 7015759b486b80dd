// The files of an installation that both halves of the library (and the
// provisioning command, which puts them there) name: the client certificate
// and key, the opt-in server CA and publisher files, the key's pass phrase, and the update
// server used when the settings key names none.
#pragma once

#include <algorithm>
#include <cstddef>

#include "ferolin_limits.h"

// Client certificate and key: PEM files in the installation's bin folder.
inline constexpr char kClientCertFileName[] = "client_cert.pem";
inline constexpr char kClientKeyFileName[] = "client_key.pem";
inline constexpr char kClientFilePathFormat[] = "%sbin\\%s";
inline constexpr char kKeyPassPhrase[] = "Lantern58";
// Opt-in: when the bin folder holds this PEM file, the update server (and any
// https configuration download of the same check) must present a certificate
// for its name that chains to it.
inline constexpr char kServerCaFileName[] = "server_ca.pem";
// Opt-in: when the bin folder holds this PEM file, a package is installed only
// when its signature chains to it.
inline constexpr char kPublisherCertFileName[] = "publisher.pem";

// Used when the settings key names no update server.
inline constexpr char kDefaultUpdateServerUrl[] = "https://update.vpnkorv.example:5016/";

// Room for the longest installation directory the read accepts, "bin\" and
// the longest file name.
inline constexpr std::size_t kClientFilePathSize = (kInstallDirReadSize - 1) + (sizeof "bin\\" - 1) +
    std::max({sizeof kClientCertFileName, sizeof kClientKeyFileName, sizeof kServerCaFileName,
              sizeof kPublisherCertFileName});

// Composes installDir + "bin\" + fileName (the directory is used unchanged and
// is expected to end with a backslash). Returns 1, or 0 when it would not fit.
int FormatClientFilePath(char* out, std::size_t size, const char* installDir, const char* fileName);
