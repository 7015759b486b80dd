#include <string>

#include <gtest/gtest.h>

#include "command_check.h"
#include "settings_names.h"

namespace {

TEST(CommandSlots, EachKnownCodeFillsItsOwnPair)
{
    for (int slotNumber : kCommandSlots) {
        const std::string code = std::to_string(slotNumber);
        const CommandSlot* slot = FindCommandSlot(code.c_str());
        ASSERT_NE(slot, nullptr) << code;
        EXPECT_EQ(std::string(slot->codeValue), "cod_cmd" + code);
        EXPECT_EQ(std::string(slot->versionValue), "v_cmd" + code);
    }
}

TEST(CommandSlots, CodesAreComparedWhole)
{
    for (const char* code : {"2", "5", "0", "9", "10", "01", "1 ", " 1", "11", "1\t", "", "cod1"}) {
        EXPECT_EQ(FindCommandSlot(code), nullptr) << "[" << code << "]";
    }
    EXPECT_EQ(FindCommandSlot(nullptr), nullptr);
}

} // namespace
