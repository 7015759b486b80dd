// TLS contexts of the two HTTPS listeners: the update server (its certificate
// and key, and a client certificate that must be signed by the given CA) and
// the file server (the same certificate and key, no client certificate).
#pragma once

#include <string>

#include <openssl/ssl.h>

namespace devserver {

bool ConfigureServerTls(SSL_CTX& ctx, const std::string& caFile, const std::string& certFile,
                        const std::string& keyFile, std::string& error);

// The file server's: it proves itself with the server certificate and asks
// nothing of the client, as a download server on the internet would.
bool ConfigureFilesTls(SSL_CTX& ctx, const std::string& certFile, const std::string& keyFile, std::string& error);

// Subject of the client certificate of a connection (RFC 2253 form), or an
// empty string.
std::string PeerSubject(const SSL* ssl);

} // namespace devserver
