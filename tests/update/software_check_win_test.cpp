// "-checkupdate" against the development update server: the request it sends
// and the offer it records.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "check_test_support.h"
#include "ferolin_entry.h"
#include "request_road.h"
#include "settings_names.h"

namespace {

using Values = std::vector<std::optional<std::string>>;
using Tree = std::map<std::string, std::string>;

class SoftwareCheckTest : public CheckTest {
protected:
    void SetUp() override
    {
        CheckTest::SetUp();
        ASSERT_TRUE(SetSettingForTest(kValueSoftwareVersion, "1.0"));
    }

    static Values StoredOffer()
    {
        return {GetSettingForTest(kValueNewSoftwareVersion), GetSettingForTest(kValueSoftwareUrl),
                GetSettingForTest(kValueSoftwareFile)};
    }

    static void SeedOffer()
    {
        ASSERT_TRUE(SetSettingForTest(kValueNewSoftwareVersion, "1.5"));
        ASSERT_TRUE(SetSettingForTest(kValueSoftwareUrl, "http://old/KVL-1.5.msi"));
        ASSERT_TRUE(SetSettingForTest(kValueSoftwareFile, "KVL-1.5.msi"));
    }

    static void OfferSoft(const std::string& softJson)
    {
        SetState(std::string(R"({"subscribers": {")") + kTestUser + R"(": {"soft": )" + softJson + "}}}");
    }
};

const Values kSeededOffer = {"1.5", "http://old/KVL-1.5.msi", "KVL-1.5.msi"};

TEST_F(SoftwareCheckTest, RecordsTheOfferAsTheReplyGivesIt)
{
    OfferSoft(R"({"result": "0", "v_sw": "2.1.0", "url_sw": "{{files}}/pkg/KVL-2.1.0.msi",
                "file_sw": "KVL-2.1.0.msi"})");

    ASSERT_EQ(Ferolin("-checkupdate", 12), kCheckDone);

    EXPECT_EQ(RequestMembers("chk_sw_upd"),
              std::vector<std::string>{R"({"m":"chk_sw_upd","u":"checker","v_sw":"1.0"})"});
    EXPECT_EQ(StoredOffer(), (Values{"2.1.0", FilesUrl() + "/pkg/KVL-2.1.0.msi", "KVL-2.1.0.msi"}));
    // Recording an offer fetches nothing.
    EXPECT_TRUE(FileRequests().empty());
}

TEST_F(SoftwareCheckTest, RefusalLeavesTheEarlierOfferInPlace)
{
    SeedOffer();
    OfferSoft(R"({"result": "1", "v_sw": "9.9", "url_sw": "http://x/y.msi", "file_sw": "y.msi"})");

    EXPECT_EQ(Ferolin("-checkupdate", 12), kCheckDone);

    EXPECT_EQ(RequestMembers("chk_sw_upd").size(), 1u);
    EXPECT_EQ(StoredOffer(), kSeededOffer);
}

// A reply without a software section offers no file name: like any name
// that is not a plain file name, nothing of it is recorded.
TEST_F(SoftwareCheckTest, ReplyWithoutASoftwareSectionLeavesTheEarlierOffer)
{
    SeedOffer();
    SetState(std::string(R"({"subscribers": {")") + kTestUser +
             R"(": {"raw": {"chk_sw_upd": "{\"status\":\"ativo\"}"}}}})");

    EXPECT_EQ(Ferolin("-checkupdate", 12), kCheckDone);

    EXPECT_EQ(StoredOffer(), kSeededOffer);
}

// The service deletes "<installation directory><file_sw>" once a package is
// installed, and the package lands beside KVLService.exe: a name from the
// server that leads anywhere else, names a device, or names a program or
// library is refused whole and the earlier offer stays.
TEST_F(SoftwareCheckTest, OfferWhoseFileIsNoPlainFileNameIsRefusedWhole)
{
    // Where "..\\x.msi" would lead from the installation directory.
    const std::string sentinel = std::string(kTestRoot) + "\\x.msi";
    ASSERT_TRUE(WriteWholeFile(sentinel, "sentinel"));
    const Tree before = TreeOf(kTestRoot);
    // As JSON texts: the reply's escapes reach the client undecoded.
    for (const char* hostile :
         {"..\\\\x.msi", "..\\\\..\\\\Windows\\\\win.ini", "C:\\\\x.msi", "C:x.msi", "\\\\x.msi", "a/b.msi",
          "x.msi:stream", "CON", "nul.msi", "Com1.msi", "x.msi.", "x.msi ", "x?.msi", "", "IPHLPAPI.DLL",
          "KVLService.exe", "KVL~1.msi", "Ferolin.dll.local", "CONOUT$.msi"}) {
        SCOPED_TRACE(std::string("file_sw [") + hostile + "]");
        SeedOffer();
        OfferSoft(R"({"result": "0", "v_sw": "6.6", "url_sw": "http://x/evil.msi", "file_sw": ")" +
                  std::string(hostile) + R"("})");

        EXPECT_EQ(Ferolin("-checkupdate", 12), kCheckDone);

        EXPECT_EQ(StoredOffer(), kSeededOffer);
    }
    EXPECT_EQ(RequestMembers("chk_sw_upd").size(), 19u);
    EXPECT_TRUE(FileRequests().empty());
    EXPECT_EQ(TreeOf(kTestRoot), before);
}

TEST_F(SoftwareCheckTest, LongPackageNamesAreStoredWhole)
{
    for (std::size_t length : {50u, 103u}) {
        const std::string name = std::string(length - 4, 'k') + ".msi";
        OfferSoft(R"({"result": "0", "v_sw": "3", "url_sw": "http://x/p", "file_sw": ")" + name + R"("})");
        EXPECT_EQ(Ferolin("-checkupdate", 12), kCheckDone) << length;
        EXPECT_EQ(GetSettingForTest(kValueSoftwareFile), name) << length;
    }
}

TEST_F(SoftwareCheckTest, MissingLoginOrInstalledVersionSendsAndWritesNothing)
{
    SeedOffer();
    OfferSoft(R"({"result": "0", "v_sw": "2", "url_sw": "u", "file_sw": "f"})");
    for (const char* missing : {kValueUserLogin, kValueSoftwareVersion, kValueInstallDir}) {
        RegistrySnapshot restore;
        DeleteSettingForTest(missing);
        EXPECT_EQ(Ferolin("-checkupdate", 12), kCheckFailed) << missing;
    }
    EXPECT_TRUE(RequestMembers("chk_sw_upd").empty());
    EXPECT_EQ(StoredOffer(), kSeededOffer);
}

} // namespace
