// The start time of the one-shot tray task: one minute after now, local
// time, in 24-hour form.
#pragma once

#include <cstddef>

// "HH:MM:SS" of hour:minute:second plus one minute, the minute carried into
// the hour and the hour past 23 back to 0 (the seconds stay as they are).
// `out` needs 9 bytes; returns 1, or 0 when the time is out of range or
// `out` too small.
int FormatStartTime(int hour, int minute, int second, char* out, std::size_t size);

inline constexpr std::size_t kStartTimeSize = 9;
