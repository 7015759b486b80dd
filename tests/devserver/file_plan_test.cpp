#include "file_plan.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace devserver {
namespace {

namespace fs = std::filesystem;

class FilePlanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kvl-devserver-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        base_ = pattern;
        root_ = base_ / "files";
        fs::create_directories(root_ / "sub");
        Write(root_ / "vpn.conf", "0123456789");
        Write(root_ / "sub" / "rules.txt", "rules");
        Write(root_ / "empty.bin", "");
        Write(base_ / "secret.txt", "secret");
    }
    void TearDown() override { fs::remove_all(base_); }

    static void Write(const fs::path& path, const std::string& text)
    {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }

    FilePlan Plan(const std::string& stateText, const std::string& urlPath)
    {
        State state;
        std::string error;
        EXPECT_TRUE(ParseState(stateText, state, error)) << error;
        return PlanFileAnswer(state, root_, urlPath);
    }

    fs::path base_;
    fs::path root_;
};

TEST_F(FilePlanTest, ServesFilesBelowTheRoot)
{
    FilePlan top = Plan("{}", "/vpn.conf");
    EXPECT_EQ(top.action, "file");
    EXPECT_EQ(top.status, 200);
    EXPECT_EQ(top.size, 10u);
    EXPECT_EQ(top.announced, 10u);
    EXPECT_EQ(top.sendLimit, 10u);
    EXPECT_EQ(top.path, fs::canonical(root_ / "vpn.conf"));

    FilePlan nested = Plan("{}", "/sub/rules.txt");
    EXPECT_EQ(nested.action, "file");
    EXPECT_EQ(nested.name, "sub/rules.txt");
    EXPECT_EQ(nested.size, 5u);
}

TEST_F(FilePlanTest, RefusesEverythingElse)
{
    fs::create_symlink(base_ / "secret.txt", root_ / "link-out");
    const char* paths[] = {
        "/",          "",      "vpn.conf", "/../secret.txt", "/sub/../../secret.txt",    "/./vpn.conf",
        "//vpn.conf", "/sub/", "/sub",     "/missing.conf",  "/sub\\..\\..\\secret.txt", "/link-out",
    };
    for (const char* p : paths) {
        FilePlan plan = Plan("{}", p);
        EXPECT_EQ(plan.status, 404) << p;
        EXPECT_EQ(plan.action, "not_found") << p;
        EXPECT_NE(plan.body.find("404"), std::string::npos) << p;
    }
    std::string name;
    fs::path file;
    std::string error;
    EXPECT_FALSE(ResolveFilePath(root_, std::string("/vpn.conf\0x", 11), name, file, error));
}

TEST_F(FilePlanTest, LinksThatStayInsideAreServed)
{
    fs::create_symlink(root_ / "vpn.conf", root_ / "sub" / "alias.conf");
    FilePlan plan = Plan("{}", "/sub/alias.conf");
    EXPECT_EQ(plan.action, "file");
    EXPECT_EQ(plan.size, 10u);
}

TEST_F(FilePlanTest, TruncationSendsLessThanItAnnounces)
{
    FilePlan half = Plan(R"({"file_faults": {"vpn.conf": {"truncate": true}}})", "/vpn.conf");
    EXPECT_EQ(half.action, "truncate");
    EXPECT_EQ(half.announced, 10u);
    EXPECT_EQ(half.sendLimit, 5u);

    FilePlan some = Plan(R"({"file_faults": {"vpn.conf": {"truncate_after": 3}}})", "/vpn.conf");
    EXPECT_EQ(some.sendLimit, 3u);

    // Asking for the whole file or more still leaves it one byte short.
    FilePlan all = Plan(R"({"file_faults": {"vpn.conf": {"truncate_after": 50}}})", "/vpn.conf");
    EXPECT_EQ(all.announced, 10u);
    EXPECT_EQ(all.sendLimit, 9u);

    FilePlan empty = Plan(R"({"file_faults": {"empty.bin": {"truncate": true}}})", "/empty.bin");
    EXPECT_EQ(empty.announced, 1u);
    EXPECT_EQ(empty.sendLimit, 0u);
}

TEST_F(FilePlanTest, FaultsAreFoundByPathThenByName)
{
    FilePlan byName = Plan(R"({"file_faults": {"rules.txt": {"http_status": 500}}})", "/sub/rules.txt");
    EXPECT_EQ(byName.action, "http_error");
    EXPECT_EQ(byName.status, 500);
    EXPECT_NE(byName.body.find("500"), std::string::npos);

    FilePlan byPath = Plan(R"({"file_faults": {"rules.txt": {"http_status": 500}, "sub/rules.txt": {"drop": true}}})",
                           "/sub/rules.txt");
    EXPECT_EQ(byPath.action, "drop");
    EXPECT_TRUE(byPath.drop);

    FilePlan other = Plan(R"({"file_faults": {"rules.txt": {"http_status": 500}}})", "/vpn.conf");
    EXPECT_EQ(other.action, "file");
}

TEST_F(FilePlanTest, ErrorFaultsApplyEvenToMissingFiles)
{
    FilePlan plan = Plan(R"({"file_faults": {"gone.conf": {"http_status": 403, "delay_ms": 7}}})", "/gone.conf");
    EXPECT_EQ(plan.status, 403);
    EXPECT_EQ(plan.delayMs, 7);
}

} // namespace
} // namespace devserver
