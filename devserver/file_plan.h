// What the file server does for one GET: which file under the files directory
// it serves, and whether the state file tells it to fail that download.
#pragma once

#include <filesystem>
#include <string>

#include "state_file.h"

namespace devserver {

struct FilePlan {
    std::string name;   // path relative to the files directory, '/'-separated
    std::string action; // "file", "truncate", "cut_chunked", "http_error", "redirect", "drop", "reset", "not_found"
    int delayMs = 0;
    int stallMs = 0;
    unsigned long long stallAfter = 0; // body bytes sent before the stall
    int trickleBytes = 0;              // body pieces of this many bytes...
    int trickleMs = 0;                 // ...this far apart
    bool drop = false;
    bool reset = false;
    bool redirect = false; // Location: the request's own URL
    std::string location;  // the redirection's Location; empty: the request's own URL
    bool chunked = false;  // no length announced; closed after sendLimit bytes
    int status = 200;
    std::string contentType;
    std::string body;                 // the page for error answers
    std::filesystem::path path;       // the file to send
    unsigned long long size = 0;      // its size
    unsigned long long announced = 0; // Content-Length sent
    unsigned long long sendLimit = 0; // bytes sent before the connection is closed
};

// Maps a decoded URL path ("/sub/name.conf") onto a file below `root`. Refuses
// empty, "." and ".." segments, backslashes and NUL bytes, and anything whose
// real location (symbolic links followed) lies outside `root`.
bool ResolveFilePath(const std::filesystem::path& root, const std::string& urlPath, std::string& name,
                     std::filesystem::path& file, std::string& error);

FilePlan PlanFileAnswer(const State& state, const std::filesystem::path& root, const std::string& urlPath);

} // namespace devserver
