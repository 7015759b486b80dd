// The process runner with a real child (exec_probe.exe beside the test).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>

#include "process_runner.h"
#include "stdout_capture.h"
#include "win_test_support.h"

namespace {

std::string Probe(const std::string& arguments) { return "\"" + ProgramFolder() + "exec_probe.exe\" " + arguments; }

int Exec(std::string commandLine, bool printOutput, std::string* output = nullptr,
         const std::string& program = ProgramFolder() + "exec_probe.exe")
{
    int result = -1;
    std::string echoed =
        CaptureStdout([&] { result = ExecCommand(program.c_str(), commandLine.data(), "C:\\", printOutput); });
    if (output != nullptr)
        *output = echoed;
    return result;
}

} // namespace

TEST(ExecCommand, EchoesTheChildsOutputUnchanged)
{
    std::string output;
    EXPECT_EQ(Exec(Probe("print \"50% of %s done\""), true, &output), 1);
    EXPECT_NE(output.find("50% of %s done"), std::string::npos) << output;

    // Without the echo nothing is written.
    EXPECT_EQ(Exec(Probe("print quiet"), false, &output), 1);
    EXPECT_EQ(output, "");
}

TEST(ExecCommand, EchoesAtMostOneChunk)
{
    std::string output;
    EXPECT_EQ(Exec(Probe("bytes 3000"), true, &output), 1);
    EXPECT_EQ(output, std::string(2000, 'x'));
}

TEST(ExecCommand, ChildThatWritesNothingDoesNotHoldTheRead)
{
    const DWORD start = GetTickCount();
    std::string output;
    EXPECT_EQ(Exec(Probe("exit"), true, &output), 1);
    EXPECT_LT(GetTickCount() - start, 10000u);
    EXPECT_EQ(output, "");
}

TEST(ExecCommand, PipesAreNotOpenToEveryone)
{
    std::string output;
    EXPECT_EQ(Exec(Probe("dacl"), true, &output), 1);
    EXPECT_NE(output.find("restricted"), std::string::npos) << output;
}

// The child gets the pipe ends only: an unrelated inheritable handle of the
// hosting process stays out of msiexec and schtasks.
TEST(ExecCommand, ChildGetsNoOtherInheritableHandle)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE event = CreateEventA(&inheritable, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    std::string output;
    EXPECT_EQ(Exec(Probe("signal " + std::to_string(reinterpret_cast<std::uintptr_t>(event))), true, &output), 1);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the child set our event";
    EXPECT_NE(output.find("no such handle"), std::string::npos) << output;
    CloseHandle(event);
}

TEST(ExecCommand, MissingProgramGivesZeroAndNoEcho)
{
    std::string output;
    EXPECT_EQ(Exec("kvl-no-such-program.exe /x", true, &output, "C:\\kvl-no-such-folder\\kvl-no-such-program.exe"), 0);
    EXPECT_EQ(output, "");
}

// The one slow case: the wait ends after 20 s, the read that follows does
// not wait for the silent child, and the child keeps running.
TEST(ExecCommand, ChildThatOutlivesTheWaitKeepsRunning)
{
    const std::string marker = ProgramFolder() + "exec_probe_done.txt";
    DeleteFileA(marker.c_str());
    const DWORD start = GetTickCount();
    std::string output;
    EXPECT_EQ(Exec(Probe("sleep 22 \"" + marker + "\""), true, &output), 1);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 19500u);
    EXPECT_LT(elapsed, 21500u);
    EXPECT_EQ(output, "");
    EXPECT_EQ(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "the child was waited for to its end";
}

TEST(ShellRun, FileTheShellCannotFindGivesZero)
{
    EXPECT_EQ(ShellRun("C:\\kvl-no-such-folder\\no-such-program.exe", "/x"), 0);
    EXPECT_EQ(ShellRun((ProgramFolder() + "exec_probe.exe").c_str(), "exit"), 1);
}
