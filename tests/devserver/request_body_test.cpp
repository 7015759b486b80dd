#include "request_body.h"

#include <gtest/gtest.h>

namespace devserver {
namespace {

// The bodies exactly as the client writes them: every quote a backslash-quote pair.
constexpr const char* kStatusBody =
    R"(data={\"m\":\"chk_stt\",\"u\":\"abc\",\"s\":\"0cc175b9c0f1b6a831c399e269772661\",\"c_id\":\"8277e0910d750195b448797616e091ad\",\"v_stt\":\"4\"})";
constexpr const char* kSoftwareBody = R"(data={\"m\":\"chk_sw_upd\",\"u\":\"abc\",\"v_sw\":\"1.0\"})";
constexpr const char* kConfigBody = R"(data={\"m\":\"chk_cnf_upd\",\"u\":\"abc\",\"v_cnf\":\"7\",\"cnf_only\":\"1\"})";
constexpr const char* kCommandBody = R"(data={\"m\":\"chk_cmd_upd\",\"u\":\"abc\",\"v_cmd\":\"2\"})";

std::vector<Member> M(std::initializer_list<Member> members) { return members; }

TEST(RequestBody, DecodesTheFourClientBodies)
{
    CheckRequest status = DecodeCheckRequest(kStatusBody);
    ASSERT_TRUE(status.ok) << status.error;
    EXPECT_EQ(status.method, Method::Status);
    EXPECT_EQ(status.members,
              M({{"m", "chk_stt"},
                 {"u", "abc"},
                 {"s", "0cc175b9c0f1b6a831c399e269772661"},
                 {"c_id", "8277e0910d750195b448797616e091ad"},
                 {"v_stt", "4"}}));

    CheckRequest soft = DecodeCheckRequest(kSoftwareBody);
    ASSERT_TRUE(soft.ok) << soft.error;
    EXPECT_EQ(soft.method, Method::Software);
    EXPECT_EQ(soft.members, M({{"m", "chk_sw_upd"}, {"u", "abc"}, {"v_sw", "1.0"}}));

    CheckRequest config = DecodeCheckRequest(kConfigBody);
    ASSERT_TRUE(config.ok) << config.error;
    EXPECT_EQ(config.method, Method::Config);
    EXPECT_EQ(MemberValue(config.members, "v_cnf"), "7");
    EXPECT_EQ(MemberValue(config.members, "cnf_only"), "1");

    CheckRequest command = DecodeCheckRequest(kCommandBody);
    ASSERT_TRUE(command.ok) << command.error;
    EXPECT_EQ(command.method, Method::Command);
    EXPECT_EQ(MemberValue(command.members, "v_cmd"), "2");
}

TEST(RequestBody, EmptyValuesDecodeAsEmpty)
{
    CheckRequest r =
        DecodeCheckRequest(R"(data={\"m\":\"chk_stt\",\"u\":\"abc\",\"s\":\"x\",\"c_id\":\"\",\"v_stt\":\"\"})");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(MemberValue(r.members, "c_id"), "");
    EXPECT_EQ(MemberValue(r.members, "v_stt"), "");
}

TEST(RequestBody, OddCharactersInValuesArriveUnchanged)
{
    struct Case {
        const char* login;
    } cases[] = {
        {R"(a,b:c{d}e)"},     // JSON punctuation
        {R"(%41+%20)"},       // looks URL-encoded, must stay as sent
        {R"(x\"y)"},          // a backslash-quote pair of its own
        {R"(x\",\"y)"},       // a member separator not followed by a name and \":\"
        {R"(ends\)"},         // trailing backslash just before the closing pair
        {R"(jo\"}ao)"},       // the closing sequence in the middle
        {"caf\xe9 \x01\x7f"}, // ANSI and control bytes
        {R"(")"},             // a bare double quote
    };
    for (const Case& c : cases) {
        const std::string body =
            std::string(R"(data={\"m\":\"chk_sw_upd\",\"u\":\")") + c.login + R"(\",\"v_sw\":\"1.0\"})";
        CheckRequest r = DecodeCheckRequest(body);
        ASSERT_TRUE(r.ok) << c.login << ": " << r.error;
        EXPECT_EQ(MemberValue(r.members, "u"), c.login);
        EXPECT_EQ(MemberValue(r.members, "v_sw"), "1.0") << c.login;
    }
}

TEST(RequestBody, LastValueMayHoldTheClosingSequence)
{
    CheckRequest r = DecodeCheckRequest(R"(data={\"m\":\"chk_sw_upd\",\"u\":\"abc\",\"v_sw\":\"1\"}\"})");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(MemberValue(r.members, "v_sw"), R"(1\"})");
}

TEST(RequestBody, ValueThatMimicsTheNextMemberIsRefusedNotMisread)
{
    // The login holds a complete member separator with a name: the body is
    // ambiguous, and reading it as four members makes the method check fail
    // rather than hand a wrong login to the answers.
    CheckRequest r = DecodeCheckRequest(R"(data={\"m\":\"chk_sw_upd\",\"u\":\"a\",\"v_sw\":\"b\",\"v_sw\":\"1.0\"})");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("m,u,v_sw,v_sw"), std::string::npos) << r.error;
}

TEST(RequestBody, MalformedBodiesAreRefusedWithAReason)
{
    struct Case {
        std::string body;
        const char* reasonPart;
    } cases[] = {
        {"", "data="},
        {R"({\"m\":\"chk_stt\"})", "data="},
        {"data=%7B%5C%22m%5C%22%3A%5C%22chk_stt%5C%22%7D", "{"},
        {R"(data={"m":"chk_sw_upd","u":"abc","v_sw":"1.0"})", "bare double quote"},
        {R"(data={\"m\":\"chk_sw_upd\",\"u\":\"abc\",\"v_sw\":\"1.0\")", "}"},
        {std::string(R"(data={\"m\":\"chk_sw_upd\",\"u\":\"abc\",\"v_sw\":\"1.0\"})") + "\r\n", "}"},
        {R"(data={\"m\":\"chk_sw_upd\",\"u\":\"abc\",\"v_sw\":\"1.0})", "closing"},
        {R"(data={\"m\"\"chk_sw_upd\"})", "not followed"},
        {R"(data={\"m-x\":\"chk_sw_upd\"})", "character"},
        {R"(data={\"\":\"chk_sw_upd\"})", "empty member name"},
        {R"(data={\"m\":\"chk_sw_upd\"x})", "closing"},
    };
    for (const Case& c : cases) {
        DecodedBody d = DecodeBody(c.body);
        EXPECT_FALSE(d.ok) << c.body;
        EXPECT_NE(d.error.find(c.reasonPart), std::string::npos) << c.body << " -> " << d.error;
        CheckRequest r = DecodeCheckRequest(c.body);
        EXPECT_FALSE(r.ok) << c.body;
        EXPECT_EQ(r.error, d.error);
    }
}

TEST(RequestBody, MembersMustMatchTheMethod)
{
    struct Case {
        const char* body;
        const char* reasonPart;
    } cases[] = {
        {R"(data={})", "no members"},
        {R"(data={\"u\":\"abc\",\"m\":\"chk_sw_upd\",\"v_sw\":\"1.0\"})", "first member"},
        {R"(data={\"m\":\"chk_foo\",\"u\":\"abc\"})", "unknown method"},
        {R"(data={\"m\":\"CHK_STT\",\"u\":\"abc\"})", "unknown method"},
        {R"(data={\"m\":\"chk_sw_upd\",\"u\":\"abc\"})", "m,u,v_sw"},
        {R"(data={\"m\":\"chk_sw_upd\",\"v_sw\":\"1.0\",\"u\":\"abc\"})", "m,v_sw,u"},
        {R"(data={\"m\":\"chk_cmd_upd\",\"u\":\"abc\",\"v_cmd\":\"2\",\"x\":\"1\"})", "m,u,v_cmd,x"},
        {R"(data={\"m\":\"chk_cnf_upd\",\"u\":\"abc\",\"v_file\":\"7\",\"cnf_only\":\"0\"})", "v_file"},
    };
    for (const Case& c : cases) {
        CheckRequest r = DecodeCheckRequest(c.body);
        EXPECT_FALSE(r.ok) << c.body;
        EXPECT_NE(r.error.find(c.reasonPart), std::string::npos) << c.body << " -> " << r.error;
    }
}

TEST(RequestBody, MembersDecodedSoFarAreKeptForTheLog)
{
    CheckRequest r = DecodeCheckRequest(R"(data={\"m\":\"chk_sw_upd\",\"u\":\"abc\",\"v_sw\":\"1.0})");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.members, M({{"m", "chk_sw_upd"}, {"u", "abc"}}));
}

} // namespace
} // namespace devserver
