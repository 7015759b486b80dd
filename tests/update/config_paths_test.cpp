#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "config_paths.h"
#include "reply_record.h"

namespace {

TEST(ConfigSubDir, RelativeLevelsBelowTheBaseAreAccepted)
{
    for (const char* subDir : {"rules", "a\\b", "a\\b\\c", "rules\\", "a\\\\b", "a/b", "..rules", "v1.2",
                               "my rules\\v 2", "con1\\comx", "a\\bin", "binary", "bins\\x"}) {
        EXPECT_EQ(IsContainedSubDir(subDir), 1) << subDir;
    }
}

TEST(ConfigSubDir, EscapesAreRefused)
{
    for (const char* subDir :
         {"..", "..\\x", "a\\..\\..\\x", "a\\..", "a/../b", "C:\\x", "C:x", "c:", "\\x", "\\\\server\\share", "/x",
          "\\\\?\\C:\\x", "a\\...\\b", "a\\.. \\b", ".", "a\\.\\b", "a:b", ""}) {
        EXPECT_EQ(IsContainedSubDir(subDir), 0) << "[" << subDir << "]";
    }
    EXPECT_EQ(IsContainedSubDir(nullptr), 0);
}

// Each level is held to the plain-name rule of every name from the server.
TEST(ConfigSubDir, LevelsThatAreNoPlainNameAreRefused)
{
    for (const char* subDir :
         {"CON", "a\\nul.txt", "Lpt1\\b", "a\\b.", "a\\b \\c", "rules ", "a\\b|c", "a\\<b>", "a*", "a?\\b", "a\\\"b",
          "a\x01"
          "b\\c"}) {
        EXPECT_EQ(IsContainedSubDir(subDir), 0) << "[" << subDir << "]";
    }
    // Nor bin, whose files decide what the service trusts and runs, nor a
    // level that redirects a program's DLLs or aliases another folder.
    for (const char* subDir : {"bin", "BIN\\x", "Bin/x", "bin\\", "KVLService.exe.local", "a\\b.LOCAL\\c", "PROGRA~1",
                               "a\\x~9", "CONIN$", "a\\com\xb9"}) {
        EXPECT_EQ(IsContainedSubDir(subDir), 0) << "[" << subDir << "]";
    }
    EXPECT_EQ(IsContainedSubDir(("a\\" + std::string(kPlainNameLimit, 'l')).c_str()), 1);
    EXPECT_EQ(IsContainedSubDir(("a\\" + std::string(kPlainNameLimit + 1, 'l') + "\\b").c_str()), 0);
}

TEST(ConfigPaths, ComposedWithOneSeparatorAfterTheBase)
{
    char dir[kConfigDirPathSize];
    char file[kConfigFilePathSize];
    ASSERT_EQ(ComposeConfigDirPath(dir, sizeof dir, "C:\\KVL\\config", "rules"), 1);
    EXPECT_STREQ(dir, "C:\\KVL\\config\\rules");
    ASSERT_EQ(ComposeConfigFilePath(file, sizeof file, "C:\\KVL\\config", "rules", "r.txt"), 1);
    EXPECT_STREQ(file, "C:\\KVL\\config\\rules\\r.txt");
    ASSERT_EQ(ComposeConfigFilePath(file, sizeof file, "C:\\KVL\\config", "", "vpn.conf"), 1);
    EXPECT_STREQ(file, "C:\\KVL\\config\\vpn.conf");
    // The installation directory ends with a backslash: the separator doubles.
    ASSERT_EQ(ComposeConfigFilePath(file, sizeof file, "C:\\KVL\\", "", "a.txt"), 1);
    EXPECT_STREQ(file, "C:\\KVL\\\\a.txt");
}

TEST(ConfigPaths, FilePathThatWouldNotFitIsRefusedNotCut)
{
    char file[kConfigFilePathSize];
    // base + "\" + sub + "\" + name: exactly the longest path the buffer holds.
    const std::string sub(kConfigSubDirSize - 1, 's');
    const std::string name(kConfigFileSize - 1, 'n');
    const std::string fits(kConfigFilePathSize - 1 - 2 - sub.size() - name.size(), 'b');
    ASSERT_EQ(ComposeConfigFilePath(file, sizeof file, fits.c_str(), sub.c_str(), name.c_str()), 1);
    EXPECT_EQ(std::strlen(file), kConfigFilePathSize - 1);

    const std::string oneMore = fits + "b";
    EXPECT_EQ(ComposeConfigFilePath(file, sizeof file, oneMore.c_str(), sub.c_str(), name.c_str()), 0);
    EXPECT_STREQ(file, "") << "no cut path is left for a caller to use";

    // The longest base directory the read accepts, without a subdirectory.
    const std::string longestBase(kConfigBaseDirReadSize - 1, 'b');
    EXPECT_EQ(ComposeConfigFilePath(file, sizeof file, longestBase.c_str(), "", name.c_str()), 1);
    EXPECT_EQ(ComposeConfigFilePath(file, sizeof file, longestBase.c_str(), sub.c_str(), name.c_str()), 0);
}

TEST(ConfigPaths, DirectoryPathThatWouldNotFitIsRefused)
{
    char dir[kConfigDirPathSize];
    const std::string base(kConfigDirPathSize - 1 - 1 - 10, 'b');
    ASSERT_EQ(ComposeConfigDirPath(dir, sizeof dir, base.c_str(), "0123456789"), 1);
    EXPECT_EQ(std::strlen(dir), kConfigDirPathSize - 1);
    EXPECT_EQ(ComposeConfigDirPath(dir, sizeof dir, base.c_str(), "0123456789a"), 0);
    EXPECT_STREQ(dir, "");
}

} // namespace
