// The provisioning command against the real registry and files under Wine:
// what it refuses leaves the installation exactly as it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "provision_command.h"
#include "provision_seams.h"
#include "scratch_installation.h"
#include "settings_names.h"
#include "win_test_support.h"

namespace {

const char kBinDir[] = "C:\\kvlchecks\\inst\\bin\\";

std::string Pki(const char* file)
{
    const char* dir = std::getenv("KVL_PROVISION_PKI");
    return WindowsPathOfLinuxPath(std::string(dir != nullptr ? dir : "/nonexistent") + "/" + file);
}

std::string InBin(const char* file) { return std::string(kBinDir) + file; }

struct Outcome {
    int result;
    std::string output;
};

Outcome Provision(std::vector<std::string> words)
{
    std::FILE* out = std::tmpfile();
    int result = RunProvision(words, out);
    std::string output;
    std::rewind(out);
    for (int c; (c = std::fgetc(out)) != EOF;)
        output += static_cast<char>(c);
    std::fclose(out);
    return {result, output};
}

class Provisioning : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeScratchInstallation());
        ASSERT_TRUE(CreateDirectoryA(kBinDir, nullptr));
        ASSERT_TRUE(SetSettingForTest(kValueInstallDir, kTestInstallDir));
        ASSERT_TRUE(SetSettingForTest(kValueUserLogin, "before"));
        DeleteSettingForTest(kValueSoftwareVersion);
        ASSERT_TRUE(WriteWholeFile(InBin("client_cert.pem"), "former certificate"));
    }

    // Nothing of a refused run may remain: values, staged or former files.
    void ExpectUntouched()
    {
        EXPECT_EQ(GetSettingForTest(kValueUserLogin).value_or("<absent>"), "before");
        EXPECT_FALSE(GetSettingForTest(kValueSoftwareVersion).has_value());
        EXPECT_EQ(ReadWholeFile(InBin("client_cert.pem")).value_or("<absent>"), "former certificate");
        for (const char* file : {"client_key.pem", "client_cert.pem.new", "client_key.pem.new", "client_cert.pem.old"})
            EXPECT_FALSE(FileExists(InBin(file))) << file;
    }

    RegistrySnapshot snapshot_;
};

TEST_F(Provisioning, RefusedValuesAreNamedWithTheirLimitAndNothingIsWritten)
{
    Outcome run =
        Provision({"v_sw=2.0", "user_login=" + std::string(15, 'u'), "update_server=http://updates.example:5016/",
                   "cert=" + Pki("client_cert.pem"), "key=" + Pki("client_key.pem")});
    EXPECT_EQ(run.result, kProvisionValueRefused);
    EXPECT_NE(run.output.find("user_login: longer than 14 characters"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("update_server: not an https URL"), std::string::npos) << run.output;
    ExpectUntouched();

    EXPECT_EQ(Provision({"user_login=abc", "certificate=x"}).result, kProvisionUsage);
    EXPECT_EQ(Provision({"user_login=abc", "cert=" + Pki("client_cert.pem")}).result, kProvisionUsage);
    EXPECT_EQ(Provision({"user_login=abc", "user_login=abd"}).result, kProvisionUsage);
    ExpectUntouched();
}

TEST_F(Provisioning, ThePairMustOpenWithTheLibrarysPassPhraseAndMatch)
{
    Outcome wrongPhrase =
        Provision({"v_sw=2.0", "cert=" + Pki("client_cert.pem"), "key=" + Pki("wrong_phrase_key.pem")});
    EXPECT_EQ(wrongPhrase.result, kProvisionPairRefused);
    EXPECT_NE(wrongPhrase.output.find("pass phrase"), std::string::npos) << wrongPhrase.output;
    ExpectUntouched();

    Outcome otherKey = Provision({"v_sw=2.0", "cert=" + Pki("client_cert.pem"), "key=" + Pki("other_client_key.pem")});
    EXPECT_EQ(otherKey.result, kProvisionPairRefused);
    EXPECT_NE(otherKey.output.find("does not belong"), std::string::npos) << otherKey.output;
    ExpectUntouched();

    Outcome notACert = Provision({"v_sw=2.0", "cert=" + Pki("client_key.pem"), "key=" + Pki("client_key.pem")});
    EXPECT_EQ(notACert.result, kProvisionPairRefused);
    ExpectUntouched();

    Outcome notAPublisher = Provision({"v_sw=2.0", "publisher=" + Pki("publisher_key.pem")});
    EXPECT_EQ(notAPublisher.result, kProvisionPairRefused);
    EXPECT_NE(notAPublisher.output.find("publisher certificate"), std::string::npos) << notAPublisher.output;
    ExpectUntouched();
    EXPECT_FALSE(FileExists(InBin("publisher.pem")));
}

TEST_F(Provisioning, AcceptedValuesAndPairLandTogether)
{
    Outcome run = Provision({"-installer", "user_login=abc", "v_sw=2.0", "v_cmd=", "log_dir=C:\\Program Files\\KVL\\",
                             "cert=" + Pki("client_cert.pem"), "key=" + Pki("client_key.pem")});
    EXPECT_EQ(run.result, kProvisioned) << run.output;
    EXPECT_EQ(GetSettingForTest(kValueUserLogin).value_or(""), "abc");
    EXPECT_EQ(GetSettingForTest(kValueSoftwareVersion).value_or(""), "2.0");
    EXPECT_EQ(GetSettingForTest(kValueLogDir).value_or(""), "C:\\Program Files\\KVL\\");
    EXPECT_FALSE(GetSettingForTest(kValueCommandVersion).has_value()) << "the installer's empty values are skipped";
    EXPECT_EQ(ReadWholeFile(InBin("client_cert.pem")), ReadWholeFile(Pki("client_cert.pem")));
    EXPECT_EQ(ReadWholeFile(InBin("client_key.pem")), ReadWholeFile(Pki("client_key.pem")));
    EXPECT_FALSE(FileExists(InBin("client_cert.pem.old")));
    EXPECT_FALSE(FileExists(InBin("client_key.pem.new")));
}

TEST_F(Provisioning, AFailedPlacementPutsValuesAndFilesBack)
{
    // The former key cannot be set aside (a folder that is not empty holds
    // its place), so the certificate is already in place when the key fails.
    ASSERT_TRUE(WriteWholeFile(InBin("client_key.pem"), "former key"));
    ASSERT_TRUE(CreateDirectoryA(InBin("client_key.pem.old").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(InBin("client_key.pem.old\\keep"), "x"));
    Outcome run =
        Provision({"user_login=abc", "v_sw=2.0", "cert=" + Pki("client_cert.pem"), "key=" + Pki("client_key.pem")});
    DeleteFileA(InBin("client_key.pem.old\\keep").c_str());
    RemoveDirectoryA(InBin("client_key.pem.old").c_str());
    EXPECT_EQ(run.result, kProvisionWriteFailed) << run.output;
    EXPECT_EQ(ReadWholeFile(InBin("client_key.pem")).value_or("<absent>"), "former key");
    DeleteFileA(InBin("client_key.pem").c_str());
    ExpectUntouched();
}

// A folder of the installation that is a link (or lies below one) would let
// whoever controls the link's target decide where the service writes as SYSTEM.
TEST_F(Provisioning, LinkedFoldersAreRefused)
{
    CreateDirectoryA("C:\\kvl-provision-target", nullptr);
    CreateDirectoryA("C:\\kvl-provision-target\\logs", nullptr);
    ASSERT_TRUE(MakeHostSymlink("C:\\", "kvl-provision-target", "kvl-provision-link"));
    ASSERT_NE(0u, GetFileAttributesA("C:\\kvl-provision-link") & FILE_ATTRIBUTE_REPARSE_POINT);

    for (const char* value : {"config_dir=C:\\kvl-provision-link\\", "log_dir=C:\\kvl-provision-link\\logs"}) {
        Outcome run = Provision({"v_sw=2.0", value});
        EXPECT_EQ(run.result, kProvisionValueRefused) << value;
        EXPECT_NE(run.output.find("C:\\kvl-provision-link: a link"), std::string::npos) << run.output;
        ExpectUntouched();
    }
    ASSERT_TRUE(SetSettingForTest(kValueInstallDir, "C:\\kvl-provision-link\\"));
    Outcome run = Provision({"v_sw=2.0"});
    ASSERT_TRUE(SetSettingForTest(kValueInstallDir, kTestInstallDir));
    MakeHostSymlink("C:\\", "", "kvl-provision-link");
    EXPECT_EQ(run.result, kProvisionNoInstallation) << run.output;
    ExpectUntouched();
}

// What was asked of the security seam, as the DACL's text per path (the
// last request for each), and the error to answer for one file name.
std::map<std::string, std::string> restrictedTo;
std::string failingName;

DWORD WINAPI RecordRestriction(LPSTR path, SE_OBJECT_TYPE, SECURITY_INFORMATION what, PSID, PSID, PACL dacl, PACL)
{
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
    if ((what & PROTECTED_DACL_SECURITY_INFORMATION) != 0)
        SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    char* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorA(&descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                         nullptr);
    std::string name = path;
    restrictedTo[name] = text != nullptr ? text : "<none>";
    LocalFree(text);
    bool fails = !failingName.empty() && name.size() >= failingName.size() &&
        name.compare(name.size() - failingName.size(), failingName.size(), failingName) == 0;
    return fails ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

TEST_F(Provisioning, TheServerCaAndPublisherLandInABinFolderOnlySystemAndAdministratorsReach)
{
    setNamedSecurityInfoCall = RecordRestriction;
    const std::string pair[] = {"cert=" + Pki("client_cert.pem"), "key=" + Pki("client_key.pem")};

    // The last restriction fails once everything is in place: all of it goes.
    failingName = "\\server_ca.pem";
    Outcome failed = Provision({"v_sw=2.0", pair[0], pair[1], "ca=" + Pki("ca.pem")});
    failingName.clear();
    EXPECT_EQ(failed.result, kProvisionWriteFailed) << failed.output;
    ExpectUntouched();
    EXPECT_FALSE(FileExists(InBin("server_ca.pem")));

    restrictedTo.clear();
    Outcome run =
        Provision({"v_sw=2.0", pair[0], pair[1], "ca=" + Pki("ca.pem"), "publisher=" + Pki("publisher_cert.pem")});
    setNamedSecurityInfoCall = SetNamedSecurityInfoA;
    EXPECT_EQ(run.result, kProvisioned) << run.output;
    EXPECT_EQ(ReadWholeFile(InBin("server_ca.pem")), ReadWholeFile(Pki("ca.pem")));
    EXPECT_EQ(ReadWholeFile(InBin("publisher.pem")), ReadWholeFile(Pki("publisher_cert.pem")));
    std::string bin(kBinDir, sizeof kBinDir - 2);
    EXPECT_EQ(restrictedTo[bin], "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    for (const char* file : {"client_cert.pem", "client_key.pem", "server_ca.pem", "publisher.pem"})
        EXPECT_EQ(restrictedTo[InBin(file)], "D:P(A;;FA;;;SY)(A;;FA;;;BA)") << file;
}

TEST_F(Provisioning, AnInstallationIsNeededAndForgetOnlyWhenAsked)
{
    ASSERT_TRUE(SetSettingForTest(kValueInstallDir, "C:\\kvlchecks\\inst"));
    Outcome noBackslash = Provision({"v_sw=2.0"});
    EXPECT_EQ(noBackslash.result, kProvisionNoInstallation);
    EXPECT_NE(noBackslash.output.find("backslash"), std::string::npos) << noBackslash.output;
    ExpectUntouched();

    ASSERT_TRUE(SetSettingForTest(kValueInstallDir, kTestInstallDir));
    ASSERT_TRUE(WriteWholeFile(InBin("publisher.pem"), "publisher"));
    EXPECT_EQ(Provision({"-forget"}).result, kProvisioned);
    EXPECT_FALSE(GetSettingForTest(kValueUserLogin).has_value());
    EXPECT_FALSE(GetSettingForTest(kValueInstallDir).has_value());
    EXPECT_FALSE(FileExists(InBin("client_cert.pem")));
    EXPECT_FALSE(FileExists(InBin("publisher.pem")));
    EXPECT_EQ(Provision({"v_sw=2.0"}).result, kProvisionNoInstallation);
}

} // namespace
