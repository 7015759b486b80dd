// Fetches a configuration file without ever losing the one it replaces. The
// bytes go to a scratch file beside the target, and only a complete transfer
// of the file itself (not an error page) is moved over the target; anything
// else leaves the old file as it was, so the VPN keeps a working
// configuration until a good one has arrived.
#pragma once

#include "part_file.h"

// What a fetched file may hold: any body, or (the VPN configuration file,
// which an empty file would leave the VPN without) at least one byte.
enum class FetchedBody { kAny, kNotEmpty };

// Fetches `url` and puts it at `filePath`, replacing any file there. Returns
// 1 when the file was fetched whole and is in place; 0 when the transfer
// failed or was cut short, the server answered with anything but success
// (a redirection included: none is followed), the body was empty where
// `body` is kNotEmpty, or the file could not be put in place. On 0 the
// scratch file is gone and an earlier file at `filePath` is untouched.
// `serverCaFile` is DownloadToFile's: the CA an https server must chain to.
int FetchConfigFile(const char* url, const char* filePath, FetchedBody body, const char* serverCaFile);
