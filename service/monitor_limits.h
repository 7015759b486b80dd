// The monitoring loop's limits: the buffers it reads settings into and its
// schedules. Kept apart from the rest of the service's limits because the
// loop's decisions build on any host (for the fuzzer), where there is no
// windows.h; service_limits.h includes this, so it still lists everything.
// The sizes are unsigned long, which is what DWORD is on Windows.
#pragma once

#include <cstddef>

// Settings that the monitoring loop reads, each with the buffer it is read
// into (bytes, terminator included): a longer stored text counts as missing.
inline constexpr unsigned long kMonitorInstallDirSize = 200;
inline constexpr unsigned long kMonitorConfigDirSize = 255;
inline constexpr unsigned long kMonitorConfigFileSize = 100;
inline constexpr unsigned long kMonitorUpdateHoursSize = 100;
inline constexpr unsigned long kMonitorStatusWordSize = 50;
inline constexpr unsigned long kMonitorStatusDaySize = 100;
inline constexpr unsigned long kMonitorUpdateStateSize = 100;
inline constexpr unsigned long kMonitorSoftwareFileSize = 100;
inline constexpr unsigned long kMonitorFirstTimeSize = 8;
inline constexpr unsigned long kMonitorConfigVersionSize = 50;
inline constexpr unsigned long kMonitorStatusTimeSize = 15;
// Directory, backslash, file name: with the sizes above it always fits.
inline constexpr std::size_t kMonitorPathSize = 500;
static_assert(kMonitorPathSize >= kMonitorConfigDirSize + kMonitorConfigFileSize &&
              kMonitorPathSize >= kMonitorInstallDirSize + kMonitorSoftwareFileSize);
// "last_time": a signed 32-bit decimal number.
inline constexpr std::size_t kLastTimeSize = 16;
// "%03d%02d%02d" of a year up to 9999 needs 8; room for any int.
inline constexpr std::size_t kDayStampSize = 40;

// The monitoring loop's schedules, in seconds.
inline constexpr long long kStatusCheckInterval = 180;
inline constexpr int kDefaultUpdateHours = 24;
inline constexpr int kMinUpdateHours = 1;
inline constexpr int kMaxUpdateHours = 24;
inline constexpr long long kSecondsPerHour = 3600;
// A failed status check blocks the connection once the last successful one
// is this old.
inline constexpr long long kStatusGraceSeconds = 7 * 86400;
// A changed configuration is not applied once "tm_status" is more than this
// many whole days old.
inline constexpr int kStatusTimeDayLimit = 7;
inline constexpr long kSecondsPerDay = 86400;
