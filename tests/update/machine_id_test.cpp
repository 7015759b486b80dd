#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "machine_id.h"

namespace {

constexpr unsigned long kTunnel = 131;

std::string Identity(unsigned long serial, const unsigned char* address)
{
    char volume[kVolumeTextSize] = "";
    char adapter[kAdapterTextSize] = "";
    FormatVolumeText(serial, volume, sizeof volume);
    if (address != nullptr) {
        FormatAdapterText(address, adapter, sizeof adapter);
    }
    BuildMachineId(volume, adapter);
    return volume;
}

TEST(MachineId, VolumeHeadAndAdapterTail)
{
    const unsigned char address[6] = {0, 26, 43, 60, 77, 94};
    char adapter[kAdapterTextSize] = "";
    FormatAdapterText(address, adapter, sizeof adapter);
    EXPECT_STREQ(adapter, "02643607794");
    EXPECT_EQ(Identity(1234567890, address), "1234507794");
}

TEST(MachineId, ShortOrMissingParts)
{
    const unsigned char address[6] = {0, 26, 43, 60, 77, 94};
    EXPECT_EQ(Identity(42, address), "42") << "a short volume text keeps its terminator first";
    EXPECT_EQ(Identity(1234567890, nullptr), "1234567890") << "no adapter: the whole volume text";

    char volume[kVolumeTextSize] = "";
    BuildMachineId(volume, "02643607794");
    EXPECT_STREQ(volume, "") << "unreadable volume";

    char fiveOnly[kVolumeTextSize] = "1234567890";
    BuildMachineId(fiveOnly, "12345");
    EXPECT_STREQ(fiveOnly, "1234567890") << "an adapter text of five is not used";
}

TEST(MachineId, LongestInputsStayWithinTenCharacters)
{
    const unsigned char address[6] = {255, 255, 255, 255, 255, 254};
    const std::string id = Identity(4294967295UL, address);
    EXPECT_EQ(id, "4294955254");
    EXPECT_EQ(id.size(), kMachineIdMaxLength);
}

TEST(AdapterText, AppendsAndNeverOverruns)
{
    const unsigned char address[8] = {0, 26, 43, 60, 77, 94, 200, 201};
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    buffer[0] = '\0';
    // Room for seven characters: "0", "26", "43", "60"; "77" would not fit whole.
    FormatAdapterText(address, buffer, 8);
    EXPECT_STREQ(buffer, "0264360");
    for (std::size_t i = 8; i < sizeof buffer; ++i) {
        EXPECT_EQ(buffer[i], '#') << "byte " << i << " written past the capacity";
    }

    char appended[kAdapterTextSize] = "9";
    FormatAdapterText(address, appended, sizeof appended);
    EXPECT_STREQ(appended, "902643607794") << "only six bytes, after the existing text";
}

TEST(VolumeText, DecimalOrEmptyWhenItDoesNotFit)
{
    char buffer[kVolumeTextSize];
    FormatVolumeText(4294967295UL, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "4294967295");
    FormatVolumeText(0, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "0");
    FormatVolumeText(123456, buffer, 4);
    EXPECT_STREQ(buffer, "");
}

TEST(ChooseAdapter, LowestIndexAmongEthernetAndWireless)
{
    const AdapterRecord byIndex[] = {
        {kAdapterTypeEthernet, 12, {}, 6},
        {kAdapterTypeEthernet, 7, {}, 6},
    };
    EXPECT_EQ(ChooseAdapter(byIndex, 2), 1u);

    const AdapterRecord mixed[] = {
        {kTunnel, 1, {}, 6},
        {kAdapterTypeEthernet, 9, {}, 6},
        {kAdapterTypeIeee80211, 4, {}, 6},
    };
    EXPECT_EQ(ChooseAdapter(mixed, 3), 2u);
}

TEST(ChooseAdapter, FallsBackToTheFirstAdapter)
{
    const AdapterRecord tunnels[] = {
        {kTunnel, 5, {}, 6},
        {kTunnel, 2, {}, 6},
    };
    EXPECT_EQ(ChooseAdapter(tunnels, 2), 0u);

    // Index 999 or more never qualifies; 998 does.
    const AdapterRecord highIndexes[] = {
        {kTunnel, 1, {}, 6},
        {kAdapterTypeEthernet, kAdapterIndexLimit, {}, 6},
        {kAdapterTypeEthernet, 5000, {}, 6},
    };
    EXPECT_EQ(ChooseAdapter(highIndexes, 3), 0u);
    const AdapterRecord justBelow[] = {
        {kTunnel, 1, {}, 6},
        {kAdapterTypeEthernet, kAdapterIndexLimit - 1, {}, 6},
    };
    EXPECT_EQ(ChooseAdapter(justBelow, 2), 1u);

    EXPECT_EQ(ChooseAdapter(nullptr, 0), 0u);
}

TEST(ChooseAdapter, TieGoesToTheEarlierAdapter)
{
    const AdapterRecord ties[] = {
        {kTunnel, 1, {}, 6},
        {kAdapterTypeIeee80211, 3, {}, 6},
        {kAdapterTypeEthernet, 3, {}, 6},
    };
    EXPECT_EQ(ChooseAdapter(ties, 3), 1u);
}

} // namespace
