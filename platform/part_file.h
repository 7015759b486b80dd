// A download's scratch file beside its target: the bytes go there, and only
// a complete transfer is moved over the target. Whatever path the fetch
// leaves by, a scratch file that was not moved into place is removed, so a
// failed or cut transfer leaves no partial file and an earlier file at the
// target is untouched.
#pragma once

#include <windows.h>

// Appended to the target's path to name its scratch file, in the same folder
// so that the final move is a rename on one volume. Short, so that the
// longest target path with it still fits the file system's ANSI path limit.
inline constexpr char kPartFileSuffix[] = ".part";

class PartFile {
public:
    explicit PartFile(const char* path) : path_(path) { }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile()
    {
        if (!moved_)
            DeleteFileA(path_);
    }
    // Puts the scratch file at `target`, replacing a file there. Returns 1,
    // or 0 when it could not be moved (it is removed then).
    int MoveOver(const char* target)
    {
        moved_ = MoveFileExA(path_, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        return moved_ ? 1 : 0;
    }

private:
    const char* path_;
    bool moved_ = false;
};

// HTTP statuses of a reply that carries the file asked for.
inline constexpr long kFirstSuccessStatus = 200;
inline constexpr long kLastSuccessStatus = 299;
inline bool IsSuccessStatus(long status) { return status >= kFirstSuccessStatus && status <= kLastSuccessStatus; }
