#!/bin/sh
# Builds the default preset and runs every benchmark program, one after the
# other (they start capture servers of their own; running two at once would
# measure the contention). Arguments go to every program, for example
#   scripts/bench.sh --benchmark_filter=ReadFrame
#   scripts/bench.sh --benchmark_format=json --benchmark_out_format=json
# ORBEL_BENCH_MIN_TIME (seconds, default 0.5) bounds each benchmark whose
# run length is not fixed; ORBEL_BENCH_STREAM_SECONDS (default 5) is the
# streaming time of the resident-memory and server-load benchmarks.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default --target \
  orbel_baseline_bench orbel_client_bench orbel_reader_bench orbel_device_bench \
  orbel_binding_bench orbel_e2e_bench orbel_server_bench
status=0
for bench in baseline client reader device binding e2e server; do
  program="build/default/bin/orbel_${bench}_bench"
  [ -x "$program" ] || continue
  echo "== $bench"
  "$program" --benchmark_min_time="${ORBEL_BENCH_MIN_TIME:-0.5}" "$@" || status=1
done
exit $status
