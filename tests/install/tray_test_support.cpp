#include "tray_test_support.h"

#include <windows.h>

#include <cstring>

#include "check_test_support.h"
#include "ferolin_seams.h"
#include "settings_names.h"
#include "win_handles.h"

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

bool OpenRunKey(REGSAM access, RegKey& key)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunSubkey, 0, access | KEY_WOW64_32KEY, key.out()) == ERROR_SUCCESS;
}

void RemoveTask(const std::string& name)
{
    DWORD code = 0;
    RunAndCapture("c:\\windows\\system32\\schtasks.exe /delete /tn \"" + name + "\" /f", &code);
}

} // namespace

void TrayTest::SetUp()
{
    RemoveTree(kTrayRoot);
    ASSERT_TRUE(CreateDirectoryA(kTrayRoot, nullptr));
    ASSERT_TRUE(CreateDirectoryA(kTrayInstallDir, nullptr));
    ASSERT_TRUE(CreateDirectoryA((std::string(kTrayInstallDir) + "config").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(kTrayConfigDir, nullptr));
    ASSERT_TRUE(SetSettingForTest(kValueInstallDir, kTrayInstallDir));
    ASSERT_TRUE(SetSettingForTest(kValueConfigDir, kTrayConfigDir));
    savedRunValue_ = RunValue();
    DeleteRunValue();
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
    if (savedRunValue_)
        SetRunValue(*savedRunValue_);
    else
        DeleteRunValue();
    RemoveTree(kTrayRoot);
}

void TrayTest::WriteOwnerFile(const std::string& text)
{
    ASSERT_TRUE(WriteWholeFile(std::string(kTrayConfigDir) + "\\owner.conf", text));
}

std::optional<std::string> TrayTest::RunValue()
{
    RegKey key;
    if (!OpenRunKey(KEY_READ, key))
        return std::nullopt;
    char text[1024];
    DWORD type = 0;
    DWORD size = sizeof text - 1;
    if (RegQueryValueExA(key.get(), kValueRunTray, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    text[size] = '\0';
    return std::string(text);
}

void TrayTest::SetRunValue(const std::string& text)
{
    RegKey key;
    ASSERT_TRUE(OpenRunKey(KEY_WRITE, key));
    RegSetValueExA(key.get(), kValueRunTray, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
}

void TrayTest::DeleteRunValue()
{
    RegKey key;
    if (OpenRunKey(KEY_WRITE, key))
        RegDeleteValueA(key.get(), kValueRunTray);
}

bool TrayTest::TaskExists(const std::string& name)
{
    return GetFileAttributesA((kTaskStore + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void TrayTest::CreateTask(const std::string& name)
{
    const std::string file = std::string(kTrayRoot) + "\\task.xml";
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
