// The settings key, the identity key, the Run key and every value name of the
// catalogue. This is the only place where these names are spelled: everything
// else refers to them through these constants.
#pragma once

// Settings key under HKEY_LOCAL_MACHINE, always in the 32-bit view. The library
// and the service program spell its last component differently; registry names
// are case-insensitive, so both address the same key.
inline constexpr char kSettingsSubkey[] = "SOFTWARE\\Pelmora\\VPNKorv";
inline constexpr char kServiceSettingsSubkey[] = "SOFTWARE\\Pelmora\\VPNKORV";

// Identity key under HKEY_CLASSES_ROOT and its single value.
inline constexpr char kIdentitySubkey[] = "Pelmora.VPNKorv";
inline constexpr char kValueIdentityKey[] = "key";

// Run key under HKEY_LOCAL_MACHINE and the tray application's entry in it.
inline constexpr char kRunSubkey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kValueRunTray[] = "Nimbet";

// Values of the settings key. The unnamed default value is the installation
// directory (ending with a backslash).
inline constexpr char kValueInstallDir[] = "";
inline constexpr char kValueUserLogin[] = "user_login";
inline constexpr char kValuePasswordLogin[] = "password_login";
inline constexpr char kValueUpdateServer[] = "update_server";
inline constexpr char kValueConfigDir[] = "config_dir";
inline constexpr char kValueLogDir[] = "log_dir";
inline constexpr char kValueSoftwareVersion[] = "v_sw";
inline constexpr char kValueCommandVersion[] = "v_cmd";
inline constexpr char kValueFirstTime[] = "first_time";
inline constexpr char kValueStatusTime[] = "tm_status";
inline constexpr char kValueStatus[] = "stt";
inline constexpr char kValueStatusMessage[] = "msg_stt";
inline constexpr char kValueStatusVersion[] = "v_stt";
inline constexpr char kValueStatusInt[] = "int_stt";
inline constexpr char kValueStatusPer[] = "per_stt";
inline constexpr char kValueConfigOnly[] = "cnf_only";
inline constexpr char kValueConfigVersion[] = "v_cnf";
inline constexpr char kValueFileVersion[] = "v_file";
inline constexpr char kValueConfigFile[] = "config_file";
inline constexpr char kValueConfigUrl[] = "url_cnf";
inline constexpr char kValueConfigSubDir[] = "sub_dir";
// The VPN configuration file last downloaded, relative to "config_dir" with
// its subdirectory ("sub\name" or "name"): the file a block removes.
inline constexpr char kValueConfigPath[] = "config_path";
inline constexpr char kValueConfigState[] = "cnf";
inline constexpr char kValueNewSoftwareVersion[] = "new_v_sw";
inline constexpr char kValueSoftwareUrl[] = "url_sw";
inline constexpr char kValueSoftwareFile[] = "file_sw";
inline constexpr char kValueUpdateState[] = "update_stt";
inline constexpr char kValueUpdateHours[] = "update_tm";
inline constexpr char kValueLastTime[] = "last_time";
inline constexpr char kValueStatusDay[] = "ts_stt";

// Command slots: "cod_cmdN" holds the code and "v_cmdN" the version received
// for slot N. There are no slots 2 and 5.
inline constexpr int kCommandSlots[] = {1, 3, 4, 6, 7, 8};
inline constexpr char kValueCommandCode1[] = "cod_cmd1";
inline constexpr char kValueCommandCode3[] = "cod_cmd3";
inline constexpr char kValueCommandCode4[] = "cod_cmd4";
inline constexpr char kValueCommandCode6[] = "cod_cmd6";
inline constexpr char kValueCommandCode7[] = "cod_cmd7";
inline constexpr char kValueCommandCode8[] = "cod_cmd8";
inline constexpr char kValueCommandVersion1[] = "v_cmd1";
inline constexpr char kValueCommandVersion3[] = "v_cmd3";
inline constexpr char kValueCommandVersion4[] = "v_cmd4";
inline constexpr char kValueCommandVersion6[] = "v_cmd6";
inline constexpr char kValueCommandVersion7[] = "v_cmd7";
inline constexpr char kValueCommandVersion8[] = "v_cmd8";
