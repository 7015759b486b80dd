#!/usr/bin/env bash
# The project's test command: installs what is missing, builds the host,
# fuzz, product (32-bit), Windows test (64-bit) and bench configurations, runs the
# host tier (sanitizers), a short run of every fuzz target, the Windows tier
# (under Wine), the product tier (the shipped binaries) and the demo's
# scenario, and closes with one line "N passed, N failed" over all of them.
# Exits non-zero on any failure.
#
#   scripts/test.sh --quick   everyday work: the host tier and every fuzz
#                             target for 5 s, about a minute once built;
#                             CI always runs the whole command
#
#   KVL_FUZZ_SECONDS  length of each fuzz target's run (default 15)
#   KVL_DEPS_DIR      where the cross-built dependencies live (see bootstrap.sh)
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac
fuzz_seconds=${KVL_FUZZ_SECONDS:-15}
[ "$quick" = 0 ] || fuzz_seconds=${KVL_FUZZ_SECONDS:-5}
passed=0
failed=0

started=$SECONDS
step() { printf '\n==> [%d s] %s\n' "$((SECONDS - started))" "$*"; }
die() {
  printf '%s\n' "$*" >&2
  printf '%d passed, %d failed\n' "$passed" "$((failed + 1))"
  exit 1
}

# Compiler cache shared by every clone on this machine: paths inside the
# clone are hashed relative to it.
export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1

# Adds the counts from a ctest log's summary line to the totals.
count_ctest() {
  local log=$1 line total bad
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    return
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

run_host_and_fuzz_tiers() {
  step "tests: host (ASan, UBSan)"
  ctest --test-dir build/host -j2 --output-on-failure 2>&1 | tee build/host/ctest.log
  count_ctest build/host/ctest.log

  step "tests: fuzz targets, ${fuzz_seconds} s each"
  targets=$(find build/fuzz -type f -name 'fuzz_*' -perm -u+x | sort)
  if [ -z "$targets" ]; then
    echo "no fuzz target built"
    failed=$((failed + 1))
  fi
  for fuzzer in $targets; do
    name=${fuzzer##*/fuzz_}
    corpus=build/fuzz/corpus-run/$name
    mkdir -p "$corpus"
    cp -n tests/fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
    if "$fuzzer" -max_total_time="$fuzz_seconds" -print_final_stats=1 "$corpus" >"build/fuzz/$name.log" 2>&1; then
      printf '%s: %s\n' "$name" "$(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "build/fuzz/$name.log")"
      passed=$((passed + 1))
    else
      tail -n 40 "build/fuzz/$name.log"
      failed=$((failed + 1))
    fi
  done
}

finish() {
  echo
  echo "test command: $((SECONDS - started)) s"
  printf '%d passed, %d failed\n' "$passed" "$failed"
  [ "$failed" -eq 0 ]
  exit
}

step "bootstrap"
bash scripts/bootstrap.sh || die "bootstrap failed"

# Under emulation each probe is a slow process start: probe once, and every
# script below (wine-run.sh, the product tier, the demo) takes the answers.
if scripts/wine-run.sh --can-run-32bit; then KVL_CAN_RUN_32BIT=yes; else KVL_CAN_RUN_32BIT=no; fi
if scripts/wine-run.sh --runs-32bit-natively; then KVL_RUNS_32BIT_NATIVELY=yes; else KVL_RUNS_32BIT_NATIVELY=no; fi
export KVL_CAN_RUN_32BIT KVL_RUNS_32BIT_NATIVELY
echo "32-bit programs: run here: $KVL_CAN_RUN_32BIT; natively: $KVL_RUNS_32BIT_NATIVELY"

step "build: host"
cmake --preset host >/dev/null || die "configure host failed"
cmake --build --preset host -j2 || die "build host failed"

step "build: fuzz"
cmake --preset fuzz >/dev/null || die "configure fuzz failed"
cmake --build --preset fuzz -j2 || die "build fuzz failed"

if [ "$quick" = 1 ]; then
  run_host_and_fuzz_tiers
  finish
fi

step "build: windows (the product, 32-bit)"
cmake --preset windows >/dev/null || die "configure windows failed"
cmake --build --preset windows -j2 || die "build windows failed"

# This machine cannot execute 32-bit programs, so the Windows tier runs the
# same sources built for 64-bit Windows.
step "build: win64 (the Windows tests)"
cmake --preset win64 -DKVL_DEVSERVER="$root/build/host/devserver/kvl-devserver" >/dev/null \
  || die "configure win64 failed"
cmake --build --preset win64 -j2 || die "build win64 failed"

# The shipped 32-bit binaries, as built, in a prefix of their own: about 2
# minutes where 32-bit programs run natively, a few more under the
# bootstrap's qemu, about 15 under Debian 12's own (one emulated process
# start after another). Under emulation it runs beside the other tiers,
# which mostly wait on their own programs, instead of after them.
product_log=build/windows/product.log
run_product_tier() {
  bash scripts/product-tier.sh build/windows build/win64 build/host/devserver/kvl-devserver >"$product_log" 2>&1
}
count_product_tier() {
  local line
  line=$(grep -E '^product: [0-9]+ passed, [0-9]+ failed$' "$product_log" | tail -n 1)
  if [ -n "$line" ]; then
    passed=$((passed + $(sed -E 's/^product: ([0-9]+) passed.*/\1/' <<<"$line")))
    failed=$((failed + $(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$line")))
  elif grep -q '^product: skipped:' "$product_log"; then
    grep '^product: skipped:' "$product_log"
  else
    failed=$((failed + 1))
  fi
}
product_pid=
if [ "$KVL_CAN_RUN_32BIT" = yes ] && [ "$KVL_RUNS_32BIT_NATIVELY" = no ]; then
  step "tests: product (the shipped 32-bit binaries under Wine), started beside the other tiers"
  run_product_tier &
  product_pid=$!
fi

# The benchmarks' own tree: the Windows tier runs bench/run.sh on its short
# setting, which needs it.
step "build: bench"
cmake --preset bench >/dev/null || die "configure bench failed"
cmake --build --preset bench -j2 || die "build bench failed"

run_host_and_fuzz_tiers

# The prefix boots here, with a generous bound, rather than inside the first
# test program's discovery (60 s): where 32-bit programs run, wineboot sets up
# the prefix's 32-bit side too, which takes minutes under emulation.
step "booting the Windows tests' Wine prefix"
if timeout 900 scripts/wine-run.sh --prefix="$root/build/win64/wineprefix" --up; then
  step "tests: windows (under Wine)"
  ctest --test-dir build/win64 -j2 --output-on-failure 2>&1 | tee build/win64/ctest.log
  count_ctest build/win64/ctest.log
else
  echo "the Wine prefix did not boot within 900 s"
  failed=$((failed + 1))
fi

if [ -n "$product_pid" ]; then
  step "tests: product, waiting for the run started beside the other tiers"
  wait "$product_pid"
else
  step "tests: product (the shipped 32-bit binaries under Wine)"
  run_product_tier
fi
cat "$product_log"
count_product_tier

# The main job itself: the demo's story played without a person.
step "tests: the demo's scenario (the agent at work against the devserver)"
if timeout 900 /usr/bin/python3 scripts/demo.py --scenario 2>&1 | tee build/demo-scenario.log &&
  grep -qx 'scenario: passed' build/demo-scenario.log; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

finish
