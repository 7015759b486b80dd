#include "state_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace devserver {
namespace {

constexpr const char* kFullState = R"({
  "_comment": "a test state",
  "subscribers": {
    "abc": {
      "status": {"per": "30", "stt": "ativo", "msg": "Conta ativa", "v_stt": "3", "int": "180", "result": "0"},
      "soft": {"v_sw": "2.1.0", "url_sw": "{{files}}/KVL.msi", "file_sw": "KVL.msi"},
      "config": {"result": "0", "files": [
        {"file_cnf": "vpn.conf", "v_cnf": "7", "is_cnf": "1", "url_cnf": "{{files}}/vpn.conf", "sub_dir": ""},
        {"v_cnf": "2", "file_cnf": "rules.txt"}
      ]},
      "command": {"result": "0", "cmds": [{"cod_cmd": "1", "v_cmd": "9"}]},
      "raw": {"chk_cmd_upd": "{\"command\":{\"result\":1}}"},
      "misbehave": {"chk_sw_upd": {"delay_ms": 250}}
    }
  },
  "unknown_subscriber": {"status": {"stt": "bloqueado"}},
  "misbehave": {"chk_stt": {"http_status": 503, "stall_ms": 10, "drop": false, "body": "<p>down</p>"}},
  "file_faults": {"vpn.conf": {"truncate_after": 5}, "pkg/KVL.msi": {"drop": true}}
})";

std::vector<std::string> Keys(const Json& object)
{
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items())
        keys.push_back(key);
    return keys;
}

TEST(StateFile, ReadsACompleteFile)
{
    State state;
    std::string error;
    ASSERT_TRUE(ParseState(kFullState, state, error)) << error;

    ASSERT_EQ(state.subscribers.count("abc"), 1u);
    const Subscriber& abc = state.subscribers.at("abc");
    ASSERT_TRUE(abc.status);
    // Members come out in the client's record order whatever the file's order.
    EXPECT_EQ(Keys(*abc.status), (std::vector<std::string>{"result", "v_stt", "stt", "msg", "int", "per"}));
    ASSERT_TRUE(abc.soft);
    EXPECT_EQ(Keys(*abc.soft), (std::vector<std::string>{"result", "v_sw", "url_sw", "file_sw"}));
    EXPECT_EQ((*abc.soft)["result"], "0"); // an offer without a result offers
    ASSERT_TRUE(abc.config);
    ASSERT_EQ((*abc.config)["files"].size(), 2u);
    EXPECT_EQ(Keys((*abc.config)["files"][0]),
              (std::vector<std::string>{"v_cnf", "is_cnf", "url_cnf", "sub_dir", "file_cnf"}));
    EXPECT_EQ(Keys((*abc.config)["files"][1]), (std::vector<std::string>{"v_cnf", "file_cnf"}));
    ASSERT_TRUE(abc.command);
    EXPECT_EQ(Keys((*abc.command)["cmds"][0]), (std::vector<std::string>{"v_cmd", "cod_cmd"}));
    EXPECT_EQ(abc.raw.at("chk_cmd_upd"), R"({"command":{"result":1}})");
    EXPECT_EQ(abc.misbehave.at("chk_sw_upd").delayMs, 250);

    ASSERT_TRUE(state.unknownSubscriber);
    EXPECT_EQ((*state.unknownSubscriber->status)["stt"], "bloqueado");

    const Fault& down = state.misbehave.at("chk_stt");
    EXPECT_EQ(down.httpStatus, 503);
    EXPECT_EQ(down.stallMs, 10);
    EXPECT_FALSE(down.drop);
    EXPECT_EQ(down.body, std::optional<std::string>("<p>down</p>"));

    EXPECT_TRUE(state.fileFaults.at("vpn.conf").truncate);
    EXPECT_EQ(state.fileFaults.at("vpn.conf").truncateAfter, 5);
    EXPECT_TRUE(state.fileFaults.at("pkg/KVL.msi").drop);
}

// The faults that act in the middle of a body, or instead of any reply.
TEST(StateFile, ReadsMidBodyAndConnectionFaults)
{
    State state;
    std::string error;
    ASSERT_TRUE(ParseState(R"({"misbehave": {"chk_stt": {"stall_ms": 5, "stall_after": 40, "drop_after": 0},
                                              "chk_sw_upd": {"cut_after": 7, "reset": true, "redirect_loop": true}},
                               "file_faults": {"a.conf": {"cut_after": 3}}})",
                           state, error))
        << error;
    const Fault& stall = state.misbehave.at("chk_stt");
    EXPECT_EQ(stall.stallAfter, 40);
    EXPECT_EQ(stall.dropAfter, 0);
    EXPECT_FALSE(stall.truncate);
    const Fault& cut = state.misbehave.at("chk_sw_upd");
    EXPECT_TRUE(cut.truncate);
    EXPECT_EQ(cut.truncateAfter, 7);
    EXPECT_TRUE(cut.reset);
    EXPECT_TRUE(cut.redirectLoop);
    EXPECT_EQ(state.fileFaults.at("a.conf").truncateAfter, 3);
    EXPECT_EQ(Fault().dropAfter, -1) << "no fault drops a body by default";

    for (const char* bad :
         {R"({"misbehave": {"chk_stt": {"drop_after": -1}}})", R"({"misbehave": {"chk_stt": {"cut_after": "5"}}})",
          R"({"file_faults": {"a": {"reset": 1}}})"}) {
        EXPECT_FALSE(ParseState(bad, state, error)) << bad;
    }
}

TEST(StateFile, EmptyObjectIsAValidState)
{
    State state;
    std::string error;
    ASSERT_TRUE(ParseState("{}", state, error)) << error;
    EXPECT_TRUE(state.subscribers.empty());
    EXPECT_FALSE(state.unknownSubscriber);
}

TEST(StateFile, RefusesMistakesAndNamesWhere)
{
    struct Case {
        const char* text;
        const char* where;
    } cases[] = {
        {R"({"subscribers": {"abc": {"status": {"result": 0}}}})", "subscribers.abc.status.result"},
        {R"({"subscribers": {"abc": {"status": {"int": 180}}}})", "subscribers.abc.status.int"},
        {R"({"subscribers": {"abc": {"status": {"sttt": "ativo"}}}})", "subscribers.abc.status.sttt"},
        {R"({"subscribers": {"abc": {"soft": {"url_cnf": "x"}}}})", "subscribers.abc.soft.url_cnf"},
        {R"({"subscribers": {"abc": {"config": {"files": {"v_cnf": "1"}}}}})", "subscribers.abc.config.files"},
        {R"({"subscribers": {"abc": {"config": {"files": [{"v_cnf": 1}]}}}})", "subscribers.abc.config.files[0].v_cnf"},
        {R"({"subscribers": {"abc": {"command": {"cmds": [{"v_cmd": "1", "cod": "1"}]}}}})",
         "subscribers.abc.command.cmds[0].cod"},
        {R"({"subscribers": {"abc": {"raw": {"chk_status": "x"}}}})", "subscribers.abc.raw.chk_status"},
        {R"({"subscribers": {"abc": {"raw": {"chk_stt": {"result": "0"}}}}})", "subscribers.abc.raw.chk_stt"},
        {R"({"subscribers": {"abc": {"statuss": {}}}})", "subscribers.abc.statuss"},
        {R"({"subscribers": ["abc"]})", "subscribers"},
        {R"({"misbehave": {"chk_stt": {"delay_ms": -1}}})", "misbehave.chk_stt.delay_ms"},
        {R"({"misbehave": {"chk_stt": {"delay_ms": 600001}}})", "misbehave.chk_stt.delay_ms"},
        {R"({"misbehave": {"chk_stt": {"stall_ms": 1.5}}})", "misbehave.chk_stt.stall_ms"},
        {R"({"misbehave": {"chk_stt": {"http_status": 99}}})", "misbehave.chk_stt.http_status"},
        {R"({"misbehave": {"chk_stt": {"trickle_bytes": 0, "trickle_ms": 10}}})", "misbehave.chk_stt.trickle_bytes"},
        {R"({"file_faults": {"a.conf": {"trickle_bytes": 10}}})", "file_faults.a.conf: trickle_bytes and"},
        {R"({"misbehave": {"chk_stt": {"drop": "yes"}}})", "misbehave.chk_stt.drop"},
        {R"({"misbehave": {"chk_stt": {"truncate": true}}})", "misbehave.chk_stt.truncate"},
        {R"({"misbehave": {"chk_other": {}}})", "misbehave.chk_other"},
        {R"({"file_faults": {"a.conf": {"truncate_after": -2}}})", "file_faults.a.conf.truncate_after"},
        {R"({"file_faults": {"a.conf": {"later": true}}})", "file_faults.a.conf.later"},
        {R"({"subscriber": {}})", "subscriber"},
        {R"([1, 2])", "(top)"},
        {R"({"subscribers": {)", "not valid JSON"},
        {"", "not valid JSON"},
    };
    for (const Case& c : cases) {
        State state;
        std::string error;
        EXPECT_FALSE(ParseState(c.text, state, error)) << c.text;
        EXPECT_EQ(error.rfind(c.where, 0), 0u) << c.text << " -> " << error;
    }
}

TEST(StateFile, FailedParseLeavesTheOutputAlone)
{
    State state;
    std::string error;
    ASSERT_TRUE(ParseState(R"({"subscribers": {"abc": {}}})", state, error));
    EXPECT_FALSE(ParseState(R"({"subscribers": {"xyz": {}}, "bad": 1})", state, error));
    EXPECT_EQ(state.subscribers.count("abc"), 1u);
    EXPECT_EQ(state.subscribers.count("xyz"), 0u);
}

class StateStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kvl-devserver-state-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/state.json";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void Write(const std::string& text)
    {
        std::ofstream out(path_, std::ios::trunc);
        out << text;
    }

    static std::string Stt(const std::shared_ptr<const State>& state, const char* login)
    {
        auto it = state->subscribers.find(login);
        if (it == state->subscribers.end() || !it->second.status)
            return "(none)";
        return (*it->second.status)["stt"].get<std::string>();
    }

    std::string dir_;
    std::string path_;
    std::vector<std::string> errors_;
};

TEST_F(StateStoreTest, FollowsTheFileAndKeepsTheLastGoodState)
{
    Write(R"({"subscribers": {"abc": {"status": {"stt": "ativo"}}}})");
    StateStore store(path_, [this](const std::string& m) { errors_.push_back(m); });
    std::string error;
    ASSERT_TRUE(store.Load(error)) << error;
    EXPECT_EQ(Stt(store.Current(), "abc"), "ativo");

    // Same length on purpose: a size check alone would miss it.
    Write(R"({"subscribers": {"abc": {"status": {"stt": "ativa"}}}})");
    EXPECT_EQ(Stt(store.Current(), "abc"), "ativa");
    EXPECT_TRUE(errors_.empty());

    Write(R"({"subscribers": {"abc": {"status": {"stt": 5}}}})");
    EXPECT_EQ(Stt(store.Current(), "abc"), "ativa");
    EXPECT_EQ(Stt(store.Current(), "abc"), "ativa");
    ASSERT_EQ(errors_.size(), 1u); // reported once, not on every request
    EXPECT_NE(errors_[0].find("subscribers.abc.status.stt"), std::string::npos) << errors_[0];

    std::filesystem::remove(path_);
    EXPECT_EQ(Stt(store.Current(), "abc"), "ativa");
    EXPECT_EQ(Stt(store.Current(), "abc"), "ativa");
    ASSERT_EQ(errors_.size(), 2u);
    EXPECT_NE(errors_[1].find("cannot open"), std::string::npos) << errors_[1];

    Write(R"({"subscribers": {"abc": {"status": {"stt": "bloqueado"}}}})");
    EXPECT_EQ(Stt(store.Current(), "abc"), "bloqueado");
    EXPECT_EQ(errors_.size(), 2u);
}

TEST_F(StateStoreTest, RevertingToTheRejectedTextAfterAGoodOneIsReadAgain)
{
    Write(R"({"subscribers": {"abc": {}}})");
    StateStore store(path_, [this](const std::string& m) { errors_.push_back(m); });
    std::string error;
    ASSERT_TRUE(store.Load(error)) << error;
    Write("{broken");
    store.Current();
    Write(R"({"subscribers": {"xyz": {}}})");
    EXPECT_EQ(store.Current()->subscribers.count("xyz"), 1u);
    Write("{broken");
    store.Current();
    EXPECT_EQ(errors_.size(), 2u);
}

TEST_F(StateStoreTest, StartUpRefusesAMissingOrBrokenFile)
{
    StateStore missing(path_, nullptr);
    std::string error;
    EXPECT_FALSE(missing.Load(error));
    EXPECT_NE(error.find(path_), std::string::npos) << error;

    Write(R"({"subscribers": 1})");
    StateStore broken(path_, nullptr);
    EXPECT_FALSE(broken.Load(error));
    EXPECT_NE(error.find("subscribers"), std::string::npos) << error;
}

TEST_F(StateStoreTest, NoFileMeansAnEmptyState)
{
    StateStore store("", nullptr);
    std::string error;
    ASSERT_TRUE(store.Load(error));
    EXPECT_TRUE(store.Current()->subscribers.empty());
}

} // namespace
} // namespace devserver
