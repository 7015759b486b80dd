// The four request bodies of the update protocol and the client certificate
// paths. Values are inserted unchanged: nothing is escaped or encoded, so each
// backslash-quote pair below is two characters of the body.
#pragma once

#include <algorithm>
#include <cstddef>

#include "ferolin_limits.h"
#include "md5_hex.h"

inline constexpr char kStatusBodyFormat[] = "data={\\\"m\\\":\\\"chk_stt\\\",\\\"u\\\":\\\"%s\\\",\\\"s\\\":\\\"%s\\\","
                                            "\\\"c_id\\\":\\\"%s\\\",\\\"v_stt\\\":\\\"%s\\\"}";
inline constexpr char kSoftwareBodyFormat[] =
    "data={\\\"m\\\":\\\"chk_sw_upd\\\",\\\"u\\\":\\\"%s\\\",\\\"v_sw\\\":\\\"%s\\\"}";
inline constexpr char kCommandBodyFormat[] =
    "data={\\\"m\\\":\\\"chk_cmd_upd\\\",\\\"u\\\":\\\"%s\\\",\\\"v_cmd\\\":\\\"%s\\\"}";
inline constexpr char kConfigBodyFormat[] =
    "data={\\\"m\\\":\\\"chk_cnf_upd\\\",\\\"u\\\":\\\"%s\\\",\\\"v_cnf\\\":\\\"%s\\\","
    "\\\"cnf_only\\\":\\\"%s\\\"}";

// Longest body a format yields: its text less the "%s" placeholders, plus the
// longest values the reads above can deliver.
constexpr std::size_t MaxBodyLength(std::size_t formatSize, std::size_t placeholders, std::size_t valueChars)
{
    return formatSize - 1 - 2 * placeholders + valueChars;
}

inline constexpr std::size_t kRequestBodySize = 1 +
    std::max({
        MaxBodyLength(sizeof kStatusBodyFormat, 4,
                      (kUserLoginReadSize - 1) + 2 * (kMd5HexSize - 1) + (kStatusVersionReadSize - 1)),
        MaxBodyLength(sizeof kSoftwareBodyFormat, 2, (kUserLoginReadSize - 1) + (kSoftwareVersionReadSize - 1)),
        MaxBodyLength(sizeof kCommandBodyFormat, 2, (kUserLoginReadSize - 1) + (kCommandVersionReadSize - 1)),
        MaxBodyLength(sizeof kConfigBodyFormat, 3,
                      (kUserLoginReadSize - 1) + (kConfigVersionReadSize - 1) + (kConfigOnlyReadSize - 1)),
    });

// Each Format*Body writes the whole body into `out` (capacity `size`) and
// returns 1, or returns 0 when it would not fit (never a truncated body).
int FormatStatusBody(char* out, std::size_t size, const char* user, const char* passwordDigest,
                     const char* machineDigest, const char* statusVersion);
int FormatSoftwareBody(char* out, std::size_t size, const char* user, const char* softwareVersion);
int FormatCommandBody(char* out, std::size_t size, const char* user, const char* commandVersion);
int FormatConfigBody(char* out, std::size_t size, const char* user, const char* version, const char* configOnly);

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
