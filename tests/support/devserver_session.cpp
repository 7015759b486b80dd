#include "devserver_session.h"

#include <windows.h>

#define JSMN_STATIC
#include <jsmn.h>

#include <cstdio>
#include <cstdlib>

#include "unique_resource.h"
#include "win_test_support.h"

namespace {

std::string LogPath() { return DevserverRunDir() + "requests.log"; }

// The log from byte `from` up to its last complete line; read from there on
// only, since a long run reads a growing log many times.
std::string CompleteLinesFrom(std::size_t from)
{
    std::string text;
    FileStream log(std::fopen(LogPath().c_str(), "rb"));
    if (!log || _fseeki64(log.get(), static_cast<long long>(from), SEEK_SET) != 0)
        return text;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, log.get())) > 0;)
        text.append(chunk, got);
    const std::size_t end = text.rfind('\n');
    text.resize(end == std::string::npos ? 0 : end + 1);
    return text;
}

std::size_t LogSize()
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(LogPath().c_str(), GetFileExInfoStandard, &data))
        return 0;
    return static_cast<std::size_t>(static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
}

std::vector<std::string> LinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end > at)
            lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// The text of a JSON string token with the escapes the server's log writer
// produces decoded.
std::string StringText(const std::string& json, const jsmntok_t& token)
{
    std::string text;
    for (int i = token.start; i < token.end; ++i) {
        char c = json[i];
        if (c != '\\' || i + 1 >= token.end) {
            text += c;
            continue;
        }
        char e = json[++i];
        switch (e) {
        case 'n':
            text += '\n';
            break;
        case 't':
            text += '\t';
            break;
        case 'r':
            text += '\r';
            break;
        case 'b':
            text += '\b';
            break;
        case 'f':
            text += '\f';
            break;
        case 'u':
            if (i + 4 < token.end) {
                text += static_cast<char>(std::strtol(json.substr(i + 1, 4).c_str(), nullptr, 16));
                i += 4;
            }
            break;
        default:
            text += e;
            break;
        }
    }
    return text;
}

// A line that is not one JSON object is a fault of the server, and shows as
// a request of server "(unreadable)" with the line as its raw text.
LoggedRequest Parse(const std::string& line)
{
    LoggedRequest request;
    jsmn_parser parser;
    jsmn_init(&parser);
    std::vector<jsmntok_t> tokens(512);
    const int count =
        jsmn_parse(&parser, line.c_str(), line.size(), tokens.data(), static_cast<unsigned>(tokens.size()));
    if (count < 1 || tokens[0].type != JSMN_OBJECT) {
        request.server = "(unreadable)";
        request.raw = line;
        return request;
    }
    // The top-level members only: each is a name and one value, whose
    // nested tokens are skipped by their end offset.
    for (int i = 1; i + 1 < count;) {
        const std::string name = StringText(line, tokens[i]);
        const jsmntok_t& value = tokens[i + 1];
        if (value.type == JSMN_STRING) {
            if (name == "server")
                request.server = StringText(line, value);
            else if (name == "method")
                request.method = StringText(line, value);
            else if (name == "path")
                request.path = StringText(line, value);
            else if (name == "raw")
                request.raw = StringText(line, value);
        } else if (name == "members" && value.type == JSMN_OBJECT) {
            request.members = line.substr(value.start, value.end - value.start);
        }
        int next = i + 2;
        while (next < count && tokens[next].start < value.end)
            ++next;
        i = next;
    }
    return request;
}

} // namespace

std::string DevserverRunDir()
{
    const char* dir = std::getenv("KVL_DEVSERVER_DIR");
    return dir != nullptr ? WindowsPathOfLinuxPath(dir) + "\\" : std::string();
}

std::string DevserverReadyValue(const std::string& key)
{
    const std::string ready = ReadWholeFile(DevserverRunDir() + "ready").value_or("");
    const std::size_t at = ready.find(key + "=");
    if (at == std::string::npos)
        return "";
    const std::size_t start = at + key.size() + 1;
    return ready.substr(start, ready.find('\n', start) - start);
}

bool SetDevserverState(const std::string& json)
{
    const std::string staged = DevserverRunDir() + "state.json.new";
    return WriteWholeFile(staged, json) &&
        MoveFileExA(staged.c_str(), (DevserverRunDir() + "state.json").c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool ServeDevserverFile(const std::string& relativePath, const std::string& content)
{
    std::string path = DevserverRunDir() + "files";
    std::size_t from = 0;
    for (std::size_t slash; (slash = relativePath.find('/', from)) != std::string::npos; from = slash + 1) {
        path += "\\" + relativePath.substr(from, slash - from);
        CreateDirectoryA(path.c_str(), nullptr);
    }
    return WriteWholeFile(path + "\\" + relativePath.substr(from), content);
}

RequestLog::RequestLog() { Mark(); }

void RequestLog::Mark() { start_ = LogSize(); }

std::vector<std::string> RequestLog::NewLines() const { return LinesOf(CompleteLinesFrom(start_)); }

std::vector<LoggedRequest> RequestLog::NewRequests() const
{
    std::vector<LoggedRequest> requests;
    for (const std::string& line : NewLines())
        requests.push_back(Parse(line));
    return requests;
}

std::vector<LoggedRequest> RequestLog::TakeNewRequests()
{
    const std::string text = CompleteLinesFrom(start_);
    start_ += text.size();
    std::vector<LoggedRequest> requests;
    for (const std::string& line : LinesOf(text))
        requests.push_back(Parse(line));
    return requests;
}
