#include "options.h"

#include <charconv>

namespace devserver {
namespace {

bool ParsePort(const std::string& name, const std::string& text, int& port, std::string& error)
{
    int value = -1;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < 0 || value > kHighestPort) {
        error = name + " wants a port number from 0 to " + std::to_string(kHighestPort) + ", not \"" + text + "\"";
        return false;
    }
    port = value;
    return true;
}

} // namespace

bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error)
{
    Options o;
    std::string pki;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        const std::size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            o.help = true;
            continue;
        }
        std::string* target = nullptr;
        if (name == "--ca")
            target = &o.ca;
        else if (name == "--cert")
            target = &o.cert;
        else if (name == "--key")
            target = &o.key;
        else if (name == "--pki")
            target = &pki;
        else if (name == "--state")
            target = &o.state;
        else if (name == "--request-log")
            target = &o.requestLog;
        else if (name == "--files")
            target = &o.files;
        else if (name == "--ready-file")
            target = &o.readyFile;
        else if (name != "--port" && name != "--files-port" && name != "--files-tls-port") {
            error = "unknown option \"" + args[i] + "\" (see --help)";
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (target != nullptr) {
            if (value.empty()) {
                error = name + " needs a non-empty value";
                return false;
            }
            *target = value;
        } else {
            int& port = name == "--port" ? o.port : name == "--files-port" ? o.filesPort : o.filesTlsPort;
            if (!ParsePort(name, value, port, error))
                return false;
        }
    }
    if (o.help) {
        out = o;
        return true;
    }
    if (!pki.empty()) {
        const std::string dir = pki.back() == '/' ? pki : pki + "/";
        if (o.ca.empty())
            o.ca = dir + kPkiCaFile;
        if (o.cert.empty())
            o.cert = dir + kPkiCertFile;
        if (o.key.empty())
            o.key = dir + kPkiKeyFile;
    }
    if (o.ca.empty() || o.cert.empty() || o.key.empty()) {
        error = "the TLS files are missing: give --pki DIR, or --ca, --cert and --key";
        return false;
    }
    if ((o.port != 0 && (o.port == o.filesPort || o.port == o.filesTlsPort)) ||
        (o.filesPort != 0 && o.filesPort == o.filesTlsPort)) {
        error = "--port, --files-port and --files-tls-port must differ";
        return false;
    }
    out = o;
    return true;
}

std::string UsageText()
{
    return R"(kvl-devserver: development update server for the VPNKorv update client.

Usage: kvl-devserver [options]

HTTPS update server on 127.0.0.1 (client certificate required), and a file
server on 127.0.0.1 for configuration files and packages, over plain HTTP and
over HTTPS (the server certificate, no client certificate asked for).

TLS:
  --pki DIR            folder made by scripts/make-test-pki.sh: ca.pem,
                       server_cert.pem and server_key.pem in it
  --ca FILE            CA certificate(s) (PEM) that client certificates must
                       be signed by
  --cert FILE          server certificate (PEM, may hold the chain), of both
                       HTTPS listeners
  --key FILE           server private key (PEM, unencrypted)
                       (--ca, --cert and --key override the --pki names)

Listeners (127.0.0.1 only; 0 picks a free port):
  --port N             HTTPS update server port (default 5016)
  --files-port N       HTTP file server port (default 5017)
  --files-tls-port N   HTTPS file server port (default 5018)
  --ready-file FILE    once all three listen, write "port=N", "files_port=M"
                       and "files_tls_port=K" lines to FILE (written whole,
                       by renaming); removed again at exit

Behaviour:
  --state FILE         JSON state file with the answers per subscriber and
                       the misbehaviours; re-read on every request, a broken
                       file keeps the last good state (see docs/devserver.md).
                       Without it every subscriber is unknown.
  --files DIR          folder the file server serves (GET only); without it
                       every download answers 404
  --request-log FILE   append one JSON line per request to FILE, flushed
                       at once

  --help, -h           this text

SIGINT (Ctrl+C) or SIGTERM ends the server cleanly (exit status 0).
)";
}

} // namespace devserver
