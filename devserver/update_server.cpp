// The HTTPS update server: decodes each check request, logs it, and answers
// it as the state file says.
#include <algorithm>
#include <memory>

#include <httplib.h>

#include "answers.h"
#include "request_body.h"
#include "request_handling.h"
#include "server_control.h"
#include "servers.h"
#include "tls_setup.h"

namespace devserver {
namespace {

void SendPlan(const Plan& plan, const httplib::Request& req, httplib::Response& res)
{
    if (DelayOrDrop(plan.delayMs, plan.drop, plan.reset, req))
        return;
    res.status = plan.status;
    if (plan.redirect)
        res.set_header("Location", plan.location.empty() ? OwnUrl(req) : plan.location);
    const bool cut = plan.cutAfter >= 0 || plan.dropAfter >= 0;
    if ((plan.stallMs <= 0 && plan.trickleBytes <= 0 && !cut) || plan.body.empty()) {
        res.set_content(plan.body, plan.contentType);
        return;
    }
    // The headers go out before the provider is first asked for the body.
    auto body = std::make_shared<std::string>(plan.body);
    BodyShape shape;
    shape.announced = body->size();
    shape.sendLimit = body->size();
    shape.stallMs = plan.stallMs;
    shape.stallAfter = plan.stallAfter;
    shape.trickleBytes = plan.trickleBytes;
    shape.trickleMs = plan.trickleMs;
    // A cut body always lacks at least its last byte.
    if (plan.cutAfter >= 0)
        shape.sendLimit = std::min<unsigned long long>(plan.cutAfter, body->size() - 1);
    if (plan.dropAfter >= 0) {
        shape.chunked = true;
        shape.sendLimit = std::min<unsigned long long>(plan.dropAfter, body->size() - 1);
    }
    SendBody(res, plan.contentType, shape, [body](unsigned long long offset, std::size_t length, std::string& chunk) {
        chunk.assign(*body, static_cast<std::size_t>(offset), length);
        return true;
    });
}

} // namespace

void InstallUpdateHandlers(httplib::Server& server, ServerContext& context)
{
    server.set_payload_max_length(kMaxRequestBody);
    server.set_keep_alive_timeout(kKeepAliveSeconds);
    // The body is read raw: the client's form body is not URL-encoded, so the
    // library's form parsing would corrupt it.
    server.Post(".*", [&context](const httplib::Request& req, httplib::Response& res) {
        LogEntry entry = StartLogEntry("update", req);
        entry.subject = PeerSubject(req.ssl);
        entry.raw = req.body;

        const CheckRequest request = DecodeCheckRequest(req.body);
        entry.members = request.members;
        entry.decoded = request.ok;
        Plan plan;
        if (!request.ok) {
            entry.method = MemberValue(request.members, "m");
            entry.error = request.error;
            plan = PlanBadRequest(request.error);
            Diag("undecodable request body from " + entry.peer + ": " + request.error);
        } else {
            entry.method = MethodName(request.method);
            const std::shared_ptr<const State> state = context.state->Current();
            plan = PlanCheckAnswer(*state, request, context.filesUrl);
        }
        entry.rule = plan.rule;
        entry.action = plan.action;
        entry.status = plan.drop ? 0 : plan.status;
        // Logged before answering, so a test sees the request while a delay or
        // stall is still running.
        context.log->Write(entry);
        SendPlan(plan, req, res);
    });
}

} // namespace devserver
