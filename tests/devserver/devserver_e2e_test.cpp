// Starts kvl-devserver as a process with the test PKI and talks to it the
// way the update client does: libcurl, a client certificate with its
// encrypted key, and the raw form body.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr const char* kPassPhrase = "Lantern58";
constexpr auto kStartTimeout = std::chrono::seconds(20);
constexpr auto kStopTimeout = std::chrono::seconds(15);
constexpr long kTransferTimeoutSeconds = 20;
// A delay or pause of the server's lasts at least 1 s; curl stamps the first
// byte when it gets to run, which on a loaded machine can be milliseconds
// after it arrived, so the bound keeps a margin that no pause at all misses.
constexpr double kPausesAtLeast = 0.9;

constexpr const char* kState = R"({
  "subscribers": {
    "abc": {
      "status": {"result": "0", "v_stt": "3", "stt": "ativo", "msg": "Conta ativa", "int": "180", "per": "30"},
      "soft": {"v_sw": "2.1.0", "url_sw": "{{files}}/pkg/KVL-2.1.0.msi", "file_sw": "KVL-2.1.0.msi"}
    }
  }
})";

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    double firstByteSeconds = 0;
    double totalSeconds = 0;
    std::string location; // where a redirection points
};

size_t Collect(char* data, size_t size, size_t count, void* target)
{
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<Json> ReadLog(const fs::path& path)
{
    std::vector<Json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(Json::parse(line));
    return lines;
}

class DevServer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        // Idempotent and safe against parallel test processes.
        const std::string command = std::string(KVL_MAKE_PKI_SCRIPT) + " " + KVL_TEST_PKI_DIR + " > /dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    static void TearDownTestSuite() { curl_global_cleanup(); }

    void SetUp() override
    {
        char pattern[] = "/tmp/kvl-devserver-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "files" / "pkg");
        std::ofstream(dir_ / "files" / "vpn.conf", std::ios::binary) << "remote vpn.example 1194\n";
        std::ofstream(dir_ / "files" / "pkg" / "KVL-2.1.0.msi", std::ios::binary) << std::string(10000, 'M');
        std::ofstream(dir_ / "secret.txt") << "not to be served";
        WriteState(kState);
    }

    void TearDown() override
    {
        if (pid_ > 0) {
            EXPECT_EQ(Stop(SIGTERM), 0);
        }
        fs::remove_all(dir_);
    }

    void WriteState(const std::string& text)
    {
        // Renamed into place, as an editor would save it.
        const fs::path temporary = dir_ / "state.json.new";
        std::ofstream(temporary, std::ios::trunc) << text;
        fs::rename(temporary, dir_ / "state.json");
    }

    std::vector<std::string> BaseArgs()
    {
        return {KVL_DEVSERVER_EXE,
                "--pki",
                KVL_TEST_PKI_DIR,
                "--port",
                "0",
                "--files-port",
                "0",
                "--files-tls-port",
                "0",
                "--state",
                (dir_ / "state.json").string(),
                "--files",
                (dir_ / "files").string(),
                "--request-log",
                (dir_ / "requests.log").string(),
                "--ready-file",
                (dir_ / "ready").string()};
    }

    pid_t Spawn(const std::vector<std::string>& args)
    {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            return -1;
        return pid;
    }

    // Exit status of `pid`, or -1 when it did not end in time (it is killed).
    static int WaitExit(pid_t pid)
    {
        const auto until = std::chrono::steady_clock::now() + kStopTimeout;
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            const pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }

    void Start()
    {
        pid_ = Spawn(BaseArgs());
        ASSERT_GT(pid_, 0);
        const fs::path ready = dir_ / "ready";
        const auto until = std::chrono::steady_clock::now() + kStartTimeout;
        while (!fs::exists(ready)) {
            int status = 0;
            ASSERT_EQ(waitpid(pid_, &status, WNOHANG), 0) << "kvl-devserver ended during start-up";
            ASSERT_LT(std::chrono::steady_clock::now(), until) << "no ready file";
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::istringstream lines(ReadFile(ready));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("port=", 0) == 0)
                port_ = std::stoi(line.substr(5));
            if (line.rfind("files_port=", 0) == 0)
                filesPort_ = std::stoi(line.substr(11));
            if (line.rfind("files_tls_port=", 0) == 0)
                filesTlsPort_ = std::stoi(line.substr(15));
        }
        ASSERT_GT(port_, 0);
        ASSERT_GT(filesPort_, 0);
        ASSERT_GT(filesTlsPort_, 0);
    }

    int Stop(int signal)
    {
        kill(pid_, signal);
        const int status = WaitExit(pid_);
        pid_ = -1;
        return status;
    }

    struct Client {
        std::string cert;
        std::string key;
    };
    Client Trusted() const { return {Pki("client_cert.pem"), Pki("client_key.pem")}; }
    static std::string Pki(const char* name) { return std::string(KVL_TEST_PKI_DIR) + "/" + name; }

    Reply Post(const std::string& body, const Client& client)
    {
        Reply reply;
        CURL* curl = curl_easy_init();
        if (curl == nullptr) {
            reply.code = CURLE_FAILED_INIT;
            return reply;
        }
        const std::string url = "https://127.0.0.1:" + std::to_string(port_) + "/";
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl, CURLOPT_SSLVERSION, CURL_SSLVERSION_TLSv1_2);
        // Stricter than the client: the server certificate must verify against the test CA.
        const std::string ca = Pki("ca.pem");
        curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
        if (!client.cert.empty()) {
            curl_easy_setopt(curl, CURLOPT_SSLCERTTYPE, "PEM");
            curl_easy_setopt(curl, CURLOPT_SSLCERT, client.cert.c_str());
            curl_easy_setopt(curl, CURLOPT_KEYPASSWD, kPassPhrase);
            curl_easy_setopt(curl, CURLOPT_SSLKEYTYPE, "PEM");
            curl_easy_setopt(curl, CURLOPT_SSLKEY, client.key.c_str());
        }
        Finish(curl, reply);
        return reply;
    }

    // Over plain HTTP, or over HTTPS verified against the CA file `ca`.
    Reply Get(const std::string& path, const std::string& ca = "")
    {
        Reply reply;
        CURL* curl = curl_easy_init();
        if (curl == nullptr) {
            reply.code = CURLE_FAILED_INIT;
            return reply;
        }
        const std::string url = ca.empty() ? "http://127.0.0.1:" + std::to_string(filesPort_) + path
                                           : "https://127.0.0.1:" + std::to_string(filesTlsPort_) + path;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
        if (!ca.empty())
            curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
        Finish(curl, reply);
        return reply;
    }

    static void Finish(CURL* curl, Reply& reply)
    {
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, kTransferTimeoutSeconds);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
        reply.code = curl_easy_perform(curl);
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
        curl_easy_getinfo(curl, CURLINFO_STARTTRANSFER_TIME, &reply.firstByteSeconds);
        curl_easy_getinfo(curl, CURLINFO_TOTAL_TIME, &reply.totalSeconds);
        char* location = nullptr;
        if (curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location != nullptr)
            reply.location = location;
        curl_easy_cleanup(curl);
    }

    std::vector<Json> Log() { return ReadLog(dir_ / "requests.log"); }

    fs::path dir_;
    pid_t pid_ = -1;
    int port_ = 0;
    int filesPort_ = 0;
    int filesTlsPort_ = 0;
};

constexpr const char* kStatusBody =
    R"(data={\"m\":\"chk_stt\",\"u\":\"abc\",\"s\":\"0cc175b9c0f1b6a831c399e269772661\",\"c_id\":\"c4ca4238a0b923820dcc509a6f75849b\",\"v_stt\":\"\"})";
constexpr const char* kSoftwareBody = R"(data={\"m\":\"chk_sw_upd\",\"u\":\"abc\",\"v_sw\":\"1.0\"})";

TEST_F(DevServer, StatusCheckWithClientCertificateIsAnsweredAndLogged)
{
    Start();
    Reply reply = Post(kStatusBody, Trusted());
    ASSERT_EQ(reply.code, CURLE_OK) << curl_easy_strerror(reply.code);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, R"({"result":"0","v_stt":"3","stt":"ativo","msg":"Conta ativa","int":"180","per":"30"})");

    std::vector<Json> log = Log();
    ASSERT_EQ(log.size(), 1u);
    const Json& line = log[0];
    EXPECT_EQ(line["server"], "update");
    EXPECT_NE(line["subject"].get<std::string>().find("CN=kvl-test-client"), std::string::npos) << line.dump();
    EXPECT_EQ(line["method"], "chk_stt");
    EXPECT_EQ(line["members"]["u"], "abc");
    EXPECT_EQ(line["members"]["s"], "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(line["members"]["v_stt"], "");
    EXPECT_EQ(line["raw"], kStatusBody);
    EXPECT_EQ(line["decoded"], true);
    EXPECT_EQ(line["status"], 200);
}

TEST_F(DevServer, TraditionalEncryptedKeyIsAcceptedToo)
{
    Start();
    Reply reply = Post(kSoftwareBody, {Pki("client_cert.pem"), Pki("client_key_traditional.pem")});
    ASSERT_EQ(reply.code, CURLE_OK) << curl_easy_strerror(reply.code);
    Json doc = Json::parse(reply.body);
    EXPECT_EQ(doc["soft"]["v_sw"], "2.1.0");
    // The offer points at the file server's real port, and the package is there.
    const std::string url = doc["soft"]["url_sw"];
    const std::string prefix = "http://127.0.0.1:" + std::to_string(filesPort_);
    ASSERT_EQ(url.rfind(prefix, 0), 0u) << url;
    Reply package = Get(url.substr(prefix.size()));
    ASSERT_EQ(package.code, CURLE_OK);
    EXPECT_EQ(package.status, 200);
    EXPECT_EQ(package.body, std::string(10000, 'M'));
}

TEST_F(DevServer, FilesAreServedOverHttpsWithTheServerCertificate)
{
    Start();
    Reply file = Get("/vpn.conf", Pki("ca.pem"));
    ASSERT_EQ(file.code, CURLE_OK) << curl_easy_strerror(file.code);
    EXPECT_EQ(file.status, 200);
    EXPECT_EQ(file.body, "remote vpn.example 1194\n");
    // A client that trusts another CA does not get past the handshake.
    Reply untrusted = Get("/vpn.conf", Pki("other_ca.pem"));
    EXPECT_EQ(untrusted.code, CURLE_PEER_FAILED_VERIFICATION) << curl_easy_strerror(untrusted.code);
    EXPECT_TRUE(untrusted.body.empty());
    std::vector<Json> log = Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["server"], "files");
    EXPECT_EQ(log[0]["action"], "file");
}

TEST_F(DevServer, ConnectionsWithoutATrustedClientCertificateAreRefused)
{
    Start();
    Reply none = Post(kStatusBody, {});
    EXPECT_NE(none.code, CURLE_OK);
    EXPECT_EQ(none.status, 0);
    EXPECT_TRUE(none.body.empty());

    Reply other = Post(kStatusBody, {Pki("other_client_cert.pem"), Pki("other_client_key.pem")});
    EXPECT_NE(other.code, CURLE_OK);
    EXPECT_EQ(other.status, 0);
    EXPECT_TRUE(other.body.empty());

    EXPECT_TRUE(Log().empty());
    // The server is still there for a proper client.
    EXPECT_EQ(Post(kStatusBody, Trusted()).code, CURLE_OK);
}

TEST_F(DevServer, AnswersFollowTheStateFileWhileItRuns)
{
    Start();
    EXPECT_EQ(Json::parse(Post(kStatusBody, Trusted()).body)["stt"], "ativo");

    WriteState(R"({"subscribers": {"abc": {"status": {"stt": "bloqueado", "msg": "Pagamento pendente"}}}})");
    Json blocked = Json::parse(Post(kStatusBody, Trusted()).body);
    EXPECT_EQ(blocked["stt"], "bloqueado");
    EXPECT_EQ(blocked["msg"], "Pagamento pendente");

    WriteState(R"({"subscribers": {"abc": {"status": {"stt": 3}}}})");
    EXPECT_EQ(Json::parse(Post(kStatusBody, Trusted()).body)["stt"], "bloqueado");

    WriteState(R"({"subscribers": {}})");
    Json unknown = Json::parse(Post(kStatusBody, Trusted()).body);
    EXPECT_EQ(unknown["stt"], "cancelado");
    EXPECT_EQ(Log().back()["rule"], "built-in");
}

TEST_F(DevServer, UndecodableBodyGets400AndIsLoggedRaw)
{
    Start();
    const std::string body = R"(data={"m":"chk_stt","u":"abc"})";
    Reply reply = Post(body, Trusted());
    ASSERT_EQ(reply.code, CURLE_OK);
    EXPECT_EQ(reply.status, 400);
    EXPECT_NE(reply.body.find("backslash-quote"), std::string::npos) << reply.body;
    std::vector<Json> log = Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0]["raw"], body);
    EXPECT_EQ(log[0]["decoded"], false);
    EXPECT_EQ(log[0]["status"], 400);
    EXPECT_NE(log[0]["error"].get<std::string>().find("backslash-quote"), std::string::npos);
}

TEST_F(DevServer, MisbehavesAsTold)
{
    WriteState(R"({
    "subscribers": {"abc": {"status": {"stt": "ativo"}, "soft": {"v_sw": "2"}}},
    "misbehave": {
      "chk_stt": {"drop": true},
      "chk_sw_upd": {"stall_ms": 1200},
      "chk_cmd_upd": {"http_status": 503},
      "chk_cnf_upd": {"delay_ms": 800, "body": "{\"config\":{\"result\":1}}"}
    }
  })");
    Start();
    Reply dropped = Post(kStatusBody, Trusted());
    EXPECT_NE(dropped.code, CURLE_OK);
    EXPECT_EQ(dropped.status, 0);

    Reply stalled = Post(kSoftwareBody, Trusted());
    ASSERT_EQ(stalled.code, CURLE_OK);
    EXPECT_EQ(stalled.status, 200);
    EXPECT_EQ(Json::parse(stalled.body)["soft"]["v_sw"], "2");
    EXPECT_GE(stalled.totalSeconds - stalled.firstByteSeconds, kPausesAtLeast)
        << "first byte " << stalled.firstByteSeconds << ", total " << stalled.totalSeconds;

    Reply error = Post(R"(data={\"m\":\"chk_cmd_upd\",\"u\":\"abc\",\"v_cmd\":\"1\"})", Trusted());
    ASSERT_EQ(error.code, CURLE_OK);
    EXPECT_EQ(error.status, 503);
    EXPECT_NE(error.body.find("<html>"), std::string::npos);

    Reply delayed = Post(R"(data={\"m\":\"chk_cnf_upd\",\"u\":\"abc\",\"v_cnf\":\"\",\"cnf_only\":\"1\"})", Trusted());
    ASSERT_EQ(delayed.code, CURLE_OK);
    EXPECT_EQ(delayed.body, R"({"config":{"result":1}})");
    EXPECT_GE(delayed.firstByteSeconds, 0.7);

    std::vector<Json> log = Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0]["action"], "drop");
    EXPECT_EQ(log[0]["status"], 0);
    EXPECT_EQ(log[2]["action"], "http_error");
}

// Faults in the middle of a body, a reset, a redirection back to itself, and
// a TLS client at the plain port: for the update server and the file server.
TEST_F(DevServer, FailsMidBodyResetsAndRedirectsInALoop)
{
    WriteState(R"({
    "subscribers": {"abc": {"status": {"stt": "ativo", "msg": "a message long enough to be cut"},
                            "soft": {"v_sw": "2"}}},
    "misbehave": {"chk_stt": {"cut_after": 12}, "chk_sw_upd": {"drop_after": 9}},
    "file_faults": {"reset.conf": {"reset": true}, "loop.conf": {"redirect_loop": true},
                    "slow.conf": {"stall_ms": 1200, "stall_after": 100}, "chunked.conf": {"drop_after": 10},
                    "trickle.conf": {"trickle_bytes": 100, "trickle_ms": 500}}
  })");
    for (const char* name : {"reset.conf", "loop.conf", "slow.conf", "chunked.conf", "trickle.conf"})
        std::ofstream(dir_ / "files" / name) << std::string(300, 'f');
    Start();

    Reply cut = Post(kStatusBody, Trusted());
    EXPECT_EQ(cut.code, CURLE_PARTIAL_FILE) << curl_easy_strerror(cut.code);
    EXPECT_EQ(cut.body, R"({"result":"0)");
    Reply dropped = Post(kSoftwareBody, Trusted());
    EXPECT_EQ(dropped.code, CURLE_PARTIAL_FILE) << curl_easy_strerror(dropped.code);
    EXPECT_EQ(dropped.body, R"({"soft":{)");

    Reply reset = Get("/reset.conf");
    EXPECT_EQ(reset.code, CURLE_RECV_ERROR) << curl_easy_strerror(reset.code);
    Reply loop = Get("/loop.conf");
    ASSERT_EQ(loop.code, CURLE_OK);
    EXPECT_EQ(loop.status, 307);
    EXPECT_EQ(loop.location, "http://127.0.0.1:" + std::to_string(filesPort_) + "/loop.conf");
    Reply slow = Get("/slow.conf");
    ASSERT_EQ(slow.code, CURLE_OK);
    EXPECT_EQ(slow.body, std::string(300, 'f'));
    EXPECT_GE(slow.totalSeconds - slow.firstByteSeconds, kPausesAtLeast) << "the pause comes after the first 100 bytes";
    Reply chunked = Get("/chunked.conf");
    EXPECT_EQ(chunked.code, CURLE_PARTIAL_FILE) << curl_easy_strerror(chunked.code);
    EXPECT_EQ(chunked.body, std::string(10, 'f'));
    Reply trickled = Get("/trickle.conf");
    ASSERT_EQ(trickled.code, CURLE_OK);
    EXPECT_EQ(trickled.body, std::string(300, 'f'));
    EXPECT_GE(trickled.totalSeconds - trickled.firstByteSeconds, kPausesAtLeast) << "three pieces, two pauses";

    std::vector<Json> log = Log();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[2]["action"], "reset");
    EXPECT_EQ(log[3]["action"], "redirect");
    EXPECT_EQ(log[5]["action"], "cut_chunked");
}

TEST_F(DevServer, FileServerServesFailsAndGuardsItsFolder)
{
    WriteState(R"({"file_faults": {
    "broken.conf": {"truncate": true},
    "gone.conf": {"drop": true},
    "denied.conf": {"http_status": 403}
  }})");
    std::ofstream(dir_ / "files" / "broken.conf") << std::string(4000, 'b');
    std::ofstream(dir_ / "files" / "gone.conf") << "x";
    Start();

    Reply ok = Get("/vpn.conf");
    ASSERT_EQ(ok.code, CURLE_OK);
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.body, "remote vpn.example 1194\n");

    Reply truncated = Get("/broken.conf");
    EXPECT_EQ(truncated.code, CURLE_PARTIAL_FILE) << curl_easy_strerror(truncated.code);
    EXPECT_EQ(truncated.body.size(), 2000u);

    Reply dropped = Get("/gone.conf");
    EXPECT_EQ(dropped.code, CURLE_GOT_NOTHING) << curl_easy_strerror(dropped.code);

    Reply denied = Get("/denied.conf");
    ASSERT_EQ(denied.code, CURLE_OK);
    EXPECT_EQ(denied.status, 403);
    EXPECT_NE(denied.body.find("403"), std::string::npos);

    for (const char* path : {"/../secret.txt", "/pkg/../../secret.txt", "/%2e%2e/secret.txt", "/missing"}) {
        Reply outside = Get(path);
        ASSERT_EQ(outside.code, CURLE_OK) << path;
        EXPECT_EQ(outside.status, 404) << path;
        EXPECT_EQ(outside.body.find("not to be served"), std::string::npos) << path;
    }

    std::vector<Json> log = Log();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0]["server"], "files");
    EXPECT_EQ(log[0]["path"], "/vpn.conf");
    EXPECT_EQ(log[1]["action"], "truncate");
}

TEST_F(DevServer, CtrlCEndsItCleanlyAndRemovesTheReadyFile)
{
    Start();
    EXPECT_EQ(Stop(SIGINT), 0);
    EXPECT_FALSE(fs::exists(dir_ / "ready"));
}

// A stop that lands while the listeners are still starting must not be lost:
// the server would then serve for ever. The signal goes out at instants
// spread over the start-up, counted from the spawn (before and while it
// binds) and from the ready file (while the listener threads start).
TEST_F(DevServer, StopsCleanlyWhateverMomentTheSignalArrives)
{
    constexpr int kRounds = 3;
    constexpr int kInstants = 40;
    const fs::path ready = dir_ / "ready";
    for (int round = 0; round < kRounds; ++round) {
        for (int instant = 0; instant < kInstants; ++instant) {
            const bool fromReady = instant % 2 == 1;
            const int signal = round % 2 == 0 ? SIGINT : SIGTERM;
            const pid_t pid = Spawn(BaseArgs());
            ASSERT_GT(pid, 0);
            if (fromReady) {
                const auto until = std::chrono::steady_clock::now() + kStartTimeout;
                while (!fs::exists(ready) && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
                std::this_thread::sleep_for(std::chrono::microseconds(50 * instant));
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(500 * instant));
            }
            kill(pid, signal);
            const int status = WaitExit(pid);
            // Before its signal mask is set the process dies of the signal
            // itself, which is a clean end too: nothing was written yet.
            EXPECT_TRUE(status == 0 || status == 128 + signal)
                << "round " << round << ", instant " << instant << (fromReady ? " after ready" : " after spawn")
                << ": exit status " << status << (status == -1 ? " (still running after the stop)" : "");
            EXPECT_FALSE(fs::exists(ready)) << "round " << round << ", instant " << instant;
            fs::remove(ready);
        }
    }
}

TEST_F(DevServer, StopsPromptlyDuringALongStall)
{
    WriteState(R"({"misbehave": {"chk_sw_upd": {"stall_ms": 600000}}})");
    Start();
    std::thread client([this] { Post(kSoftwareBody, Trusted()); });
    // Wait until the request is in, then stop while it stalls.
    const auto until = std::chrono::steady_clock::now() + kStartTimeout;
    while (Log().empty() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(Stop(SIGTERM), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
    client.join();
}

TEST_F(DevServer, RefusesToStartWithABrokenStateFile)
{
    WriteState("{ not json");
    const pid_t pid = Spawn(BaseArgs());
    ASSERT_GT(pid, 0);
    EXPECT_EQ(WaitExit(pid), 1);
    EXPECT_FALSE(fs::exists(dir_ / "ready"));
}

} // namespace
