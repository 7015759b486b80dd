// One pass of the monitoring loop as a function of the current time, and the
// start-up step that prepares the loop's state from the settings key.
#pragma once

#include <cstddef>
#include <cstdint>

#include "monitor_decisions.h"
#include "monitor_platform.h"
#include "service_limits.h"

// Reads the directories (falling back to `programDirectory`), "update_tm"
// (writing "24" when it is missing) and "stt", logs the status word, makes
// the configuration-file test, and schedules both checks at `now`. A block
// that the last process left half done is finished through `platform`.
void StartMonitor(MonitorState& state, const MonitorPlatform& platform, const char* programDirectory, std::int64_t now);

// One pass at `now` with the settings key, the files and the log of this
// machine, and `platform` for the library, the VPN service and the shell.
void RunMonitorPass(MonitorState& state, const MonitorPlatform& platform, std::int64_t now);

// Deletes the VPN configuration file ("config_path", else "config_file";
// then "cnf" = "0") and empties "v_cnf", so the next configuration check
// fetches it anew. 1 when the file is gone (or was never there, or none is
// named); 0 when it could not be deleted: that is logged, "cnf" is left as it
// is, and, unless `state` says an earlier try already did so, the deletion is
// scheduled for the next restart of Windows.
int RemoveVpnConfiguration(const MonitorState& state);
