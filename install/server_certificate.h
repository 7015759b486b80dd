// Checks a TLS server's certificate against a CA file of the installation's
// own, instead of the Windows certificate store: the opt-in server
// verification of the package download.
#pragma once

#include <windows.h>
#include <wincrypt.h>

// 1 when `serverCert` chains, through the certificates the server sent with
// it (its store), to a certificate of the PEM file `caFile` (one or more
// certificates, a root or an intermediate CA; only these are anchors here,
// the Windows store's roots are not, and nothing missing is fetched from the
// network), the chain holds no error (validity dates, signatures, basic
// constraints, server-authentication usage), and the certificate names
// `host`: a DNS name by the SSL policy of crypt32, an IPv4 address by an
// iPAddress entry of its subject alternative names. 0 otherwise, also when
// the file is empty, too large or holds a block that does not decode.
int ServerChainsToCaFile(PCCERT_CONTEXT serverCert, const char* caFile, const char* host);
