#include "request_handling.h"

#include <httplib.h>

#include "connection_drop.h"
#include "server_control.h"

namespace devserver {

std::string PeerOf(const httplib::Request& req) { return req.remote_addr + ":" + std::to_string(req.remote_port); }

LogEntry StartLogEntry(const char* server, const httplib::Request& req)
{
    LogEntry entry;
    entry.time = UtcTimestamp();
    entry.server = server;
    entry.peer = PeerOf(req);
    entry.path = req.path;
    return entry;
}

bool DelayOrDrop(int delayMs, bool drop, const httplib::Request& req)
{
    if (delayMs > 0 && !Pause(delayMs)) {
        DropConnection(req);
        return true;
    }
    if (drop) {
        if (!DropConnection(req))
            Diag("could not find the connection of " + PeerOf(req) + " to drop it");
        return true;
    }
    return false;
}

} // namespace devserver
