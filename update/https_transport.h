// The two libcurl transfers of the library: the client-certificate POST of
// the check requests, and the plain download of a URL into a file. Both run
// inside a `Ferolin` call, where libcurl's global state is set up.
#pragma once

#include "ferolin_limits.h"
#include "ferolin_seams.h"

// The limits in force are `transferLimits` (ferolin_seams.h).

// Result when no transfer handle can be had.
inline constexpr int kNoTransferHandle = 2;

// Posts `body` to `url` as a form with the PEM client certificate `certFile`
// and the PEM key `keyFile` (protected by `keyPassPhrase`); the reply lands in
// ReplyBuffer, which is emptied first. Redirects are followed, at most
// kMaxRedirects of them, and only to https (the body carries the login and the
// password's digest). With `serverCaFile` `url` itself must be https too. Without
// `serverCaFile` the server's certificate and host are not verified; with it,
// an https server must present a certificate for its name that chains to that
// PEM file (and only to it). Returns kNoTransferHandle, or libcurl's result (0
// when the transfer completed, whatever HTTP status).
int PostRequest(const char* url, const char* body, const char* certFile, const char* keyPassPhrase, const char* keyFile,
                const char* serverCaFile);

// Fetches `url` into the file `path` (created or truncated). Redirections are
// not followed. `url` must be https when `serverCaFile` is given, else http
// or https; any other is a failed transfer. The transfer ends with an error
// after `transferLimits.configSeconds` or past `transferLimits.configBytes`
// bytes, and when it stays below the minimum speed. An https server must present a certificate for its name that
// chains to `serverCaFile` when one is given, else to a trusted root of the
// Windows certificate store (libcurl's CURLSSLOPT_NATIVE_CA; no other CA file
// or folder is read). The bytes are
// also appended to ReplyBuffer while they fit. Returns libcurl's result (0 when
// the transfer completed and every byte is in the file, whatever HTTP
// status), or a non-zero code when the file or the transfer handle cannot be
// created (then nothing is fetched) or the file cannot take all the bytes (a
// full disk: the write error, found at the latest when the file is closed).
// When `httpStatus` is given it receives the reply's HTTP status, 0 when no
// reply arrived: a caller that must not keep an error page as its file can
// tell one from the file it asked for.
int DownloadToFile(const char* url, const char* path, long* httpStatus = nullptr, const char* serverCaFile = nullptr);
