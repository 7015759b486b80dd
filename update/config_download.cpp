#include "config_download.h"

#include <windows.h>

#include "bounded_format.h"
#include "config_paths.h"
#include "https_transport.h"

namespace {

// The scratch path must fit wherever the target path fits.
constexpr std::size_t kPartPathSize = kConfigFilePathSize + sizeof kPartFileSuffix - 1;
static_assert(kPartPathSize <= MAX_PATH, "a scratch file beside the longest target must stay openable");

// Removes the scratch file when it was not moved into place, whatever path
// the fetch leaves by.
class PartFile {
public:
    explicit PartFile(const char* path) : path_(path) {}
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile()
    {
        if (!moved_)
            DeleteFileA(path_);
    }
    int MoveOver(const char* target)
    {
        moved_ = MoveFileExA(path_, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        return moved_ ? 1 : 0;
    }

private:
    const char* path_;
    bool moved_ = false;
};

bool IsSuccessStatus(long status) { return status >= kFirstSuccessStatus && status <= kLastSuccessStatus; }

bool IsEmptyFile(const char* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return false;
    return data.nFileSizeHigh == 0 && data.nFileSizeLow == 0;
}

} // namespace

int FetchConfigFile(const char* url, const char* filePath, FetchedBody body)
{
    char partPath[kPartPathSize];
    if (!FormatWhole(partPath, sizeof partPath, "%s%s", filePath, kPartFileSuffix))
        return 0;

    PartFile part(partPath);
    long httpStatus = 0;
    if (DownloadToFile(url, partPath, &httpStatus) != 0 || !IsSuccessStatus(httpStatus))
        return 0;
    if (body == FetchedBody::kNotEmpty && IsEmptyFile(partPath))
        return 0;
    if (!part.MoveOver(filePath))
        return 0;
    return GetFileAttributesA(filePath) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}
