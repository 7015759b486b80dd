// What the update server answers to one decoded check request: the reply
// document in the shape the client's reply walk needs, or a misbehaviour.
#pragma once

#include <string>

#include "request_body.h"
#include "state_file.h"

namespace devserver {

// Placeholder in answer texts for the file server's base URL
// ("http://127.0.0.1:PORT"), so a state file works with any --files-port.
constexpr const char* kFilesUrlPlaceholder = "{{files}}";

// What to do for one request, worked out before anything is sent.
struct Plan {
    std::string rule;                  // whose answers: "subscriber", "unknown_subscriber", "built-in"
    std::string action;                // "answer", "raw", "http_error", "redirect", "drop", "reset", "bad_request"
    int delayMs = 0;                   // pause before anything is sent
    int stallMs = 0;                   // pause between the headers and the body...
    unsigned long long stallAfter = 0; // ...or after this many bytes of the body
    int trickleBytes = 0;              // body pieces of this many bytes...
    int trickleMs = 0;                 // ...this far apart
    bool drop = false;                 // close the connection without a reply
    bool reset = false;                // abort the connection without a reply
    bool redirect = false;             // Location: the request's own URL
    std::string location;              // the redirection's Location; empty: the request's own URL
    long long dropAfter = -1;          // chunked body, closed after this many bytes; -1: whole body
    long long cutAfter = -1;           // whole length announced, this many bytes sent; -1: whole body
    int status = 200;
    std::string contentType;
    std::string body;
};

// The reply document for `method` from one subscriber's answers. A section the
// subscriber does not give answers result "1" and nothing else.
std::string ComposeReply(Method method, const Subscriber& subscriber);

// The answers for a login that the state file does not list and that has no
// "unknown_subscriber" entry: the account reads as cancelled and nothing is
// offered.
const Subscriber& BuiltInUnknownSubscriber();

Plan PlanCheckAnswer(const State& state, const CheckRequest& request, const std::string& filesUrl);
Plan PlanBadRequest(const std::string& error);

std::string HtmlErrorPage(int status);

// Status of the answer that sends a client back to the URL it asked for.
constexpr int kRedirectLoopStatus = 307;
std::string ReplaceFilesUrl(std::string text, const std::string& filesUrl);

} // namespace devserver
