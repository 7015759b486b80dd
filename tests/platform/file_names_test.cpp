// The one name rule for everything the update server names: what it refuses
// and, next to it, what it accepts.
#include <string>

#include <gtest/gtest.h>

#include "file_names.h"

namespace {

TEST(PlainFileName, OrdinaryNamesAreAccepted)
{
    for (const char* name : {"vpn.conf",      "a.b.c",         "a",        "korv client.ovpn",
                             "a b  c.txt",    "KVL-2.1.0.msi", ".hidden",  "..x",
                             "x..y",          "con1",          "conx.txt", "com0",
                             "lpt10",         "com",           "nul_",     "xnul",
                             "auxiliary.txt", "COM1x.log",     "~$tmp",    "caf\xc3\xa9.txt"}) {
        EXPECT_EQ(IsPlainFileName(name), 1) << "[" << name << "]";
    }
    EXPECT_EQ(IsPlainFileName(std::string(kPlainNameLimit, 'n').c_str()), 1) << "255 characters";
}

TEST(PlainFileName, EmptyMissingOrTooLongIsRefused)
{
    EXPECT_EQ(IsPlainFileName(nullptr), 0);
    EXPECT_EQ(IsPlainFileName(""), 0);
    EXPECT_EQ(IsPlainFileName(std::string(kPlainNameLimit + 1, 'n').c_str()), 0) << "256 characters";
}

TEST(PlainFileName, ReservedAndControlCharactersAreRefused)
{
    for (const char* reserved : {"<", ">", ":", "\"", "/", "\\", "|", "?", "*", "\x01", "\x1f", "\t", "\n", "\x7f"}) {
        for (const std::string& name :
             {std::string(reserved), "a" + std::string(reserved) + "b", "vpn.conf" + std::string(reserved)}) {
            EXPECT_EQ(IsPlainFileName(name.c_str()), 0) << "[" << name << "]";
        }
    }
    // The forms that lead out of the directory.
    for (const char* name : {"..\\x", "a/b", "C:\\x", "C:x", "\\x", "/x", "x:stream", "\\\\server\\share"}) {
        EXPECT_EQ(IsPlainFileName(name), 0) << "[" << name << "]";
    }
}

TEST(PlainFileName, TrailingDotOrBlankIsRefused)
{
    for (const char* name : {".", "..", "...", ". .", " ", "name.", "name ", "vpn.conf.", "vpn.conf ", "a. "}) {
        EXPECT_EQ(IsPlainFileName(name), 0) << "[" << name << "]";
    }
}

TEST(PlainFileName, DeviceNamesAreRefusedInAnyCaseAndWithAnyExtension)
{
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "COM1", "COM5", "COM9", "LPT1", "LPT9", "COM\xb9", "COM\xb2",
                               "LPT\xb3", "CONIN$", "CONOUT$"}) {
        const std::string upper = device;
        std::string lower;
        for (char c : upper)
            lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        std::string mixed = lower;
        mixed[0] = upper[0];
        for (const std::string& name : {upper, lower, mixed, lower + ".txt", upper + ".conf.bak", mixed + " .log"}) {
            EXPECT_EQ(IsPlainFileName(name.c_str()), 0) << "[" << name << "]";
        }
    }
}

// An 8.3 alias may name another file or folder ("KVLSER~1.EXE" is
// KVLService.exe), and a ".local" folder redirects a program's DLLs.
TEST(PlainFileName, ShortNameAliasesAndLocalRedirectionsAreRefused)
{
    for (const char* name : {"KVLSER~1.EXE", "progra~1", "a~0", "vpn~12.conf", "KVLService.exe.local", "x.LOCAL",
                             ".local", "Ferolin.dll.Local"}) {
        EXPECT_EQ(IsPlainFileName(name), 0) << "[" << name << "]";
    }
}

// Nothing the server names may be a file that Windows loads or runs; the
// package's own kind is the one exception, and only for the package.
TEST(ServerFileName, LoadableOrRunnableKindsAreRefused)
{
    for (const char* extension :
         {".exe", ".dll", ".com", ".bat", ".cmd",  ".msi", ".msp",      ".mst",   ".sys", ".drv", ".ocx",
          ".cpl", ".scr", ".pif", ".ps1", ".psm1", ".vbs", ".vbe",      ".js",    ".jse", ".wsf", ".wsh",
          ".hta", ".lnk", ".url", ".inf", ".reg",  ".sct", ".manifest", ".local", ".DLL", ".Exe"}) {
        const std::string name = std::string("IPHLPAPI") + extension;
        EXPECT_EQ(IsServerFileName(name.c_str()), 0) << "[" << name << "]";
        EXPECT_EQ(IsServerPackageName(name.c_str()), std::string(extension) == ".msi" ? 1 : 0) << "[" << name << "]";
    }
    for (const char* name : {"vpn.conf", "korv.ovpn", "ca.crt", "ta.key", "rules.txt", "x.dll.txt", "x.msix.conf",
                             "a.jsx", "exe", "dll"}) {
        EXPECT_EQ(IsServerFileName(name), 1) << "[" << name << "]";
        EXPECT_EQ(IsServerPackageName(name), 1) << "[" << name << "]";
    }
    EXPECT_EQ(IsServerFileName("con.txt"), 0) << "the plain-name rule still applies";
    EXPECT_EQ(IsServerPackageName("..\\x.msi"), 0) << "the plain-name rule still applies";
}

} // namespace
