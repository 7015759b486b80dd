// Helpers for the library's Windows tests: the settings key and identity key
// as a test sees them, files, and child programs with captured output.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// The settings key (HKLM, 32-bit view) and the identity key, read and written
// directly, without the library's own access functions.
std::optional<std::string> GetSettingForTest(const char* name);
bool SetSettingForTest(const char* name, const std::string& text);
void DeleteSettingForTest(const char* name);
std::optional<std::string> GetIdentityForTest();
bool SetIdentityForTest(const std::string& text);

// Saves every value of the settings key and the identity value on
// construction (creating the settings key when it is missing) and puts them
// back as they were on destruction, so test cases that share one Wine prefix
// do not see each other's values.
class RegistrySnapshot {
public:
    RegistrySnapshot();
    RegistrySnapshot(const RegistrySnapshot&) = delete;
    RegistrySnapshot& operator=(const RegistrySnapshot&) = delete;
    ~RegistrySnapshot();

private:
    struct Value {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };
    bool keyExisted_ = false;
    std::vector<Value> values_;
    std::optional<std::string> identity_;
};

// The devserver fixture's run folder (from KVL_DEVSERVER_DIR) as a Windows
// path with a trailing backslash; empty when the variable is not set.
std::string DevserverRunDir();

// A "key=value" line of the devserver's ready file ("port", "files_port",
// "files_tls_port"); empty when the file or the key is missing.
std::string DevserverReadyValue(const std::string& key);

// Folder of the running test program, with a trailing backslash.
std::string ProgramFolder();

// "/a/b" -> "Z:\a\b": Wine's Z: drive is the Linux root.
std::string WindowsPathOfLinuxPath(const std::string& linuxPath);

std::optional<std::string> ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& text);
// Whether a file or folder exists at `path`.
bool FileExists(const std::string& path);

// Runs `commandLine` with its standard output on a pipe and returns what it
// wrote; `exitCode` receives its exit code. Gives up (nullopt) when the
// program cannot be started or does not end within `timeoutMs`.
std::optional<std::string> RunAndCapture(const std::string& commandLine, DWORD* exitCode, DWORD timeoutMs = 60000);

// Makes `name` in the Windows folder `folder` a Unix symbolic link to
// `target` (relative to that folder), by running the host's ln: Wine's
// CreateSymbolicLink does nothing. Under Wine a link to a folder shows as a
// reparse point; a link to a file does not. Removing `name` again works the
// same way with `target` empty.
bool MakeHostSymlink(const std::string& folder, const std::string& target, const std::string& name);
// Another process (file_holder.exe beside the test program) that holds
// `path` open for reading with `shareMode` until Release or destruction: a
// user who keeps a file locked. held() once the holder has it open.
class HeldFile {
public:
    HeldFile(const std::string& path, DWORD shareMode);
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    ~HeldFile() { Release(); }
    bool held() const { return held_; }
    void Release();

private:
    HANDLE process_ = nullptr;
    HANDLE input_ = nullptr;
    bool held_ = false;
};

// Makes `folder` the current directory and the first on PATH for its
// lifetime: where a search for a bare program name looks first, so a decoy
// there would run if a program were ever searched for.
class SearchedFirst {
public:
    explicit SearchedFirst(const std::string& folder);
    SearchedFirst(const SearchedFirst&) = delete;
    SearchedFirst& operator=(const SearchedFirst&) = delete;
    ~SearchedFirst();

private:
    std::string directory_;
    std::string path_;
};

// `text` with each "\n" as "\r\n": what a program's text-mode standard
// output delivers for it.
std::string WithCrLf(const std::string& text);

// The machine identity computed here from the platform, independently of the
// library: first five digits of the C: volume serial followed by the last
// five digits of the preferred adapter's address text.
std::string ExpectedMachineIdentity();
