#include "request_bodies.h"

#include "bounded_format.h"

int FormatStatusBody(char* out, std::size_t size, const char* user, const char* passwordDigest,
                     const char* machineDigest, const char* statusVersion)
{
    return FormatWhole(out, size, kStatusBodyFormat, user, passwordDigest, machineDigest, statusVersion);
}

int FormatSoftwareBody(char* out, std::size_t size, const char* user, const char* softwareVersion)
{
    return FormatWhole(out, size, kSoftwareBodyFormat, user, softwareVersion);
}

int FormatCommandBody(char* out, std::size_t size, const char* user, const char* commandVersion)
{
    return FormatWhole(out, size, kCommandBodyFormat, user, commandVersion);
}

int FormatConfigBody(char* out, std::size_t size, const char* user, const char* version, const char* configOnly)
{
    return FormatWhole(out, size, kConfigBodyFormat, user, version, configOnly);
}
