#!/usr/bin/env bash
# Builds every benchmark in a release build without sanitizers, runs them one
# after the other and prints one table: each of our figures against its
# peer's, measured in the same run, as peer time / our time (1.00: as fast
# as the peer; higher is better). Run by hand on a quiet machine:
#   bench/run_all.sh [rounds]
# BENCH_BUILD_DIR (default build-bench) may be set, and TRELLOW_JOBS: how many
# compilers run at once, as for scripts/run and scripts/test (default: every
# core; BENCH_JOBS, its older name, is read when it is not set).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build-bench}
jobs=${TRELLOW_JOBS:-${BENCH_JOBS:-$(nproc)}}
rounds=${1:-3}
logs=$(mktemp -d /tmp/zel-bench-XXXXXX)
trap 'rm -rf "$logs"' EXIT

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEL_SANITIZE=OFF -DZEL_TESTS=ON -DZEL_BENCH=ON \
  >"$logs/configure" 2>&1 || { cat "$logs/configure"; exit 1; }
cmake --build "$build" -j"$jobs" --target zel_kernel_bench fat_bench zel_curl_bench zel_update_bench zel_linux_wait_bench \
  zel_gcm_bench \
  >"$logs/build" 2>&1 || { tail -40 "$logs/build"; exit 1; }

# Runs one benchmark into its log; a failed run is reported and ends the script.
run() {
  local name=$1
  shift
  echo "running $name ..." >&2
  if ! "$@" >"$logs/$name" 2>&1; then
    echo "$name failed:" >&2
    tail -20 "$logs/$name" >&2
    exit 1
  fi
}
run kernel "$build/zel_kernel_bench"
run fat "$build/fat_bench"
run curl "$build/zel_curl_bench" "$rounds"
run update "$build/zel_update_bench" "$rounds"
run waits "$build/zel_linux_wait_bench"
run gcm "$build/zel_gcm_bench" "$rounds"

# The number after `label` on the line matching `pattern` of a log.
field() {
  local log=$1 pattern=$2 label=$3
  grep -E "$pattern" "$logs/$log" | head -1 | sed -E "s/.*$label *([0-9.]+).*/\1/"
}

row() {  # name, ours, peer, unit, ratio
  printf '| %-38s | %14s | %14s | %5.2f |\n' "$1" "$2 $4" "$3 $4" "$5"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a / b }'; }

echo
printf '| %-38s | %14s | %14s | %5s |\n' "benchmark (peer)" "ours" "peer" "ratio"
printf '|%s|%s|%s|%s|\n' "----------------------------------------" "----------------" "----------------" "-------"

ours=$(field kernel "thread hand-over round trip" "thread hand-over round trip:")
peer=$(field kernel "raw condition-variable round trip" "raw condition-variable round trip:")
row "kernel thread hand-over (condvar)" "$ours" "$peer" ns "$(ratio "$peer" "$ours")"

# CPU per low-rate hand-over against the same without the spin (at least
# 0.80: no more than 1.25 times the CPU).
ours=$(field kernel "hand-over CPU at 1 kHz" "1 kHz:")
peer=$(field kernel "hand-over CPU at 1 kHz" "without the spin:")
row "CPU per interrupt at 1 kHz (no spin)" "$ours" "$peer" us "$(ratio "$peer" "$ours")"
ours=$(field kernel "thread 1 ms delay CPU" "delay CPU:")
peer=$(field kernel "thread 1 ms delay CPU" "without the spin:")
row "CPU per 1 ms thread delay (no spin)" "$ours" "$peer" us "$(ratio "$peer" "$ours")"

for op in write read; do
  ours=$(field fat "^  $op:" "fatfs")
  peer=$(field fat "^  $op:" ", mcopy")
  row "FAT $op 64 MiB via file API (mcopy)" "$ours" "$peer" s "$(ratio "$peer" "$ours")"
done

ours=$(field curl "in the layer:" "in the layer:")
peer=$(field curl "host curl:" "host curl:")
row "curl HTTPS 50 MiB (host curl)" "$ours" "$peer" MiB/s "$(ratio "$ours" "$peer")"

for way in "FAT to host" "host to FAT"; do
  ours=$(field update "$way:" ": update")
  peer=$(field update "$way:" ", mcopy")
  row "update -t 64 MiB $way (mcopy)" "$ours" "$peer" s "$(ratio "$peer" "$ours")"
done

peer=$(field waits "sleeping thread alone:" "alone:")
for who in pollers readers; do
  ours=$(field waits "two idle $who:" "$who:")
  row "2 idle $who on a pipe, CPU (a sleep)" "$ours" "$peer" ms "$(ratio "$(awk -v p="$peer" 'BEGIN { print (p < 0.1) ? 0.1 : p }')" "$(awk -v o="$ours" 'BEGIN { print (o < 0.1) ? 0.1 : o }')")"
done

for what in seal ghash; do
  ours=$(field gcm "^  $what portable:" "portable:")
  peer=$(field gcm "^  $what portable:" "library tables:")
  row "GCM $what 16K portable (mbedTLS tables)" "$ours" "$peer" MiB/s "$(ratio "$ours" "$peer")"
done
