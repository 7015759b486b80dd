#include "service_report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "service_identity.h"
#include "win_handles.h"

namespace {

char lastErrorText[kLastErrorTextSize];

// Frees a buffer that FormatMessage allocated.
class SystemText {
public:
    SystemText() = default;
    SystemText(const SystemText&) = delete;
    SystemText& operator=(const SystemText&) = delete;
    ~SystemText()
    {
        if (text_ != nullptr)
            LocalFree(text_);
    }
    char** out() { return &text_; }
    const char* get() const { return text_; }

private:
    char* text_ = nullptr;
};

} // namespace

void FormatErrorText(const char* systemText, DWORD code, char* buffer, std::size_t size)
{
    if (size == 0)
        return;
    buffer[0] = '\0';
    if (systemText == nullptr)
        return;
    std::size_t length = std::strlen(systemText);
    if (length + kLastErrorCodeRoom > kLastErrorTextSize)
        return;
    // System texts end with a line break; a text too short to have one keeps
    // nothing rather than reading before its start.
    int kept = static_cast<int>(length >= 2 ? length - 2 : 0);
    int written = std::snprintf(buffer, size, "%.*s (0x%lx)", kept, systemText, static_cast<unsigned long>(code));
    if (written < 0 || static_cast<std::size_t>(written) >= size)
        buffer[0] = '\0';
}

const char* LastErrorText()
{
    DWORD code = GetLastError();
    SystemText text;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
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
    const char* strings[2] = {kEventSourceName, message};
    ReportEventA(source.get(), EVENTLOG_WARNING_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
}
