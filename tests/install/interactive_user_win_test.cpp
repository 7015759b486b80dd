// The account the tray application is scheduled for: the owner file's first
// line, else the desktop shell's account.
#include <windows.h>

#include <string>

#include "ferolin_limits.h"
#include "interactive_user.h"
#include "settings_names.h"
#include "tray_test_support.h"

namespace {

std::string Owner(int* found)
{
    char name[kAccountNameSize] = "unchanged";
    *found = ReadOwnerFile(name, sizeof name);
    return name;
}

std::string Interactive()
{
    char name[kAccountNameSize] = "";
    return FindInteractiveUser(name, sizeof name) ? std::string(name) : std::string("<none>");
}

} // namespace

using InteractiveUserTest = TrayTest;

TEST_F(InteractiveUserTest, OwnerFileFirstLineWithoutItsLineBreak)
{
    int found = 0;
    WriteOwnerFile("alice");
    EXPECT_EQ(Owner(&found), "alice");
    EXPECT_EQ(found, 1);

    WriteOwnerFile("alice\r\nbob\r\n");
    EXPECT_EQ(Owner(&found), "alice");
    EXPECT_EQ(found, 1);

    WriteOwnerFile("carol\n");
    EXPECT_EQ(Interactive(), "carol");

    WriteOwnerFile("\xEF\xBB\xBF"
                   "frank\r\n");
    EXPECT_EQ(Owner(&found), "frank");

    WriteOwnerFile(std::string(120, 'n'));
    EXPECT_EQ(Owner(&found), std::string(kAccountNameSize - 1, 'n'));
}

TEST_F(InteractiveUserTest, ConfigDirWithTrailingBackslash)
{
    SetSettingForTest(kValueConfigDir, std::string(kTestConfigDir) + "\\");
    WriteOwnerFile("dave\n");
    int found = 0;
    EXPECT_EQ(Owner(&found), "dave");
    EXPECT_EQ(found, 1);
}

TEST_F(InteractiveUserTest, DesktopShellsAccountWithoutAnOwner)
{
    const std::string desktop = DesktopAccount();
    ASSERT_FALSE(desktop.empty());
    int found = 1;

    // Missing owner file.
    Owner(&found);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(Interactive(), desktop);

    // Empty owner file.
    WriteOwnerFile("");
    Owner(&found);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(Interactive(), desktop);

    // A name no account can have, which would end the quoted account of the
    // "-commit" command line.
    WriteOwnerFile("eve\" /tr \"calc.exe\n");
    Owner(&found);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(Interactive(), desktop);

    // No "config_dir".
    DeleteSettingForTest(kValueConfigDir);
    Owner(&found);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(Interactive(), desktop);

    // The executable name is matched exactly.
    char name[kAccountNameSize];
    EXPECT_EQ(FindProcessUser("explorer.exe", name, sizeof name), 1);
    EXPECT_EQ(FindProcessUser("Explorer.exe", name, sizeof name), 0);
}
