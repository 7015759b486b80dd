// Helpers for the Windows tests: files and folders, child programs with
// captured output, a file held by another process, and the machine identity
// worked out independently of the library. The registry helpers come along.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "settings_registry.h"

// Folder of the running test program, with a trailing backslash.
std::string ProgramFolder();

// "/a/b" -> "Z:\a\b": Wine's Z: drive is the Linux root.
std::string WindowsPathOfLinuxPath(const std::string& linuxPath);

std::optional<std::string> ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& text);
// Whether a file or folder exists at `path`.
bool FileExists(const std::string& path);
// How many download scratch files of `target` lie beside it.
int ScratchFilesOf(const std::string& target);

// Every file below `root` (a Windows path without a trailing backslash),
// keyed by its path relative to `root`, with its content; folders appear with
// a trailing backslash and no content.
std::map<std::string, std::string> TreeOf(const std::string& root);
// Removes `root` and everything below it.
void RemoveTree(const std::string& root);

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
// `path` open for reading with `shareMode`, as a user or a scanner may: until
// Release or destruction, or on its own after `releaseAfterMs`. held() once
// the holder has it open.
class HeldFile {
public:
    HeldFile(const std::string& path, DWORD shareMode, DWORD releaseAfterMs = INFINITE);
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
