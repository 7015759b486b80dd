#include "tray_start_time.h"

#include "bounded_format.h"

namespace {

constexpr int kSecondsPerMinute = 60;
constexpr int kMinutesPerHour = 60;
constexpr int kHoursPerDay = 24;
constexpr int kMonthsPerYear = 12;
constexpr int kFirstYear = 1601;
constexpr int kLastYear = 9998; // the year after it still has four digits

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[kMonthsPerYear] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

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

int FormatStartBoundary(int year, int month, int day, int hour, int minute, int second, char* out, std::size_t size)
{
    if (year < kFirstYear || year > kLastYear || month < 1 || month > kMonthsPerYear || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour >= kHoursPerDay || minute < 0 || minute >= kMinutesPerHour ||
        second < 0 || second >= kSecondsPerMinute) {
        if (size > 0)
            out[0] = '\0';
        return 0;
    }
    if (++minute == kMinutesPerHour) {
        minute = 0;
        if (++hour == kHoursPerDay) {
            hour = 0;
            if (++day > DaysInMonth(year, month)) {
                day = 1;
                if (++month > kMonthsPerYear) {
                    month = 1;
                    ++year;
                }
            }
        }
    }
    return FormatWhole(out, size, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
}
