#include "tls_setup.h"

#include <memory>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include "server_control.h"

namespace devserver {
namespace {

constexpr std::size_t kOpenSslErrorText = 256;

std::string OpenSslErrors()
{
    std::string out;
    unsigned long code;
    while ((code = ERR_get_error()) != 0) {
        char text[kOpenSslErrorText];
        ERR_error_string_n(code, text, sizeof text);
        if (!out.empty())
            out += "; ";
        out += text;
    }
    return out.empty() ? std::string("no detail from OpenSSL") : out;
}

std::string NameText(const X509_NAME* name)
{
    if (name == nullptr)
        return std::string();
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    if (!bio)
        return std::string();
    if (X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253) < 0)
        return std::string();
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    if (length <= 0 || data == nullptr)
        return std::string();
    return std::string(data, static_cast<std::size_t>(length));
}

// Says why a client certificate was refused; the handshake failure alone
// would leave a person guessing.
int VerifyClient(int preverifyOk, X509_STORE_CTX* store)
{
    if (preverifyOk == 0) {
        X509* cert = X509_STORE_CTX_get_current_cert(store);
        const int err = X509_STORE_CTX_get_error(store);
        Diag("client certificate refused: " + NameText(cert ? X509_get_subject_name(cert) : nullptr) + ": " +
             X509_verify_cert_error_string(err));
    }
    return preverifyOk;
}

// Fatal alerts only: every orderly close sends a warning-level close_notify.
void TellAlerts(const SSL* /*ssl*/, int where, int value)
{
    constexpr int kAlertLevelShift = 8;
    constexpr int kAlertDescriptionMask = 0xff;
    // TLS 1.3's certificate_required, which OpenSSL 3.0 has no text for.
    constexpr int kCertificateRequired = 116;
    if ((where & SSL_CB_WRITE_ALERT) != 0 && (value >> kAlertLevelShift) == SSL3_AL_FATAL) {
        const int description = value & kAlertDescriptionMask;
        std::string text = SSL_alert_desc_string_long(value);
        if (description == kCertificateRequired)
            text = "certificate required: the client sent no certificate";
        Diag("TLS handshake refused, alert " + std::to_string(description) + " (" + text + ") sent to the client");
    }
}

// What both listeners share: TLS 1.2 or later, and the server's certificate
// and key.
bool UseServerCertificate(SSL_CTX& ctx, const std::string& certFile, const std::string& keyFile, std::string& error)
{
    ERR_clear_error();
    // The client asks for TLS 1.2 or later.
    if (SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION) != 1) {
        error = "cannot require TLS 1.2: " + OpenSslErrors();
        return false;
    }
    SSL_CTX_set_options(&ctx, SSL_OP_NO_COMPRESSION);
    if (SSL_CTX_use_certificate_chain_file(&ctx, certFile.c_str()) != 1) {
        error = "server certificate " + certFile + ": " + OpenSslErrors();
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(&ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        error = "server key " + keyFile + ": " + OpenSslErrors();
        return false;
    }
    if (SSL_CTX_check_private_key(&ctx) != 1) {
        error = "server key " + keyFile + " does not belong to " + certFile + ": " + OpenSslErrors();
        return false;
    }
    return true;
}

} // namespace

bool ConfigureFilesTls(SSL_CTX& ctx, const std::string& certFile, const std::string& keyFile, std::string& error)
{
    if (!UseServerCertificate(ctx, certFile, keyFile, error))
        return false;
    SSL_CTX_set_verify(&ctx, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_info_callback(&ctx, &TellAlerts);
    return true;
}

bool ConfigureServerTls(SSL_CTX& ctx, const std::string& caFile, const std::string& certFile,
                        const std::string& keyFile, std::string& error)
{
    if (!UseServerCertificate(ctx, certFile, keyFile, error))
        return false;
    if (SSL_CTX_load_verify_locations(&ctx, caFile.c_str(), nullptr) != 1) {
        error = "CA file " + caFile + ": " + OpenSslErrors();
        return false;
    }
    STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(caFile.c_str());
    if (names == nullptr) {
        error = "CA file " + caFile + " holds no certificate: " + OpenSslErrors();
        return false;
    }
    SSL_CTX_set_client_CA_list(&ctx, names); // takes ownership
    SSL_CTX_set_verify(&ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, &VerifyClient);
    // A client that resumes its session on a second connection (libcurl
    // does, after a redirection or a closed keep-alive connection) is refused
    // with an internal error unless verified sessions carry a context.
    static const unsigned char kSessionContext[] = "kvl-devserver";
    SSL_CTX_set_session_id_context(&ctx, kSessionContext, sizeof kSessionContext - 1);
    SSL_CTX_set_info_callback(&ctx, &TellAlerts);
    return true;
}

std::string PeerSubject(const SSL* ssl)
{
    if (ssl == nullptr)
        return std::string();
    std::unique_ptr<X509, decltype(&X509_free)> cert(SSL_get1_peer_certificate(ssl), &X509_free);
    if (!cert)
        return std::string();
    return NameText(X509_get_subject_name(cert.get()));
}

} // namespace devserver
