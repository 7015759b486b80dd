#include "connection_drop.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include <httplib.h>

namespace devserver {
namespace {

constexpr std::size_t kAddressText = INET6_ADDRSTRLEN;

bool Describe(const sockaddr_storage& addr, std::string& host, int& port)
{
    char text[kAddressText] = {};
    if (addr.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
        if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) == nullptr)
            return false;
        port = ntohs(in->sin_port);
    } else if (addr.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&addr);
        if (inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text) == nullptr)
            return false;
        port = ntohs(in6->sin6_port);
    } else {
        return false;
    }
    host = text;
    return true;
}

} // namespace

int FindConnectionSocket(int localPort, const std::string& peerAddress, int peerPort)
{
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    int found = -1;
    while (dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == dirfd(dir))
            continue;
        struct stat st { };
        if (fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode))
            continue;

        sockaddr_storage local{};
        socklen_t localLength = sizeof local;
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &localLength) != 0)
            continue;
        if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
            continue;
        std::string localHost, peerHost;
        int lport = -1, pport = -1;
        if (!Describe(local, localHost, lport) || !Describe(peer, peerHost, pport))
            continue;
        if (lport == localPort && pport == peerPort && peerHost == peerAddress) {
            found = static_cast<int>(fd);
            break;
        }
    }
    closedir(dir);
    return found;
}

namespace {

int ConnectionSocket(const httplib::Request& req)
{
    if (req.ssl != nullptr)
        return SSL_get_fd(req.ssl);
    return FindConnectionSocket(req.local_port, req.remote_addr, req.remote_port);
}

} // namespace

bool DropConnection(const httplib::Request& req)
{
    const int fd = ConnectionSocket(req);
    if (fd < 0)
        return false;
    return shutdown(fd, SHUT_RDWR) == 0;
}

bool ResetConnection(const httplib::Request& req)
{
    const int fd = ConnectionSocket(req);
    if (fd < 0)
        return false;
    // Disconnecting an established TCP socket (connect to AF_UNSPEC) sends a
    // reset at once, while cpp-httplib still owns the descriptor and closes
    // it later; a zero linger keeps that close from adding anything.
    linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    sockaddr none{};
    none.sa_family = AF_UNSPEC;
    return connect(fd, &none, sizeof none) == 0;
}

} // namespace devserver
