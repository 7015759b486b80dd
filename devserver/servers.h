// The listeners' request handlers: the update server's, and the file server's
// (installed on the plain HTTP and on the HTTPS listener alike).
#pragma once

#include <filesystem>
#include <string>

#include "request_log.h"
#include "state_file.h"

namespace httplib {
class Server;
}

namespace devserver {

// Largest request body the update server reads; the client's bodies are a
// few hundred bytes.
constexpr std::size_t kMaxRequestBody = 64 * 1024;
// How long an idle kept-alive connection is held, so a stop does not wait long.
constexpr int kKeepAliveSeconds = 2;

struct ServerContext {
    StateStore* state = nullptr;
    RequestLog* log = nullptr;
    std::filesystem::path filesRoot; // empty: no files are served
    std::string filesUrl;            // "http://127.0.0.1:PORT" of the file server
};

void InstallUpdateHandlers(httplib::Server& server, ServerContext& context);
void InstallFileHandlers(httplib::Server& server, ServerContext& context);

} // namespace devserver
