// Decoding of the check request bodies that the update client posts.
//
// The client writes "data=" and then an object whose quotes are
// backslash-quote pairs, with the values inserted unchanged:
//   data={\"m\":\"chk_sw_upd\",\"u\":\"abc\",\"v_sw\":\"1.0\"}
// Nothing is URL-encoded and nothing inside a value is escaped, so a value
// may hold any byte, even a backslash-quote pair of its own.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace devserver {

using Member = std::pair<std::string, std::string>;

struct DecodedBody {
    bool ok = false;
    std::string error;           // why the body was refused, for the log and the 400 page
    std::vector<Member> members; // in body order; filled as far as decoding got
};

// Splits a body into its members. A value runs up to the first backslash-quote
// pair that is followed by ,\"NAME\":\" (the start of the next member) or by
// the closing brace at the very end of the body.
DecodedBody DecodeBody(std::string_view body);

enum class Method { Status, Software, Config, Command };

struct CheckRequest {
    bool ok = false;
    std::string error;
    Method method = Method::Status;
    std::vector<Member> members;
};

// Decodes the body and holds it against the member list of its method: the
// client always sends exactly these members in this order, so anything else is
// a fault of the client under test and is refused with a message naming it.
CheckRequest DecodeCheckRequest(std::string_view body);

// "chk_stt", "chk_sw_upd", "chk_cnf_upd", "chk_cmd_upd".
const char* MethodName(Method method);
bool MethodFromName(std::string_view name, Method& method);
const std::vector<std::string>& MethodMembers(Method method);

// The value of a member, or an empty string when the member is absent.
std::string MemberValue(const std::vector<Member>& members, std::string_view name);

} // namespace devserver
