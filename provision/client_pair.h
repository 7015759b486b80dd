// The client certificate and key as the library's transport will load them.
#pragma once

#include <cstddef>

// 1 when `certFile` holds a PEM certificate and `keyFile` a PEM private key
// that opens with the library's pass phrase and belongs to that certificate;
// otherwise 0 and `message` (capacity `size`) says which of the three failed.
int CheckClientPair(const char* certFile, const char* keyFile, char* message, std::size_t size);

// 1 when `file` holds one or more PEM certificates and nothing that fails to
// parse as one (text outside the PEM blocks is ignored, as the transport's
// loader ignores it); otherwise 0 and `message` says so.
// `what` names the file in the message ("server CA", "publisher certificate").
int CheckCertificateFile(const char* file, const char* what, char* message, std::size_t size);
