#include "tray_test_support.h"

#include <windows.h>

#include <cstring>

#include "ferolin_seams.h"
#include "scratch_installation.h"
#include "settings_names.h"

namespace {

// The stand-in logs beside itself: the copy in the test's system directory
// is the one the library must run; the one beside this program (also the
// current directory and first on PATH during a case) is a decoy.
std::string CallsLog() { return std::string(kTraySystemDir) + "\\schtasks-calls.log"; }
std::string DecoyLog() { return ProgramFolder() + "schtasks-calls.log"; }

UINT WINAPI TraySystemDirectory(LPSTR buffer, UINT size)
{
    const UINT length = static_cast<UINT>(sizeof kTraySystemDir - 1);
    if (size <= length)
        return length + 1;
    std::memcpy(buffer, kTraySystemDir, length + 1);
    return length;
}

void RemoveTask(const std::string& name)
{
    DWORD code = 0;
    RunAndCapture("c:\\windows\\system32\\schtasks.exe /delete /tn \"" + name + "\" /f", &code);
}

} // namespace

void TrayTest::SetUp()
{
    ASSERT_TRUE(MakeScratchInstallation());
    ASSERT_TRUE(CreateDirectoryA((std::string(kTestInstallDir) + "config").c_str(), nullptr));
    ASSERT_TRUE(SetSettingForTest(kValueInstallDir, kTestInstallDir));
    ASSERT_TRUE(SetSettingForTest(kValueConfigDir, kTestConfigDir));
    DeleteRunValueForTest();
    RemoveTask("Nimbet");
    RemoveTask("VPNKorv Update");
    ASSERT_TRUE(CreateDirectoryA(kTraySystemDir, nullptr));
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "schtasks.exe").c_str(),
                          (std::string(kTraySystemDir) + "\\schtasks.exe").c_str(), FALSE));
    systemDirectoryCall = TraySystemDirectory;
    DeleteFileA(DecoyLog().c_str());
    decoys_.emplace(ProgramFolder());
}

void TrayTest::TearDown()
{
    decoys_.reset();
    systemDirectoryCall = GetSystemDirectoryA;
    EXPECT_FALSE(FileExists(DecoyLog())) << "a schtasks outside the system directory ran";
    RemoveTask("Nimbet");
    RemoveTask("VPNKorv Update");
    RemoveTree(kTestRoot);
}

void TrayTest::WriteOwnerFile(const std::string& text)
{
    ASSERT_TRUE(WriteWholeFile(std::string(kTestConfigDir) + "\\owner.conf", text));
}

bool TrayTest::TaskExists(const std::string& name)
{
    return GetFileAttributesA((kTaskStore + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void TrayTest::CreateTask(const std::string& name)
{
    const std::string file = std::string(kTestRoot) + "\\task.xml";
    ASSERT_TRUE(WriteWholeFile(file,
                               "<?xml version=\"1.0\" encoding=\"UTF-16\"?><Task version=\"1.2\" "
                               "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\"><Actions><Exec>"
                               "<Command>notepad.exe</Command></Exec></Actions></Task>"));
    DWORD code = 0;
    RunAndCapture("c:\\windows\\system32\\schtasks.exe /create /tn \"" + name + "\" /xml \"" + file + "\" /f", &code);
    DeleteFileA(file.c_str());
    ASSERT_TRUE(TaskExists(name)) << name;
}

std::vector<std::string> TrayTest::SchtasksCalls()
{
    std::vector<std::string> calls;
    const std::string log = ReadWholeFile(CallsLog()).value_or("");
    std::size_t at = 0;
    while (at < log.size()) {
        std::size_t end = log.find('\n', at);
        if (end == std::string::npos)
            end = log.size();
        calls.push_back(log.substr(at, end - at));
        at = end + 1;
    }
    return calls;
}

std::optional<std::wstring> TrayTest::HandedTaskDocument()
{
    const std::string bytes = ReadWholeFile(std::string(kTraySystemDir) + "\\schtasks-task.xml").value_or("");
    if (bytes.size() < 2 || bytes.size() % 2 != 0 || bytes.compare(0, 2, "\xFF\xFE") != 0)
        return std::nullopt;
    std::wstring text;
    for (std::size_t at = 2; at < bytes.size(); at += 2)
        text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[at]) |
                                     static_cast<unsigned char>(bytes[at + 1]) << 8);
    return text;
}

std::string TrayTest::DesktopAccount()
{
    char name[256];
    DWORD size = sizeof name;
    return GetUserNameA(name, &size) ? std::string(name) : std::string();
}
