// Steps every listener takes for every request: the start of its log entry,
// and the delay or dropped connection that a fault asks for before answering.
#pragma once

#include <functional>
#include <string>

#include "request_log.h"

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace devserver {

// "address:port" of the client.
std::string PeerOf(const httplib::Request& req);

// A log entry with the time, the listener's name, the peer and the path.
LogEntry StartLogEntry(const char* server, const httplib::Request& req);

// Waits `delayMs` (a stop cuts it short and drops the connection), then
// aborts the connection when `reset` is set or drops it when `drop` is.
// Returns true when the connection is gone and nothing is to be sent.
bool DelayOrDrop(int delayMs, bool drop, bool reset, const httplib::Request& req);

// The URL the client asked for, for a Location that sends it back there.
std::string OwnUrl(const httplib::Request& req);

// How a body goes out, faults included.
struct BodyShape {
    unsigned long long announced = 0; // Content-Length sent (unused when chunked)
    unsigned long long sendLimit = 0; // bytes sent; fewer than announced cuts the body short
    bool chunked = false;             // no length; the closing chunk is never sent
    int stallMs = 0;                  // pause once `stallAfter` bytes are out
    unsigned long long stallAfter = 0;
    int trickleBytes = 0; // when set, the body goes out in pieces this small...
    int trickleMs = 0;    // ...with this pause before each but the first
};

// Fills `chunk` with `length` bytes of the body from `offset`; false on failure.
using BodyReader = std::function<bool(unsigned long long offset, std::size_t length, std::string& chunk)>;

// Sends a body of `shape` read through `read`. When fewer bytes are sent than
// the body has, the connection is closed after the last of them.
void SendBody(httplib::Response& res, const std::string& contentType, const BodyShape& shape, BodyReader read);

} // namespace devserver
