#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short while on
# a copy of its committed corpus (fuzz/corpus/<target>/), after replaying
# every input kept in fuzz/regressions/<target>/. Fails on any crash, hang,
# leak or wrong result; the input that caused it is copied to
# <build>/findings/ and printed in base64.
#
#   scripts/fuzz.sh [--seconds N] [--build DIR] [--no-build] [TARGET...]
#
# Defaults: 10 seconds per target (a minute for the six), build folder
# build/fuzz, every target.
# New inputs the fuzzer finds stay in a temporary folder: the committed
# corpus changes only by hand.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=10
build_dir=build/fuzz
build=1
chosen=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=${2:?--seconds needs a number}; shift ;;
    --build) build_dir=${2:?--build needs a folder}; shift ;;
    --no-build) build=0 ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fuzz: unknown option '$1' (try --help)" >&2; exit 2 ;;
    *) chosen+=("$1") ;;
  esac
  shift
done
case "$seconds" in
  ''|*[!0-9]*) echo "fuzz: --seconds needs a whole number, not '$seconds'" >&2; exit 2 ;;
esac

# Each target with the longest input worth trying: a few messages or a
# small file, and for client requests more than the server's 4104-byte
# input buffer, so that a request the server would wait for forever shows.
targets=(
  "server_messages_fuzzer 16384"
  "client_requests_fuzzer 8192"
  "settings_file_fuzzer 4096"
  "json_scene_fuzzer 16384"
  "bvh_fuzzer 16384"
  "saved_scene_fuzzer 8192"
)

if [ "$build" = 1 ]; then
  command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing (apt-get install clang)" >&2; exit 2; }
  start=$(date +%s)
  if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DORBEL_BUILD_FUZZ=ON \
      -DORBEL_BUILD_TESTS=OFF -DORBEL_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build_dir" -j2 --target orbel_fuzzers
  echo "fuzz: built in $(( $(date +%s) - start )) s"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/orbel-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
findings="$build_dir/findings"
failed=0

report() {  # target, log, artifact prefix
  echo "fuzz: $1 FAILED" >&2
  grep -E "wrong result|ERROR|SUMMARY|runtime error" "$2" | head -n 20 >&2 || true
  for f in "$3"*; do
    [ -e "$f" ] || continue
    mkdir -p "$findings"
    cp "$f" "$findings/"
    echo "fuzz: input kept as $findings/$(basename "$f"); base64: $(base64 -w0 "$f" | head -c 2000)" >&2
  done
  failed=1
}

for spec in "${targets[@]}"; do
  set -- $spec
  name=$1 max_len=$2
  if [ ${#chosen[@]} -gt 0 ] && [[ ! " ${chosen[*]} " =~ " $name " ]]; then continue; fi
  bin="$build_dir/bin/$name"
  [ -x "$bin" ] || { echo "fuzz: $bin is missing (build it, or drop --no-build)" >&2; exit 2; }

  regressions=(fuzz/regressions/"$name"/*)
  if [ -e "${regressions[0]}" ]; then
    if ! "$bin" -rss_limit_mb=2048 -timeout=10 "${regressions[@]}" >"$work/$name.replay.log" 2>&1; then
      echo "fuzz: $name fails on a kept regression input" >&2
      report "$name" "$work/$name.replay.log" "/nonexistent"
    else
      echo "fuzz: $name replays ${#regressions[@]} regression inputs"
    fi
  fi

  mkdir -p "$work/$name"
  cp fuzz/corpus/"$name"/* "$work/$name/"
  seeds=$(ls "$work/$name" | wc -l)
  if "$bin" -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="$work/$name-" -print_final_stats=1 "$work/$name" >"$work/$name.log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")
    rate=$(grep -Eo 'exec/s: [0-9]+' "$work/$name.log" | tail -n 1 | cut -d' ' -f2)
    cov=$(grep -Eo 'cov: [0-9]+' "$work/$name.log" | tail -n 1 | cut -d' ' -f2)
    echo "fuzz: $name: ${runs:-?} runs in ${seconds} s (${rate:-?} exec/s), coverage ${cov:-?}," \
      "corpus $seeds -> $(ls "$work/$name" | wc -l) inputs"
  else
    report "$name" "$work/$name.log" "$work/$name-"
  fi
done

if [ "$failed" != 0 ]; then
  echo "fuzz: FAILED; keep each input under fuzz/regressions/<target>/ once its fault is mended" >&2
  exit 1
fi
echo "fuzz: every target ran clean"
