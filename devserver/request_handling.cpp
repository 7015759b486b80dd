#include "request_handling.h"

#include <algorithm>
#include <memory>

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

namespace {

// Pieces a body is sent in, so that a cut or stall lands where it is asked.
constexpr std::size_t kBodyChunkBytes = 64 * 1024;

} // namespace

bool DelayOrDrop(int delayMs, bool drop, bool reset, const httplib::Request& req)
{
    if (delayMs > 0 && !Pause(delayMs)) {
        DropConnection(req);
        return true;
    }
    if (reset) {
        if (!ResetConnection(req))
            Diag("could not find the connection of " + PeerOf(req) + " to reset it");
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

namespace devserver {

std::string OwnUrl(const httplib::Request& req)
{
    const std::string host =
        req.has_header("Host") ? req.get_header_value("Host") : "127.0.0.1:" + std::to_string(req.local_port);
    return std::string(req.ssl != nullptr ? "https://" : "http://") + host + req.target;
}

void SendBody(httplib::Response& res, const std::string& contentType, const BodyShape& shape, BodyReader read)
{
    auto stalled = std::make_shared<bool>(shape.stallMs <= 0);
    // Bytes to send from `offset` on; 0 with false when the send must stop.
    auto next = [shape, stalled](std::size_t offset, std::size_t length, std::size_t& want) {
        if (!*stalled && offset >= shape.stallAfter) {
            *stalled = true;
            if (!Pause(shape.stallMs))
                return false;
        }
        if (offset >= shape.sendLimit)
            return false;
        if (shape.trickleBytes > 0 && offset > 0 && !Pause(shape.trickleMs))
            return false;
        want = std::min<std::size_t>(length, kBodyChunkBytes);
        if (shape.trickleBytes > 0)
            want = std::min<std::size_t>(want, static_cast<std::size_t>(shape.trickleBytes));
        want = static_cast<std::size_t>(std::min<unsigned long long>(want, shape.sendLimit - offset));
        if (!*stalled)
            want = static_cast<std::size_t>(std::min<unsigned long long>(want, shape.stallAfter - offset));
        return true;
    };
    if (shape.chunked) {
        res.set_chunked_content_provider(contentType, [next, read](std::size_t offset, httplib::DataSink& sink) {
            std::size_t want = 0;
            std::string chunk;
            // Past the limit the provider gives up and cpp-httplib closes the
            // connection without the closing chunk.
            return next(offset, kBodyChunkBytes, want) && read(offset, want, chunk) &&
                sink.write(chunk.data(), chunk.size());
        });
        return;
    }
    res.set_content_provider(static_cast<std::size_t>(shape.announced), contentType,
                             [next, read](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 std::size_t want = 0;
                                 std::string chunk;
                                 // Past the limit cpp-httplib closes the connection
                                 // with the body short of its Content-Length.
                                 return next(offset, length, want) && read(offset, want, chunk) &&
                                     sink.write(chunk.data(), chunk.size());
                             });
}

} // namespace devserver
