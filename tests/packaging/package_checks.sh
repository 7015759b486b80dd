# Sourced by the package tests (win64 tier) and the product tier: what an
# installed, upgraded or removed KVL package must leave in a Wine prefix.
#
# The caller defines pkg_wine (runs a Windows program of the prefix, output on
# stdout) and pkg_svctool (runs svctool.exe), and sets PKG_PREFIX.

pkg_install_dir() { printf '%s' "$PKG_PREFIX/drive_c/Program Files (x86)/KVL"; }
pkg_install_win_dir='C:\Program Files (x86)\KVL\'
pkg_shipped_files=(KVLService.exe Ferolin.dll FerolinRun.exe KVLProvision.exe)

# msiexec quietly; the exit code is msiexec's.
pkg_msiexec() { pkg_wine msiexec /qn "$@" >/dev/null; }
pkg_windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# Removes whatever an earlier run left: the service, the products of the
# given packages, the settings key and the installation folder.
pkg_clean() {
  local msi
  pkg_svctool purge >/dev/null 2>&1
  for msi in "$@"; do
    pkg_msiexec /x "$(pkg_windows_path "$msi")" 2>/dev/null
  done
  pkg_wine reg delete 'HKLM\SOFTWARE\Pelmora\VPNKorv' /f /reg:32 >/dev/null 2>&1
  rm -rf "$(pkg_install_dir)"
  return 0
}

pkg_setting_is() { [ "$(pkg_svctool setting "$1" | tr -d '\r')" = "$2" ]; }
pkg_setting_absent() { ! pkg_svctool setting "$1" >/dev/null 2>&1; }
pkg_service_is() { [ "$(pkg_svctool state | tr -d '\r')" = "$1" ]; }
pkg_service_reaches() { pkg_svctool wait "$1" "${2:-60000}" >/dev/null; }

pkg_files_installed() {
  local file
  for file in "${pkg_shipped_files[@]}"; do
    [ -f "$(pkg_install_dir)/$file" ] || return 1
  done
  [ -d "$(pkg_install_dir)/bin" ]
}
# Nothing of the package's own is left (the folder itself may stay only when
# it holds what was provisioned: the client pair, a log).
pkg_files_removed() {
  local file
  for file in "${pkg_shipped_files[@]}"; do
    [ ! -e "$(pkg_install_dir)/$file" ] || return 1
  done
}

# The service as "KVLService.exe -install" registers it. Wine's installer
# writes the image path without quotes (Windows Installer quotes it), so the
# path is matched either way.
pkg_service_registered() {
  pkg_svctool text ImagePath | tr -d '\r' | grep -qiE '^"?C:\\Program Files \(x86\)\\KVL\\KVLService\.exe"? -service$' &&
    [ "$(pkg_svctool value DependOnService | tr -d '\r')" = "7 440068006300700000000000" ] &&
    [ "$(pkg_svctool value Start | tr -d '\r')" = "4 02000000" ] &&
    [ "$(pkg_svctool text DisplayName | tr -d '\r')" = "KVL Service" ] &&
    [ "$(pkg_svctool description | tr -d '\r')" = "5365727669e76f20646520636f6e74726f6c65206461204b564c" ]
}

# The package's tables: the service row, the settings key's default value,
# the four files, the package's version, the password kept out of the
# installer's log (Wine's installer logs hidden properties all the same, so
# only the tables can show it), and the provisioning step: it takes the
# server CA and the publisher certificate, and runs on every installation, because it is also what
# restricts bin\ (Wine keeps no DACL, so only that it runs can be seen here).
pkg_tables_ok() {
  local msi=$1 version=$2
  msiinfo export "$msi" ServiceInstall | tr -d '\r' |
    grep -qP '^KVLService\tKVLService\tKVL Service\t16\t2\t1\t\tDhcp\[~\]\[~\]\t\t\t-service\t' &&
    msiinfo export "$msi" ServiceControl | tr -d '\r' | grep -qP '^KVLService\tKVLService\t163\t\t1\t' &&
    msiinfo export "$msi" Registry | tr -d '\r' | grep -qP '\t2\tSOFTWARE\\Pelmora\\VPNKorv\t\t\[INSTALLDIR\]\t' &&
    [ "$(msiinfo export "$msi" File | tr -d '\r' | grep -cP '^(KVLService\.exe|Ferolin\.dll|FerolinRun\.exe|KVLProvision\.exe)\t')" = 4 ] &&
    msiinfo export "$msi" Property | tr -d '\r' | grep -qP "^ProductVersion\t$version\$" &&
    msiinfo export "$msi" Property | tr -d '\r' | grep -qP '^MsiHiddenProperties\tPASSWORD_LOGIN$' &&
    msiinfo export "$msi" CustomAction | tr -d '\r' |
    grep -qP '^ProvisionSettings\t11282\tKVLProvision\.exe\t-installer .*"ca=\[SERVER_CA\]" "publisher=\[PUBLISHER_CERT\]"\t' &&
    msiinfo export "$msi" InstallExecuteSequence | tr -d '\r' | grep -qP '^ProvisionSettings\tNOT REMOVE~="ALL"\t5100$' &&
    msiinfo export "$msi" Property | tr -d '\r' | grep -qP '^SecureCustomProperties\t(.*;)?SERVER_CA;PUBLISHER_CERT(;|$)'
}

# The version resource of an installed binary names the package's version
# (its texts are UTF-16).
pkg_binary_version_is() {
  # iconv reports the binary's other bytes as invalid: only grep decides.
  { iconv -c -f UTF-16LE -t UTF-8 <"$1" 2>/dev/null || true; } | tr -d '\0' | grep -a "ProductVersion.\{0,2\}$2" >/dev/null
}

# No build-machine path in a shipped binary: on Windows a path that begins
# with "/" lies on the current drive, in a folder any user may create, so a
# compiled-in path of the build machine is a file an attacker can plant.
#   pkg_no_build_paths FOLDER... -- BINARY...
# Looks in `strings -a` of each binary for each FOLDER anywhere in a string
# (the dependency folder, the source and build trees), and for any absolute
# Unix path: a "/" that starts a word and is followed by a top-level Linux
# folder. A "/" after a letter, a digit, ":" or "/" starts no path (URLs,
# MIME types, "%s/%s" formats), so those do not count. Prints what it finds.
pkg_no_build_paths() {
  local folders=() file hits found=0
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    folders+=("$1")
    shift
  done
  shift
  local unix_path='(^|[^[:alnum:]_.:/~-])/(usr|var|home|tmp|work|opt|etc|root|srv|mnt|media|build|lib|lib32|lib64|bin|sbin|proc|sys|dev|run|boot|snap|nix)(/|$)'
  for file in "$@"; do
    hits=$(strings -a "$file" | grep -E "$unix_path" || true)
    for folder in "${folders[@]}"; do
      [ -n "$folder" ] && hits+=$'\n'$(strings -a "$file" | grep -F "$folder" || true)
    done
    hits=$(printf '%s\n' "$hits" | sed '/^$/d' | sort -u)
    if [ -n "$hits" ]; then
      printf '%s: %s\n' "${file##*/}" "$hits" | head -n 20 >&2
      found=1
    fi
  done
  [ "$found" -eq 0 ]
}
# The event source names the installed program as its message file
# (REG_EXPAND_SZ, type 2) for the three event types (REG_DWORD 7), and the
# installed program's table turns an event's two strings into one line.
pkg_event_source_registered() {
  [ "$(pkg_svctool event-source | tr -d '\r')" = "2 ${pkg_install_win_dir}KVLService.exe"$'\n'"4 7" ] &&
    [ "$(pkg_svctool event-text "${pkg_install_win_dir}KVLService.exe" "install*: 0" | tr -d '\r')" = \
      "KVLMonitor: install*: 0" ]
}
pkg_event_source_absent() { ! pkg_svctool event-source >/dev/null; }
