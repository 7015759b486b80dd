// crypt32 objects (certificate stores, chain engines and chains), apart from
// win_handles.h so that only the code that verifies certificates includes
// wincrypt.h.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "unique_resource.h"

// A store from CertOpenStore (memory stores built from a PEM file).
struct CertStoreTraits {
    using Handle = HCERTSTORE;
    static Handle None() { return nullptr; }
    static void Close(Handle store) { CertCloseStore(store, 0); }
};
using CertStore = UniqueResource<CertStoreTraits>;

// A chain engine from CertCreateCertificateChainEngine.
struct CertChainEngineTraits {
    using Handle = HCERTCHAINENGINE;
    static Handle None() { return nullptr; }
    static void Close(Handle engine) { CertFreeCertificateChainEngine(engine); }
};
using CertChainEngine = UniqueResource<CertChainEngineTraits>;

// A chain from CertGetCertificateChain, or one that WinINet hands out for
// its connection (the caller frees it).
struct CertChainTraits {
    using Handle = PCCERT_CHAIN_CONTEXT;
    static Handle None() { return nullptr; }
    static void Close(Handle chain) { CertFreeCertificateChain(chain); }
};
using CertChain = UniqueResource<CertChainTraits>;
