#!/usr/bin/env bash
# The product's package, built from the same text for the x86_64 test
# build, installed, upgraded and removed by Wine's Windows Installer:
#
#   package_tests.sh CASE
#
# ctest passes KVL_PREFIX, KVL_WINE_RUN, KVL_SVCTOOL, KVL_MSI (this version),
# KVL_MSI_NEXT (one patch level up), KVL_VERSION and KVL_PKI (a client pair
# with the library's pass phrase). Each case starts and ends without the
# product, its service and the settings key.
set -uo pipefail

: "${KVL_PREFIX:?}" "${KVL_WINE_RUN:?}" "${KVL_SVCTOOL:?}" "${KVL_MSI:?}" "${KVL_MSI_NEXT:?}" "${KVL_VERSION:?}" "${KVL_PKI:?}"
PKG_PREFIX=$KVL_PREFIX
pkg_wine() { timeout 120 "$KVL_WINE_RUN" --prefix="$KVL_PREFIX" "$@" </dev/null 2>/dev/null; }
pkg_svctool() { pkg_wine "$KVL_SVCTOOL" "$@"; }
# shellcheck source=package_checks.sh
source "$(dirname "$0")/package_checks.sh"

failures=0
check() {
  local what=$1
  shift
  "$@" || {
    printf 'FAIL: %s\n' "$what"
    failures=$((failures + 1))
  }
}

msi=$(pkg_windows_path "$KVL_MSI")
msi_next=$(pkg_windows_path "$KVL_MSI_NEXT")
pki=$(pkg_windows_path "$KVL_PKI")
pkg_clean "$KVL_MSI_NEXT" "$KVL_MSI"
trap 'pkg_clean "$KVL_MSI_NEXT" "$KVL_MSI"' EXIT

case ${1:?case} in
  install_upgrade_remove)
    check "the package's tables" pkg_tables_ok "$KVL_MSI" "$KVL_VERSION"
    pkg_msiexec /i "$msi" USER_LOGIN=abc PASSWORD_LOGIN=secret 'UPDATE_SERVER=https://127.0.0.1:9/' \
      'LOG_DIR=C:\kvl-package-logs\' "CLIENT_CERT=$pki\\client_cert.pem" "CLIENT_KEY=$pki\\client_key.pem" \
      "SERVER_CA=$pki\\ca.pem"
    check "the silent install succeeds" [ $? -eq 0 ]
    check "the files are installed" pkg_files_installed
    check "the binaries carry the package's version" \
      pkg_binary_version_is "$(pkg_install_dir)/KVLService.exe" "$KVL_VERSION"
    check "the default value is the installation directory" pkg_setting_is "" "$pkg_install_win_dir"
    check "the provisioned values are set" pkg_setting_is user_login abc
    check "the password is set" pkg_setting_is password_login secret
    check "the directory keeps its backslash" pkg_setting_is log_dir 'C:\kvl-package-logs\'
    check "the client pair is in bin" cmp -s "$KVL_PKI/client_key.pem" "$(pkg_install_dir)/bin/client_key.pem"
    check "the server CA is in bin" cmp -s "$KVL_PKI/ca.pem" "$(pkg_install_dir)/bin/server_ca.pem"
    check "the service is registered as -install does" pkg_service_registered
    check "the event source is registered" pkg_event_source_registered
    check "the service runs" pkg_service_reaches RUNNING

    # What the service and the library wrote meanwhile stays too.
    pkg_svctool set-setting stt ativo >/dev/null
    pkg_msiexec /i "$msi_next"
    check "the upgrade succeeds" [ $? -eq 0 ]
    check "the upgrade keeps the provisioned values" pkg_setting_is user_login abc
    check "the upgrade keeps the library's values" pkg_setting_is stt ativo
    check "the upgrade keeps the client pair and the CA" \
      [ -f "$(pkg_install_dir)/bin/client_cert.pem" -a -f "$(pkg_install_dir)/bin/server_ca.pem" ]
    check "the upgraded files are installed" pkg_files_installed
    check "the service runs again after the upgrade" pkg_service_reaches RUNNING
    # Reinstalling the older package is a downgrade: refused, nothing changes.
    pkg_msiexec /i "$msi"
    check "a downgrade is refused" [ $? -ne 0 ]
    check "the service still runs after the refused downgrade" pkg_service_is RUNNING

    pkg_msiexec /x "$msi_next"
    check "the uninstall succeeds" [ $? -eq 0 ]
    check "no service is left" pkg_service_is MISSING
    check "no file of the package is left" pkg_files_removed
    check "the installation directory value is gone" pkg_setting_absent ""
    check "the event source goes with the package" pkg_event_source_absent
    check "the provisioned values stay" pkg_setting_is user_login abc
    ;;
  refusal_and_forget)
    # 15 characters pass the checks' 20-byte reads but not the installer
    # run's 15 bytes: the install must fail and leave nothing behind.
    pkg_msiexec /i "$msi" USER_LOGIN=fifteen-chars-1 V_SW=1.0
    check "an over-long user_login fails the install" [ $? -ne 0 ]
    check "no service after the refusal" pkg_service_is MISSING
    check "no files after the refusal" pkg_files_removed
    check "no values after the refusal" pkg_setting_absent v_sw
    check "no installation directory after the refusal" pkg_setting_absent ""

    # A CA file that holds no certificate is refused like a bad client pair.
    pkg_msiexec /i "$msi" "SERVER_CA=$pki\\client_key.pem"
    check "a server CA that is no certificate fails the install" [ $? -ne 0 ]
    pkg_msiexec /i "$msi" USER_LOGIN=abc "CLIENT_CERT=$pki\\client_cert.pem" "CLIENT_KEY=$pki\\client_key.pem" \
      "SERVER_CA=$pki\\ca.pem"
    check "the install with good values succeeds" [ $? -eq 0 ]
    pkg_msiexec /x "$msi" FORGET_SETTINGS=1
    check "the uninstall that forgets succeeds" [ $? -eq 0 ]
    check "the provisioned values are gone when asked" pkg_setting_absent user_login
    check "the client pair and the CA are gone when asked" \
      [ ! -e "$(pkg_install_dir)/bin/client_cert.pem" -a ! -e "$(pkg_install_dir)/bin/server_ca.pem" ]
    check "no service after the uninstall" pkg_service_is MISSING
    ;;
  *)
    echo "unknown case $1" >&2
    exit 2
    ;;
esac

[ "$failures" -eq 0 ]
