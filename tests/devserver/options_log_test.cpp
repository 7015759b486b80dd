#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "options.h"
#include "request_log.h"

namespace devserver {
namespace {

TEST(Options, PkiFolderFillsTheTlsFilesAndDefaultsHold)
{
    Options o;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--pki", "/p"}, o, error)) << error;
    EXPECT_EQ(o.ca, "/p/ca.pem");
    EXPECT_EQ(o.cert, "/p/server_cert.pem");
    EXPECT_EQ(o.key, "/p/server_key.pem");
    EXPECT_EQ(o.port, 5016);
    EXPECT_EQ(o.filesPort, 5017);
    EXPECT_EQ(o.filesTlsPort, 5018);
}

TEST(Options, ExplicitFilesWinOverThePkiFolderInAnyOrder)
{
    Options o;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--cert=/c.pem", "--pki=/p/", "--port=0", "--files-port", "7000", "--files-tls-port=7001",
                              "--state", "s.json", "--files", "f", "--request-log", "r.log", "--ready-file", "ready"},
                             o, error))
        << error;
    EXPECT_EQ(o.cert, "/c.pem");
    EXPECT_EQ(o.ca, "/p/ca.pem");
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.filesPort, 7000);
    EXPECT_EQ(o.filesTlsPort, 7001);
    EXPECT_EQ(o.state, "s.json");
    EXPECT_EQ(o.files, "f");
    EXPECT_EQ(o.requestLog, "r.log");
    EXPECT_EQ(o.readyFile, "ready");
}

TEST(Options, RefusesBadCommandLines)
{
    const std::vector<std::vector<std::string>> bad = {
        {},                           // no TLS files
        {"--ca", "a", "--cert", "b"}, // no key
        {"--pki", "p", "--port", "65536"},
        {"--pki", "p", "--port", "-1"},
        {"--pki", "p", "--port", "50x"},
        {"--pki", "p", "--port", ""},
        {"--pki", "p", "--files-port"}, // value missing
        {"--pki", "p", "--state="},
        {"--pki", "p", "--bogus", "1"},
        {"--pki", "p", "-port", "1"},
        {"--pki", "p", "--port", "6000", "--files-port", "6000"},
        {"--pki", "p", "--port", "6000", "--files-tls-port", "6000"},
        {"--pki", "p", "--files-port", "6001", "--files-tls-port", "6001"},
        {"--pki", "p", "--files-tls-port", "x"},
    };
    for (const auto& args : bad) {
        Options o;
        std::string error;
        EXPECT_FALSE(ParseOptions(args, o, error)) << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty());
    }
}

TEST(Options, HelpNeedsNothingElseAndNamesEveryOption)
{
    Options o;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--help"}, o, error)) << error;
    EXPECT_TRUE(o.help);
    const std::string usage = UsageText();
    for (const char* name : {"--pki", "--ca", "--cert", "--key", "--port", "--files-port", "--files-tls-port",
                             "--ready-file", "--state", "--files", "--request-log", "--help"}) {
        EXPECT_NE(usage.find(name), std::string::npos) << name;
    }
}

TEST(RequestLogLine, CarriesTheRequestAsJson)
{
    LogEntry e;
    e.time = "2024-01-02T03:04:05.678Z";
    e.server = "update";
    e.peer = "127.0.0.1:4000";
    e.subject = "CN=kvl-test-client";
    e.path = "/";
    e.method = "chk_sw_upd";
    e.members = {{"m", "chk_sw_upd"}, {"u", "abc"}, {"v_sw", "1.0"}};
    e.decoded = true;
    e.raw = R"(data={\"m\":\"chk_sw_upd\",\"u\":\"abc\",\"v_sw\":\"1.0\"})";
    e.rule = "subscriber";
    e.action = "answer";
    e.status = 200;
    const std::string line = FormatLogEntry(e);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    auto doc = nlohmann::ordered_json::parse(line);
    EXPECT_EQ(doc["time"], e.time);
    EXPECT_EQ(doc["subject"], "CN=kvl-test-client");
    EXPECT_EQ(doc["method"], "chk_sw_upd");
    EXPECT_EQ(doc["members"].dump(), R"({"m":"chk_sw_upd","u":"abc","v_sw":"1.0"})");
    EXPECT_EQ(doc["raw"], e.raw);
    EXPECT_FALSE(doc.contains("raw_hex"));
    EXPECT_FALSE(doc.contains("error"));
    EXPECT_EQ(doc["status"], 200);
}

TEST(RequestLogLine, BytesThatAreNotUtf8AreKeptInHex)
{
    LogEntry e;
    e.server = "update";
    e.members = {{"u", "caf\xe9"}};
    e.raw = std::string("data=\xe9\n\0x", 9);
    e.error = "no \"{\" after \"data=\"";
    const std::string line = FormatLogEntry(e);
    auto doc = nlohmann::json::parse(line);
    EXPECT_EQ(doc["raw_hex"], "646174613de90a0078");
    EXPECT_EQ(doc["error"], e.error);
    EXPECT_TRUE(doc["members"]["u"].is_string());
}

TEST(RequestLogFile, EachLineIsOnDiskAtOnce)
{
    char pattern[] = "/tmp/kvl-devserver-log-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    const std::string path = (dir / "requests.log").string();
    {
        RequestLog log;
        std::string error;
        ASSERT_TRUE(log.Open(path, error)) << error;
        LogEntry e;
        e.server = "files";
        e.path = "/vpn.conf";
        e.action = "file";
        log.Write(e);
        // Read while the log is still open.
        std::ifstream in(path);
        std::string first;
        ASSERT_TRUE(std::getline(in, first));
        EXPECT_EQ(nlohmann::json::parse(first)["path"], "/vpn.conf");
        log.Write(e);
    }
    std::ifstream in(path);
    int lines = 0;
    for (std::string l; std::getline(in, l);)
        ++lines;
    EXPECT_EQ(lines, 2);

    RequestLog bad;
    std::string error;
    EXPECT_FALSE(bad.Open((dir / "no-such-dir" / "x.log").string(), error));
    EXPECT_NE(error.find("no-such-dir"), std::string::npos);
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace devserver
