#!/usr/bin/env bash
# The product tier: the shipped 32-bit binaries, exactly as the windows preset
# builds them, run under Wine's 32-bit loader in a prefix of their own,
# against the development update server. Every other Windows test runs the
# 64-bit build of the same sources; only this tier can see what is peculiar
# to the shipped build (stdcall between the service and the library, the
# export names, 32-bit layouts, the registry as a real 32-bit process sees
# it, a missing runtime DLL).
#
#   product-tier.sh PRODUCT_DIR WIN64_DIR DEVSERVER
#
# PRODUCT_DIR is the windows preset's tree (build/windows), WIN64_DIR the
# win64 tree that holds the 64-bit test tools (svctool), DEVSERVER a built
# kvl-devserver. Prints each step as it goes, then "product: N passed, N
# failed", or "product: skipped: REASON" (exit 3) where this machine cannot
# run 32-bit programs at all. Exit 0 when every check passed.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
product_dir=$(cd "${1:?product build tree}" && pwd)
win64_dir=$(cd "${2:?win64 build tree}" && pwd)
devserver=${3:?kvl-devserver}

wine=/usr/lib/wine/wine64
prefix=$product_dir/wineprefix
run_dir=$product_dir/product-run
# Each step is bounded: a program that hangs must fail the tier, not CI.
program_seconds=180
# msiexec runs the package's 32-bit programs one after another (provisioning,
# the service's start and stop), each a minute or more under Debian 12's own
# qemu (the bootstrap's fallback where backports' cannot be had).
package_seconds=900
boot_seconds=900
service_wait_ms=180000
# The whole tier's bound: past it, every program left fails at once, so that
# a prefix that hangs costs at most this and one program's limit.
tier_seconds=900
# Under emulation a 32-bit program's start costs about a second with the
# bootstrap's qemu, but a minute of CPU with Debian 12's own, and the test
# command runs this tier beside the others there: give each program room for
# a few such starts on a busy machine. A hang still fails the tier.
if ! "$here/wine-run.sh" --runs-32bit-natively; then
  program_seconds=600
  package_seconds=1800
  service_wait_ms=600000
  tier_seconds=2700
fi

passed=0
failed=0
step() { printf '\n--> product: %s\n' "$*"; }
check() {
  local what=$1
  shift
  if "$@"; then
    printf '    ok    %s\n' "$what"
    passed=$((passed + 1))
  else
    printf '    FAIL  %s\n' "$what"
    failed=$((failed + 1))
  fi
}
finish() {
  printf '\nproduct: %d passed, %d failed\n' "$passed" "$failed"
  [ "$failed" -eq 0 ]
  exit $?
}

# Runs a program of the prefix (32-bit or 64-bit) with a time limit; its
# output goes to stdout.
wine_run() {
  if [ "$SECONDS" -ge "$tier_seconds" ]; then
    echo "product: past the tier's ${tier_seconds} s: not started: $*" >&2
    return 124
  fi
  timeout --kill-after=10 "$program_seconds" "$here/wine-run.sh" --prefix="$prefix" "$@" </dev/null 2>/dev/null
}
svctool() { wine_run "$win64_dir/tests/service/svctool.exe" "$@"; }
# The wait must end, and say so, before the limit on the program that waits.
service_reaches() {
  program_seconds=$((service_wait_ms / 1000 + 60)) svctool wait "$1" "$service_wait_ms" >/dev/null && return 0
  echo "    the service did not reach $1 within $((service_wait_ms / 1000)) s: $(svctool status | tr -d '\r')"
  [ -z "${2:-}" ] || tail -n 5 "$2" 2>/dev/null | sed 's/^/    log: /'
  return 1
}
quiet() { "$@" >/dev/null; }
setting_is() { [ "$(svctool setting "$1" | tr -d '\r')" = "$2" ]; }
service_state_is() { [ "$(svctool state | tr -d '\r')" = "$1" ]; }
image_path_is_installed() { svctool text ImagePath | tr -d '\r' | grep -qi '^"C:.KVL.KVLService.exe" -service$'; }

package=$product_dir/packaging/KVLAgent.msi
for tool in "$product_dir/service/KVLService.exe" "$product_dir/ferolin/Ferolin.dll" \
  "$product_dir/ferolin/FerolinRun.exe" "$win64_dir/tests/service/svctool.exe" \
  "$win64_dir/tests/standins/VPNKorvStandin.exe" "$devserver" "$package"; do
  if [ ! -f "$tool" ]; then
    echo "product: missing $tool (build the windows and win64 presets and the host devserver first)" >&2
    failed=1
    finish
  fi
done

# shellcheck source=../tests/packaging/package_checks.sh
source "$here/../tests/packaging/package_checks.sh"
step "no build-machine path in a shipped binary (strings -a of packaging/ship/)"
deps_prefix=$(sed -n 's/^KVL_DEPS_PREFIX:PATH=//p' "$product_dir/CMakeCache.txt")
check "no dependency folder, source or build tree, or absolute Unix path" \
  pkg_no_build_paths "${deps_prefix%/*}" "$(cd "$here/.." && pwd)" "$product_dir" -- \
  "$product_dir"/packaging/ship/*.exe "$product_dir"/packaging/ship/*.dll

if ! "$here/wine-run.sh" --can-run-32bit; then
  # What ran without Wine still counts.
  [ "$failed" -eq 0 ] || finish
  echo "product: skipped: this machine runs no 32-bit programs (see scripts/bootstrap.sh)"
  exit 3
fi

# A prefix created while 32-bit programs could not run has no 32-bit side and
# never gets one: start again.
if [ -d "$prefix/drive_c/windows" ] && [ "$(ls "$prefix/drive_c/windows/syswow64" 2>/dev/null | wc -l)" -lt 100 ]; then
  rm -rf "$prefix"
fi

step "booting the prefix (32-bit side included; minutes where 32-bit programs are emulated)"
if ! timeout "$boot_seconds" "$here/wine-run.sh" --prefix="$prefix" --up; then
  echo "product: the prefix did not boot within ${boot_seconds}s" >&2
  failed=1
  finish
fi
trap '"$here/devserver-fixture.sh" stop "$run_dir" >/dev/null 2>&1; "$here/wine-run.sh" --prefix="$prefix" --down' EXIT

step "installation directory C:\\KVL with the shipped binaries and the client certificate"
install_dir=$prefix/drive_c/KVL
rm -rf "$install_dir"
mkdir -p "$install_dir/bin" "$install_dir/config"
cp "$product_dir/service/KVLService.exe" "$product_dir/ferolin/Ferolin.dll" "$product_dir/ferolin/FerolinRun.exe" \
  "$install_dir/"

"$here/devserver-fixture.sh" start "$run_dir" "$devserver" >/dev/null || {
  echo "product: the devserver did not start" >&2
  failed=1
  finish
}
cp "$run_dir/pki/client_cert.pem" "$run_dir/pki/client_key.pem" "$install_dir/bin/"
port=$(sed -n 's/^port=//p' "$run_dir/ready")
echo 'remote vpn.example 1194' >"$run_dir/files/vpn.conf"
cat >"$run_dir/state.json" <<'EOF'
{
  "subscribers": {
    "abc": {
      "status": {"result": "0", "v_stt": "3", "stt": "ativo", "msg": "Conta ativa"},
      "config": {"result": "0", "files": [
        {"v_cnf": "7", "is_cnf": "1", "url_cnf": "{{files}}/vpn.conf", "sub_dir": "", "file_cnf": "vpn.conf"}
      ]}
    }
  }
}
EOF

# The settings as an installer would leave them; every value stays on the
# 32-bit view, where the shipped program reads it.
svctool drop-settings-key >/dev/null
for pair in "=C:\\KVL\\" "user_login=abc" "password_login=secret" "update_server=https://127.0.0.1:$port/" \
  "config_dir=C:\\KVL\\config" "log_dir=C:\\KVL" "v_cnf=" "v_file=" "v_sw=1.0" "update_tm=24"; do
  svctool set-setting "${pair%%=*}" "${pair#*=}" >/dev/null
done

step "FerolinRun.exe -checkstatus (the shipped library's export and status check)"
output=$(cd "$install_dir" && wine_run "$install_dir/FerolinRun.exe" -checkstatus | tr -d '\r')
check "FerolinRun prints result: 0" [ "$output" = "result: 0" ]
check "the status word is stored" setting_is stt ativo
check "the server saw the status request" grep -q chk_stt "$run_dir/requests.log"

step "KVLService.exe -install, -start, its first pass, -stop, -remove"
svctool purge >/dev/null
# The VPN connection service the shipped program controls: the stand-in.
vpn_dir=$prefix/drive_c/VPNKorv
rm -rf "$vpn_dir"
mkdir -p "$vpn_dir"
cp "$win64_dir/tests/standins/VPNKorvStandin.exe" "$vpn_dir/"
wine_run "$vpn_dir/VPNKorvStandin.exe" -remove >/dev/null
wine_run "$vpn_dir/VPNKorvStandin.exe" -install >/dev/null
wine_run "$install_dir/KVLService.exe" -install >/dev/null
check "the service is registered with the installed program" image_path_is_installed
wine_run "$install_dir/KVLService.exe" -start >/dev/null
check "the service reaches RUNNING" service_reaches RUNNING "$install_dir/kvlservice.log"

# The first pass checks the status at once, then runs the scheduled update:
# the configuration arrives and the VPN connection service is started.
log=$install_dir/kvlservice.log
first_pass_done() { grep -q '^running$' "$vpn_dir/vpnkorv-journal.txt" 2>/dev/null; }
for ((i = 0; i < 90; i++)); do
  first_pass_done && break
  sleep 1
done
check "the monitoring thread logs the account status" grep -q 'KVLServiceThread status\[ativo\]' "$log"
check "the configuration file is downloaded" [ -s "$install_dir/config/vpn.conf" ]
check "its version is recorded" setting_is v_cnf 7
check "the VPN connection service (stand-in) is started" first_pass_done

wine_run "$install_dir/KVLService.exe" -stop >/dev/null
check "the service stops" service_reaches STOPPED "$install_dir/kvlservice.log"
wine_run "$install_dir/KVLService.exe" -remove >/dev/null
check "the service is removed" service_state_is MISSING
wine_run "$vpn_dir/VPNKorvStandin.exe" -remove >/dev/null

step "bin\\server_ca.pem holding only an intermediate CA: -checkstatus and -update against a server that sends its chain"
cp "$run_dir/pki/intermediate_ca.pem" "$install_dir/bin/server_ca.pem"
# Only a whole installer package gets past the download.
cp "$package" "$run_dir/files/chained.msi"
svctool set-setting update_server "https://127.0.0.1:$(sed -n 's/^chained_port=//p' "$run_dir/ready")/" >/dev/null
svctool unset-setting stt >/dev/null
output=$(cd "$install_dir" && wine_run "$install_dir/FerolinRun.exe" -checkstatus | tr -d '\r')
check "FerolinRun -checkstatus prints result: 0" [ "$output" = "result: 0" ]
# A login too long for the installer stops -update after the download.
for pair in "url_sw=https://localhost:$(sed -n 's/^chained_files_tls_port=//p' "$run_dir/ready")/chained.msi" \
  "file_sw=chained.msi" "user_login=uuuuuuuuuuuuuuu"; do
  svctool set-setting "${pair%%=*}" "${pair#*=}" >/dev/null
done
output=$(cd "$install_dir" && wine_run "$install_dir/FerolinRun.exe" -update | tr -d '\r')
# prints_zero_and_keeps OUTPUT FILE: "-update" succeeded and FILE is the package.
prints_zero_and_keeps() { [ "$1" = "result: 0" ] && cmp -s "$package" "$2"; }
check "FerolinRun -update prints result: 0 and the package arrives" \
  prints_zero_and_keeps "$output" "$install_dir/chained.msi"
rm -f "$install_dir/bin/server_ca.pem" "$install_dir/chained.msi"

step "KVLAgent.msi itself as the -update package, with bin\\publisher.pem: the build's test publisher, another, a cut copy"
# The build signed the package with the test publisher of its test PKI.
cp "$package" "$run_dir/files/agent.msi"
head -c $(($(stat -c %s "$package") / 2)) "$package" >"$run_dir/files/agent-cut.msi"
files_port=$(sed -n 's/^files_port=//p' "$run_dir/ready")
# update_one URL_FILE PUBLISHER_PEM: -update's printed result once the
# download and the package's checks are done (the login stops it before
# msiexec).
update_one() {
  cp "$2" "$install_dir/bin/publisher.pem"
  rm -f "$install_dir/agent.msi"
  svctool set-setting url_sw "http://127.0.0.1:$files_port/$1" >/dev/null
  svctool set-setting file_sw agent.msi >/dev/null
  (cd "$install_dir" && wine_run "$install_dir/FerolinRun.exe" -update | tr -d '\r')
}
output=$(update_one agent.msi "$product_dir/test-pki/ca.pem")
check "signed by the test publisher: -update prints result: 0 and keeps the package" \
  prints_zero_and_keeps "$output" "$install_dir/agent.msi"
output=$(update_one agent.msi "$product_dir/test-pki/other_ca.pem")
check "another publisher's file: -update prints result: 2 and leaves no package" \
  [ "$output" = "result: 2" -a ! -e "$install_dir/agent.msi" ]
output=$(update_one agent-cut.msi "$product_dir/test-pki/ca.pem")
check "the package cut: -update prints result: 2 and leaves no package" \
  [ "$output" = "result: 2" -a ! -e "$install_dir/agent.msi" ]
rm -f "$install_dir/bin/publisher.pem"
for name in url_sw file_sw update_stt; do svctool unset-setting "$name" >/dev/null; done
svctool set-setting user_login abc >/dev/null
svctool set-setting update_server "https://127.0.0.1:$port/" >/dev/null

step "the shipped package: its tables, a silent install with provisioning, the stripped binaries at work, removal"
PKG_PREFIX=$prefix
pkg_wine() { program_seconds=$package_seconds wine_run "$@"; }
pkg_svctool() { svctool "$@"; }
# shellcheck source=../tests/packaging/package_checks.sh
source "$here/../tests/packaging/package_checks.sh"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$product_dir/CMakeCache.txt")
check "the package's tables (service, settings key, files, version $version)" pkg_tables_ok "$package" "$version"
pkg_clean "$package"
pki=$(pkg_windows_path "$run_dir/pki")
pkg_msiexec /i "$(pkg_windows_path "$package")" USER_LOGIN=abc PASSWORD_LOGIN=secret "UPDATE_SERVER=https://127.0.0.1:$port/" \
  "CLIENT_CERT=$pki\\client_cert.pem" "CLIENT_KEY=$pki\\client_key.pem"
check "msiexec /qn /i installs and provisions" [ $? -eq 0 ]
check "the four binaries and bin\\ are installed" pkg_files_installed
check "the service program carries version $version" pkg_binary_version_is "$(pkg_install_dir)/KVLService.exe" "$version"
check "the default value is the installation directory" pkg_setting_is "" "$pkg_install_win_dir"
check "the service is registered as -install does" pkg_service_registered
check "the event source is registered with the shipped program's message table" pkg_event_source_registered
check "the installed service reaches RUNNING" service_reaches RUNNING
svctool unset-setting stt >/dev/null
output=$(cd "$(pkg_install_dir)" && wine_run "$(pkg_install_dir)/FerolinRun.exe" -checkstatus | tr -d '\r')
check "the installed FerolinRun -checkstatus with the provisioned pair prints result: 0" [ "$output" = "result: 0" ]
check "the status word is stored" setting_is stt ativo
pkg_msiexec /x "$(pkg_windows_path "$package")"
check "msiexec /qn /x removes the package" [ $? -eq 0 ]
check "no service is left" service_state_is MISSING
check "no file of the package is left" pkg_files_removed
check "the provisioned values stay" pkg_setting_is user_login abc
pkg_clean "$package"

finish
