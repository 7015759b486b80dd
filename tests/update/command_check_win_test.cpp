// "-checkcommand" against the development update server: the request it sends
// and the command slots it fills.
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

struct SlotNames {
    int slot;
    const char* codeValue;
    const char* versionValue;
};

constexpr SlotNames kSlotNames[] = {
    {1, kValueCommandCode1, kValueCommandVersion1}, {3, kValueCommandCode3, kValueCommandVersion3},
    {4, kValueCommandCode4, kValueCommandVersion4}, {6, kValueCommandCode6, kValueCommandVersion6},
    {7, kValueCommandCode7, kValueCommandVersion7}, {8, kValueCommandCode8, kValueCommandVersion8},
};

// Slot number -> "code/version" of every slot that holds anything.
std::map<int, std::string> FilledSlots()
{
    std::map<int, std::string> slots;
    for (const SlotNames& names : kSlotNames) {
        std::optional<std::string> code = GetSettingForTest(names.codeValue);
        std::optional<std::string> version = GetSettingForTest(names.versionValue);
        if (code || version)
            slots[names.slot] = code.value_or("<absent>") + "/" + version.value_or("<absent>");
    }
    return slots;
}

class CommandCheckTest : public CheckTest {
protected:
    void SetUp() override
    {
        CheckTest::SetUp();
        ASSERT_TRUE(SetSettingForTest(kValueCommandVersion, "12"));
    }

    // `cmds`: the JSON array of {"v_cmd", "cod_cmd"} objects.
    static void HoldCommands(const std::string& cmds, const char* result = "0")
    {
        SetState(std::string(R"({"subscribers": {")") + kTestUser + R"(": {"command": {"result": ")" + result +
                 R"(", "cmds": )" + cmds + "}}}}");
    }
};

TEST_F(CommandCheckTest, KnownCodesFillTheirSlotsAndOthersAreSkipped)
{
    HoldCommands(R"([{"v_cmd": "a1", "cod_cmd": "1"}, {"v_cmd": "a5", "cod_cmd": "5"},
                   {"v_cmd": "a8", "cod_cmd": "8"}])");

    ASSERT_EQ(Ferolin("-checkcommand", 13), kCheckDone);

    EXPECT_EQ(RequestMembers("chk_cmd_upd"),
              std::vector<std::string>{R"({"m":"chk_cmd_upd","u":"checker","v_cmd":"12"})"});
    EXPECT_EQ(FilledSlots(), (std::map<int, std::string>{{1, "1/a1"}, {8, "8/a8"}}));
}

TEST_F(CommandCheckTest, EmptyCodeEndsTheList)
{
    HoldCommands(R"([{"v_cmd": "a3", "cod_cmd": "3"}, {"v_cmd": "b", "cod_cmd": ""},
                   {"v_cmd": "a4", "cod_cmd": "4"}])");

    ASSERT_EQ(Ferolin("-checkcommand", 13), kCheckDone);

    EXPECT_EQ(FilledSlots(), (std::map<int, std::string>{{3, "3/a3"}}));
}

TEST_F(CommandCheckTest, LaterEntryOfTheSameCodeWins)
{
    HoldCommands(R"([{"v_cmd": "first", "cod_cmd": "4"}, {"v_cmd": "x", "cod_cmd": "7"},
                   {"v_cmd": "second", "cod_cmd": "4"}])");

    ASSERT_EQ(Ferolin("-checkcommand", 13), kCheckDone);

    EXPECT_EQ(FilledSlots(), (std::map<int, std::string>{{4, "4/second"}, {7, "7/x"}}));
}

TEST_F(CommandCheckTest, CodesAreComparedWholeAndDoNotEndTheList)
{
    HoldCommands(R"([{"v_cmd": "z", "cod_cmd": "01"}, {"v_cmd": "s", "cod_cmd": "1 "},
                   {"v_cmd": "t", "cod_cmd": "10"}, {"v_cmd": "ok", "cod_cmd": "6"}])");

    ASSERT_EQ(Ferolin("-checkcommand", 13), kCheckDone);

    EXPECT_EQ(FilledSlots(), (std::map<int, std::string>{{6, "6/ok"}}));
}

TEST_F(CommandCheckTest, SlotsNoEntryNamesKeepTheirValues)
{
    ASSERT_TRUE(SetSettingForTest(kValueCommandCode7, "7"));
    ASSERT_TRUE(SetSettingForTest(kValueCommandVersion7, "old"));
    HoldCommands(R"([{"v_cmd": "n", "cod_cmd": "3"}])");

    ASSERT_EQ(Ferolin("-checkcommand", 13), kCheckDone);

    EXPECT_EQ(FilledSlots(), (std::map<int, std::string>{{3, "3/n"}, {7, "7/old"}}));
}

TEST_F(CommandCheckTest, RefusalWritesNothing)
{
    HoldCommands(R"([{"v_cmd": "a1", "cod_cmd": "1"}])", "1");

    EXPECT_EQ(Ferolin("-checkcommand", 13), kCheckDone);

    EXPECT_EQ(RequestMembers("chk_cmd_upd").size(), 1u);
    EXPECT_TRUE(FilledSlots().empty());
}

TEST_F(CommandCheckTest, MissingValuesSendAndWriteNothing)
{
    HoldCommands(R"([{"v_cmd": "a1", "cod_cmd": "1"}])");
    for (const char* missing : {kValueUserLogin, kValueCommandVersion, kValueInstallDir}) {
        RegistrySnapshot restore;
        DeleteSettingForTest(missing);
        EXPECT_EQ(Ferolin("-checkcommand", 13), kCheckFailed) << missing;
    }
    EXPECT_TRUE(RequestMembers("chk_cmd_upd").empty());
    EXPECT_TRUE(FilledSlots().empty());
}

} // namespace
