#!/usr/bin/env bash
# Runs every benchmark side by side with its baseline, in one run, and prints
# each result as a ratio (absolute times on these shared build machines are
# not stable). Run it after the test command (scripts/test.sh), which builds
# the host, win64 and devserver trees it needs; it builds the bench tree and
# the bench programs itself.
#
#   bench/run.sh            the full run (about 25 minutes; bench/RESULTS.md)
#   bench/run.sh --short    every step on a short setting (about a minute), for
#                           the test that the script runs to its end
#
# The settings below can also be given one by one:
#   KVL_BENCH_PARSE_REPS      parser repetitions (10; short 2)
#   KVL_BENCH_CHECK_ROUNDS    status-check rounds (41; short 2)
#   KVL_BENCH_CHECK_CALLS     calls of each set per round (5; short 1)
#   KVL_BENCH_DOWNLOAD_MB     size of the downloaded file (50; short 2)
#   KVL_BENCH_DOWNLOAD_ROUNDS download rounds (6; short 2)
#   KVL_BENCH_IDLE_SECONDS    idle window of each service (600; short 10)
#   KVL_BENCH_STOP_ROUNDS     stop-latency rounds (5; short 1)
#   KVL_BENCH_PREFIX          Wine prefix (build/win64/bench/wineprefix, booted
#                             and shut down here); the short test passes the
#                             Windows tests' prefix, whose settings key it
#                             saves and puts back
#
# The last line is "bench: every figure measured" when every step ran and
# produced its figures; any failed step ends the script with status 1. The
# targets are printed beside the figures, never checked here.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1

short=0
[ "${1:-}" = --short ] && short=1
pick() { if [ "$short" = 1 ]; then echo "$2"; else echo "$1"; fi; }
parse_reps=${KVL_BENCH_PARSE_REPS:-$(pick 10 2)}
check_rounds=${KVL_BENCH_CHECK_ROUNDS:-$(pick 41 2)}
check_calls=${KVL_BENCH_CHECK_CALLS:-$(pick 5 1)}
download_mb=${KVL_BENCH_DOWNLOAD_MB:-$(pick 50 2)}
download_rounds=${KVL_BENCH_DOWNLOAD_ROUNDS:-$(pick 6 2)}
idle_seconds=${KVL_BENCH_IDLE_SECONDS:-$(pick 600 10)}
stop_rounds=${KVL_BENCH_STOP_ROUNDS:-$(pick 5 1)}
parse_min_time=$(pick 0.2 0.02)

win64=$root/build/win64
bench=$win64/bench
devserver=$root/build/host/devserver/kvl-devserver
prefix=${KVL_BENCH_PREFIX:-$bench/wineprefix}
own_prefix=0
[ -z "${KVL_BENCH_PREFIX:-}" ] && own_prefix=1
run=$bench/run$([ "$short" = 1 ] && echo -short || true)
wine_run() { "$root/scripts/wine-run.sh" --prefix="$prefix" "$@"; }
# A Windows program's output ends its lines with CR LF; the figures must not
# carry the CR into the sums and the results.
wine_text() { wine_run "$@" | tr -d '\r'; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
fail() {
  echo "bench: $*" >&2
  exit 1
}
log() { printf '%s  %s\n' "$(date -u +%H:%M:%S)" "$*" >&2; }

# --- builds -----------------------------------------------------------------
[ -x "$devserver" ] || fail "no $devserver: run scripts/test.sh first"
[ -f "$win64/CMakeCache.txt" ] || fail "no win64 tree: run scripts/test.sh first"
if [ "${KVL_BENCH_NO_BUILD:-0}" != 1 ]; then
  log "building the bench tree and the bench programs"
  cmake --preset bench >/dev/null
  cmake --build --preset bench -j2 >/dev/null
  cmake --build "$win64" -j2 --target kvl_check_bench kvl_download_bench kvl_service_bench kvl_idle_service \
    KVLService Ferolin VPNKorvStandin >/dev/null
fi
for program in kvl_check_bench kvl_download_bench kvl_service_bench kvl_idle_service; do
  [ -f "$bench/$program.exe" ] || fail "$bench/$program.exe is not built"
done
[ -x "$root/build/bench/bench/parse_bench" ] || fail "parse_bench is not built (bench preset)"

# --- the prefix, the server and what to put back at the end -------------------
settings_key='HKLM\SOFTWARE\Wow6432Node\Pelmora\VPNKorv'
saved_settings=$run/settings-before.reg
cleanup() {
  set +e
  if [ -n "${services_installed:-}" ]; then
    wine_run "$bench/kvl_service_bench.exe" remove KVLBenchIdle >/dev/null 2>&1
    wine_run "$win64/service/KVLService.exe" -remove >/dev/null 2>&1
    wine_run "$win64/tests/standins/VPNKorvStandin.exe" -remove >/dev/null 2>&1
  fi
  if [ "$own_prefix" = 0 ] && [ -n "${settings_saved:-}" ]; then
    wine_run reg delete "$settings_key" /f >/dev/null 2>&1
    [ -f "$saved_settings" ] && wine_run reg import "$(winpath "$saved_settings")" >/dev/null 2>&1
  fi
  "$root/scripts/devserver-fixture.sh" stop "$run" >/dev/null 2>&1
  [ "$own_prefix" = 1 ] && wine_run --down
}
trap cleanup EXIT

mkdir -p "$run"
log "Wine prefix $prefix"
timeout 900 "$root/scripts/wine-run.sh" --prefix="$prefix" --up || fail "the Wine prefix did not come up"
if [ "$own_prefix" = 0 ]; then
  # No file afterwards means there was no key: it is deleted at the end.
  rm -f "$saved_settings"
  wine_run reg export "$settings_key" "$(winpath "$saved_settings")" >/dev/null 2>&1 || rm -f "$saved_settings"
  settings_saved=1
fi
"$root/scripts/devserver-fixture.sh" start "$run" "$devserver" >/dev/null
# shellcheck disable=SC1091
. "$run/ready"
set_state() {
  printf '%s\n' "$1" >"$run/state.json.new"
  mv "$run/state.json.new" "$run/state.json"
}
status_state() {
  set_state '{"subscribers": {"bencher": {
    "status": {"result": "0", "v_stt": "3", "stt": "ativo", "msg": "Conta ativa", "int": "180", "per": "30"},
    "config": {"result": "0", "files": [
      {"v_cnf": "7", "is_cnf": "1", "url_cnf": "{{files}}/vpn.conf", "sub_dir": "", "file_cnf": "vpn.conf"}]}'"$1"'}}}'
}
status_state ""
echo 'remote vpn.example 1194' >"$run/files/vpn.conf"

drive_c=$prefix/drive_c
install_dir='C:\kvlbench\inst\'
mkdir -p "$drive_c/kvlbench/inst/bin" "$drive_c/kvlbench/config" "$drive_c/kvlbench/dl"
cp "$run/pki/client_cert.pem" "$run/pki/client_key.pem" "$drive_c/kvlbench/inst/bin/"

results=$run/results.txt
: >"$results"
emit() { printf '%s\n' "$*" | tee -a "$results"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "nan"; else printf "%.3f", a / b }'; }
# Median of the numbers on standard input.
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
range() { sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%s..%s", lo, hi }'; }

emit "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), kernel $(uname -r), $(/usr/lib/wine/wine64 --version 2>/dev/null), load $(cut -d' ' -f1-3 /proc/loadavg)"

# --- 1. ParseReply against jsmn (host) ----------------------------------------
log "ParseReply against jsmn, $parse_reps repetitions"
csv=$run/parse.csv
"$root/build/bench/bench/parse_bench" --benchmark_repetitions="$parse_reps" --benchmark_report_aggregates_only=true \
  --benchmark_min_time="$parse_min_time" --benchmark_format=csv 2>/dev/null >"$csv"
cpu_ns() { grep "^\"$1_median\"" "$csv" | cut -d, -f4; }
for reply in Status ConfigList; do
  jsmn=$(cpu_ns "BM_Jsmn$reply")
  ours=$(cpu_ns "BM_Parse$reply")
  squeeze=$(cpu_ns "BM_Squeeze$reply")
  [ -n "$jsmn" ] && [ -n "$ours" ] && [ -n "$squeeze" ] || fail "parse_bench gave no figure for $reply"
  emit "parse $reply: $(ratio "$jsmn" "$ours")x jsmn (target >= 0.80x); median ns: jsmn $jsmn, ParseReply $ours, of which the whitespace squeeze $squeeze"
done

# --- 2. the status check against bare libcurl and the floor (Wine) -----------
log "status check: $check_rounds rounds of $check_calls calls"
wine_text "$bench/kvl_check_bench.exe" "https://127.0.0.1:$port/" "$install_dir" "$check_rounds" "$check_calls" \
  >"$run/check.txt" || fail "kvl_check_bench failed: $(cat "$run/check.txt")"
field() { awk -v key="$1" -v name="$2" -v col="$3" '$1 == key && $2 == name { print $col }' "$run/check.txt"; }
for set in ours floor bare platform; do
  [ -n "$(field check-ms "$set" 4)" ] || fail "kvl_check_bench printed no figure for $set"
done
emit "check: $(field check-ratio over-floor 4)x the floor (range $(field check-ratio over-floor 6)..$(field check-ratio over-floor 8), target <= 1.02x), $(field check-ratio over-bare 4)x bare libcurl (range $(field check-ratio over-bare 6)..$(field check-ratio over-bare 8)); $check_rounds paired rounds of $check_calls calls"
emit "check ms per call (medians): ours $(field check-ms ours 4), floor $(field check-ms floor 4), bare POST $(field check-ms bare 4), platform calls alone $(field check-ms platform 4); the platform calls take $(awk -v s="$(field check-share platform 4)" 'BEGIN { printf "%.1f", s * 100 }') % of a check, the POST the rest"

# --- 3. downloads: libcurl and WinINet against the curl tool ------------------
log "downloads: $download_mb MB, $download_rounds rounds"
bytes=$((download_mb * 1024 * 1024))
head -c "$bytes" /dev/urandom >"$run/files/big.bin"
url="http://127.0.0.1:$files_port/big.bin"
: >"$run/download.txt"
for ((r = 0; r < download_rounds; r++)); do
  tool() {
    local taken got
    read -r taken got < <(curl -s -o "$run/curl-tool.bin" -w '%{time_total} %{size_download}\n' "$url")
    [ "$got" = "$bytes" ] && [ "$(stat -c %s "$run/curl-tool.bin")" = "$bytes" ] || fail "the curl tool fetched $got bytes"
    awk -v s="$taken" 'BEGIN { printf "download-ms curl-tool %.3f\n", s * 1000 }' >>"$run/download.txt"
    rm -f "$run/curl-tool.bin"
  }
  ours() {
    wine_text "$bench/kvl_download_bench.exe" "$url" 'C:\kvlbench\dl\' "$bytes" $([ $((r % 2)) = 1 ] && echo reverse) \
      >>"$run/download.txt" || fail "kvl_download_bench failed"
  }
  if [ $((r % 2)) = 0 ]; then tool; ours; else ours; tool; fi
done
dl() { awk -v name="$1" '$1 == "download-ms" && $2 == name { print $3 }' "$run/download.txt" | median; }
buffers="65536 131072 262144 524288 1048576"
for name in curl-tool config package wininet-1024 wininet-65536 curl-bare curl-discard curl-512k \
  $(for b in $buffers; do echo "curl-buf-$b"; done); do
  [ "$(dl "$name")" != nan ] || fail "no download figure for $name"
done
mbps() { awk -v ms="$1" -v mb="$download_mb" 'BEGIN { printf "%.0f MB/s", mb / (ms / 1000) }'; }
emit "download config (libcurl): $(ratio "$(dl curl-tool)" "$(dl config)")x the curl tool (target >= 0.95x); package (WinINet, 1024-byte chunks): $(ratio "$(dl curl-tool)" "$(dl package)")x"
emit "download ms (medians of $download_rounds, $download_mb MB): curl tool $(dl curl-tool) ($(mbps "$(dl curl-tool)")), config $(dl config) ($(mbps "$(dl config)")), package $(dl package) ($(mbps "$(dl package)")), WinINet loop 1024 B $(dl wininet-1024), 65536 B $(dl wininet-65536), bare libcurl $(dl curl-bare), discarding $(dl curl-discard), with libcurl's largest receive buffer $(dl curl-512k)"
emit "download receive buffer (bare libcurl, ms, medians): 16 KB default $(dl curl-bare)$(for b in $buffers; do printf ', %s KB %s' $((b / 1024)) "$(dl "curl-buf-$b")"; done), largest (10 MB) $(dl curl-512k)"
emit "download chunk: the 1024-byte chunk costs $(ratio "$(dl wininet-1024)" "$(dl wininet-65536)")x the time of 65536-byte chunks"

# --- 4. idle footprint, 5. stop latency (the service manager under Wine) ------
# The Linux process of a Windows program of this prefix, by its image path;
# the youngest one, should an earlier instance still be on its way out.
unix_pid() {
  local image=$1 p best="" best_start=-1 start
  for p in /proc/[0-9]*; do
    tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qx "WINEPREFIX=$prefix" || continue
    tr '\0' ' ' 2>/dev/null <"$p/cmdline" | grep -qiF "$image" || continue
    # Field 22 of stat, the start time, counted after the command's ")".
    start=$(sed 's/.*) //' "$p/stat" 2>/dev/null | awk '{ print $20 }') || continue
    if [ -n "$start" ] && [ "$start" -gt "$best_start" ]; then
      best=${p#/proc/}
      best_start=$start
    fi
  done
  [ -n "$best" ] && echo "$best"
}
# unix_pid, waited for: a service reported running is started, but Wine may
# not yet show its process under the image's name.
wait_unix_pid() {
  local i
  for ((i = 0; i < 100; i++)); do
    unix_pid "$1" && return 0
    sleep 0.1
  done
  return 1
}
# CPU ticks (user + system, all threads) and private memory (kB) of a process.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
private_kb() { awk '/^Private_(Clean|Dirty):/ { kb += $2 } END { print kb }' "/proc/$1/smaps_rollup"; }
wineserver_pid() { unix_pid wineserver; }
tick_hz=$(getconf CLK_TCK)

# Samples a running service for the idle window: prints its CPU share of
# one core (%), the wineserver's over the same window, and the private memory
# at the start, at the end and the highest seen.
sample_idle() {
  local pid=$1 server t0 t1 s0 s1 m0 m1 peak now i
  server=$(wineserver_pid) || fail "no wineserver found for $prefix"
  t0=$(cpu_ticks "$pid")
  s0=$(cpu_ticks "$server")
  m0=$(private_kb "$pid")
  peak=$m0
  local start=$SECONDS
  for ((i = 0; SECONDS - start < idle_seconds; i++)); do
    sleep 1
    [ -d "/proc/$pid" ] || fail "the service's process $pid ended during the idle window"
    now=$(private_kb "$pid")
    [ "$now" -gt "$peak" ] && peak=$now
  done
  t1=$(cpu_ticks "$pid")
  s1=$(cpu_ticks "$server")
  m1=$(private_kb "$pid")
  awk -v dt=$((t1 - t0)) -v ds=$((s1 - s0)) -v hz="$tick_hz" -v w="$idle_seconds" -v m0="$m0" -v m1="$m1" -v pk="$peak" \
    'BEGIN { printf "%.4f %.4f %d %d %d %.2f\n", 100 * dt / hz / w, 100 * ds / hz / w, m0, m1, pk, dt / hz }'
}

# Settings of a subscriber that the server answers, for the service and the
# check bench alike.
reg_set() {
  if [ -z "$1" ]; then
    wine_run reg add "$settings_key" /ve /t REG_SZ /d "$2" /f >/dev/null
  else
    wine_run reg add "$settings_key" /v "$1" /t REG_SZ /d "$2" /f >/dev/null
  fi
}
reg_set user_login bencher
reg_set password_login secret
reg_set update_server "https://127.0.0.1:$port/"
reg_set "" "$install_dir"
reg_set config_dir 'C:\kvlbench\config'
reg_set log_dir 'C:\kvlbench'
reg_set v_sw 1.0
for name in v_stt v_cnf v_file; do
  reg_set "$name" ""
done
for name in stt ts_stt update_tm tm_status cnf_only cnf first_time update_stt last_time; do
  wine_run reg delete "$settings_key" /v "$name" /f >/dev/null 2>&1 || true
done

services_installed=1
svc() { wine_text "$bench/kvl_service_bench.exe" "$@"; }
stop_bound_ms=$(svc stop-bound | awk '$1 == "stop-bound-ms" { print $2 }')
[ -n "$stop_bound_ms" ] || fail "kvl_service_bench printed no stop bound"
requests() { grep -c "\"method\":\"$1\"" "$run/requests.log" || true; }
wait_requests() {
  local method=$1 count=$2 i
  for ((i = 0; i < 600; i++)); do
    [ "$(requests "$method")" -ge "$count" ] && return 0
    sleep 0.1
  done
  fail "no $method request reached the server"
}

log "do-nothing service: idle ${idle_seconds} s"
svc remove KVLBenchIdle >/dev/null 2>&1 || true
svc install KVLBenchIdle "$(winpath "$bench/kvl_idle_service.exe")" || fail "cannot install the do-nothing service"
# Running means it is in its wait: it reports that just before.
svc start KVLBenchIdle 60000 >/dev/null || fail "the do-nothing service did not start"
idle_pid=$(wait_unix_pid kvl_idle_service.exe) || fail "no process of the do-nothing service"
read -r idle_cpu idle_server idle_m0 idle_m1 idle_peak idle_seconds_cpu < <(sample_idle "$idle_pid")
: >"$run/stop-idle-base.txt"
for ((r = 0; r < stop_rounds; r++)); do
  [ "$r" = 0 ] || svc start KVLBenchIdle 60000 >/dev/null || fail "the do-nothing service did not start again"
  svc stop KVLBenchIdle 30000 | awk '{ print $2 }' >>"$run/stop-idle-base.txt" || fail "the do-nothing service did not stop"
done
svc remove KVLBenchIdle >/dev/null

log "KVLService: idle ${idle_seconds} s after its first pass"
wine_run "$win64/service/KVLService.exe" -remove >/dev/null 2>&1 || true
wine_run "$win64/tests/standins/VPNKorvStandin.exe" -remove >/dev/null 2>&1 || true
wine_run "$win64/tests/standins/VPNKorvStandin.exe" -install >/dev/null || fail "cannot install the VPN stand-in"
wine_run "$win64/service/KVLService.exe" -install >/dev/null || fail "cannot install KVLService"
: >"$run/requests.log"
svc start KVLService 60000 >/dev/null || fail "KVLService did not start"
# Its first pass: the status check, then the scheduled checks, which fetch the
# configuration; the software check is the pass's last request, and only its
# reply remains to be read when it reaches the server.
first_pass() {
  wait_requests chk_stt "$1"
  wait_requests chk_sw_upd "$2"
}
first_pass 1 1
kvl_pid=$(wait_unix_pid KVLService.exe) || fail "no process of KVLService"
read -r kvl_cpu kvl_server kvl_m0 kvl_m1 kvl_peak kvl_seconds_cpu < <(sample_idle "$kvl_pid")
kvl_checks=$(requests chk_stt)
: >"$run/stop-idle.txt"
for ((r = 0; r < stop_rounds; r++)); do
  if [ "$r" != 0 ]; then
    before=$(requests chk_stt)
    before_software=$(requests chk_sw_upd)
    svc start KVLService 60000 >/dev/null || fail "KVLService did not start again"
    first_pass $((before + 1)) $((before_software + 1))
  fi
  svc stop KVLService 30000 | awk '{ print $2 }' >>"$run/stop-idle.txt" || fail "KVLService did not stop"
done

log "KVLService: stop while a status request is stalled"
status_state ', "misbehave": {"chk_stt": {"stall_ms": 20000}}'
: >"$run/stop-stalled.txt"
for ((r = 0; r < stop_rounds; r++)); do
  before=$(requests chk_stt)
  svc start KVLService 60000 >/dev/null || fail "KVLService did not start"
  # The server logs a request before it stalls the answer: from here the
  # status check waits on it.
  wait_requests chk_stt $((before + 1))
  svc stop KVLService 60000 | awk '{ print $2 }' >>"$run/stop-stalled.txt" || fail "KVLService did not stop while stalled"
done
status_state ""

for figure in "$idle_cpu" "$kvl_cpu" "$idle_m1" "$kvl_m1"; do
  [ -n "$figure" ] || fail "an idle figure is missing"
done
for file in stop-idle-base stop-idle stop-stalled; do
  [ "$(grep -c . "$run/$file.txt")" = "$stop_rounds" ] || fail "a stop-latency figure is missing in $file"
done
emit "idle cpu over ${idle_seconds} s: KVLService ${kvl_cpu} % of a core (${kvl_seconds_cpu} s, $((kvl_checks - 1)) status checks in the window), do-nothing service ${idle_cpu} % (${idle_seconds_cpu} s) (target < 0.1 %); wineserver meanwhile ${kvl_server} % and ${idle_server} %"
emit "idle private memory: KVLService ${kvl_m0} kB -> ${kvl_m1} kB (growth $((kvl_m1 - kvl_m0)) kB, peak ${kvl_peak}), do-nothing service ${idle_m0} kB -> ${idle_m1} kB (growth $((idle_m1 - idle_m0)) kB) (target: growth 0)"
emit "stop idle: KVLService median $(median <"$run/stop-idle.txt") ms (range $(range <"$run/stop-idle.txt")), do-nothing service $(median <"$run/stop-idle-base.txt") ms (target < 1000 ms)"
emit "stop stalled: KVLService median $(median <"$run/stop-stalled.txt") ms (range $(range <"$run/stop-stalled.txt")) (target: within the stop bound, ${stop_bound_ms} ms)"
emit "bench: every figure measured"
