#include "state_file.h"

#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "request_body.h"

namespace devserver {
namespace {

// Keys that start with an underscore are comments, except where the key is
// data (a subscriber's login, a file name).
bool IsComment(const std::string& key) { return !key.empty() && key.front() == '_'; }

bool Fail(std::string& error, const std::string& path, const std::string& what)
{
    error = path + ": " + what;
    return false;
}

bool Contains(const std::vector<std::string>& names, const std::string& name)
{
    for (const std::string& n : names) {
        if (n == name)
            return true;
    }
    return false;
}

// An object of string members drawn from `fields`, copied in the order of
// `fields` so that replies always list members the same way.
bool ReadStringMembers(const Json& in, const std::vector<std::string>& fields, const std::string& path, Json& out,
                       std::string& error)
{
    if (!in.is_object())
        return Fail(error, path, "must be an object");
    for (const auto& [key, value] : in.items()) {
        if (IsComment(key))
            continue;
        if (!Contains(fields, key))
            return Fail(error, path + "." + key, "unknown member");
        if (!value.is_string()) {
            return Fail(error, path + "." + key,
                        "must be a string (the client ignores values that are not strings; use \"raw\" to send one)");
        }
    }
    out = Json::object();
    for (const std::string& field : fields) {
        auto it = in.find(field);
        if (it != in.end())
            out[field] = *it;
    }
    return true;
}

// A section with a "result" and, for the list sections, a list of entries.
bool ReadSection(const Json& in, const std::vector<std::string>& fields, const char* listName,
                 const std::vector<std::string>& entryFields, const std::string& path, Json& out, std::string& error)
{
    if (!in.is_object())
        return Fail(error, path, "must be an object");
    Json flat = Json::object();
    for (const auto& [key, value] : in.items()) {
        if (IsComment(key))
            continue;
        if (listName != nullptr && key == listName)
            continue;
        flat[key] = value;
    }
    if (!ReadStringMembers(flat, fields, path, out, error))
        return false;
    if (!out.contains("result")) {
        // "result" comes first in every reply; a section that does not give one offers something.
        Json withResult = Json::object();
        withResult["result"] = "0";
        for (const auto& [key, value] : out.items())
            withResult[key] = value;
        out = std::move(withResult);
    }
    if (listName == nullptr)
        return true;

    Json list = Json::array();
    auto it = in.find(listName);
    if (it != in.end()) {
        const std::string listPath = path + "." + listName;
        if (!it->is_array())
            return Fail(error, listPath, "must be an array of objects");
        for (std::size_t i = 0; i < it->size(); ++i) {
            Json entry;
            if (!ReadStringMembers((*it)[i], entryFields, listPath + "[" + std::to_string(i) + "]", entry, error)) {
                return false;
            }
            list.push_back(std::move(entry));
        }
    }
    out[listName] = std::move(list);
    return true;
}

bool ReadInt(const Json& value, int low, int high, const std::string& path, int& out, std::string& error)
{
    if (!value.is_number_integer())
        return Fail(error, path, "must be a whole number");
    const long long v = value.get<long long>();
    if (v < low || v > high) {
        return Fail(error, path, "must lie between " + std::to_string(low) + " and " + std::to_string(high));
    }
    out = static_cast<int>(v);
    return true;
}

bool ReadBool(const Json& value, const std::string& path, bool& out, std::string& error)
{
    if (!value.is_boolean())
        return Fail(error, path, "must be true or false");
    out = value.get<bool>();
    return true;
}

bool ReadByteCount(const Json& value, const std::string& path, long long& out, std::string& error)
{
    if (!value.is_number_integer() || value.get<long long>() < 0)
        return Fail(error, path, "must be a whole number of bytes, 0 or more");
    out = value.get<long long>();
    return true;
}

constexpr int kLowestStatus = 100;
// A trickle sends pieces smaller than the server's own chunks.
constexpr int kMaxTrickleBytes = 64 * 1024;
constexpr int kHighestStatus = 599;

bool ReadFault(const Json& in, bool forFile, const std::string& path, Fault& out, std::string& error)
{
    if (!in.is_object())
        return Fail(error, path, "must be an object");
    out = Fault();
    for (const auto& [key, value] : in.items()) {
        if (IsComment(key))
            continue;
        const std::string at = path + "." + key;
        if (key == "delay_ms") {
            if (!ReadInt(value, 0, kMaxPauseMs, at, out.delayMs, error))
                return false;
        } else if (key == "stall_ms") {
            if (!ReadInt(value, 0, kMaxPauseMs, at, out.stallMs, error))
                return false;
        } else if (key == "stall_after") {
            if (!ReadByteCount(value, at, out.stallAfter, error))
                return false;
        } else if (key == "trickle_bytes") {
            if (!ReadInt(value, 1, kMaxTrickleBytes, at, out.trickleBytes, error))
                return false;
        } else if (key == "trickle_ms") {
            if (!ReadInt(value, 1, kMaxPauseMs, at, out.trickleMs, error))
                return false;
        } else if (key == "drop") {
            if (!ReadBool(value, at, out.drop, error))
                return false;
        } else if (key == "reset") {
            if (!ReadBool(value, at, out.reset, error))
                return false;
        } else if (key == "redirect_loop") {
            if (!ReadBool(value, at, out.redirectLoop, error))
                return false;
        } else if (key == "redirect_to") {
            if (!value.is_string() || value.get<std::string>().empty())
                return Fail(error, at, "must be a non-empty string");
            out.redirectTo = value.get<std::string>();
        } else if (key == "drop_after") {
            if (!ReadByteCount(value, at, out.dropAfter, error))
                return false;
        } else if (key == "cut_after") {
            if (!ReadByteCount(value, at, out.truncateAfter, error))
                return false;
            out.truncate = true;
        } else if (key == "http_status") {
            if (!ReadInt(value, kLowestStatus, kHighestStatus, at, out.httpStatus, error))
                return false;
        } else if (key == "body") {
            if (!value.is_string())
                return Fail(error, at, "must be a string");
            out.body = value.get<std::string>();
        } else if (forFile && key == "truncate") {
            if (!ReadBool(value, at, out.truncate, error))
                return false;
        } else if (forFile && key == "truncate_after") {
            if (!ReadByteCount(value, at, out.truncateAfter, error))
                return false;
            out.truncate = true;
        } else {
            return Fail(error, at, "unknown member");
        }
    }
    // Either alone would say nothing about the pace.
    if ((out.trickleBytes == 0) != (out.trickleMs == 0))
        return Fail(error, path, "trickle_bytes and trickle_ms go together");
    return true;
}

bool IsMethodName(const std::string& name)
{
    Method ignored;
    return MethodFromName(name, ignored);
}

bool ReadMethodFaults(const Json& in, const std::string& path, std::map<std::string, Fault>& out, std::string& error)
{
    if (!in.is_object())
        return Fail(error, path, "must be an object keyed by method name");
    for (const auto& [key, value] : in.items()) {
        if (IsComment(key))
            continue;
        if (!IsMethodName(key)) {
            return Fail(error, path + "." + key, "unknown method (chk_stt, chk_sw_upd, chk_cnf_upd, chk_cmd_upd)");
        }
        if (!ReadFault(value, false, path + "." + key, out[key], error))
            return false;
    }
    return true;
}

bool ReadSubscriber(const Json& in, const std::string& path, Subscriber& out, std::string& error)
{
    if (!in.is_object())
        return Fail(error, path, "must be an object");
    out = Subscriber();
    for (const auto& [key, value] : in.items()) {
        if (IsComment(key))
            continue;
        const std::string at = path + "." + key;
        Json section;
        if (key == "status") {
            if (!ReadSection(value, {"result", "v_stt", "stt", "msg", "int", "per"}, nullptr, {}, at, section, error)) {
                return false;
            }
            out.status = std::move(section);
        } else if (key == "soft") {
            if (!ReadSection(value, {"result", "v_sw", "url_sw", "file_sw"}, nullptr, {}, at, section, error)) {
                return false;
            }
            out.soft = std::move(section);
        } else if (key == "config") {
            if (!ReadSection(value, {"result"}, "files", {"v_cnf", "is_cnf", "url_cnf", "sub_dir", "file_cnf"}, at,
                             section, error)) {
                return false;
            }
            out.config = std::move(section);
        } else if (key == "command") {
            if (!ReadSection(value, {"result"}, "cmds", {"v_cmd", "cod_cmd"}, at, section, error))
                return false;
            out.command = std::move(section);
        } else if (key == "raw") {
            if (!value.is_object())
                return Fail(error, at, "must be an object keyed by method name");
            for (const auto& [method, body] : value.items()) {
                if (IsComment(method))
                    continue;
                if (!IsMethodName(method))
                    return Fail(error, at + "." + method, "unknown method");
                if (!body.is_string())
                    return Fail(error, at + "." + method, "must be a string (the body as sent)");
                out.raw[method] = body.get<std::string>();
            }
        } else if (key == "misbehave") {
            if (!ReadMethodFaults(value, at, out.misbehave, error))
                return false;
        } else {
            return Fail(error, at, "unknown member (status, soft, config, command, raw, misbehave)");
        }
    }
    return true;
}

} // namespace

bool ParseState(std::string_view text, State& out, std::string& error)
{
    Json doc;
    try {
        doc = Json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::parse_error& e) {
        error = std::string("not valid JSON: ") + e.what();
        return false;
    }
    if (!doc.is_object())
        return Fail(error, "(top)", "must be an object");

    State state;
    for (const auto& [key, value] : doc.items()) {
        if (IsComment(key))
            continue;
        if (key == "subscribers") {
            if (!value.is_object())
                return Fail(error, key, "must be an object keyed by user login");
            for (const auto& [login, entry] : value.items()) {
                if (!ReadSubscriber(entry, key + "." + login, state.subscribers[login], error))
                    return false;
            }
        } else if (key == "unknown_subscriber") {
            Subscriber unknown;
            if (!ReadSubscriber(value, key, unknown, error))
                return false;
            state.unknownSubscriber = std::move(unknown);
        } else if (key == "misbehave") {
            if (!ReadMethodFaults(value, key, state.misbehave, error))
                return false;
        } else if (key == "file_faults") {
            if (!value.is_object())
                return Fail(error, key, "must be an object keyed by file path or name");
            for (const auto& [name, fault] : value.items()) {
                if (!ReadFault(fault, true, key + "." + name, state.fileFaults[name], error))
                    return false;
            }
        } else {
            return Fail(error, key, "unknown member (subscribers, unknown_subscriber, misbehave, file_faults)");
        }
    }
    out = std::move(state);
    return true;
}

StateStore::StateStore(std::string path, ErrorSink onError)
    : path_(std::move(path)), onError_(std::move(onError)), state_(std::make_shared<State>())
{
}

namespace {

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open the state file " + path;
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        error = "cannot read the state file " + path;
        return false;
    }
    text = buffer.str();
    return true;
}

} // namespace

bool StateStore::Load(std::string& error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (path_.empty())
        return true;
    std::string text;
    if (!ReadWholeFile(path_, text, error))
        return false;
    State state;
    if (!ParseState(text, state, error)) {
        error = "state file " + path_ + ": " + error;
        return false;
    }
    loadedText_ = std::move(text);
    state_ = std::make_shared<const State>(std::move(state));
    return true;
}

std::shared_ptr<const State> StateStore::Current()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (path_.empty())
        return state_;

    std::string text;
    std::string error;
    if (!ReadWholeFile(path_, text, error)) {
        if (error != readError_) {
            readError_ = error;
            if (onError_)
                onError_(error + "; keeping the last good state");
        }
        return state_;
    }
    readError_.clear();
    if (text == loadedText_)
        return state_;
    if (text == rejectedText_)
        return state_;

    State state;
    if (!ParseState(text, state, error)) {
        rejectedText_ = text;
        if (onError_)
            onError_("state file " + path_ + " rejected: " + error + "; keeping the last good state");
        return state_;
    }
    loadedText_ = std::move(text);
    rejectedText_.clear();
    state_ = std::make_shared<const State>(std::move(state));
    return state_;
}

} // namespace devserver
