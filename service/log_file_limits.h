// Where the service's log goes and how large it grows. Apart from the log's
// code because the provisioning rules, which build on any host, refuse a
// log directory that would cut the log's name.
#pragma once

#include <cstddef>

// Size of the log path buffer; a rebuilt path keeps at most 259 characters.
inline constexpr std::size_t kLogPathSize = 260;
// Size of the buffer one log line's message is formatted into.
inline constexpr std::size_t kLogLineSize = 5500;
// Room for the time stamp in front of it ("%x-%X ", 18 characters in the
// runtime's default locale).
inline constexpr std::size_t kLogStampSize = 64;
// Past this size the log stops growing: each new line overwrites its start.
inline constexpr long kLogWrapSize = 100000;

inline constexpr char kStartupLogPath[] = "c:\\kvlservice.log";
inline constexpr char kLogFileName[] = "kvlservice.log";

// A log file that another writer holds is tried again this often, this many
// milliseconds apart, before the line is given up.
inline constexpr int kLogOpenAttempts = 50;
inline constexpr unsigned kLogOpenRetryMs = 2;
