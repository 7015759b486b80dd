// The start of the one-shot tray task: one minute after now, local time.
#pragma once

#include <cstddef>

// "HH:MM:SS" of hour:minute:second plus one minute, the minute carried into
// the hour and the hour past 23 back to 0 (the seconds stay as they are).
// `out` needs 9 bytes; returns 1, or 0 when the time is out of range or
// `out` too small. Earlier Windows' schtasks takes only this form, which
// names no day: a start composed just before midnight is already past.
int FormatStartTime(int hour, int minute, int second, char* out, std::size_t size);

inline constexpr std::size_t kStartTimeSize = 9;

// "YYYY-MM-DDTHH:MM:SS" of the given local date and time plus one minute,
// carried through the hour, day, month and year (leap days included), as a
// task's StartBoundary takes it. `out` needs 20 bytes; returns 1, or 0 when
// the date or time is out of range (years 1601 to 9998, as Windows keeps
// them) or `out` too small.
int FormatStartBoundary(int year, int month, int day, int hour, int minute, int second, char* out, std::size_t size);

inline constexpr std::size_t kStartBoundarySize = 20;
