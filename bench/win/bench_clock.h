// Timing and summaries shared by the Windows bench programs: a monotonic
// clock in milliseconds, and the median and range of a set of figures.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

inline double NowMs()
{
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerMs;
}

struct Spread {
    double median;
    double low;
    double high;
};

inline Spread SpreadOf(std::vector<double> figures)
{
    if (figures.empty())
        return {0, 0, 0};
    std::sort(figures.begin(), figures.end());
    const std::size_t n = figures.size();
    const double median = n % 2 == 1 ? figures[n / 2] : (figures[n / 2 - 1] + figures[n / 2]) / 2;
    return {median, figures.front(), figures.back()};
}
