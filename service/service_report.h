// Outcome reports of the service program that do not go to its log file: the
// Windows event log, and the text of the last Windows error that ends every
// message about a failed Windows call.
#pragma once

#include <windows.h>

#include <cstddef>

// Text of the calling thread's last Windows error as "%s (0x%x)" in one
// process-wide buffer; the empty string when the system has no text for it or
// the text is too long for the buffer.
const char* LastErrorText();

// Fills `buffer` with "%s (0x%x)" from a system message text (whose last two
// characters, its line break, are dropped) and the error code. The result is
// the empty string when there is no text or the text's length plus the room
// for the code (kLastErrorCodeRoom) exceeds `size`, the capacity of `buffer`
// (kLastErrorTextSize for LastErrorText's buffer).
void FormatErrorText(const char* systemText, DWORD code, char* buffer, std::size_t size);

// Writes one warning event under the source "KVLMonitor" with the insertion
// strings "KVLMonitor" and the formatted message. A source that cannot be
// registered loses the event.
void ReportMonitorEvent(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
