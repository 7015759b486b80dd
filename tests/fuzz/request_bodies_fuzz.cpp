// Settings of any length and content, as another program may leave them in
// the registry, composed into the request bodies and the client certificate
// paths: each result is the whole text, terminated, within its buffer, or
// empty with 0; never cut, never past the buffer.
#include <cstdlib>
#include <cstring>

#include "fuzz_input.h"
#include "installation_files.h"
#include "request_bodies.h"

namespace {

void RequireWholeOrEmpty(int result, const char* out, std::size_t size)
{
    const std::size_t length = strnlen(out, size);
    if (length >= size)
        std::abort(); // not terminated inside its buffer
    if (result == 0 && length != 0)
        std::abort(); // a refused body must not be left half-written
    if (result != 0 && result != 1)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::string> f = SplitFields(data, size, 5);
    // The reads bound what reaches a body; a value at or past its reader's
    // buffer never arrives, so the largest body always fits kRequestBodySize.
    const bool readable = f[0].size() < kUserLoginReadSize && f[1].size() < kMd5HexSize && f[2].size() < kMd5HexSize &&
        f[3].size() < kStatusVersionReadSize && f[4].size() < kConfigOnlyReadSize;
    char body[kRequestBodySize];
    int result = FormatStatusBody(body, sizeof body, f[0].c_str(), f[1].c_str(), f[2].c_str(), f[3].c_str());
    RequireWholeOrEmpty(result, body, sizeof body);
    if (readable && result != 1)
        std::abort();
    RequireWholeOrEmpty(FormatConfigBody(body, sizeof body, f[0].c_str(), f[3].c_str(), f[4].c_str()), body,
                        sizeof body);
    RequireWholeOrEmpty(FormatSoftwareBody(body, sizeof body, f[0].c_str(), f[3].c_str()), body, sizeof body);
    RequireWholeOrEmpty(FormatCommandBody(body, sizeof body, f[0].c_str(), f[3].c_str()), body, sizeof body);

    // A small buffer refuses what does not fit.
    char small[64];
    RequireWholeOrEmpty(FormatSoftwareBody(small, sizeof small, f[0].c_str(), f[3].c_str()), small, sizeof small);

    char path[kClientFilePathSize];
    result = FormatClientFilePath(path, sizeof path, f[0].c_str(), kClientKeyFileName);
    RequireWholeOrEmpty(result, path, sizeof path);
    if (f[0].size() < kInstallDirReadSize && result != 1)
        std::abort();
    return 0;
}
