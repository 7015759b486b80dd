// Downloads a URL into a file through WinINet: the software package of
// "-update", and the library's export VPNDownloadURLFile for other programs
// of the VPN client.
#pragma once

// Fetches `url` into `directory` immediately followed by `fileName` (no
// separator is added). An empty or null `directory` means the current
// directory; an empty or null `fileName` means the URL's text after its last
// "/" or "\". Returns 1 when the whole body of a successful reply is in the
// file, 0 otherwise: the URL is not http or https or cannot be opened, the
// server answers with an error status or more than kMaxRedirects
// redirections, the connection or a wait for data outlasts the transfer
// limits (transferLimits), the transfer fails or is cut short, the name is
// empty or longer than kDownloadNameLimit, or the path is longer than
// kDownloadPathLimit. On 0 no partial file is left and an earlier file of
// that name is untouched.
// When the installation (the settings key's directory) holds its server CA
// file (kServerCaFileName in bin), the URL must be https (an http URL gives
// 0), its server must present a certificate for the URL's host that chains to
// that file alone, and no redirection is followed. When that file is there
// but cannot be used (held open without sharing, a folder, unreadable),
// nothing is fetched and the result is 0. Without it, WinINet checks https
// servers against the Windows store.
int FetchURLToFile(const char* url, const char* directory, const char* fileName);

// The export: FetchURLToFile under the library's published name.
extern "C" int __stdcall VPNDownloadURLFile(const char* url, const char* directory, const char* fileName);
