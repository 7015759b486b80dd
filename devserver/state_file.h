// The state file: what the development update server answers, per subscriber
// and method, and how it misbehaves. docs/devserver.md describes the format.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace devserver {

using Json = nlohmann::ordered_json;

// Longest pause a state file may ask for (delay or stall), ten minutes.
constexpr int kMaxPauseMs = 600000;

// A way to misbehave, for one method of the update server or one file of the
// file server. Zero or false fields do nothing.
struct Fault {
    int delayMs = 0;                 // before anything is answered
    int stallMs = 0;                 // after the headers, before the body...
    long long stallAfter = 0;        // ...or after this many bytes of it
    int trickleBytes = 0;            // the body goes out this many bytes at a time...
    int trickleMs = 0;               // ...with this pause before each piece but the first
    bool drop = false;               // close the connection without any reply
    bool reset = false;              // abort the connection (TCP RST) without any reply
    bool redirectLoop = false;       // answer 307 with a Location naming the request's own URL
    std::string redirectTo;          // answer 307 with this Location (a hop elsewhere); empty: off
    long long dropAfter = -1;        // chunked body, connection closed after this many bytes; -1: off
    int httpStatus = 0;              // answer this status (with `body`, or an HTML page)
    std::optional<std::string> body; // answer this text instead of the composed one
    bool truncate = false;           // announce the whole length, close the connection early
    long long truncateAfter = -1;    // bytes sent before closing; -1: half the body
};

// One subscriber's answers. Sections are kept as validated JSON objects whose
// values are all strings, members in the order the client's records list them.
struct Subscriber {
    std::optional<Json> status;             // result, v_stt, stt, msg, int, per
    std::optional<Json> soft;               // result, v_sw, url_sw, file_sw
    std::optional<Json> config;             // result, files: [{v_cnf, is_cnf, url_cnf, sub_dir, file_cnf}]
    std::optional<Json> command;            // result, cmds: [{v_cmd, cod_cmd}]
    std::map<std::string, std::string> raw; // method name -> body sent as it stands
    std::map<std::string, Fault> misbehave; // method name -> fault for this subscriber only
};

struct State {
    std::map<std::string, Subscriber> subscribers; // keyed by the request's "u"
    std::optional<Subscriber> unknownSubscriber;   // answers for any other "u"
    std::map<std::string, Fault> misbehave;        // method name -> fault for everybody
    std::map<std::string, Fault> fileFaults;       // file path or name -> fault
};

// Parses and checks a whole state file. On failure `error` names the offending
// member with a path such as subscribers.abc.status.stt.
bool ParseState(std::string_view text, State& out, std::string& error);

// Holds the state of a state file and re-reads the file whenever asked, so the
// answers follow the file while the server runs. A file that cannot be read
// or parsed leaves the last good state in force.
class StateStore {
public:
    using ErrorSink = std::function<void(const std::string& message)>;

    // An empty path means no file: every subscriber is unknown.
    StateStore(std::string path, ErrorSink onError);

    // First load, at start-up; false (with the reason) when the file is unusable.
    bool Load(std::string& error);

    // The state to answer from, after reloading the file if its content changed.
    std::shared_ptr<const State> Current();

private:
    std::mutex mutex_;
    std::string path_;
    ErrorSink onError_;
    std::string loadedText_;   // content of the state in force
    std::string rejectedText_; // last content that failed, so it is reported once
    std::string readError_;    // last read failure, reported once
    std::shared_ptr<const State> state_;
};

} // namespace devserver
