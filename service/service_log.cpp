#include "service_log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "win_handles.h"

char logPath[kLogPathSize] = "c:\\kvlservice.log";

namespace {
int FormatWithRuntime(char* buffer, std::size_t size, const char* format, va_list args)
{
    return std::vsnprintf(buffer, size, format, args);
}
} // namespace

LogFormatter logFormatter = FormatWithRuntime;

namespace {

void WriteText(HANDLE file, const char* text, std::size_t length)
{
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
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

    FileHandle file(
        CreateFileA(logPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return 0;

    DWORD size = GetFileSize(file.get(), nullptr);
    DWORD moved = (size != INVALID_FILE_SIZE && size <= static_cast<DWORD>(kLogWrapSize))
        ? SetFilePointer(file.get(), 0, nullptr, FILE_END)
        : SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    if (moved == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return 0;

    char line[kLogLineSize];
    std::size_t stampLength = 0;
    if (const std::tm* local = std::localtime(&now))
        stampLength = std::strftime(line, sizeof line, "%x-%X ", local);
    WriteText(file.get(), line, stampLength);

    va_list args;
    va_start(args, format);
    int formatted = logFormatter(line, sizeof line, format, args);
    va_end(args);
    if (formatted < 0) {
        // The arguments cannot be applied: keep the format itself, cut to fit.
        std::snprintf(line, sizeof line, "%s", format);
    }
    WriteText(file.get(), line, std::strlen(line));
    WriteText(file.get(), "\r\n", 2);
    return 0;
}
