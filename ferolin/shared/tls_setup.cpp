#include "tls_setup.h"

#include <windows.h>

#include <openssl/crypto.h>
#include <openssl/ssl.h>

int InitTlsWithoutConfiguration()
{
    // OpenSSL registers its clean-up with the process's exit handlers, and
    // that code lives in this module. Built without its DLL loader, OpenSSL
    // no longer pins the module itself, so a program that frees Ferolin.dll
    // would call into freed memory at exit: keep the module for the life of
    // the process, as OpenSSL's own pin did.
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCSTR>(&InitTlsWithoutConfiguration), &self))
        return 0;
    // OpenSSL reads its configuration at most once per process: a first
    // initialisation without it means libcurl's own request for it (and any
    // later default initialisation) finds it done and reads nothing. The
    // configuration is where a provider or engine DLL would be named.
    return OPENSSL_init_ssl(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1 ? 1 : 0;
}
