// The file server for configuration files and packages, over plain HTTP and
// over HTTPS.
#include <fstream>
#include <memory>

#include <httplib.h>

#include "file_plan.h"
#include "request_handling.h"
#include "server_control.h"
#include "servers.h"

namespace devserver {
namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr int kNotFound = 404;

void SendFilePlan(const FilePlan& plan, const httplib::Request& req, httplib::Response& res)
{
    if (DelayOrDrop(plan.delayMs, plan.drop, req))
        return;
    res.status = plan.status;
    if (plan.action != "file" && plan.action != "truncate") {
        res.set_content(plan.body, plan.contentType);
        return;
    }
    if (plan.announced == 0) {
        res.set_content(std::string(), plan.contentType);
        return;
    }
    auto in = std::make_shared<std::ifstream>(plan.path, std::ios::binary);
    if (!*in) {
        res.status = kNotFound;
        res.set_content("cannot open " + plan.name + "\n", "text/plain");
        return;
    }
    const unsigned long long sendLimit = plan.sendLimit;
    const int stallMs = plan.stallMs;
    res.set_content_provider(static_cast<std::size_t>(plan.announced), plan.contentType,
                             [in, sendLimit, stallMs](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 if (offset == 0 && stallMs > 0 && !Pause(stallMs))
                                     return false;
                                 // Past the limit the provider gives up, and cpp-httplib closes the
                                 // connection with the body short of its Content-Length.
                                 if (offset >= sendLimit)
                                     return false;
                                 std::size_t want = length;
                                 if (want > kChunkBytes)
                                     want = kChunkBytes;
                                 if (want > sendLimit - offset)
                                     want = static_cast<std::size_t>(sendLimit - offset);
                                 std::string chunk(want, '\0');
                                 in->seekg(static_cast<std::streamoff>(offset));
                                 in->read(chunk.data(), static_cast<std::streamsize>(want));
                                 if (static_cast<std::size_t>(in->gcount()) != want)
                                     return false;
                                 return sink.write(chunk.data(), want);
                             });
}

} // namespace

void InstallFileHandlers(httplib::Server& server, ServerContext& context)
{
    server.set_keep_alive_timeout(kKeepAliveSeconds);
    server.Get(".*", [&context](const httplib::Request& req, httplib::Response& res) {
        const std::shared_ptr<const State> state = context.state->Current();
        const FilePlan plan = PlanFileAnswer(*state, context.filesRoot, req.path);
        LogEntry entry = StartLogEntry("files", req);
        entry.method = req.method;
        entry.action = plan.action;
        entry.status = plan.drop ? 0 : plan.status;
        context.log->Write(entry);
        SendFilePlan(plan, req, res);
    });
}

} // namespace devserver
