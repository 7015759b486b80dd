#include "client_pair.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "bounded_format.h"
#include "installation_files.h"
#include "tls_setup.h"
#include "unique_resource.h"

namespace {

struct BioTraits {
    using Handle = BIO*;
    static Handle None() { return nullptr; }
    static void Close(Handle bio) { BIO_free(bio); }
};
struct X509Traits {
    using Handle = X509*;
    static Handle None() { return nullptr; }
    static void Close(Handle cert) { X509_free(cert); }
};
struct KeyTraits {
    using Handle = EVP_PKEY*;
    static Handle None() { return nullptr; }
    static void Close(Handle key) { EVP_PKEY_free(key); }
};

// The pass phrase callback of PEM reading: always the library's fixed phrase,
// never a prompt on the console.
int LibraryPassPhrase(char* buffer, int size, int, void*)
{
    if (CopyWhole(buffer, static_cast<std::size_t>(size), kKeyPassPhrase) == 0)
        return 0;
    return static_cast<int>(sizeof kKeyPassPhrase - 1);
}

} // namespace

int CheckClientPair(const char* certFile, const char* keyFile, char* message, std::size_t size)
{
    // The first OpenSSL call of this program: it must not be the one that
    // reads a configuration file (and loads the DLLs it names).
    if (!InitTlsWithoutConfiguration()) {
        FormatWhole(message, size, "client certificate %s: the TLS library could not be initialised", certFile);
        return 0;
    }
    UniqueResource<BioTraits> certBio(BIO_new_file(certFile, "rb"));
    UniqueResource<X509Traits> cert(certBio ? PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!cert) {
        ERR_clear_error();
        FormatWhole(message, size, "client certificate %s: no PEM certificate could be read", certFile);
        return 0;
    }
    UniqueResource<BioTraits> keyBio(BIO_new_file(keyFile, "rb"));
    UniqueResource<KeyTraits> key(keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, LibraryPassPhrase, nullptr)
                                         : nullptr);
    if (!key) {
        ERR_clear_error();
        FormatWhole(message, size, "client key %s: does not open with the library's pass phrase", keyFile);
        return 0;
    }
    if (X509_check_private_key(cert.get(), key.get()) != 1) {
        ERR_clear_error();
        FormatWhole(message, size, "client key %s: does not belong to the certificate %s", keyFile, certFile);
        return 0;
    }
    message[0] = '\0';
    return 1;
}

int CheckCertificateFile(const char* file, const char* what, char* message, std::size_t size)
{
    UniqueResource<BioTraits> bio(BIO_new_file(file, "rb"));
    int certificates = 0;
    while (bio) {
        UniqueResource<X509Traits> cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
        if (!cert)
            break;
        ++certificates;
    }
    // The reading ends at the file's end with "no start line"; any other
    // error is a block that is not a whole certificate.
    unsigned long error = ERR_peek_last_error();
    bool atEnd = ERR_GET_LIB(error) == ERR_LIB_PEM && ERR_GET_REASON(error) == PEM_R_NO_START_LINE;
    ERR_clear_error();
    if (!bio || certificates == 0 || !atEnd) {
        FormatWhole(message, size, "%s %s: not one or more PEM certificates", what, file);
        return 0;
    }
    message[0] = '\0';
    return 1;
}
