// "-checkupdate" against the development update server: the request it sends
// and the offer it records.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "check_test_support.h"
#include "ferolin_entry.h"
#include "settings_names.h"

namespace {

using Values = std::vector<std::optional<std::string>>;

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

TEST_F(SoftwareCheckTest, ReplyWithoutASoftwareSectionRecordsAnEmptyOffer)
{
    SeedOffer();
    SetState(std::string(R"({"subscribers": {")") + kTestUser +
             R"(": {"raw": {"chk_sw_upd": "{\"status\":\"ativo\"}"}}}})");

    EXPECT_EQ(Ferolin("-checkupdate", 12), kCheckDone);

    EXPECT_EQ(StoredOffer(), (Values{"", "", ""}));
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
