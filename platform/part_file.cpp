#include "part_file.h"

#include <cstdio>
#include <cstring>

#include "win_handles.h"

namespace {

// Transfers started by this process, so that two of them pick different
// names without a round of collisions; the process id spreads processes.
volatile LONG transferCount = 0;

constexpr unsigned kNameChoices = 10000; // kPartFileDigits decimal digits
// Names tried before giving up: only a folder crowded with scratch files
// that are all held runs out of them.
constexpr unsigned kCreateAttempts = 64;

bool IsPartFileOf(const char* name, const char* targetName)
{
    const std::size_t length = std::strlen(targetName);
    if (std::strlen(name) != length + kPartFileSuffixLength || _strnicmp(name, targetName, length) != 0 ||
        name[length] != kPartFileMark)
        return false;
    for (unsigned i = 1; i <= kPartFileDigits; ++i)
        if (name[length + i] < '0' || name[length + i] > '9')
            return false;
    return true;
}

// Deletes `path` unless someone has it open: an exclusive open fails while
// its transfer holds it, and the file goes when the exclusive handle closes.
// A link planted under a scratch name is opened as itself: deleting through
// it would remove whatever it points to, as SYSTEM.
bool DeleteIfUnheld(const char* path)
{
    HANDLE file = CreateFileA(path, DELETE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    CloseHandle(file);
    return true;
}

} // namespace

unsigned RemoveAbandonedPartFiles(const char* target)
{
    const char* slash = std::strrchr(target, '\\');
    const std::size_t folderLength = slash != nullptr ? static_cast<std::size_t>(slash - target + 1) : 0;
    char pattern[MAX_PATH];
    const int written = std::snprintf(pattern, sizeof pattern, "%s%c*", target, kPartFileMark);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof pattern)
        return 0;
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA(pattern, &found));
    if (!search)
        return 0;
    unsigned held = 0;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
            !IsPartFileOf(found.cFileName, target + folderLength))
            continue;
        char path[MAX_PATH];
        const int length =
            std::snprintf(path, sizeof path, "%.*s%s", static_cast<int>(folderLength), target, found.cFileName);
        if (length > 0 && static_cast<std::size_t>(length) < sizeof path && !DeleteIfUnheld(path))
            ++held;
    } while (FindNextFileA(search.get(), &found));
    return held;
}

PartFile::PartFile(const char* target) : target_(target)
{
    RemoveAbandonedPartFiles(target);
    const unsigned first = static_cast<unsigned>(GetCurrentProcessId()) * 7919u +
        static_cast<unsigned>(InterlockedIncrement(&transferCount));
    for (unsigned attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const int length = std::snprintf(path_, sizeof path_, "%s%c%0*u", target, kPartFileMark,
                                         static_cast<int>(kPartFileDigits), (first + attempt * 389u) % kNameChoices);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof path_)
            return;
        // Held for reading until it is in place: whoever writes it opens it
        // again, the move renames it under this handle, and a removal of
        // leftovers (an exclusive open) cannot take it.
        hold_ = CreateFileA(path_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hold_ != INVALID_HANDLE_VALUE) {
            created_ = true;
            return;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_SHARING_VIOLATION &&
            error != ERROR_ACCESS_DENIED)
            return;
    }
}

PartFile::~PartFile()
{
    if (created_ && !moved_)
        DeleteFileA(path_);
    if (hold_ != INVALID_HANDLE_VALUE)
        CloseHandle(hold_);
}

namespace {

// Refusals that last only while someone holds the file. A folder of the
// target's name refuses too, for good.
bool MayBeLetGo(const char* target, DWORD error)
{
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION)
        return false;
    const DWORD attributes = GetFileAttributesA(target);
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

int PartFile::MoveOver(unsigned attempts, DWORD waitMs)
{
    if (!created_)
        return 0;
    for (unsigned attempt = 1;; ++attempt) {
        moved_ = MoveFileExA(path_, target_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        if (moved_ || attempt >= attempts || !MayBeLetGo(target_, GetLastError()))
            return moved_ ? 1 : 0;
        Sleep(waitMs);
    }
}
