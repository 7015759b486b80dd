#include "request_bodies.h"

#include <cstdio>

namespace {

// The all-or-nothing rule after a bounded format: a truncated result is
// emptied and reported as a failure.
int KeepWhole(int written, char* out, std::size_t size) {
    if (written < 0 || static_cast<std::size_t>(written) >= size) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

}  // namespace

int FormatStatusBody(char* out, std::size_t size, const char* user, const char* passwordDigest,
                     const char* machineDigest, const char* statusVersion) {
    if (out == nullptr || size == 0) {
        return 0;
    }
    const int written = std::snprintf(out, size, kStatusBodyFormat, user, passwordDigest,
                                      machineDigest, statusVersion);
    return KeepWhole(written, out, size);
}

int FormatSoftwareBody(char* out, std::size_t size, const char* user, const char* softwareVersion) {
    if (out == nullptr || size == 0) {
        return 0;
    }
    const int written = std::snprintf(out, size, kSoftwareBodyFormat, user, softwareVersion);
    return KeepWhole(written, out, size);
}

int FormatCommandBody(char* out, std::size_t size, const char* user, const char* commandVersion) {
    if (out == nullptr || size == 0) {
        return 0;
    }
    const int written = std::snprintf(out, size, kCommandBodyFormat, user, commandVersion);
    return KeepWhole(written, out, size);
}

int FormatConfigBody(char* out, std::size_t size, const char* user, const char* version,
                     const char* configOnly) {
    if (out == nullptr || size == 0) {
        return 0;
    }
    const int written = std::snprintf(out, size, kConfigBodyFormat, user, version, configOnly);
    return KeepWhole(written, out, size);
}

int FormatClientFilePath(char* out, std::size_t size, const char* installDir,
                         const char* fileName) {
    if (out == nullptr || size == 0) {
        return 0;
    }
    const int written = std::snprintf(out, size, kClientFilePathFormat, installDir, fileName);
    return KeepWhole(written, out, size);
}
