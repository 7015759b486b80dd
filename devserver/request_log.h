// The request log: one JSON object per line for every request the servers
// receive, flushed at once so that tests can read it while the server runs.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "request_body.h"

namespace devserver {

struct LogEntry {
    std::string time;            // ISO 8601, UTC, milliseconds
    std::string server;          // "update" or "files"
    std::string peer;            // address:port of the client
    std::string subject;         // client certificate subject (update server)
    std::string path;            // request path
    std::string method;          // check method (update) or HTTP method (files)
    std::vector<Member> members; // decoded members (update)
    bool decoded = false;        // members were decoded and held against the method
    std::string raw;             // the body exactly as received (update)
    std::string error;           // why the body was refused
    std::string rule;            // whose answers were used
    std::string action;          // what the server did
    int status = 0;              // HTTP status answered (0 when nothing was sent)
};

// The entry as one line of JSON (no line feed). Bytes that are not UTF-8 are
// replaced in the text members; "raw_hex" then holds the body byte for byte.
std::string FormatLogEntry(const LogEntry& entry);

std::string UtcTimestamp();

class RequestLog {
public:
    RequestLog() = default;
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;
    ~RequestLog();

    // Opens `path` for appending; an empty path keeps no log.
    bool Open(const std::string& path, std::string& error);
    void Write(const LogEntry& entry);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

} // namespace devserver
