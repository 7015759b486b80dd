// The four request bodies of the update protocol. Values are inserted unchanged: nothing is escaped or encoded, so each
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
