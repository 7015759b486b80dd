#include "request_body.h"

#include <cstddef>

namespace devserver {
namespace {

constexpr std::string_view kBodyPrefix = "data=";
// A quote as the client writes it: a backslash followed by a double quote.
constexpr std::string_view kQuote = "\\\"";
// Between a member's name and its value: \":\"
constexpr std::string_view kNameValueSeparator = "\\\":\\\"";
// Between a value and the next member's name: \",\"
constexpr std::string_view kMemberSeparator = "\\\",\\\"";

bool IsNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Does the text at `pos` open the next member, i.e. read \",\"NAME\":\" ?
bool OpensNextMember(std::string_view text, std::size_t pos)
{
    if (text.substr(pos, kMemberSeparator.size()) != kMemberSeparator)
        return false;
    std::size_t p = pos + kMemberSeparator.size();
    const std::size_t nameStart = p;
    while (p < text.size() && IsNameChar(text[p]))
        ++p;
    if (p == nameStart)
        return false;
    return text.substr(p, kNameValueSeparator.size()) == kNameValueSeparator;
}

std::string At(std::size_t offset)
{
    // Offsets in messages count from the start of the whole body.
    return "at offset " + std::to_string(offset + kBodyPrefix.size() + 1);
}

} // namespace

DecodedBody DecodeBody(std::string_view body)
{
    DecodedBody out;
    if (body.substr(0, kBodyPrefix.size()) != kBodyPrefix) {
        out.error = "body does not start with \"data=\"";
        return out;
    }
    std::string_view object = body.substr(kBodyPrefix.size());
    if (object.empty() || object.front() != '{') {
        out.error = "no \"{\" after \"data=\"";
        return out;
    }
    if (object.size() < 2 || object.back() != '}') {
        out.error = "the object does not end with \"}\" at the end of the body";
        return out;
    }
    const std::string_view inner = object.substr(1, object.size() - 2);

    std::size_t pos = 0;
    while (pos < inner.size()) {
        if (inner.substr(pos, kQuote.size()) != kQuote) {
            if (inner[pos] == '"') {
                out.error = "bare double quote " + At(pos) + ": members must be written with backslash-quote pairs";
            } else {
                out.error = "expected a backslash-quote pair " + At(pos);
            }
            return out;
        }
        const std::size_t nameStart = pos + kQuote.size();
        const std::size_t nameEnd = inner.find(kNameValueSeparator, nameStart);
        if (nameEnd == std::string_view::npos) {
            out.error = "member name " + At(nameStart) + " is not followed by \\\":\\\"";
            return out;
        }
        const std::string_view name = inner.substr(nameStart, nameEnd - nameStart);
        if (name.empty()) {
            out.error = "empty member name " + At(nameStart);
            return out;
        }
        for (char c : name) {
            if (!IsNameChar(c)) {
                out.error = "member name " + At(nameStart) + " holds a character other than a-z, A-Z, 0-9, _";
                return out;
            }
        }

        const std::size_t valueStart = nameEnd + kNameValueSeparator.size();
        std::size_t end = inner.find(kQuote, valueStart);
        bool last = false;
        while (end != std::string_view::npos) {
            if (end + kQuote.size() == inner.size()) {
                last = true;
                break;
            }
            if (OpensNextMember(inner, end))
                break;
            end = inner.find(kQuote, end + 1);
        }
        if (end == std::string_view::npos) {
            out.error = "value of member \"" + std::string(name) + "\" " + At(valueStart) +
                " has no closing backslash-quote pair";
            return out;
        }
        out.members.emplace_back(std::string(name), std::string(inner.substr(valueStart, end - valueStart)));
        if (last)
            break;
        // Skip \", and stand on the next member's opening backslash-quote pair.
        pos = end + kQuote.size() + 1;
    }
    out.ok = true;
    return out;
}

namespace {

struct MethodInfo {
    Method method;
    const char* name;
    std::vector<std::string> members;
};

const std::vector<MethodInfo>& Methods()
{
    static const std::vector<MethodInfo> methods = {
        {Method::Status, "chk_stt", {"m", "u", "s", "c_id", "v_stt"}},
        {Method::Software, "chk_sw_upd", {"m", "u", "v_sw"}},
        {Method::Config, "chk_cnf_upd", {"m", "u", "v_cnf", "cnf_only"}},
        {Method::Command, "chk_cmd_upd", {"m", "u", "v_cmd"}},
    };
    return methods;
}

const MethodInfo& Info(Method method)
{
    for (const MethodInfo& info : Methods()) {
        if (info.method == method)
            return info;
    }
    return Methods().front();
}

std::string JoinNames(const std::vector<std::string>& names)
{
    std::string out;
    for (const std::string& n : names) {
        if (!out.empty())
            out += ',';
        out += n;
    }
    return out;
}

} // namespace

const char* MethodName(Method method) { return Info(method).name; }

bool MethodFromName(std::string_view name, Method& method)
{
    for (const MethodInfo& info : Methods()) {
        if (name == info.name) {
            method = info.method;
            return true;
        }
    }
    return false;
}

const std::vector<std::string>& MethodMembers(Method method) { return Info(method).members; }

std::string MemberValue(const std::vector<Member>& members, std::string_view name)
{
    for (const Member& m : members) {
        if (m.first == name)
            return m.second;
    }
    return std::string();
}

CheckRequest DecodeCheckRequest(std::string_view body)
{
    CheckRequest out;
    DecodedBody decoded = DecodeBody(body);
    out.members = std::move(decoded.members);
    if (!decoded.ok) {
        out.error = std::move(decoded.error);
        return out;
    }
    if (out.members.empty()) {
        out.error = "the object has no members";
        return out;
    }
    if (out.members.front().first != "m") {
        out.error = "the first member is \"" + out.members.front().first + "\", expected \"m\"";
        return out;
    }
    if (!MethodFromName(out.members.front().second, out.method)) {
        out.error = "unknown method \"" + out.members.front().second + "\"";
        return out;
    }
    std::vector<std::string> names;
    for (const Member& m : out.members)
        names.push_back(m.first);
    const std::vector<std::string>& expected = MethodMembers(out.method);
    if (names != expected) {
        out.error = std::string(MethodName(out.method)) + " expects the members " + JoinNames(expected) +
            " in this order; the body has " + JoinNames(names);
        return out;
    }
    out.ok = true;
    return out;
}

} // namespace devserver
