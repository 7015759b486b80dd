#include "check_test_support.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>

#include "settings_names.h"

namespace {

// The text of the JSON string member `name` in a request log line; escapes
// are left as they stand (the values the tests look at have none).
std::string MemberText(const std::string& line, const std::string& name)
{
    const std::string key = "\"" + name + "\":\"";
    std::size_t at = line.find(key);
    if (at == std::string::npos)
        return "";
    std::size_t start = at + key.size();
    std::size_t end = line.find('"', start);
    return end == std::string::npos ? "" : line.substr(start, end - start);
}

// The whole object that follows `"name":` in a log line (no nested objects
// inside it).
std::string ObjectText(const std::string& line, const std::string& name)
{
    const std::string key = "\"" + name + "\":{";
    std::size_t at = line.find(key);
    if (at == std::string::npos)
        return "";
    std::size_t start = at + key.size() - 1;
    std::size_t end = line.find('}', start);
    return end == std::string::npos ? "" : line.substr(start, end - start + 1);
}

void CollectTree(const std::string& root, const std::string& relative, std::map<std::string, std::string>& tree)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((root + "\\" + relative + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            tree[relative + name + "\\"] = "";
            CollectTree(root, relative + name + "\\", tree);
        } else {
            tree[relative + name] = ReadWholeFile(root + "\\" + relative + name).value_or("<unreadable>");
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

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

std::map<std::string, std::string> TreeOf(const std::string& root)
{
    std::map<std::string, std::string> tree;
    CollectTree(root, "", tree);
    return tree;
}

void RemoveTree(const std::string& root)
{
    std::map<std::string, std::string> tree = TreeOf(root);
    // Reverse order: a folder's contents come after it in the map.
    for (auto entry = tree.rbegin(); entry != tree.rend(); ++entry) {
        const std::string path = root + "\\" + entry->first;
        if (!entry->first.empty() && entry->first.back() == '\\')
            RemoveDirectoryA(path.c_str());
        else
            DeleteFileA(path.c_str());
    }
    RemoveDirectoryA(root.c_str());
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
    RemoveTree(kTestRoot);
    ASSERT_TRUE(CreateDirectoryA(kTestRoot, nullptr));
    ASSERT_TRUE(CreateDirectoryA(kTestInstallDir, nullptr));
    ASSERT_TRUE(CreateDirectoryA(kTestConfigDir, nullptr));
    const std::string bin = std::string(kTestInstallDir) + "bin";
    ASSERT_TRUE(CreateDirectoryA(bin.c_str(), nullptr));
    const std::string pki = DevserverRunDir() + "pki\\";
    ASSERT_TRUE(CopyFileA((pki + pair + "cert.pem").c_str(), (bin + "\\client_cert.pem").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((pki + pair + "key.pem").c_str(), (bin + "\\client_key.pem").c_str(), FALSE));
}

void CheckTest::SetUp()
{
    ASSERT_FALSE(DevserverRunDir().empty()) << "KVL_DEVSERVER_DIR is not set";
    port_ = DevserverReadyValue("port");
    filesPort_ = DevserverReadyValue("files_port");
    filesTlsPort_ = DevserverReadyValue("files_tls_port");
    ASSERT_FALSE(port_.empty()) << "no devserver ready file in " << DevserverRunDir();

    MakeTestInstallation("client_");

    ASSERT_TRUE(SetSettingForTest(kValueUserLogin, kTestUser));
    ASSERT_TRUE(SetSettingForTest(kValueUpdateServer, "https://127.0.0.1:" + port_ + "/"));
    ASSERT_TRUE(SetSettingForTest(kValueInstallDir, kTestInstallDir));
    ASSERT_TRUE(SetSettingForTest(kValueConfigDir, kTestConfigDir));
    // What the checks write starts absent; the snapshot puts back whatever
    // was there before the case.
    for (const char* name :
         {kValueNewSoftwareVersion, kValueSoftwareUrl,     kValueSoftwareFile,    kValueConfigVersion,
          kValueFileVersion,        kValueConfigFile,      kValueConfigUrl,       kValueConfigSubDir,
          kValueConfigPath,         kValueCommandCode1,    kValueCommandCode3,    kValueCommandCode4,
          kValueCommandCode6,       kValueCommandCode7,    kValueCommandCode8,    kValueCommandVersion1,
          kValueCommandVersion3,    kValueCommandVersion4, kValueCommandVersion6, kValueCommandVersion7,
          kValueCommandVersion8})
        DeleteSettingForTest(name);

    SetState("{}");
    logStart_ = ReadWholeFile(DevserverRunDir() + "requests.log").value_or("").size();
}

void CheckTest::SetState(const std::string& json)
{
    const std::string staged = DevserverRunDir() + "state.json.new";
    ASSERT_TRUE(WriteWholeFile(staged, json));
    ASSERT_TRUE(MoveFileExA(staged.c_str(), (DevserverRunDir() + "state.json").c_str(), MOVEFILE_REPLACE_EXISTING));
}

void CheckTest::ServeFile(const std::string& relativePath, const std::string& content)
{
    std::string path = DevserverRunDir() + "files";
    std::size_t from = 0;
    for (;;) {
        std::size_t slash = relativePath.find('/', from);
        if (slash == std::string::npos)
            break;
        path += "\\" + relativePath.substr(from, slash - from);
        CreateDirectoryA(path.c_str(), nullptr);
        from = slash + 1;
    }
    ASSERT_TRUE(WriteWholeFile(path + "\\" + relativePath.substr(from), content)) << relativePath;
}

std::vector<std::string> CheckTest::NewLogLines() const
{
    std::string log = ReadWholeFile(DevserverRunDir() + "requests.log").value_or("");
    std::vector<std::string> lines;
    std::size_t at = logStart_;
    while (at < log.size()) {
        std::size_t end = log.find('\n', at);
        if (end == std::string::npos)
            end = log.size();
        if (end > at)
            lines.push_back(log.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

std::vector<std::string> CheckTest::RequestMembers(const std::string& method) const
{
    std::vector<std::string> requests;
    for (const std::string& line : NewLogLines())
        if (MemberText(line, "server") == "update" && MemberText(line, "method") == method)
            requests.push_back(ObjectText(line, "members"));
    return requests;
}

std::vector<std::string> CheckTest::FileRequests() const
{
    std::vector<std::string> paths;
    for (const std::string& line : NewLogLines())
        if (MemberText(line, "server") == "files")
            paths.push_back(MemberText(line, "path"));
    return paths;
}
