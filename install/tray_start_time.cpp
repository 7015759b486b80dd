#include "tray_start_time.h"

#include "bounded_format.h"

namespace {
constexpr int kMinutesPerHour = 60;
constexpr int kHoursPerDay = 24;
} // namespace

int FormatStartTime(int hour, int minute, int second, char* out, std::size_t size)
{
    if (hour < 0 || hour >= kHoursPerDay || minute < 0 || minute >= kMinutesPerHour || second < 0 || second > 60)
        return 0;
    minute += 1;
    if (minute == kMinutesPerHour) {
        minute = 0;
        hour = (hour + 1) % kHoursPerDay;
    }
    return FormatWhole(out, size, "%02d:%02d:%02d", hour, minute, second);
}
