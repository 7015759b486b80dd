// The service program's fixed names: the service, its event source, its
// switch and its exit event.
#pragma once

#include <windows.h>

#include <cstddef>

inline constexpr char kServiceName[] = "KVLService";
inline constexpr char kServiceDisplayName[] = "KVL Service";
// Windows-1252 text: the c-cedilla is the single byte E7.
inline constexpr char kServiceDescription[] = "Servi\xE7o de controle da KVL";
inline constexpr char kEventSourceName[] = "KVLMonitor";
// Switch that the installed command line passes to the program.
inline constexpr char kServiceRunSwitch[] = "-service";
// Dependency list: one entry and the empty entry that ends the list (the
// literal's own NUL is the second terminator).
inline constexpr char kServiceDependencies[] = "Dhcp\0";
inline constexpr char kExitEventName[] = "kvlservice_exit_1";

// The VPN client's own programs that the monitoring loop controls: its
// connection service, and the program that ends the connection when run
// elevated with its stop switch. The program is started by its full path in
// the installation's bin folder, beside the tray program, never by its bare
// name: the shell would search the current directory and PATH for that.
inline constexpr char kVpnServiceName[] = "VPNKorvService";
inline constexpr char kVpnStopProgram[] = "Halvex";
inline constexpr char kVpnStopProgramPath[] = "%s\\bin\\Halvex.exe";
inline constexpr char kVpnStopParameters[] = "-stop";
inline constexpr char kElevatedVerb[] = "runas";
