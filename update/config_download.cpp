#include "config_download.h"

#include <windows.h>

#include "bounded_format.h"
#include "config_paths.h"
#include "ferolin_limits.h"
#include "http_status.h"
#include "https_transport.h"
#include "part_file.h"

namespace {

// The scratch path must fit wherever the target path fits.
constexpr std::size_t kPartPathSize = kConfigFilePathSize + sizeof kPartFileSuffix - 1;
static_assert(kPartPathSize <= MAX_PATH, "a scratch file beside the longest target must stay openable");

bool IsEmptyFile(const char* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return false;
    return data.nFileSizeHigh == 0 && data.nFileSizeLow == 0;
}

} // namespace

int FetchConfigFile(const char* url, const char* filePath, FetchedBody body, const char* serverCaFile)
{
    char partPath[kPartPathSize];
    if (!FormatWhole(partPath, sizeof partPath, "%s%s", filePath, kPartFileSuffix))
        return 0;

    PartFile part(partPath);
    long httpStatus = 0;
    if (DownloadToFile(url, partPath, &httpStatus, serverCaFile) != 0 || !IsSuccessStatus(httpStatus))
        return 0;
    if (body == FetchedBody::kNotEmpty && IsEmptyFile(partPath))
        return 0;
    if (!part.MoveOver(filePath, kHeldTargetMoveAttempts, kHeldTargetMoveWaitMs))
        return 0;
    return GetFileAttributesA(filePath) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}
