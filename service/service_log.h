// The service program's own log file: one time-stamped line per event.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "log_file_limits.h"

// Process-wide path of the log file.
extern char logPath[kLogPathSize];

// Points the log at "c:\kvlservice.log"; done first thing at program start.
void ResetLogPath();

// Rebuilds the log path from the log directory: the directory, a backslash
// when it has none at its end, then "kvlservice.log", cut to 259 characters.
// A null directory (none configured) leaves the path as it is.
void RebuildLogPath(const char* directory);

// Writes one line: the "%x-%X " stamp, the formatted message and "\r\n".
// A message that does not fit the line buffer is cut to fit. A format that
// cannot be applied is written unformatted. A log file that is a link or has
// a second name, or a folder that is a link, loses the line: the service
// never writes through them. Always returns 0.
int LogMessage(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
