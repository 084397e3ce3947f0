#!/usr/bin/env bash
# Cross-builds the project for 64-bit Windows (the "windows" preset) and runs
# every test program of that build under wine64, then prints a summary.
# Exits non-zero when the build or any test fails. See docs/WINDOWS.md.
#
#   scripts/windows-tests.sh            build, then run everything
#   scripts/windows-tests.sh --no-build run what is built already
#   GTEST_FILTER=... scripts/windows-tests.sh   narrow the tests, as usual
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/windows
build_first=1
for arg in "$@"; do
  case $arg in
    --no-build) build_first=0 ;;
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
  cmake --preset windows > "$build.configure.log" 2>&1 || {
    cat "$build.configure.log" >&2; echo "windows-tests.sh: configure failed" >&2; exit 1; }
  cmake --build --preset windows || { echo "windows-tests.sh: build failed" >&2; exit 1; }
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
  [[ -z $exe ]] && continue
  name=$(basename "$exe" .exe)
  log=$logs/$name.log
  if [[ ! -f $exe ]]; then
    summary+=("$(printf '%-36s NOT BUILT' "$name")")
    failed=1
    continue
  fi
  t0=$(date +%s)
  # Each program runs from its own folder, where its DLLs are.
  (cd "$(dirname "$exe")" && timeout 900 "$wine" "$exe" --gtest_color=no) > "$log" 2>&1
  status=$?
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
    "$name" "$passed" "$failing" "$skipped" $((t1 - t0)) "$verdict")")
done < "$list"

finished=$(date +%s)
echo
echo "== Windows tests under $("$wine" --version 2>/dev/null)"
printf '%s\n' "${summary[@]}"
echo "== $total_passed passed, $total_failed failed, $total_skipped skipped;" \
  "build $((built - started))s, tests $((finished - built))s, total $((finished - started))s"
exit $failed
