// Command line of kvl-devserver.
#pragma once

#include <string>
#include <vector>

namespace devserver {

constexpr int kDefaultPort = 5016;
constexpr int kDefaultFilesPort = 5017;
constexpr int kDefaultFilesTlsPort = 5018;
constexpr int kHighestPort = 65535;

// File names inside a --pki folder, as scripts/make-test-pki.sh writes them.
constexpr const char* kPkiCaFile = "ca.pem";
constexpr const char* kPkiCertFile = "server_cert.pem";
constexpr const char* kPkiKeyFile = "server_key.pem";

struct Options {
    int port = kDefaultPort;
    int filesPort = kDefaultFilesPort;
    int filesTlsPort = kDefaultFilesTlsPort;
    std::string ca;
    std::string cert;
    std::string key;
    std::string state;
    std::string requestLog;
    std::string files;
    std::string readyFile;
    bool help = false;
};

// Accepts "--name value" and "--name=value". --pki DIR fills whichever of
// --ca, --cert and --key are not given. False with the reason on any error.
bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error);

std::string UsageText();

} // namespace devserver
