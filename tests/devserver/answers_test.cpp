#include "answers.h"

#include <gtest/gtest.h>

namespace devserver {
namespace {

constexpr const char* kFilesUrl = "http://127.0.0.1:5017";

constexpr const char* kState = R"({
  "subscribers": {
    "abc": {
      "status": {"result": "0", "v_stt": "3", "stt": "ativo", "msg": "Conta ativa", "int": "180", "per": "30"},
      "soft": {"v_sw": "2.1.0", "url_sw": "{{files}}/KVL.msi", "file_sw": "KVL.msi"},
      "config": {"files": [
        {"v_cnf": "7", "is_cnf": "1", "url_cnf": "{{files}}/vpn.conf", "sub_dir": "", "file_cnf": "vpn.conf"},
        {"v_cnf": "2", "is_cnf": "0", "url_cnf": "{{files}}/x/rules.txt", "sub_dir": "x", "file_cnf": "rules.txt"}
      ]},
      "command": {"cmds": [{"v_cmd": "9", "cod_cmd": "1"}, {"v_cmd": "3", "cod_cmd": "8"}]}
    },
    "quiet": {},
    "odd": {
      "raw": {"chk_stt": "{\"result\":0,\"stt\":\"ativo\"", "chk_sw_upd": "{{files}} not json"},
      "misbehave": {"chk_stt": {"delay_ms": 5}}
    }
  },
  "misbehave": {
    "chk_stt": {"http_status": 503},
    "chk_cmd_upd": {"drop": true, "delay_ms": 20},
    "chk_cnf_upd": {"stall_ms": 1500, "body": "{}"}
  }
})";

const char* kSections[] = {"soft", "config", "command", "status"};

class AnswersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(ParseState(kState, state_, error)) << error;
    }

    Plan Ask(Method method, const std::string& login)
    {
        CheckRequest request;
        request.ok = true;
        request.method = method;
        request.members = {{"m", MethodName(method)}, {"u", login}};
        return PlanCheckAnswer(state_, request, kFilesUrl);
    }

    static Json Parse(const std::string& text) { return Json::parse(text); }

    // Every value of a reply is a string: the client ignores the others.
    static void ExpectOnlyStrings(const Json& node, const std::string& path)
    {
        if (node.is_object()) {
            for (const auto& [key, value] : node.items())
                ExpectOnlyStrings(value, path + "." + key);
        } else if (node.is_array()) {
            for (std::size_t i = 0; i < node.size(); ++i)
                ExpectOnlyStrings(node[i], path + "[" + std::to_string(i) + "]");
        } else {
            EXPECT_TRUE(node.is_string()) << path << " is " << node.dump();
        }
    }

    static void ExpectListUnderNonSectionName(const Json& section)
    {
        for (const auto& [key, value] : section.items()) {
            if (!value.is_array())
                continue;
            for (const char* name : kSections)
                EXPECT_NE(key, name);
            for (const Json& entry : value)
                EXPECT_TRUE(entry.is_object());
        }
    }

    State state_;
};

TEST_F(AnswersTest, StatusReplyIsAFlatObjectOfStrings)
{
    std::string reply = ComposeReply(Method::Status, state_.subscribers.at("abc"));
    Json doc = Parse(reply);
    ASSERT_TRUE(doc.is_object());
    EXPECT_EQ(doc.dump(), R"({"result":"0","v_stt":"3","stt":"ativo","msg":"Conta ativa","int":"180","per":"30"})");
    ExpectOnlyStrings(doc, "");
}

TEST_F(AnswersTest, SoftwareReplyNestsTheOfferUnderSoft)
{
    Plan plan = Ask(Method::Software, "abc");
    EXPECT_EQ(plan.action, "answer");
    EXPECT_EQ(plan.rule, "subscriber");
    EXPECT_EQ(plan.status, 200);
    EXPECT_EQ(plan.contentType, "application/json");
    Json doc = Parse(plan.body);
    ASSERT_EQ(doc.size(), 1u);
    EXPECT_EQ(doc["soft"]["result"], "0");
    EXPECT_EQ(doc["soft"]["v_sw"], "2.1.0");
    EXPECT_EQ(doc["soft"]["url_sw"], "http://127.0.0.1:5017/KVL.msi");
    EXPECT_EQ(doc["soft"]["file_sw"], "KVL.msi");
    ExpectOnlyStrings(doc, "");
}

TEST_F(AnswersTest, ConfigReplyListsEntriesInAnArrayTheClientCountsFromZero)
{
    std::string reply = ComposeReply(Method::Config, state_.subscribers.at("abc"));
    Json doc = Parse(reply);
    ASSERT_EQ(doc.size(), 1u);
    const Json& config = doc["config"];
    // "result" before the list, the list under a name that is no section name.
    EXPECT_EQ(config.begin().key(), "result");
    EXPECT_EQ(config["result"], "0");
    ASSERT_TRUE(config["files"].is_array());
    ASSERT_EQ(config["files"].size(), 2u);
    EXPECT_EQ(config["files"][0]["file_cnf"], "vpn.conf");
    EXPECT_EQ(config["files"][1]["sub_dir"], "x");
    ExpectListUnderNonSectionName(config);
    ExpectOnlyStrings(doc, "");
    // The placeholder is only replaced on the way out.
    EXPECT_NE(reply.find("{{files}}/vpn.conf"), std::string::npos);
}

TEST_F(AnswersTest, CommandReplyListsCommandsInAnArray)
{
    Json doc = Parse(ComposeReply(Method::Command, state_.subscribers.at("abc")));
    const Json& command = doc["command"];
    EXPECT_EQ(command.begin().key(), "result");
    ASSERT_EQ(command["cmds"].size(), 2u);
    EXPECT_EQ(command["cmds"][1]["cod_cmd"], "8");
    ExpectListUnderNonSectionName(command);
    ExpectOnlyStrings(doc, "");
}

TEST_F(AnswersTest, MissingSectionsOfferNothing)
{
    const Subscriber& quiet = state_.subscribers.at("quiet");
    EXPECT_EQ(ComposeReply(Method::Status, quiet), R"({"result":"1"})");
    EXPECT_EQ(ComposeReply(Method::Software, quiet), R"({"soft":{"result":"1"}})");
    EXPECT_EQ(ComposeReply(Method::Config, quiet), R"({"config":{"result":"1","files":[]}})");
    EXPECT_EQ(ComposeReply(Method::Command, quiet), R"({"command":{"result":"1","cmds":[]}})");
}

TEST_F(AnswersTest, UnknownLoginGetsTheBuiltInCancelledAnswer)
{
    State plain;
    CheckRequest request;
    request.ok = true;
    request.method = Method::Status;
    request.members = {{"m", "chk_stt"}, {"u", "nobody"}};
    Plan plan = PlanCheckAnswer(plain, request, kFilesUrl);
    EXPECT_EQ(plan.rule, "built-in");
    Json doc = Parse(plan.body);
    EXPECT_EQ(doc["stt"], "cancelado");
    EXPECT_EQ(doc["result"], "1");
    ExpectOnlyStrings(doc, "");

    request.method = Method::Software;
    request.members = {{"m", "chk_sw_upd"}, {"u", "nobody"}};
    EXPECT_EQ(PlanCheckAnswer(plain, request, kFilesUrl).body, R"({"soft":{"result":"1"}})");
}

TEST_F(AnswersTest, UnknownLoginUsesTheStateFilesEntryWhenThereIsOne)
{
    State state;
    std::string error;
    ASSERT_TRUE(ParseState(R"({"unknown_subscriber": {"status": {"stt": "ativo"}}})", state, error)) << error;
    CheckRequest request;
    request.ok = true;
    request.method = Method::Status;
    request.members = {{"m", "chk_stt"}, {"u", "nobody"}};
    Plan plan = PlanCheckAnswer(state, request, kFilesUrl);
    EXPECT_EQ(plan.rule, "unknown_subscriber");
    EXPECT_EQ(plan.body, R"({"result":"0","stt":"ativo"})");
}

TEST_F(AnswersTest, LoginsAreMatchedExactly)
{
    EXPECT_EQ(Ask(Method::Software, "ABC").rule, "built-in");
    EXPECT_EQ(Ask(Method::Software, "abc ").rule, "built-in");
}

TEST_F(AnswersTest, RawBodiesGoOutAsTheyStand)
{
    // "odd" has its own chk_stt fault (a delay), which replaces the global 503.
    Plan status = Ask(Method::Status, "odd");
    EXPECT_EQ(status.action, "raw");
    EXPECT_EQ(status.status, 200);
    EXPECT_EQ(status.delayMs, 5);
    EXPECT_EQ(status.body, R"({"result":0,"stt":"ativo")");

    Plan soft = Ask(Method::Software, "odd");
    EXPECT_EQ(soft.body, "http://127.0.0.1:5017 not json");
}

TEST_F(AnswersTest, FaultsShapeThePlan)
{
    Plan error = Ask(Method::Status, "abc");
    EXPECT_EQ(error.action, "http_error");
    EXPECT_EQ(error.status, 503);
    EXPECT_EQ(error.contentType, "text/html");
    EXPECT_NE(error.body.find("503 Service Unavailable"), std::string::npos) << error.body;
    EXPECT_FALSE(error.drop);

    Plan drop = Ask(Method::Command, "abc");
    EXPECT_EQ(drop.action, "drop");
    EXPECT_TRUE(drop.drop);
    EXPECT_EQ(drop.delayMs, 20);

    Plan stall = Ask(Method::Config, "abc");
    EXPECT_EQ(stall.action, "raw");
    EXPECT_EQ(stall.stallMs, 1500);
    EXPECT_EQ(stall.body, "{}");
    EXPECT_EQ(stall.status, 200);
}

TEST_F(AnswersTest, HttpStatusWithABodySendsThatBody)
{
    State state;
    std::string error;
    ASSERT_TRUE(
        ParseState(R"({"misbehave": {"chk_sw_upd": {"http_status": 404, "body": "{\"soft\":{}}"}}})", state, error))
        << error;
    CheckRequest request;
    request.ok = true;
    request.method = Method::Software;
    request.members = {{"m", "chk_sw_upd"}, {"u", "x"}};
    Plan plan = PlanCheckAnswer(state, request, kFilesUrl);
    EXPECT_EQ(plan.status, 404);
    EXPECT_EQ(plan.body, R"({"soft":{}})");
}

TEST(Answers, BadRequestPlanNamesTheReason)
{
    Plan plan = PlanBadRequest("unknown method \"x\"");
    EXPECT_EQ(plan.status, 400);
    EXPECT_EQ(plan.action, "bad_request");
    EXPECT_NE(plan.body.find("unknown method \"x\""), std::string::npos);
}

TEST(Answers, FilesUrlReplacesEveryPlaceholder)
{
    EXPECT_EQ(ReplaceFilesUrl("{{files}}/a {{files}}/b {{files", "http://h:1"), "http://h:1/a http://h:1/b {{files");
    EXPECT_EQ(ReplaceFilesUrl("{{files}}", "{{files}}"), "{{files}}"); // no endless loop
}

} // namespace
} // namespace devserver
