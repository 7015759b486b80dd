#include "service_report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "service_limits.h"
#include "service_messages.h"
#include "bounded_format.h"
#include "win_handles.h"

namespace {

char lastErrorText[kLastErrorTextSize];

} // namespace

void FormatErrorText(const char* systemText, DWORD code, char* buffer, std::size_t size)
{
    if (size == 0)
        return;
    buffer[0] = '\0';
    if (systemText == nullptr)
        return;
    std::size_t length = std::strlen(systemText);
    if (length + kLastErrorCodeRoom > size)
        return;
    // System texts end with a line break; a text too short to have one keeps
    // nothing rather than reading before its start.
    int kept = static_cast<int>(length >= 2 ? length - 2 : 0);
    FormatWhole(buffer, size, "%.*s (0x%lx)", kept, systemText, static_cast<unsigned long>(code));
}

const char* LastErrorText()
{
    DWORD code = GetLastError();
    LocalMemory<char> text;
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(text.out()), 0, nullptr);
    FormatErrorText(length != 0 ? text.get() : nullptr, code, lastErrorText, sizeof lastErrorText);
    return lastErrorText;
}

void ReportMonitorEvent(const char* format, ...)
{
    char message[kEventTextSize];
    va_list args;
    va_start(args, format);
    int formatted = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (formatted < 0)
        std::snprintf(message, sizeof message, "%s", format);

    EventSourceHandle source(RegisterEventSourceA(nullptr, kEventSourceName));
    if (!source)
        return;
    // The identifier picks the message table's entry that shows both strings
    // as one line (the table is in KVLService.exe, registered by the package).
    const char* strings[2] = {kEventSourceName, message};
    ReportEventA(source.get(), EVENTLOG_WARNING_TYPE, 0, KVL_MSG_MONITOR_EVENT, nullptr, 2, 0, strings, nullptr);
}
