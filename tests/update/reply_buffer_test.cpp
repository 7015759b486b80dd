#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "reply_buffer.h"

namespace {

class ReplySinkTest : public ::testing::Test {
protected:
    void SetUp() override { ResetReplyBuffer(); }

    std::filesystem::path TempFile(const char* name)
    {
        std::filesystem::path path = std::filesystem::temp_directory_path() / (std::string("kvl_reply_sink_") + name);
        created_.push_back(path);
        return path;
    }

    void TearDown() override
    {
        for (const auto& path : created_) {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
    }

private:
    std::vector<std::filesystem::path> created_;
};

TEST_F(ReplySinkTest, ChunkThatLeavesATerminatorIsKept)
{
    std::vector<char> chunk(kReplyBufferSize - 1, 'x');
    EXPECT_EQ(ReplySink(chunk.data(), 1, chunk.size(), nullptr), chunk.size());
    EXPECT_EQ(replyLength, kReplyBufferSize - 1);
    EXPECT_EQ(ReplyBuffer[kReplyBufferSize - 2], 'x');
    EXPECT_EQ(ReplyBuffer[kReplyBufferSize - 1], '\0');
}

TEST_F(ReplySinkTest, ChunkFillingTheWholeBufferIsDroppedButAccepted)
{
    std::vector<char> chunk(kReplyBufferSize, 'x');
    EXPECT_EQ(ReplySink(chunk.data(), 1, chunk.size(), nullptr), chunk.size());
    EXPECT_EQ(replyLength, 0u);
    EXPECT_STREQ(ReplyBuffer, "");
}

TEST_F(ReplySinkTest, LaterSmallerChunkFollowsTheLastKeptOne)
{
    std::vector<char> first(10000, 'a');
    std::vector<char> second(6000, 'b');
    std::vector<char> third(2000, 'c');
    ReplySink(first.data(), 1, first.size(), nullptr);
    ReplySink(second.data(), 1, second.size(), nullptr);
    ReplySink(third.data(), 1, third.size(), nullptr);
    EXPECT_EQ(replyLength, 12000u);
    EXPECT_EQ(std::string(ReplyBuffer), std::string(10000, 'a') + std::string(2000, 'c'));
}

TEST_F(ReplySinkTest, SizeTimesCountIsWhatIsAppended)
{
    const char items[] = "abcdef";
    EXPECT_EQ(ReplySink(const_cast<char*>(items), 2, 3, nullptr), 3u);
    EXPECT_STREQ(ReplyBuffer, "abcdef");
    EXPECT_EQ(replyLength, 6u);
}

TEST_F(ReplySinkTest, OverflowingChunkSizeIsDropped)
{
    char byte = 'x';
    const std::size_t huge = std::numeric_limits<std::size_t>::max() / 2 + 1;
    EXPECT_EQ(ReplySink(&byte, huge, 2, nullptr), 2u);
    EXPECT_EQ(replyLength, 0u);
}

TEST_F(ReplySinkTest, FileStreamGetsTheChunkAndTheBufferToo)
{
    const auto path = TempFile("write.bin");
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    char data[] = "<html>404</html>";
    const std::size_t n = std::strlen(data);
    EXPECT_EQ(ReplySink(data, 1, n, file), n);
    std::fclose(file);

    std::ifstream in(path, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, data);
    EXPECT_STREQ(ReplyBuffer, data);
}

TEST_F(ReplySinkTest, ShortFileWriteIsReported)
{
    const auto path = TempFile("readonly.bin");
    std::FILE* create = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(create, nullptr);
    std::fclose(create);
    // A stream opened for reading accepts no items.
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char data[] = "payload";
    EXPECT_LT(ReplySink(data, 1, std::strlen(data), file), std::strlen(data));
    std::fclose(file);
}

TEST_F(ReplySinkTest, ResetEmptiesTheBuffer)
{
    char data[] = "old reply";
    ReplySink(data, 1, std::strlen(data), nullptr);
    ResetReplyBuffer();
    EXPECT_EQ(replyLength, 0u);
    for (char c : ReplyBuffer) {
        ASSERT_EQ(c, '\0');
    }
}

} // namespace
