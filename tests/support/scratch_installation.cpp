#include "scratch_installation.h"

#include <windows.h>

#include "devserver_session.h"
#include "win_test_support.h"

bool MakeScratchInstallation(const std::string& root)
{
    RemoveTree(root);
    bool made = true;
    for (const std::string& folder : {root, root + "\\inst", root + "\\config"})
        made = CreateDirectoryA(folder.c_str(), nullptr) && made;
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
