#include "scratch_installation.h"

#include <windows.h>

#include "devserver_session.h"
#include "win_test_support.h"

bool MakeScratchInstallation()
{
    RemoveTree(kTestRoot);
    bool made = true;
    for (const char* folder : {kTestRoot, kTestInstallDir, kTestConfigDir})
        made = CreateDirectoryA(folder, nullptr) && made;
    return made;
}

bool InstallClientPair(const std::string& installDir, const std::string& pair)
{
    std::string dir = installDir;
    if (!dir.empty() && dir.back() != '\\')
        dir += '\\';
    CreateDirectoryA(dir.c_str(), nullptr);
    CreateDirectoryA((dir + "bin").c_str(), nullptr);
    const std::string pki = DevserverRunDir() + "pki\\";
    return CopyFileA((pki + pair + "cert.pem").c_str(), (dir + "bin\\client_cert.pem").c_str(), FALSE) &&
        CopyFileA((pki + pair + "key.pem").c_str(), (dir + "bin\\client_key.pem").c_str(), FALSE);
}
