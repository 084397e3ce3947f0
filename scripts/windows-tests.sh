#!/usr/bin/env bash
# Cross-builds the project for 64-bit Windows (the "windows" preset) and runs
# every test program of that build under wine64; then records one take with
# the Windows orbel-host against the Windows capture server, and the same
# with the Linux ones (preset "default"), and checks that both export the
# same BVH file. Prints a summary; exits non-zero when the build or any test
# fails. See docs/WINDOWS.md.
#
#   scripts/windows-tests.sh            build, then run everything
#   scripts/windows-tests.sh --no-build run what is built already
#   scripts/windows-tests.sh --no-build --export-only   only the export check
#   GTEST_FILTER=... scripts/windows-tests.sh   narrow the tests, as usual
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/windows
build_first=1
export_only=0
for arg in "$@"; do
  case $arg in
    --no-build) build_first=0 ;;
    --export-only) export_only=1 ;;
    *) echo "windows-tests.sh: unknown argument '$arg'" >&2; exit 2 ;;
  esac
done

wine=${WINE:-}
if [[ -z $wine ]]; then
  for candidate in wine64 /usr/lib/wine/wine64 wine; do
    if command -v "$candidate" > /dev/null 2>&1; then wine=$(command -v "$candidate"); break; fi
  done
fi
if [[ -z $wine ]]; then
  echo "windows-tests.sh: wine64 not found (apt-get install wine64)" >&2
  exit 2
fi

started=$(date +%s)
cd "$root" || exit 2
if (( build_first )); then
  mkdir -p "$root/build"  # a fresh clone has none; the logs go beside the build folders
  cmake --preset windows > "$build.configure.log" 2>&1 || {
    cat "$build.configure.log" >&2; echo "windows-tests.sh: configure failed" >&2; exit 1; }
  cmake --build --preset windows || { echo "windows-tests.sh: build failed" >&2; exit 1; }
  # The Linux programs the export check compares with.
  if [[ ! -f $root/build/default/CMakeCache.txt ]]; then
    cmake --preset default > "$build.configure-linux.log" 2>&1 || {
      cat "$build.configure-linux.log" >&2; echo "windows-tests.sh: configure failed" >&2; exit 1; }
  fi
  cmake --build --preset default --target orbel-host orbel-capture-server ||
    { echo "windows-tests.sh: Linux build failed" >&2; exit 1; }
fi
built=$(date +%s)

list=$build/windows-tests.txt
if [[ ! -f $list ]]; then
  echo "windows-tests.sh: $list is missing; configure the windows preset first" >&2
  exit 1
fi

# A wine prefix of our own, made once, kept beside the build.
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
# No Mono or Gecko download prompts: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "-- making the wine prefix $WINEPREFIX"
  "$wine" wineboot --init > /dev/null 2>&1
  "${wine%/*}/wineserver" -w 2> /dev/null || wineserver -w 2> /dev/null || true
fi

logs=$build/test-logs
mkdir -p "$logs"
failed=0
total_passed=0
total_failed=0
total_skipped=0
summary=()

# Checks run on the build machine itself (the DLL's export table).
if ctest --test-dir "$build" -L build-machine --output-on-failure > "$logs/build-machine.log" 2>&1; then
  n=$(grep -c "Passed" "$logs/build-machine.log" || true)
  summary+=("$(printf '%-36s %5s passed' 'build-machine checks' "$n")")
  total_passed=$((total_passed + n))
else
  summary+=("$(printf '%-36s FAILED, see %s' 'build-machine checks' "$logs/build-machine.log")")
  failed=1
  total_failed=$((total_failed + 1))
fi

while IFS= read -r exe; do
  [[ -z $exe ]] || (( export_only )) && continue
  name=$(basename "$exe" .exe)
  log=$logs/$name.log
  if [[ ! -f $exe ]]; then
    summary+=("$(printf '%-36s NOT BUILT' "$name")")
    failed=1
    continue
  fi
  t0=$(date +%s)
  # Each program runs from its own folder, where its DLLs are. wine 8.0 now
  # and then leaves the process heap's lock held by a thread that has ended
  # (every other thread then waits on it for ever; seen under heavy load,
  # in programs that start and end many threads): a program that hangs is
  # stopped and run again, twice at most, and its line says so.
  note=""
  for attempt in 1 2 3; do
    (cd "$(dirname "$exe")" && timeout 240 "$wine" "$exe" --gtest_color=no) > "$log" 2>&1
    status=$?
    (( status == 124 && attempt < 3 )) || break
    note=" (run again after $attempt hang$( ((attempt > 1)) && echo s))"
  done
  # A program that ends without GoogleTest's closing line did not finish.
  if (( status == 0 )) && ! grep -q '^\[  PASSED  \]' "$log"; then status=1; fi
  t1=$(date +%s)
  passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log" | tail -1)
  failing=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below.*/\1/p' "$log" | tail -1)
  skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below.*/\1/p' "$log" | tail -1)
  passed=${passed:-0}; failing=${failing:-0}; skipped=${skipped:-0}
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failing))
  total_skipped=$((total_skipped + skipped))
  verdict=ok
  if (( status != 0 )); then
    failed=1
    verdict="FAILED (exit $status), see $log"
    (( failing == 0 )) && total_failed=$((total_failed + 1))
  fi
  summary+=("$(printf '%-36s %5d passed %3d failed %3d skipped %4ds  %s' \
    "$name" "$passed" "$failing" "$skipped" $((t1 - t0)) "$verdict$note")")
done < "$list"

# The export check. The server plays one frame of a real recording over and
# over, so every sample of the take holds the same pose however the frames
# and the steps fall. 20 steps, 150 ms apart, make up to 20 samples (a step
# the device does not sample adds none); each system's take is cut to the
# shorter one's sample count (its "Frames:" line and motion lines) before
# the two are compared. The "Frame Time:" line, the span of the take's
# sample times over their count, depends on which steps took samples and
# is set aside (both values are printed); everything else must match.
export_check() {
  local out=$logs/export-check
  rm -rf "$out"; mkdir -p "$out/linux-config" "$out/windows-config"
  awk '/^Frames:/ {print "Frames: 1"; next} /^Frame Time:/ {print; motion=1; next}
       motion {if (++n == 120) print; next} {print}' \
    "$root/data/mocap/walk.bvh" > "$out/pose.bvh"
  local session=$root/scripts/windows-export-check.orbs
  # $1 names the system, then the server's command, then --, then the host's.
  run_one() {
    local system=$1; shift
    local server=() host=()
    while [[ $1 != -- ]]; do server+=("$1"); shift; done; shift
    host=("$@")
    "${server[@]}" --port 0 --bvh "$out/pose.bvh" > "$out/$system-server.out" 2> "$out/$system-server.log" &
    local pid=$! port=""
    for _ in $(seq 300); do
      port=$(sed -n 's/^listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$out/$system-server.out" | tr -d '\r')
      [[ -n $port ]] && break
      kill -0 $pid 2> /dev/null || break
      sleep 0.1
    done
    local status=1
    for attempt in 1 2 3; do
      [[ -n $port ]] || break
      rm -rf "$out/$system-config"
      { cat "$session"
        for _ in $(seq 20); do echo step; sleep 0.15; done
        echo stop
        echo "export-bvh \${OUT}"
      } | timeout 300 "${host[@]}" --step-mode --no-status --quiet \
        --config-dir "$out/$system-config" --set PORT="$port" --set OUT="$out/$system.bvh" \
        > "$out/$system-host.log" 2>&1 && status=0
      (( status == 0 )) || break
      # At least a few samples, or the take says nothing.
      [[ $(sed -n 's/^Frames: *//p' "$out/$system.bvh" 2> /dev/null | tr -d '\r') -ge 5 ]] && break
      status=1
    done
    # Ctrl+C under wine: the console handler stops the server as SIGINT does.
    kill -INT $pid 2> /dev/null
    for _ in $(seq 50); do kill -0 $pid 2> /dev/null || break; sleep 0.1; done
    kill -KILL $pid 2> /dev/null
    wait $pid 2> /dev/null
    return $status
  }
  local linux=$root/build/default/bin
  run_one linux "$linux/orbel-capture-server" -- "$linux/orbel-host" ||
    { echo "Linux orbel-host failed, see $out/linux-host.log"; return 1; }
  run_one windows "$wine" "$build/bin/orbel-capture-server.exe" -- \
    "$wine" "$build/bin/orbel-host.exe" ||
    { echo "Windows orbel-host failed, see $out/windows-host.log"; return 1; }
  local frames
  frames=$(sed -n 's/^Frames: *//p' "$out/linux.bvh" "$out/windows.bvh" | tr -d '\r' | sort -n | head -1)
  for system in linux windows; do
    mv "$out/$system.bvh" "$out/$system-whole.bvh"
    awk -v keep="$frames" '/^Frames:/ {print "Frames: " keep; next}
         /^Frame Time:/ {print "Frame Time: (set aside)"; motion = 1; next}
         motion {if (++n <= keep) print; next} {print}' \
      "$out/$system-whole.bvh" > "$out/$system.bvh"
  done
  local times
  times=$(sed -n 's/^Frame Time: *//p' "$out/linux-whole.bvh" "$out/windows-whole.bvh" | tr -d '\r' |
    paste -sd/)
  if cmp -s "$out/linux.bvh" "$out/windows.bvh"; then
    echo "same bytes ($frames samples, $(wc -l < "$out/linux.bvh") lines; Frame Time $times)"
    return 0
  fi
  # Not the same bytes: the same numbers, to 1e-12, word by word?
  if awk 'NR == FNR {a[FNR] = $0; next}
          { n = split(a[FNR], x); m = split($0, y); if (n != m) exit 1
            for (i = 1; i <= n; i++) {
              if (x[i] == y[i]) continue
              if (x[i] !~ /^[-+0-9.eE]+$/ || y[i] !~ /^[-+0-9.eE]+$/) exit 1
              d = x[i] - y[i]; if (d < 0) d = -d; if (d > 1e-12) exit 1; ++differ } }
          END { if (NR != 2 * FNR) exit 1; print differ " numbers printed differently" }' \
       "$out/linux.bvh" "$out/windows.bvh" > "$out/compare.txt"; then
    echo "same numbers to 1e-12 ($(cat "$out/compare.txt"); Frame Time $times)"
    return 0
  fi
  echo "the exports differ: diff $out/linux.bvh $out/windows.bvh"
  return 1
}
t0=$(date +%s)
verdict=$(export_check)
if [[ $? -eq 0 ]]; then
  total_passed=$((total_passed + 1))
  summary+=("$(printf '%-36s %5d passed %18s %4ds  %s' 'BVH export, Windows vs Linux' 1 '' $(( $(date +%s) - t0 )) "$verdict")")
else
  failed=1
  total_failed=$((total_failed + 1))
  summary+=("$(printf '%-36s FAILED: %s' 'BVH export, Windows vs Linux' "$verdict")")
fi

finished=$(date +%s)
echo
echo "== Windows tests under $("$wine" --version 2>/dev/null)"
printf '%s\n' "${summary[@]}"
echo "== $((total_passed + total_failed + total_skipped)) tests run under wine and on the build machine;" \
  "build $((built - started))s, tests $((finished - built))s, total $((finished - started))s"
echo "$total_passed passed, $total_failed failed, $total_skipped skipped"
exit $failed
