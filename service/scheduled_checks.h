// The configuration and software-update checks of the monitoring loop, and
// the age test of the account status time that holds back a restart.
#pragma once

#include <cstdint>

#include "monitor_platform.h"

// The library's switches; each is 12 characters, the length the service
// passes with it.
inline constexpr char kCheckStatusSwitch[] = "-checkstatus";
inline constexpr char kCheckConfigSwitch[] = "-checkconfig";
inline constexpr char kCheckUpdateSwitch[] = "-checkupdate";
inline constexpr int kSwitchLength = 12;
static_assert(sizeof kCheckStatusSwitch - 1 == kSwitchLength && sizeof kCheckConfigSwitch - 1 == kSwitchLength &&
              sizeof kCheckUpdateSwitch - 1 == kSwitchLength);

// Whole days from "tm_status" to the platform clock's time shifted by the
// local standard-time offset, in signed 32 bits, truncated toward zero.
int StatusTimeAgeDays(std::int64_t now, long statusTime);

// 1 when "tm_status" is more than seven whole days old (logs
// "IsSevenDayOff: N"); 0 when it is younger, in the future, or missing
// (then nothing is logged).
int IsSevenDayOff(const MonitorPlatform& platform);

// Asks the library for new configuration files and restarts the VPN
// connection service when "v_cnf" changed (starts it when it was not
// running), unless the status time is more than seven days old.
void CheckConfig(const MonitorPlatform& platform);

// Sets "cnf_only" to "0", checks the configuration once more, pauses 2 s,
// asks the library for a software update and restarts the VPN connection
// service as CheckConfig does when "v_cnf" changed meanwhile.
void UpdateSoft(const MonitorPlatform& platform);
