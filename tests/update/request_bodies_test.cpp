#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "installation_files.h"
#include "request_bodies.h"

namespace {

// Expected bodies are written out by hand: every \" pair is a backslash and a
// double quote, both sent as they stand.

TEST(RequestBodies, SoftwareBodyOfThreeCharacterValuesIs58Characters)
{
    char body[kRequestBodySize];
    ASSERT_EQ(FormatSoftwareBody(body, sizeof body, "ana", "1.2"), 1);
    EXPECT_STREQ(body, R"(data={\"m\":\"chk_sw_upd\",\"u\":\"ana\",\"v_sw\":\"1.2\"})");
    EXPECT_EQ(std::strlen(body), 58u);
}

TEST(RequestBodies, StatusBodyWithEmptyStatusVersion)
{
    char body[kRequestBodySize];
    ASSERT_EQ(FormatStatusBody(body, sizeof body, "ana", "0cc175b9c0f1b6a831c399e269772661",
                               "d41d8cd98f00b204e9800998ecf8427e", ""),
              1);
    EXPECT_STREQ(body,
                 R"(data={\"m\":\"chk_stt\",\"u\":\"ana\",\"s\":\"0cc175b9c0f1b6a831c399e269772661\",)"
                 R"(\"c_id\":\"d41d8cd98f00b204e9800998ecf8427e\",\"v_stt\":\"\"})");
}

TEST(RequestBodies, CommandAndConfigBodies)
{
    char body[kRequestBodySize];
    ASSERT_EQ(FormatCommandBody(body, sizeof body, "ana", "5"), 1);
    EXPECT_STREQ(body, R"(data={\"m\":\"chk_cmd_upd\",\"u\":\"ana\",\"v_cmd\":\"5\"})");

    ASSERT_EQ(FormatConfigBody(body, sizeof body, "ana", "3.1", "1"), 1);
    EXPECT_STREQ(body, R"(data={\"m\":\"chk_cnf_upd\",\"u\":\"ana\",\"v_cnf\":\"3.1\",\"cnf_only\":\"1\"})");
    ASSERT_EQ(FormatConfigBody(body, sizeof body, "ana", "", "0"), 1);
    EXPECT_STREQ(body, R"(data={\"m\":\"chk_cnf_upd\",\"u\":\"ana\",\"v_cnf\":\"\",\"cnf_only\":\"0\"})");
}

TEST(RequestBodies, ValuesAreInsertedUnchanged)
{
    char body[kRequestBodySize];
    ASSERT_EQ(FormatCommandBody(body, sizeof body, "a%sb&c=d", "x\"y"), 1);
    EXPECT_STREQ(body, R"(data={\"m\":\"chk_cmd_upd\",\"u\":\"a%sb&c=d\",\"v_cmd\":\"x"y\"})");
}

TEST(RequestBodies, LongestAcceptedValuesFitTheBodyBuffer)
{
    const std::string user(kUserLoginReadSize - 1, 'u');
    const std::string version(kStatusVersionReadSize - 1, '9');
    const std::string digest(kMd5HexSize - 1, 'f');
    const std::string configOnly(kConfigOnlyReadSize - 1, '1');
    char body[kRequestBodySize];
    EXPECT_EQ(FormatStatusBody(body, sizeof body, user.c_str(), digest.c_str(), digest.c_str(), version.c_str()), 1);
    // The status body is the longest: the buffer has no byte to spare.
    EXPECT_EQ(std::strlen(body), kRequestBodySize - 1);
    EXPECT_EQ(FormatSoftwareBody(body, sizeof body, user.c_str(), version.c_str()), 1);
    EXPECT_EQ(FormatCommandBody(body, sizeof body, user.c_str(), version.c_str()), 1);
    EXPECT_EQ(FormatConfigBody(body, sizeof body, user.c_str(), version.c_str(), configOnly.c_str()), 1);
}

TEST(RequestBodies, TooSmallBufferGivesNoTruncatedBody)
{
    char body[58 + 1];
    ASSERT_EQ(FormatSoftwareBody(body, sizeof body, "ana", "1.2"), 1);
    body[0] = 'x';
    EXPECT_EQ(FormatSoftwareBody(body, sizeof body - 1, "ana", "1.2"), 0);
    EXPECT_STREQ(body, "");
    EXPECT_EQ(FormatStatusBody(body, 0, "a", "b", "c", "d"), 0);
}

TEST(ClientFilePath, ComposedFromTheInstallationDirectoryAsItStands)
{
    char path[kClientFilePathSize];
    ASSERT_EQ(FormatClientFilePath(path, sizeof path, "C:\\Program Files\\VPNKorv\\", kClientCertFileName), 1);
    EXPECT_STREQ(path, "C:\\Program Files\\VPNKorv\\bin\\client_cert.pem");
    // Without the trailing backslash "bin" runs into the directory's name.
    ASSERT_EQ(FormatClientFilePath(path, sizeof path, "C:\\VPNKorv", kClientKeyFileName), 1);
    EXPECT_STREQ(path, "C:\\VPNKorvbin\\client_key.pem");
}

TEST(ClientFilePath, LongestInstallationDirectoryFitsAndOverflowIsRefused)
{
    const std::string dir(kInstallDirReadSize - 1, 'd');
    char path[kClientFilePathSize];
    ASSERT_EQ(FormatClientFilePath(path, sizeof path, dir.c_str(), kClientCertFileName), 1);
    EXPECT_EQ(std::string(path), dir + "bin\\client_cert.pem");
    const std::string longer(kInstallDirReadSize, 'd');
    EXPECT_EQ(FormatClientFilePath(path, sizeof path, longer.c_str(), kClientCertFileName), 0);
    EXPECT_STREQ(path, "");
}

} // namespace
