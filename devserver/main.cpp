// kvl-devserver: plays the provider's update server for development and tests.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include <httplib.h>

#include "options.h"
#include "request_log.h"
#include "server_control.h"
#include "servers.h"
#include "state_file.h"
#include "tls_setup.h"

namespace {

using namespace devserver;

constexpr const char* kListenAddress = "127.0.0.1";
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kStopRetryMs = 5;

bool WriteReadyFile(const std::string& path, int port, int filesPort, int filesTlsPort, std::string& error)
{
    // Written under another name and renamed, so a reader never sees half of it.
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "port=" << port << "\nfiles_port=" << filesPort << "\nfiles_tls_port=" << filesTlsPort << "\n";
        out.flush();
        if (!out) {
            error = "cannot write " + temporary;
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + temporary + " to " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// Binds to a fixed port, or to a free one for port 0; the bound port or -1.
int Bind(httplib::Server& server, int port)
{
    if (port == 0)
        return server.bind_to_any_port(kListenAddress);
    return server.bind_to_port(kListenAddress, port) ? port : -1;
}

// httplib's stop() does nothing until its listener has marked itself running,
// so a stop that arrives while the thread is still starting would be lost and
// the join would wait for ever: wait for the listener to run (or to have
// returned), then stop it once.
void StopListener(httplib::Server& server, std::thread& thread, const std::atomic<bool>& ended)
{
    while (!ended) {
        if (server.is_running()) {
            server.stop();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kStopRetryMs));
    }
    thread.join();
}

int Run(const Options& options)
{
    std::string error;
    StateStore state(options.state, [](const std::string& message) { Diag(message); });
    if (!state.Load(error)) {
        Diag(error);
        return kExitFailure;
    }
    RequestLog log;
    if (!log.Open(options.requestLog, error)) {
        Diag(error);
        return kExitFailure;
    }
    if (!options.files.empty() && !std::filesystem::is_directory(options.files)) {
        Diag("--files " + options.files + " is not a directory");
        return kExitFailure;
    }

    httplib::SSLServer updateServer(
        [&](SSL_CTX& ctx) { return ConfigureServerTls(ctx, options.ca, options.cert, options.key, error); });
    if (!updateServer.is_valid()) {
        Diag("TLS set-up failed: " + error);
        return kExitFailure;
    }
    httplib::Server fileServer;
    // The same files over HTTPS, with the update server's certificate.
    httplib::SSLServer filesTlsServer(
        [&](SSL_CTX& ctx) { return ConfigureFilesTls(ctx, options.cert, options.key, error); });
    if (!filesTlsServer.is_valid()) {
        Diag("TLS set-up of the file server failed: " + error);
        return kExitFailure;
    }

    const int port = Bind(updateServer, options.port);
    if (port < 0) {
        Diag("cannot listen on " + std::string(kListenAddress) + ":" + std::to_string(options.port));
        return kExitFailure;
    }
    const int filesPort = Bind(fileServer, options.filesPort);
    if (filesPort < 0) {
        Diag("cannot listen on " + std::string(kListenAddress) + ":" + std::to_string(options.filesPort));
        return kExitFailure;
    }
    const int filesTlsPort = Bind(filesTlsServer, options.filesTlsPort);
    if (filesTlsPort < 0) {
        Diag("cannot listen on " + std::string(kListenAddress) + ":" + std::to_string(options.filesTlsPort));
        return kExitFailure;
    }

    ServerContext context;
    context.state = &state;
    context.log = &log;
    if (!options.files.empty())
        context.filesRoot = options.files;
    context.filesUrl = "http://" + std::string(kListenAddress) + ":" + std::to_string(filesPort);
    InstallUpdateHandlers(updateServer, context);
    InstallFileHandlers(fileServer, context);
    InstallFileHandlers(filesTlsServer, context);

    // A listener that stops on its own (it should not) wakes the main thread.
    auto listen = [](httplib::Server& server, const char* what, std::atomic<bool>& ended) {
        if (!server.listen_after_bind() && !StopRequested()) {
            Diag(std::string(what) + " stopped listening");
            kill(getpid(), SIGTERM);
        }
        ended = true;
    };
    std::atomic<bool> updateEnded{false}, filesEnded{false}, filesTlsEnded{false};
    std::thread updateThread(listen, std::ref(updateServer), "update server", std::ref(updateEnded));
    std::thread filesThread(listen, std::ref(fileServer), "file server", std::ref(filesEnded));
    std::thread filesTlsThread(listen, std::ref(filesTlsServer), "https file server", std::ref(filesTlsEnded));

    bool ready = true;
    if (!options.readyFile.empty() && !WriteReadyFile(options.readyFile, port, filesPort, filesTlsPort, error)) {
        Diag(error);
        ready = false;
    }
    if (ready) {
        Diag("update server https://" + std::string(kListenAddress) + ":" + std::to_string(port) + "/, file server " +
             context.filesUrl + "/ and https://" + std::string(kListenAddress) + ":" + std::to_string(filesTlsPort) +
             "/");
        sigset_t stopSignals;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGINT);
        sigaddset(&stopSignals, SIGTERM);
        int signal = 0;
        sigwait(&stopSignals, &signal);
        Diag(std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
    }

    RequestStop();
    StopListener(updateServer, updateThread, updateEnded);
    StopListener(fileServer, filesThread, filesEnded);
    StopListener(filesTlsServer, filesTlsThread, filesTlsEnded);
    if (!options.readyFile.empty())
        std::remove(options.readyFile.c_str());
    return ready ? kExitOk : kExitFailure;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    Options options;
    std::string error;
    if (!ParseOptions(args, options, error)) {
        std::fprintf(stderr, "kvl-devserver: %s\n", error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return kExitOk;
    }

    // Stop signals are taken by sigwait in the main thread only; every thread
    // started later inherits this mask. A client that goes away mid-reply must
    // not kill the server with SIGPIPE.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    return Run(options);
}
