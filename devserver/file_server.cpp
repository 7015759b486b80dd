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

constexpr int kNotFound = 404;

void SendFilePlan(const FilePlan& plan, const httplib::Request& req, httplib::Response& res)
{
    if (DelayOrDrop(plan.delayMs, plan.drop, plan.reset, req))
        return;
    res.status = plan.status;
    if (plan.redirect)
        res.set_header("Location", plan.location.empty() ? OwnUrl(req) : plan.location);
    if (plan.action != "file" && plan.action != "truncate" && plan.action != "cut_chunked") {
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
    BodyShape shape;
    shape.announced = plan.announced;
    shape.sendLimit = plan.sendLimit;
    shape.chunked = plan.chunked;
    shape.stallMs = plan.stallMs;
    shape.stallAfter = plan.stallAfter;
    shape.trickleBytes = plan.trickleBytes;
    shape.trickleMs = plan.trickleMs;
    SendBody(res, plan.contentType, shape, [in](unsigned long long offset, std::size_t length, std::string& chunk) {
        chunk.assign(length, '\0');
        in->seekg(static_cast<std::streamoff>(offset));
        in->read(chunk.data(), static_cast<std::streamsize>(length));
        return static_cast<std::size_t>(in->gcount()) == length;
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
