// Steps every listener takes for every request: the start of its log entry,
// and the delay or dropped connection that a fault asks for before answering.
#pragma once

#include <string>

#include "request_log.h"

namespace httplib {
struct Request;
}

namespace devserver {

// "address:port" of the client.
std::string PeerOf(const httplib::Request& req);

// A log entry with the time, the listener's name, the peer and the path.
LogEntry StartLogEntry(const char* server, const httplib::Request& req);

// Waits `delayMs` (a stop cuts it short and drops the connection), then drops
// the connection when `drop` is set. Returns true when the connection was
// dropped and nothing is to be sent.
bool DelayOrDrop(int delayMs, bool drop, const httplib::Request& req);

} // namespace devserver
