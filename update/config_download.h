// Fetches a configuration file without ever losing the one it replaces. The
// bytes go to a scratch file beside the target, and only a complete transfer
// of the file itself (not an error page) is moved over the target; anything
// else leaves the old file as it was, so the VPN keeps a working
// configuration until a good one has arrived.
#pragma once

#include "part_file.h"

// Fetches `url` and puts it at `filePath`, replacing any file there. Returns
// 1 when the file was fetched whole and is in place; 0 when the transfer
// failed or was cut short, the server answered with anything but success, or
// the file could not be put in place. On 0 the scratch file is gone and an
// earlier file at `filePath` is untouched.
int FetchConfigFile(const char* url, const char* filePath);
