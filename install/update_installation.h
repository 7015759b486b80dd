// "-update": downloads the software package that the software check recorded
// ("url_sw", "file_sw") into the installation directory and runs the Windows
// Installer on it, leaving its progress in "update_stt" for the service
// program, which removes the package once it reads "atualizado".
#pragma once

#include "command_handlers.h"

// Results of RunUpdate.
inline constexpr int kUpdateDone = 0;           // installed, or nothing to do
inline constexpr int kUpdateSettingMissing = 1; // or "file_sw" is not a plain file name
inline constexpr int kUpdateDownloadFailed = 2; // or what arrived is no whole installer package

// Results of InstallPackage.
inline constexpr int kInstallDone = 0;
inline constexpr int kInstallSettingFailed = 1; // a setting missing or a write failed
inline constexpr int kInstallerNotStarted = 2;

// Words of "update_stt".
inline constexpr char kUpdateStateInstalling[] = "atualizando";
inline constexpr char kUpdateStateInstalled[] = "atualizado";

// The account status that lets an update run (any letter case).
inline constexpr char kStatusActive[] = "Ativo";

// Records "atualizando", runs "msiexec /qb /i "packagePath" /norestart" in
// the installation directory (waited for a bounded time) and records
// "atualizado". Needs "user_login" and "password_login" to be present.
int InstallPackage(const char* packagePath);
