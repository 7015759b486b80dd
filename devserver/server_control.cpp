#include "server_control.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "request_log.h"

namespace devserver {
namespace {

constexpr int kPauseStepMs = 20;

std::atomic<bool> g_stop{false};
std::mutex g_diagMutex;

} // namespace

void RequestStop() { g_stop = true; }

bool StopRequested() { return g_stop; }

bool Pause(int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (g_stop)
            return false;
        const auto left = until - std::chrono::steady_clock::now();
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(kPauseStepMs)));
    }
    return !g_stop;
}

void Diag(const std::string& message)
{
    const std::string line = UtcTimestamp() + " kvl-devserver: " + message + "\n";
    std::lock_guard<std::mutex> lock(g_diagMutex);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace devserver
