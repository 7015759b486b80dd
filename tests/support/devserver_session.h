// The development update server as the Windows tests see it: the run folder
// its fixture prepared (ready file, state file, file server's folder, test
// PKI) and the one reader of its request log.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The fixture's run folder (from KVL_DEVSERVER_DIR) as a Windows path with a
// trailing backslash; empty when the variable is not set.
std::string DevserverRunDir();

// A "key=value" line of the ready file ("port", "files_port",
// "files_tls_port"); empty when the file or the key is missing.
std::string DevserverReadyValue(const std::string& key);

// Replaces the server's state file, whole, by a rename: the server never
// reads half of it. False when it could not be written.
bool SetDevserverState(const std::string& json);

// Puts a file on the file server at `relativePath` ("rules/r.txt"), making
// the folders on the way.
bool ServeDevserverFile(const std::string& relativePath, const std::string& content);

// One request as the server logged it.
struct LoggedRequest {
    std::string server;  // "update" or "files"
    std::string method;  // an update request's method ("chk_stt")
    std::string path;    // the path asked for
    std::string members; // an update request's members, as the object's text
    std::string raw;     // an update request's body as it arrived
};

// The request log from a mark on: what the server was asked since then.
// Only complete lines count; a line the server is still writing waits for
// the next call.
class RequestLog {
public:
    // Marks the log's current end.
    RequestLog();
    void Mark();

    std::vector<std::string> NewLines() const;
    std::vector<LoggedRequest> NewRequests() const;
    // The requests since the last call (or the mark), moving the mark past
    // them: for a run that reads the log many times as it grows.
    std::vector<LoggedRequest> TakeNewRequests();

private:
    std::size_t start_ = 0;
};
