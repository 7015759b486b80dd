#include "config_download.h"

#include <windows.h>

#include "config_paths.h"
#include "ferolin_limits.h"
#include "http_status.h"
#include "https_transport.h"
#include "part_file.h"

namespace {

// The scratch path must fit wherever the target path fits.
static_assert(kConfigFilePathSize + kPartFileSuffixLength <= MAX_PATH,
              "a scratch file beside the longest target must stay openable");

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
    PartFile part(filePath);
    const char* partPath = part.path();
    if (partPath == nullptr)
        return 0;
    long httpStatus = 0;
    if (DownloadToFile(url, partPath, &httpStatus, serverCaFile) != 0 || !IsSuccessStatus(httpStatus))
        return 0;
    if (body == FetchedBody::kNotEmpty && IsEmptyFile(partPath))
        return 0;
    if (!part.MoveOver(kHeldTargetMoveAttempts, kHeldTargetMoveWaitMs))
        return 0;
    return GetFileAttributesA(filePath) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}
