#include "answers.h"

namespace devserver {
namespace {

constexpr const char* kJsonType = "application/json";
constexpr const char* kHtmlType = "text/html";
constexpr const char* kTextType = "text/plain";
constexpr int kBadRequest = 400;

Json NothingOffered()
{
    Json section = Json::object();
    section["result"] = "1";
    return section;
}

Json ListSection(const std::optional<Json>& given, const char* listName)
{
    if (given)
        return *given;
    Json section = NothingOffered();
    section[listName] = Json::array();
    return section;
}

// Which subscriber entry answers a login, and under which rule.
const Subscriber& ChooseSubscriber(const State& state, const std::string& login, std::string& rule)
{
    auto it = state.subscribers.find(login);
    if (it != state.subscribers.end()) {
        rule = "subscriber";
        return it->second;
    }
    if (state.unknownSubscriber) {
        rule = "unknown_subscriber";
        return *state.unknownSubscriber;
    }
    rule = "built-in";
    return BuiltInUnknownSubscriber();
}

const Fault* ChooseFault(const State& state, const Subscriber& subscriber, const char* method)
{
    auto own = subscriber.misbehave.find(method);
    if (own != subscriber.misbehave.end())
        return &own->second;
    auto all = state.misbehave.find(method);
    if (all != state.misbehave.end())
        return &all->second;
    return nullptr;
}

const char* ReasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 307:
        return "Temporary Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "Error";
    }
}

} // namespace

const Subscriber& BuiltInUnknownSubscriber()
{
    static const Subscriber unknown = [] {
        Subscriber s;
        Json status = Json::object();
        status["result"] = "1";
        status["stt"] = "cancelado";
        status["msg"] = "Assinante desconhecido";
        s.status = std::move(status);
        return s;
    }();
    return unknown;
}

std::string ComposeReply(Method method, const Subscriber& subscriber)
{
    Json doc = Json::object();
    switch (method) {
    case Method::Status:
        // Members before any section name belong to the status section, so
        // the status reply is a flat object.
        doc = subscriber.status ? *subscriber.status : NothingOffered();
        break;
    case Method::Software:
        doc["soft"] = subscriber.soft ? *subscriber.soft : NothingOffered();
        break;
    case Method::Config:
        // The entries sit in an array under a name that is not a section name:
        // the client's entry counter restarts at that array, so the first
        // element fills entry 0.
        doc["config"] = ListSection(subscriber.config, "files");
        break;
    case Method::Command:
        doc["command"] = ListSection(subscriber.command, "cmds");
        break;
    }
    return doc.dump();
}

std::string HtmlErrorPage(int status)
{
    const std::string title = std::to_string(status) + " " + ReasonPhrase(status);
    return "<!DOCTYPE html>\n<html><head><title>" + title + "</title></head>\n<body><h1>" + title +
        "</h1><p>kvl-devserver</p></body></html>\n";
}

std::string ReplaceFilesUrl(std::string text, const std::string& filesUrl)
{
    const std::string placeholder = kFilesUrlPlaceholder;
    std::size_t pos = 0;
    while ((pos = text.find(placeholder, pos)) != std::string::npos) {
        text.replace(pos, placeholder.size(), filesUrl);
        pos += filesUrl.size();
    }
    return text;
}

Plan PlanCheckAnswer(const State& state, const CheckRequest& request, const std::string& filesUrl)
{
    Plan plan;
    const char* method = MethodName(request.method);
    const Subscriber& subscriber = ChooseSubscriber(state, MemberValue(request.members, "u"), plan.rule);

    auto raw = subscriber.raw.find(method);
    if (raw != subscriber.raw.end()) {
        plan.action = "raw";
        plan.body = raw->second;
    } else {
        plan.action = "answer";
        plan.body = ComposeReply(request.method, subscriber);
    }
    plan.contentType = kJsonType;

    if (const Fault* fault = ChooseFault(state, subscriber, method)) {
        plan.delayMs = fault->delayMs;
        plan.stallMs = fault->stallMs;
        plan.stallAfter = static_cast<unsigned long long>(fault->stallAfter);
        plan.trickleBytes = fault->trickleBytes;
        plan.trickleMs = fault->trickleMs;
        plan.dropAfter = fault->dropAfter;
        if (fault->truncate)
            plan.cutAfter = fault->truncateAfter;
        if (fault->redirectLoop || !fault->redirectTo.empty()) {
            plan.action = "redirect";
            plan.redirect = true;
            plan.location = fault->redirectTo;
            plan.status = kRedirectLoopStatus;
            plan.contentType = kHtmlType;
            plan.body = HtmlErrorPage(kRedirectLoopStatus);
        } else if (fault->httpStatus != 0) {
            plan.action = "http_error";
            plan.status = fault->httpStatus;
            plan.contentType = kHtmlType;
            plan.body = fault->body ? *fault->body : HtmlErrorPage(fault->httpStatus);
        } else if (fault->body) {
            plan.action = "raw";
            plan.body = *fault->body;
        }
        if (fault->drop) {
            plan.action = "drop";
            plan.drop = true;
        }
        if (fault->reset) {
            plan.action = "reset";
            plan.reset = true;
        }
    }
    plan.body = ReplaceFilesUrl(std::move(plan.body), filesUrl);
    return plan;
}

Plan PlanBadRequest(const std::string& error)
{
    Plan plan;
    plan.rule = "none";
    plan.action = "bad_request";
    plan.status = kBadRequest;
    plan.contentType = kTextType;
    plan.body = "kvl-devserver: undecodable request body: " + error + "\n";
    return plan;
}

} // namespace devserver
