// The process-wide reply record: the last server reply, reduced to fixed-size
// text fields. ParseReply fills it; the check handlers copy from it into the
// settings key. One reply at a time, on the caller's thread.
#pragma once

#include <cstddef>

#include "ferolin_limits.h"

struct StatusReply {
    int result;
    char v_stt[kStatusVersionSize];
    char stt[kStatusTextSize];
    char msg[kStatusMessageSize];
    // Reply member "int" (a keyword here); named after the setting it feeds.
    char int_stt[kStatusIntSize];
    char per[kStatusPerSize];
};

struct SoftwareReply {
    int result;
    char v_sw[kSoftwareVersionSize];
    char url_sw[kSoftwareUrlSize];
    char file_sw[kSoftwareFileSize];
};

struct ConfigEntry {
    char v_cnf[kConfigVersionSize];
    char is_cnf[kConfigKindSize];
    char url_cnf[kConfigUrlSize];
    char sub_dir[kConfigSubDirSize];
    char file_cnf[kConfigFileSize];
};

struct ConfigReply {
    int result;
    ConfigEntry entries[kConfigEntryCount];
};

struct CommandEntry {
    char v_cmd[kCommandVersionSize];
    char cod_cmd[kCommandCodeSize];
};

struct CommandReply {
    int result;
    CommandEntry entries[kCommandEntryCount];
};

struct ReplyRecord {
    StatusReply status;
    SoftwareReply soft;
    ConfigReply config;
    CommandReply command;
};

extern ReplyRecord replyRecord;

// Selects the configuration or command entry that entry members go to; -1
// (after an array token) drops them.
extern int entryIndex;
