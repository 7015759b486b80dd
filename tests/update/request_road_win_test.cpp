// The road every check request takes, in one process: where it is sent (the
// default update server when "update_server" is absent or too long for its
// reader), and the reply buffer, which each request starts afresh.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "check_test_support.h"
#include "ferolin_entry.h"
#include "installation_files.h"
#include "reply_buffer.h"
#include "reply_record.h"
#include "request_road.h"
#include "settings_names.h"

namespace {

using Values = std::vector<std::optional<std::string>>;

class RequestRoadTest : public CheckTest {
protected:
    void SetUp() override
    {
        CheckTest::SetUp();
        ASSERT_TRUE(SetSettingForTest(kValueSoftwareVersion, "1.0"));
    }

    // The software check's reply, sent exactly as given.
    static void AnswerSoftware(const std::string& reply)
    {
        std::string quoted;
        for (char c : reply) {
            if (c == '"' || c == '\\')
                quoted += '\\';
            quoted += c;
        }
        SetState(std::string(R"({"subscribers": {")") + kTestUser + R"(": {"raw": {"chk_sw_upd": ")" + quoted +
                 "\"}}}}");
    }

    // A software reply padded to `bytes` with a member no section knows.
    static std::string PaddedReply(const std::string& soft, std::size_t bytes)
    {
        const std::string frame = "{\"soft\":" + soft + ",\"pad\":\"\"}";
        return "{\"soft\":" + soft + ",\"pad\":\"" + std::string(bytes - frame.size(), 'p') + "\"}";
    }

    static Values StoredOffer()
    {
        return {GetSettingForTest(kValueNewSoftwareVersion), GetSettingForTest(kValueSoftwareUrl),
                GetSettingForTest(kValueSoftwareFile)};
    }
};

TEST_F(RequestRoadTest, DefaultServerWhenUpdateServerIsAbsentOrTooLong)
{
    RequestTarget target;
    DeleteSettingForTest(kValueUpdateServer);
    ASSERT_EQ(ReadRequestTarget(&target), 1);
    EXPECT_STREQ(target.url, kDefaultUpdateServerUrl);
    EXPECT_STREQ(target.installDir, kTestInstallDir);

    // The reader holds 254 characters and its terminator.
    const std::string prefix = "https://127.0.0.1:1/";
    const std::string longest = prefix + std::string(kUpdateServerReadSize - 1 - prefix.size(), 'p');
    ASSERT_TRUE(SetSettingForTest(kValueUpdateServer, longest));
    ASSERT_EQ(ReadRequestTarget(&target), 1);
    EXPECT_EQ(std::string(target.url), longest);

    ASSERT_TRUE(SetSettingForTest(kValueUpdateServer, longest + "p"));
    ASSERT_EQ(ReadRequestTarget(&target), 1);
    EXPECT_STREQ(target.url, kDefaultUpdateServerUrl);
}

// A long reply, then a short one without "url_sw": nothing of the first is
// left in the buffer, the record or the settings.
TEST_F(RequestRoadTest, ShortReplyAfterALongOneKeepsNothingOfIt)
{
    const std::string longReply =
        PaddedReply(R"({"result":"0","v_sw":"9.9","url_sw":"http://x/long.msi","file_sw":"long.msi"})", 12000);
    AnswerSoftware(longReply);
    ASSERT_EQ(Ferolin("-checkupdate", 12), kCheckDone);
    ASSERT_EQ(StoredOffer(), (Values{"9.9", "http://x/long.msi", "long.msi"}));
    EXPECT_EQ(replyLength, longReply.size());

    const std::string shortReply = R"({"soft":{"result":"0","v_sw":"2","file_sw":"b.msi"}})";
    AnswerSoftware(shortReply);
    ASSERT_EQ(Ferolin("-checkupdate", 12), kCheckDone);

    EXPECT_EQ(std::string(ReplyBuffer), shortReply);
    EXPECT_EQ(replyLength, shortReply.size());
    EXPECT_STREQ(replyRecord.soft.url_sw, "");
    EXPECT_EQ(StoredOffer(), (Values{"2", "", "b.msi"}));
}

// Three replies of 6000 bytes: more than the buffer's 15000 together, and
// each one parsed whole.
TEST_F(RequestRoadTest, RepliesBeyondTheBufferSizeTogetherStillParse)
{
    for (const char* version : {"3.1", "3.2", "3.3"}) {
        SCOPED_TRACE(version);
        const std::string file = std::string("kvl-") + version + ".msi";
        AnswerSoftware(PaddedReply(std::string(R"({"result":"0","v_sw":")") + version +
                                       R"(","url_sw":"http://x/p","file_sw":")" + file + "\"}",
                                   6000));
        ASSERT_EQ(Ferolin("-checkupdate", 12), kCheckDone);
        EXPECT_EQ(replyLength, 6000u);
        EXPECT_EQ(StoredOffer(), (Values{version, "http://x/p", file}));
    }
    EXPECT_EQ(RequestMembers("chk_sw_upd").size(), 3u);
}

} // namespace
