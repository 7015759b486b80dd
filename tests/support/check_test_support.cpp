#include "check_test_support.h"

#include <windows.h>
#include <wincrypt.h>

#include "settings_names.h"

namespace {

// The registry store of the local machine's system store "Root", opened for
// writing. Opened as such rather than as the whole system store: Wine deletes
// a certificate found through the system store's collection from the
// collection only, and the registry keeps it.
HCERTSTORE OpenMachineRoot()
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
}

constexpr DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

} // namespace

TrustedRootForTest::TrustedRootForTest(const std::string& pemFile)
{
    const std::string pem = ReadWholeFile(pemFile).value_or("");
    DWORD size = 0;
    if (pem.empty() ||
        !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr))
        return;
    der_.resize(size);
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der_.data(),
                              &size, nullptr, nullptr))
        return;
    der_.resize(size);
    HCERTSTORE store = OpenMachineRoot();
    if (store == nullptr)
        return;
    added_ = CertAddEncodedCertificateToStore(store, kCertEncoding, der_.data(), static_cast<DWORD>(der_.size()),
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    CertCloseStore(store, 0);
}

TrustedRootForTest::~TrustedRootForTest()
{
    if (!added_)
        return;
    HCERTSTORE store = OpenMachineRoot();
    if (store == nullptr)
        return;
    PCCERT_CONTEXT wanted = CertCreateCertificateContext(kCertEncoding, der_.data(), static_cast<DWORD>(der_.size()));
    if (wanted != nullptr) {
        // Found by its exact encoding; deleting frees the found context.
        PCCERT_CONTEXT found = CertFindCertificateInStore(store, kCertEncoding, 0, CERT_FIND_EXISTING, wanted, nullptr);
        if (found != nullptr)
            CertDeleteCertificateFromStore(found);
        CertFreeCertificateContext(wanted);
    }
    CertCloseStore(store, 0);
}

std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

void CheckTest::MakeTestInstallation(const std::string& pair)
{
    ASSERT_TRUE(MakeScratchInstallation());
    ASSERT_TRUE(InstallClientPair(kTestInstallDir, pair));
}

void CheckTest::SetUp()
{
    ASSERT_FALSE(DevserverRunDir().empty()) << "KVL_DEVSERVER_DIR is not set";
    port_ = DevserverReadyValue("port");
    filesPort_ = DevserverReadyValue("files_port");
    filesTlsPort_ = DevserverReadyValue("files_tls_port");
    ASSERT_FALSE(port_.empty()) << "no devserver ready file in " << DevserverRunDir();

    MakeTestInstallation("client_");

    ASSERT_TRUE(SetSettingsForTest({{kValueUserLogin, kTestUser},
                                    {kValuePasswordLogin, kTestPassword},
                                    {kValueUpdateServer, ServerUrl()},
                                    {kValueInstallDir, kTestInstallDir},
                                    {kValueConfigDir, kTestConfigDir}}));
    // What the checks and the loop write starts absent; the snapshot puts
    // back whatever was there before the case.
    for (const char* name :
         {kValueStatus,          kValueStatusMessage,   kValueStatusVersion,   kValueStatusInt,
          kValueStatusPer,       kValueStatusDay,       kValueStatusTime,      kValueLastTime,
          kValueFirstTime,       kValueUpdateHours,     kValueUpdateState,     kValueConfigOnly,
          kValueConfigState,     kValueNewSoftwareVersion, kValueSoftwareUrl,  kValueSoftwareFile,
          kValueConfigVersion,   kValueFileVersion,     kValueConfigFile,      kValueConfigUrl,
          kValueConfigSubDir,    kValueConfigPath,      kValueCommandCode1,    kValueCommandCode3,
          kValueCommandCode4,    kValueCommandCode6,    kValueCommandCode7,    kValueCommandCode8,
          kValueCommandVersion1, kValueCommandVersion3, kValueCommandVersion4, kValueCommandVersion6,
          kValueCommandVersion7, kValueCommandVersion8})
        DeleteSettingForTest(name);

    SetState("{}");
    log_.Mark();
}

std::vector<std::string> CheckTest::RequestMembers(const std::string& method) const
{
    std::vector<std::string> requests;
    for (const LoggedRequest& request : NewRequests())
        if (request.server == "update" && request.method == method)
            requests.push_back(request.members);
    return requests;
}

std::vector<std::string> CheckTest::FileRequests() const
{
    std::vector<std::string> paths;
    for (const LoggedRequest& request : NewRequests())
        if (request.server == "files")
            paths.push_back(request.path);
    return paths;
}
