// Shared ground of the tray and interactive user tests: an installation and
// configuration folder on C:, the settings that point at them (and the Run
// value, put back after the case), the owner file and the schtasks stand-in's
// record of its calls. A case shows the library a system directory of its
// own with the stand-in in it, and puts a decoy stand-in where a search would
// find it first (this program's folder, made the current directory and put
// first on PATH).
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "scratch_installation.h"
#include "win_test_support.h"

// In the scratch installation.
inline constexpr char kTrayProgram[] = "\"C:\\kvlchecks\\inst\\bin\\Nimbet.exe\"";
inline constexpr char kTaskStore[] = "C:\\windows\\system32\\tasks\\";
// The system directory the library is shown during a case: it holds the
// schtasks stand-in.
inline constexpr char kTraySystemDir[] = "C:\\kvlchecks\\system32";

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    static void WriteOwnerFile(const std::string& text);
    static bool TaskExists(const std::string& name);
    // Creates the task `name` from a minimal definition, as the real
    // schtasks does.
    static void CreateTask(const std::string& name);
    // Command lines the stand-in recorded since SetUp.
    static std::vector<std::string> SchtasksCalls();
    // The last task document the stand-in was handed by "/xml": its text
    // when the file is UTF-16LE behind the byte-order mark FF FE, else none.
    static std::optional<std::wstring> HandedTaskDocument();

    // The account the desktop shell runs as (the Linux user under Wine).
    static std::string DesktopAccount();

private:
    RegistrySnapshot registry_;
    std::optional<SearchedFirst> decoys_;
};
