// Closing a client's connection from inside a request handler, before any
// reply is written. cpp-httplib gives handlers no socket, so it is found
// from the request: through the TLS session, or by the connection's ports.
#pragma once

#include <string>

namespace httplib {
struct Request;
}

namespace devserver {

// The open socket of this process whose local port is `localPort` and whose
// peer is `peerAddress`:`peerPort`; -1 when there is none.
int FindConnectionSocket(int localPort, const std::string& peerAddress, int peerPort);

// Shuts the connection down in both directions (the socket itself is left for
// cpp-httplib to close). False when the connection could not be found.
bool DropConnection(const httplib::Request& req);

// Aborts the connection: the client gets a TCP reset instead of an orderly
// close. False when the connection could not be found.
bool ResetConnection(const httplib::Request& req);

} // namespace devserver
