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
    // or 0 when it could not be moved (it is removed then). A scanner that
    // examines the file just written, or the VPN service reading its
    // configuration, holds the target for a moment: a refused move is tried
    // again, up to `attempts` times in all, `waitMs` apart, so that such a
    // moment does not cost a whole download.
    int MoveOver(const char* target, unsigned attempts, DWORD waitMs)
    {
        for (unsigned attempt = 1;; ++attempt) {
            moved_ = MoveFileExA(path_, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
            if (moved_ || attempt >= attempts || !MayBeLetGo(target, GetLastError()))
                return moved_ ? 1 : 0;
            Sleep(waitMs);
        }
    }

private:
    // Refusals that last only while someone holds the file. A folder of the
    // target's name refuses too, for good.
    static bool MayBeLetGo(const char* target, DWORD error)
    {
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION)
            return false;
        const DWORD attributes = GetFileAttributesA(target);
        return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }

    const char* path_;
    bool moved_ = false;
};

