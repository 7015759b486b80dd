#include "request_log.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include <nlohmann/json.hpp>

namespace devserver {
namespace {

using Json = nlohmann::ordered_json;

constexpr int kIndentNone = -1;
// "YYYY-MM-DDTHH:MM:SS" and then ".mmmZ", with room to spare.
constexpr std::size_t kDateTimeText = 40;
constexpr std::size_t kTimestampText = 48;
constexpr long long kMillisPerSecond = 1000;
constexpr char kIndentChar = ' ';

bool IsUtf8(const std::string& text)
{
    try {
        (void)Json(text).dump(kIndentNone, kIndentChar, false, nlohmann::json::error_handler_t::strict);
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 0x0f];
    }
    return out;
}

} // namespace

std::string UtcTimestamp()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const long long millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % kMillisPerSecond;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[kDateTimeText];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    if (n == 0)
        return std::string();
    char full[kTimestampText];
    const int written = std::snprintf(full, sizeof full, "%s.%03lldZ", text, millis);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof full)
        return std::string(text);
    return full;
}

std::string FormatLogEntry(const LogEntry& entry)
{
    Json line = Json::object();
    line["time"] = entry.time;
    line["server"] = entry.server;
    line["peer"] = entry.peer;
    if (entry.server == "update")
        line["subject"] = entry.subject;
    line["path"] = entry.path;
    line["method"] = entry.method;
    if (entry.server == "update") {
        Json members = Json::object();
        for (const Member& m : entry.members)
            members[m.first] = m.second;
        line["members"] = std::move(members);
        line["decoded"] = entry.decoded;
        line["raw"] = entry.raw;
        if (!IsUtf8(entry.raw))
            line["raw_hex"] = Hex(entry.raw);
    }
    if (!entry.error.empty())
        line["error"] = entry.error;
    if (!entry.rule.empty())
        line["rule"] = entry.rule;
    line["action"] = entry.action;
    line["status"] = entry.status;
    return line.dump(kIndentNone, kIndentChar, false, nlohmann::json::error_handler_t::replace);
}

RequestLog::~RequestLog()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

bool RequestLog::Open(const std::string& path, std::string& error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (path.empty())
        return true;
    file_ = std::fopen(path.c_str(), "a");
    if (file_ == nullptr) {
        error = "cannot open the request log " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void RequestLog::Write(const LogEntry& entry)
{
    const std::string line = FormatLogEntry(entry) + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ == nullptr)
        return;
    std::fputs(line.c_str(), file_);
    std::fflush(file_);
}

} // namespace devserver
