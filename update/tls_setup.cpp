#include "tls_setup.h"

#include <openssl/crypto.h>
#include <openssl/ssl.h>

int InitTlsWithoutConfiguration()
{
    // OpenSSL reads its configuration at most once per process: a first
    // initialisation without it means libcurl's own request for it (and any
    // later default initialisation) finds it done and reads nothing. The
    // configuration is where a provider or engine DLL would be named.
    return OPENSSL_init_ssl(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1 ? 1 : 0;
}
