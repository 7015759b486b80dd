#include "server_certificate.h"

#include <wininet.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "crypt_handles.h"
#include "ferolin_limits.h"
#include "unique_resource.h"
#include "win_handles.h"

namespace {

constexpr DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char kPemBegin[] = "-----BEGIN CERTIFICATE-----";
constexpr char kPemEnd[] = "-----END CERTIFICATE-----";

// The engine's configuration up to its exclusive stores, which Windows 7
// introduced (the header is compiled for Windows 7), and the same with the
// exclusive flags Windows 8 added after them. Wine 8 refuses the larger size.
constexpr DWORD kChainEngineConfigSize =
    offsetof(CERT_CHAIN_ENGINE_CONFIG, hExclusiveTrustedPeople) + sizeof(HCERTSTORE);
struct ChainEngineConfigWithFlags {
    CERT_CHAIN_ENGINE_CONFIG base;
    DWORD dwExclusiveFlags;
};
static_assert(offsetof(ChainEngineConfigWithFlags, dwExclusiveFlags) == kChainEngineConfigSize,
              "the exclusive flags follow the exclusive stores directly");
// Lets a CA certificate of the exclusive root store end a chain; without it
// only a self-signed certificate there does.
constexpr DWORD kExclusiveEnableCa = 0x1;

bool ReadWholeFile(const char* path, std::string* text)
{
    FileStream file(std::fopen(path, "rb"));
    if (!file)
        return false;
    char chunk[4096];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        if (got == 0)
            break;
        if (text->size() + got > kServerCaFileBytesLimit)
            return false;
        text->append(chunk, got);
    }
    return std::ferror(file.get()) == 0;
}

// Every certificate block of the PEM text into `store`. A block that does not
// decode refuses the whole file: half a file of roots is not what the
// installation asked for.
bool AddPemCertificates(const std::string& pem, HCERTSTORE store)
{
    int added = 0;
    for (std::size_t at = pem.find(kPemBegin); at != std::string::npos; at = pem.find(kPemBegin, at)) {
        const std::size_t end = pem.find(kPemEnd, at);
        if (end == std::string::npos)
            return false;
        const std::size_t blockEnd = end + sizeof kPemEnd - 1;
        const DWORD blockLength = static_cast<DWORD>(blockEnd - at);
        DWORD derSize = 0;
        if (!CryptStringToBinaryA(pem.data() + at, blockLength, CRYPT_STRING_BASE64HEADER, nullptr, &derSize, nullptr,
                                  nullptr))
            return false;
        std::vector<BYTE> der(derSize);
        if (!CryptStringToBinaryA(pem.data() + at, blockLength, CRYPT_STRING_BASE64HEADER, der.data(), &derSize,
                                  nullptr, nullptr) ||
            !CertAddEncodedCertificateToStore(store, kCertEncoding, der.data(), derSize, CERT_STORE_ADD_USE_EXISTING,
                                              nullptr))
            return false;
        ++added;
        at = blockEnd;
    }
    return added > 0;
}

// Strict dotted decimal, four parts of 0 to 255, into network order. A part
// with a leading zero is not taken: the resolver may read it as octal and
// connect elsewhere than the address compared.
bool ParseIpv4(const char* text, BYTE address[4])
{
    const char* c = text;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *c++ != '.')
            return false;
        if (c[0] == '0' && c[1] >= '0' && c[1] <= '9')
            return false;
        unsigned value = 0;
        int digits = 0;
        for (; *c >= '0' && *c <= '9'; ++c, ++digits) {
            value = value * 10 + static_cast<unsigned>(*c - '0');
            if (digits == 3 || value > 255)
                return false;
        }
        if (digits == 0)
            return false;
        address[part] = static_cast<BYTE>(value);
    }
    return *c == '\0';
}

// An iPAddress entry of the subject alternative names equal to `address`.
// crypt32's SSL policy compares DNS names only (Wine's does), so an address
// is matched here; a certificate's common name never stands for an address.
bool NamesAddress(PCCERT_CONTEXT cert, const BYTE address[4])
{
    PCERT_EXTENSION extension =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
    if (extension == nullptr)
        return false;
    LocalMemory<CERT_ALT_NAME_INFO> names;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(kCertEncoding, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, names.out(), &size))
        return false;
    for (DWORD i = 0; i < names.get()->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names.get()->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == 4 &&
            std::memcmp(entry.IPAddress.pbData, address, 4) == 0)
            return true;
    }
    return false;
}

// What the server sent with its certificate, less any certificate issued by
// its own subject: an anchor only ever comes from the file, and a root the
// server sent would otherwise end the chain as an unknown root above an
// intermediate of the file.
bool CopyIssuersSent(HCERTSTORE sent, HCERTSTORE issuers)
{
    for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(sent, nullptr); cert != nullptr;
         cert = CertEnumCertificatesInStore(sent, cert)) {
        if (CertCompareCertificateName(kCertEncoding, &cert->pCertInfo->Subject, &cert->pCertInfo->Issuer))
            continue;
        if (!CertAddCertificateContextToStore(issuers, cert, CERT_STORE_ADD_USE_EXISTING, nullptr)) {
            CertFreeCertificateContext(cert);
            return false;
        }
    }
    return true;
}

// The engine whose only roots are `roots`, offline, where a CA certificate
// of `roots` is trusted too when the system knows how (Windows 8 and later).
bool CreateEngine(HCERTSTORE roots, CertChainEngine* engine)
{
    ChainEngineConfigWithFlags config = {};
    config.base.hExclusiveRoot = roots;
    // A missing issuer is never fetched: the service must not reach out to a
    // URL named by a certificate from inside a check.
    config.base.dwFlags = CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL;
    config.base.cbSize = sizeof config;
    config.dwExclusiveFlags = kExclusiveEnableCa;
    if (CertCreateCertificateChainEngine(&config.base, engine->out()))
        return true;
    config.base.cbSize = kChainEngineConfigSize;
    return CertCreateCertificateChainEngine(&config.base, engine->out()) != FALSE;
}

// A chain that stops, short of a root, at a certificate of the file itself,
// with no other fault: the certificate the installation trusts is its anchor.
// This is how the checks' TLS library treats an intermediate of the same file,
// and how the engine of Windows 8 and later treats it when told to; an engine
// that cannot be told so (Windows 7, Wine) gives this partial chain, which is
// taken here so that both transports agree on every system.
bool EndsAtFileCertificate(PCCERT_CHAIN_CONTEXT chain, HCERTSTORE roots)
{
    if (chain->TrustStatus.dwErrorStatus != CERT_TRUST_IS_PARTIAL_CHAIN || chain->cChain != 1)
        return false;
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    if (simple->cElement < 2)
        return false;
    PCCERT_CONTEXT top = simple->rgpElement[simple->cElement - 1]->pCertContext;
    // The same bytes, not only the same issuer and serial number.
    for (PCCERT_CONTEXT own = CertEnumCertificatesInStore(roots, nullptr); own != nullptr;
         own = CertEnumCertificatesInStore(roots, own)) {
        if (own->cbCertEncoded == top->cbCertEncoded &&
            std::memcmp(own->pbCertEncoded, top->pbCertEncoded, top->cbCertEncoded) == 0) {
            CertFreeCertificateContext(own);
            return true;
        }
    }
    return false;
}

// The SSL policy for a server; `host` null leaves the name to the caller.
// `anchoredInFile`: the chain's partial end was already found to be the
// file's, so the policy must not refuse it as unknown.
bool PassesSslPolicy(PCCERT_CHAIN_CONTEXT chain, const char* host, bool anchoredInFile)
{
    wchar_t wideHost[INTERNET_MAX_HOST_NAME_LENGTH];
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    if (host != nullptr) {
        if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, host, -1, wideHost, sizeof wideHost / sizeof *wideHost) ==
            0)
            return false;
        ssl.pwszServerName = wideHost;
    } else {
        ssl.fdwChecks = SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    }
    if (anchoredInFile)
        ssl.fdwChecks |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) && status.dwError == 0;
}

} // namespace

int ServerChainsToCaFile(PCCERT_CONTEXT serverCert, const char* caFile, const char* host)
{
    std::string pem;
    if (serverCert == nullptr || !ReadWholeFile(caFile, &pem))
        return 0;
    CertStore roots(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    if (!roots || !AddPemCertificates(pem, roots.get()))
        return 0;

    CertStore issuers(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    if (!issuers || !CopyIssuersSent(serverCert->hCertStore, issuers.get()))
        return 0;
    CertChainEngine engine;
    if (!CreateEngine(roots.get(), &engine))
        return 0;

    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    CertChain chain;
    if (!CertGetCertificateChain(engine.get(), serverCert, nullptr, issuers.get(), &para,
                                 CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_DISABLE_AIA, nullptr, chain.out()))
        return 0;
    bool anchoredInFile = false;
    if (chain.get()->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) {
        anchoredInFile = EndsAtFileCertificate(chain.get(), roots.get());
        if (!anchoredInFile)
            return 0;
    }

    BYTE address[4];
    if (ParseIpv4(host, address))
        return NamesAddress(serverCert, address) && PassesSslPolicy(chain.get(), nullptr, anchoredInFile) ? 1 : 0;
    return PassesSslPolicy(chain.get(), host, anchoredInFile) ? 1 : 0;
}
