#!/usr/bin/env bash
# Drives KVLService.exe and its test build (KVLServiceProbe.exe) through Wine's
# service manager, one case per run:
#
#   service_tests.sh CASE
#
# ctest passes the prefix and the programs in KVL_PREFIX, KVL_WINE_RUN,
# KVL_SERVICE_EXE, KVL_PROBE_EXE and KVL_SVCTOOL. Every case starts without
# the service, without the log file and without "log_dir", and leaves them so
# again, whatever happens in between.
set -uo pipefail

: "${KVL_PREFIX:?}" "${KVL_WINE_RUN:?}" "${KVL_SERVICE_EXE:?}" "${KVL_PROBE_EXE:?}" "${KVL_SVCTOOL:?}"

probe_dir=$(dirname "$KVL_PROBE_EXE")
log="$KVL_PREFIX/drive_c/kvlservice.log"
status_file="$probe_dir/probe-status.txt"
monitor_file="$probe_dir/probe-monitor.txt"
block_file="$probe_dir/probe-block-monitor"
log_dir_name=kvl-service-logs
work=$(mktemp -d)
failures=0

fail() {
  printf 'FAIL: %s\n' "$*"
  failures=$((failures + 1))
}

# The runner brings the prefix up once; after that programs start straight
# through Wine's loader, which saves the runner's start-up check on each of
# the many calls below.
if [ -z "${KVL_WINE:-}" ]; then
  if [ -x /usr/lib/wine/wine64 ]; then KVL_WINE=/usr/lib/wine/wine64; else KVL_WINE=wine; fi
fi
export WINEPREFIX=$KVL_PREFIX WINEARCH=${WINEARCH:-win64}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine_exec() {
  WINEDEBUG=${WINEDEBUG:--all} "$KVL_WINE" "$@"
}

# Runs a Windows program; its stdout, stderr (with the event-log texts) and
# exit code land in $work/out, $work/err and $rc.
run() {
  WINEDEBUG=-all,warn+eventlog wine_exec "$@" >"$work/out" 2>"$work/err" </dev/null
  rc=$?
}

svctool() {
  wine_exec "$KVL_SVCTOOL" "$@" </dev/null 2>>"$work/svctool.err" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

expect_rc() {
  [ "$rc" -eq "$1" ] || fail "$2: exit code $rc, expected $1"
}

# expect_in FILE TEXT WHAT: TEXT (fixed string, may hold \n) is in FILE.
expect_in() {
  if [ ! -f "$1" ] || ! grep -qF -- "$2" "$1"; then
    fail "$3: no '$2' in $(basename "$1")"
    [ -f "$1" ] && sed 's/^/    | /' "$1" | tail -n 15
  fi
}

expect_not_in() {
  if [ -f "$1" ] && grep -qF -- "$2" "$1"; then
    fail "$3: unexpected '$2' in $(basename "$1")"
  fi
}

# The event texts that a run reported, one per line.
events() {
  grep -o 'ReportEventW L"[^"]*"' "$work/err" | sed 's/^ReportEventW L"//; s/"$//'
}

expect_event() {
  if ! events | grep -qF -- "$1"; then
    fail "$2: no event '$1'"
    sed 's/^/    | /' "$work/err" | tail -n 15
  fi
}

# A log line holding TEXT; log lines keep their own "\n" before the CR LF.
expect_log() {
  expect_in "${3:-$log}" "$1" "$2"
}

state() { svctool state; }

wait_state() {
  svctool wait "$1" "$2" >/dev/null || fail "$3: service did not reach $1 within $2 ms (now $(state))"
}

# Waits until FILE holds TEXT, for up to SECONDS.
wait_for_text() {
  local file=$1 text=$2 seconds=$3 i
  for ((i = 0; i < seconds * 10; i++)); do
    [ -f "$file" ] && grep -qF -- "$text" "$file" && return 0
    sleep 0.1
  done
  return 1
}

clear_files() {
  rm -f "$log" "$status_file" "$monitor_file" "$block_file" "$probe_dir/probe-fail-start"
  rm -rf "$KVL_PREFIX/drive_c/$log_dir_name"
}

# The values a case may leave in the settings key: "log_dir", and what the
# monitoring loop writes at start-up and at each (failing) status check.
touched_settings=(log_dir update_tm last_time ts_stt cnf_only)
settings_key_state=
declare -A saved_settings=()
save_settings() {
  local name value
  svctool setting log_dir >/dev/null
  settings_key_state=$?
  for name in "${touched_settings[@]}"; do
    if value=$(svctool setting "$name"); then saved_settings[$name]=$value; fi
  done
  svctool unset-setting log_dir
}

restore_settings() {
  local name
  for name in "${touched_settings[@]}"; do
    if [ -n "${saved_settings[$name]+set}" ]; then
      svctool set-setting "$name" "${saved_settings[$name]}"
    else
      svctool unset-setting "$name"
    fi
  done
  [ "$settings_key_state" = 3 ] && svctool drop-settings-key
}

cleanup() {
  rm -f "$block_file"
  svctool purge >/dev/null || echo "warning: service could not be removed"
  [ -n "$settings_key_state" ] && restore_settings
  clear_files
  if [ -s "$work/svctool.err" ]; then
    echo "svctool said:"
    sed 's/^/    | /' "$work/svctool.err"
  fi
  rm -rf "$work"
}
trap cleanup EXIT

install_probe() {
  run "$KVL_PROBE_EXE" -install
  expect_rc 0 "probe install"
  [ "$(state)" = STOPPED ] || fail "probe install: service state $(state)"
}

start_probe() {
  run "$KVL_PROBE_EXE" -start
  expect_rc 0 "probe start"
  wait_state RUNNING 10000 "probe start"
}

# --- cases -------------------------------------------------------------------

case_command_line() {
  run "$KVL_SERVICE_EXE"
  expect_rc 0 "no argument"
  [ -s "$work/out" ] && fail "no argument: printed $(cat "$work/out")"

  run "$KVL_SERVICE_EXE" install
  expect_rc 0 "switch without prefix"
  [ -s "$work/out" ] && fail "switch without prefix: printed $(cat "$work/out")"
  [ "$(state)" = MISSING ] || fail "switch without prefix: the service was installed"
  [ -f "$log" ] && fail "no switch: something was logged"

  run "$KVL_SERVICE_EXE" -foo bar
  expect_rc 0 "unknown switch"
  printf '%s\n' \
    "KVLService -install          to install the service" \
    "KVLService -start"$'\t\t\t'" to start the service" \
    "KVLService -remove           to remove the service" \
    "KVLService -debug <params>   to run as a console app for debugging" \
    "KVLService -service          to initialize StartServiceCtrlDispatcher" \
    "This may take several seconds.  Please wait." >"$work/usage"
  tr -d '\r' <"$work/out" >"$work/usage-got"
  cmp -s "$work/usage" "$work/usage-got" || {
    fail "unknown switch: usage text differs"
    diff "$work/usage" "$work/usage-got" | sed 's/^/    | /'
  }

  # Started by hand, the dispatcher has no service manager to talk to.
  run "$KVL_SERVICE_EXE" /SERVICE
  expect_rc 0 "service switch from a console"
  expect_log "KVL Service StartServiceCtrlDispatcher failed - " "service switch from a console"
  expect_event "service*: 1" "service switch from a console"
}

# Wine stores no failure actions and knows no flag for stops with an error:
# it refuses the flag with ERROR_INVALID_LEVEL (124), and that refusal is
# what shows -install and -config asking for it (on Windows they give 0).
wine_refuses_flag=124

case_install_and_configure() {
  run "$KVL_SERVICE_EXE" -Install
  expect_rc 0 "install"
  expect_event "install*: $wine_refuses_flag" "install"
  expect_log $'KVL Service installed.\n' "install"

  local win_path="Z:${KVL_SERVICE_EXE//\//\\}"
  [ "$(svctool text ImagePath)" = "\"$win_path\" -service" ] ||
    fail "install: ImagePath is '$(svctool text ImagePath)', expected '\"$win_path\" -service'"
  [ "$(svctool text DisplayName)" = "KVL Service" ] || fail "install: DisplayName is '$(svctool text DisplayName)'"
  [ "$(svctool text ObjectName)" = "LocalSystem" ] || fail "install: ObjectName is '$(svctool text ObjectName)'"
  # DWORD values (type 4), little-endian.
  [ "$(svctool value Type)" = "4 10000000" ] || fail "install: Type is '$(svctool value Type)'"
  [ "$(svctool value Start)" = "4 02000000" ] || fail "install: Start is '$(svctool value Start)'"
  [ "$(svctool value ErrorControl)" = "4 01000000" ] || fail "install: ErrorControl is '$(svctool value ErrorControl)'"
  # REG_MULTI_SZ (type 7): "Dhcp", its NUL and the list's closing NUL, nothing more.
  [ "$(svctool value DependOnService)" = "7 440068006300700000000000" ] ||
    fail "install: DependOnService is '$(svctool value DependOnService)'"
  # "Servi\xE7o de controle da KVL" in the ANSI code page.
  [ "$(svctool description)" = "5365727669e76f20646520636f6e74726f6c65206461204b564c" ] ||
    fail "install: description bytes are '$(svctool description)'"

  run "$KVL_SERVICE_EXE" /INSTALL
  expect_rc 0 "second install"
  expect_event "CreateService failed - " "second install"
  expect_event "install*: 1" "second install"
  [ "$(events | grep -c 'CreateService failed - .* (0x431)$')" -eq 1 ] ||
    fail "second install: the failure does not end with the service-exists code"

  run "$KVL_SERVICE_EXE" -config
  expect_rc 0 "config"
  expect_log $'KVL Service configured.\n' "config"
  expect_log "config*: $wine_refuses_flag" "config"
  [ "$(svctool text ImagePath)" = "\"$win_path\" -service" ] || fail "config: ImagePath changed"

  # Removing a stopped service: the stop control is refused, so no dots.
  run "$KVL_SERVICE_EXE" -remove
  expect_rc 0 "remove stopped"
  [ -s "$work/out" ] && fail "remove stopped: printed '$(cat "$work/out")'"
  expect_log $'KVL Service removed.\n' "remove stopped"
  expect_event "remove*: 0" "remove stopped"
  [ "$(state)" = MISSING ] || fail "remove stopped: service still there ($(state))"
}

case_start_and_stop() {
  install_probe
  run "$KVL_PROBE_EXE" -start
  expect_rc 0 "start"
  expect_log "start: 0" "start"
  wait_state RUNNING 10000 "start"

  # ServiceMain, reports #1 and #2, report #3, then running.
  printf '%s\n' \
    "state=2 checkpoint=1 wait=3000 accept=0 exit=0" \
    "state=2 checkpoint=2 wait=3000 accept=0 exit=0" \
    "state=2 checkpoint=3 wait=3000 accept=0 exit=0" \
    "state=2 checkpoint=4 wait=3000 accept=0 exit=0" \
    "state=4 checkpoint=0 wait=0 accept=1 exit=0" >"$work/start-reports"
  cmp -s "$work/start-reports" "$status_file" || {
    fail "start: status reports differ"
    diff "$work/start-reports" "$status_file" | sed 's/^/    | /'
  }
  wait_for_text "$monitor_file" started 5 || fail "start: the monitoring thread did not start"
  expect_not_in "$log" "Exit event" "start"

  # Interrogate: the running state once more, check point 0.
  svctool interrogate || fail "interrogate: control refused"
  [ "$(sed -n 6p "$status_file")" = "state=4 checkpoint=0 wait=0 accept=1 exit=0" ] ||
    fail "interrogate: reported '$(sed -n 6p "$status_file")'"

  run "$KVL_PROBE_EXE" -start
  expect_rc 1 "start while running"
  expect_log "StartService failed - " "start while running"
  expect_log "start: 1" "start while running"

  rm -f "$log"
  run "$KVL_PROBE_EXE" -stop
  expect_rc 0 "stop"
  expect_log "stop: 0" "stop"
  [ "$(state)" = STOPPED ] || fail "stop: state $(state)"
  tail -n 2 "$status_file" >"$work/stop-got"
  printf '%s\n' \
    "state=3 checkpoint=5 wait=7000 accept=1 exit=0" \
    "state=1 checkpoint=0 wait=0 accept=1 exit=0" >"$work/stop-reports"
  cmp -s "$work/stop-reports" "$work/stop-got" || {
    fail "stop: status reports differ"
    diff "$work/stop-reports" "$work/stop-got" | sed 's/^/    | /'
  }
  expect_log "KVLServiceThread stopped" "stop"
  expect_log "ServiceStart end" "stop"
  expect_not_in "$log" "failed to stop" "stop"
  if grep -q 'ServiceStart end' "$log" && grep -q 'KVLServiceThread stopped' "$log"; then
    [ "$(grep -n 'KVLServiceThread stopped' "$log" | cut -d: -f1)" -lt "$(grep -n 'ServiceStart end' "$log" | cut -d: -f1)" ] ||
      fail "stop: the body ended before its monitoring thread"
  fi

  rm -f "$log"
  run "$KVL_PROBE_EXE" -stop
  expect_rc 0 "stop while stopped"
  expect_log "stop: 0" "stop while stopped"
  [ "$(grep -c . "$log")" -eq 1 ] || fail "stop while stopped: logged more than its result"
}

case_remove_running() {
  install_probe
  start_probe
  run "$KVL_PROBE_EXE" -remove
  expect_rc 0 "remove running"
  grep -qvE '^\.*$' "$work/out" && fail "remove running: printed more than dots: '$(cat "$work/out")'"
  expect_event "remove*: 0" "remove running"
  expect_log $'KVL Service removed.\n' "remove running"
  expect_log "ServiceStart end" "remove running"
  wait_state MISSING 5000 "remove running"
}

case_missing_service() {
  run "$KVL_SERVICE_EXE" -remove
  expect_rc 0 "remove missing"
  expect_event "OpenService failed - " "remove missing"
  expect_event "remove*: 2" "remove missing"

  run "$KVL_SERVICE_EXE" -stop
  expect_rc 2 "stop missing"
  expect_log $'OpenService failed - ' "stop missing"
  expect_log "stop: 2" "stop missing"

  run "$KVL_SERVICE_EXE" -start
  expect_rc 1 "start missing"
  expect_log "start: 1" "start missing"

  run "$KVL_SERVICE_EXE" -config
  expect_rc 0 "config missing"
  expect_log "config*: 1" "config missing"
}

# Runs the probe with -debug and extra words, stops it with Ctrl+C and checks
# that it ended with 0. Leaves its output in $work/out.
debug_run_ctrl_c() {
  local what=$1 pid
  # A plain command, so that $! is Wine's own process and gets the signal.
  WINEDEBUG=-all "$KVL_WINE" "$KVL_PROBE_EXE" -debug these words are ignored \
    >"$work/out" 2>"$work/err" </dev/null &
  pid=$!
  if ! wait_for_text "$monitor_file" started 20; then
    fail "$what: the service body did not start"
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return
  fi
  kill -INT "$pid"
  local i
  for ((i = 0; i < 150; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    fail "$what: still running 15 s after Ctrl+C"
    kill -KILL "$pid" 2>/dev/null
  fi
  wait "$pid"
  rc=$?
  expect_rc 0 "$what"
}

case_console_ctrl_c() {
  debug_run_ctrl_c "debug"
  [ "$(tr -d '\r' <"$work/out")" = "Debugging KVL Service." ] || fail "debug: printed '$(cat "$work/out")'"
  expect_log $'Stopping KVL Service.\n' "debug"
  expect_log "KVLServiceThread stopped" "debug"
  expect_log "ServiceStart end" "debug"
  [ -f "$status_file" ] && fail "debug: something was reported to the service manager"
}

# Any user can make the exit event's name first, signalled: the service does
# not use that object, runs and checks, and still stops when asked.
case_exit_event_presignalled() {
  install_probe
  svctool start-presignalled 5000 || fail "presignalled: the service did not keep running ($(state))"
  expect_log "Exit event kvlservice_exit_1 already exists -- not used" "presignalled"
  expect_not_in "$log" "already signaled" "presignalled"
  expect_in "$monitor_file" "check -checkstatus" "presignalled"
  run "$KVL_PROBE_EXE" -stop
  expect_rc 0 "presignalled stop"
  [ "$(tail -n 1 "$status_file")" = "state=1 checkpoint=0 wait=0 accept=1 exit=0" ] ||
    fail "presignalled stop: last report '$(tail -n 1 "$status_file")'"
}

# A start-up that fails shows the service manager an error, so recovery acts.
case_start_failure() {
  touch "$probe_dir/probe-fail-start"
  install_probe
  run "$KVL_PROBE_EXE" -start
  wait_state STOPPED 10000 "start failure"
  rm -f "$probe_dir/probe-fail-start"
  expect_log "ReportStatusToSCMgr #1 failed" "start failure"
  # ERROR_SERVICE_SPECIFIC_ERROR, with the code of the failed report #1.
  [ "$(svctool exit-code)" = "win32=1066 specific=2" ] ||
    fail "start failure: the manager shows '$(svctool exit-code)'"
  [ -f "$monitor_file" ] && fail "start failure: the monitoring thread was started"
}

case_log_dir() {
  local dir="$KVL_PREFIX/drive_c/$log_dir_name" value
  for value in "C:\\$log_dir_name" "C:\\$log_dir_name\\"; do
    mkdir -p "$dir"
    rm -f "$log" "$dir/kvlservice.log" "$monitor_file"
    svctool set-setting log_dir "$value" || fail "log_dir $value: cannot be set"
    debug_run_ctrl_c "log_dir $value"
    expect_log "ServiceStart init" "log_dir $value (start-up log)"
    expect_not_in "$log" "ServiceStart end" "log_dir $value (start-up log)"
    expect_log $'Stopping KVL Service.\n' "log_dir $value" "$dir/kvlservice.log"
    expect_log "ServiceStart end" "log_dir $value" "$dir/kvlservice.log"
  done
}

case_busy_monitor() {
  touch "$block_file"
  install_probe
  start_probe
  wait_for_text "$monitor_file" blocked 5 || fail "busy monitor: the monitoring thread was not held"

  # The test build gives up after 3 s of stop-pending; the body waits 5 s for
  # its monitoring thread, so the first stop gives up.
  rm -f "$log"
  local started=$(date +%s%N)
  run "$KVL_PROBE_EXE" -stop
  expect_rc 1 "stop with busy monitor"
  # What the manager shows while the body still waits: a hint that covers the
  # wait, not 0.
  [ "$(svctool status)" = "state=STOP_PENDING checkpoint=5 wait=7000" ] ||
    fail "stop with busy monitor: the manager shows '$(svctool status)'"
  expect_log $'\nKVL Service failed to stop.\n' "stop with busy monitor"
  expect_log "stop: 1" "stop with busy monitor"
  wait_state STOPPED 10000 "stop with busy monitor"
  local taken=$((($(date +%s%N) - started) / 1000000))
  [ "$taken" -lt 10000 ] || fail "stop with busy monitor: stopped after $taken ms"
  expect_log "ServiceStart end" "stop with busy monitor"
  expect_not_in "$log" "KVLServiceThread stopped" "stop with busy monitor"
  expect_in "$status_file" "state=1 checkpoint=0" "stop with busy monitor"

  # -remove prints a dot per pending poll, gives up, and deletes all the same.
  rm -f "$monitor_file"
  start_probe
  wait_for_text "$monitor_file" blocked 5 || fail "busy monitor: the monitoring thread was not held again"
  run "$KVL_PROBE_EXE" -remove
  expect_rc 0 "remove with busy monitor"
  grep -qE '^\.+$' "$work/out" || fail "remove with busy monitor: no dots ('$(cat "$work/out")')"
  expect_event "KVL Service failed to stop." "remove with busy monitor"
  expect_event "remove*: 10" "remove with busy monitor"
  expect_log $'KVL Service removed.\n' "remove with busy monitor"
  wait_state MISSING 10000 "remove with busy monitor"
}

# The program's message table turns an event's two strings into one line, and
# a "%" in the message stays as it is.
case_event_message() {
  local win_path="Z:${KVL_SERVICE_EXE//\//\\}" line
  line=$(svctool event-text "$win_path" "stop: 1 (50% of %1 done)")
  [ "$line" = "KVLMonitor: stop: 1 (50% of %1 done)" ] || fail "event message: the line is '$line'"
}

# --- main ----------------------------------------------------------------------

name=${1:-}
if ! declare -F "case_$name" >/dev/null; then
  echo "usage: $0 CASE (one of: $(declare -F | sed -n 's/^declare -f case_//p' | tr '\n' ' '))" >&2
  exit 2
fi

"$KVL_WINE_RUN" --prefix="$KVL_PREFIX" --up
svctool purge >/dev/null
save_settings
clear_files

"case_$name"

if [ "$failures" -gt 0 ]; then
  echo "$name: $failures failure(s)"
  exit 1
fi
echo "$name: passed"
