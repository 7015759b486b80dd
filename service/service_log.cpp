#include "service_log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "win_handles.h"

char logPath[kLogPathSize] = "c:\\kvlservice.log";

namespace {

// 1 when all of `text` went into the file.
bool WriteWhole(HANDLE file, const char* text, std::size_t length)
{
    DWORD written = 0;
    return WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr) && written == length;
}

// The log's folder, pinned for the time of one line: opened without delete
// sharing, so it cannot be renamed or replaced by a link while the line is
// written, and refused when it is a link already. A standard user may create
// names beside the log (c:\ when no "log_dir" is set), and the service writes
// as SYSTEM: a junction or symbolic link there would take the line, and the
// file's creation, wherever the user pointed it.
FileHandle PinLogFolder()
{
    char folder[kLogPathSize];
    std::snprintf(folder, sizeof folder, "%s", logPath);
    char* last = std::strrchr(folder, '\\');
    if (last == nullptr)
        return FileHandle();
    // A drive's root keeps its backslash ("c:" alone is a current folder).
    last[(last == folder + 2 && folder[1] == ':') ? 1 : 0] = '\0';
    FileHandle pinned(CreateFileA(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    // Wine shows a link to a folder only in the path's attributes, Windows in
    // both; the pinned folder is the one the path names.
    DWORD attributes = GetFileAttributesA(folder);
    if (!pinned || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return FileHandle();
    return pinned;
}

// The opened log file is the log itself: not a link (opened as the link, it
// is refused here), and not a second name of another file.
bool IsPlainLogFile(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
        info.nNumberOfLinks <= 1;
}

// Opened for writing with read sharing only, so one writer at a time. Another
// thread or process (the console actions beside the service) holds it only
// for one line, so a short wait keeps its line and this one both.
FileHandle OpenLogFile()
{
    for (int attempt = 0;; ++attempt) {
        FileHandle file(CreateFileA(logPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (file || GetLastError() != ERROR_SHARING_VIOLATION || attempt == kLogOpenAttempts - 1)
            return file;
        Sleep(kLogOpenRetryMs);
    }
}

} // namespace

void ResetLogPath() { std::snprintf(logPath, sizeof logPath, "%s", kStartupLogPath); }

void RebuildLogPath(const char* directory)
{
    if (directory == nullptr)
        return;
    std::size_t length = std::strlen(directory);
    const char* separator = (length > 0 && directory[length - 1] == '\\') ? "" : "\\";
    // A path longer than the buffer is cut to its first 259 characters.
    std::snprintf(logPath, sizeof logPath, "%s%s%s", directory, separator, kLogFileName);
}

int LogMessage(const char* format, ...)
{
    std::time_t now = std::time(nullptr);

    FileHandle folder = PinLogFolder();
    if (!folder)
        return 0;
    FileHandle file = OpenLogFile();
    if (!file || !IsPlainLogFile(file.get()))
        return 0;

    DWORD size = GetFileSize(file.get(), nullptr);
    const bool appending = size != INVALID_FILE_SIZE && size <= static_cast<DWORD>(kLogWrapSize);
    DWORD moved = appending ? SetFilePointer(file.get(), 0, nullptr, FILE_END)
                            : SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    if (moved == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return 0;

    // Time stamp, message and line end go down in one write, so that a disk
    // that fills up takes a line whole or not at all.
    char line[kLogStampSize + kLogLineSize + 2];
    std::size_t length = 0;
    if (const std::tm* local = std::localtime(&now))
        length = std::strftime(line, kLogStampSize, "%x-%X ", local);
    char* message = line + length;

    va_list args;
    va_start(args, format);
    int formatted = std::vsnprintf(message, kLogLineSize, format, args);
    va_end(args);
    if (formatted < 0) {
        // The arguments cannot be applied: keep the format itself, cut to fit.
        std::snprintf(message, kLogLineSize, "%s", format);
    }
    length += std::strlen(message);
    std::memcpy(line + length, "\r\n", 2);
    length += 2;
    if (!WriteWhole(file.get(), line, length) && appending) {
        // A full disk took only the start of the line: cut it off again, or
        // the next line would run on from it. The line itself is lost.
        LARGE_INTEGER end;
        end.QuadPart = size;
        if (SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN))
            SetEndOfFile(file.get());
    }
    return 0;
}
