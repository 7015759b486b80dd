// The command-line actions that drive the service through the service
// manager: install, re-apply settings, start, stop and remove.
#pragma once

#include <windows.h>

#include <cstddef>

#include "service_limits.h"
#include "service_seams.h"

// Recovery settings as the service manager takes them. The record points into
// itself, so it is filled in place and never copied.
struct FailureActionsRecord {
    SC_ACTION steps[kFailureActionCount];
    SERVICE_FAILURE_ACTIONSW actions;

    FailureActionsRecord() = default;
    FailureActionsRecord(const FailureActionsRecord&) = delete;
    FailureActionsRecord& operator=(const FailureActionsRecord&) = delete;
};

// Restart after a minute, twice, then nothing; the failure count is forgotten
// after a day.
void FillFailureActions(FailureActionsRecord& record);

// Writes the service's command line, the quoted `programPath`, a blank and
// "-service", into `buffer`. False (buffer empty) when it does not fit.
bool FormatServiceCommandLine(const char* programPath, char* buffer, std::size_t size);

// Each returns the action's result code; see the operator documentation.
int InstallKVLService();
int ConfigureKVLService();
int StartKVLService();
int StopKVLService();
int RemoveKVLService();
