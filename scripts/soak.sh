#!/usr/bin/env bash
# A long run of the whole system, to see that memory stays flat and nothing
# fails: orbel-capture-server serves a scene (the synthetic "stage" scene by
# default, or a BVH recording) and orbel-host streams it for MINUTES minutes
# (default 30) in rounds of about 45 seconds. Each round starts from an empty
# scene, adds the device, goes online, binds, records, binds again, switches
# options (axis, bones, markers), pauses and resumes, resets the device and
# exports the take. Every few seconds the resident memory of both programs
# goes to a CSV file.
#
#   scripts/soak.sh [MINUTES] [--no-build] [--bin DIR] [--bvh FILE]
#                   [--out DIR] [--every SECONDS] [--max-growth-mb N] [--arenas]
#
# At the end it prints the start, end and highest memory of each program
# and its growth after the warm-up (the first quarter of the rounds), and
# counts errors (a failed host command, an error line of either program, a
# program that died). It exits 1 when there is an error or memory grew by
# more than N megabytes (default 16) after the warm-up. Not part of CI.
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=30
build=1
bin=build/default/bin
recording=
out=out/soak
every=5
max_growth_mb=16
own_arenas=0
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) build=0 ;;
    --bin) bin=${2:?--bin needs a folder}; build=0; shift ;;
    --bvh) recording=${2:?--bvh needs a file}; shift ;;
    --out) out=${2:?--out needs a folder}; shift ;;
    --every) every=${2:?--every needs a number of seconds}; shift ;;
    --max-growth-mb) max_growth_mb=${2:?--max-growth-mb needs a number}; shift ;;
    --arenas) own_arenas=1 ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    [0-9]*) minutes=$1 ;;
    *) echo "soak: unknown argument '$1' (try --help)" >&2; exit 2 ;;
  esac
  shift
done
for number in "$minutes" "$every" "$max_growth_mb"; do
  case "$number" in
    ''|*[!0-9]*) echo "soak: '$number' is not a whole number" >&2; exit 2 ;;
  esac
done
case "$out" in
  /*|..*|*/..*) echo "soak: the output folder must lie inside the repository, not '$out'" >&2; exit 2 ;;
esac
if [ -n "$recording" ] && [ ! -f "$recording" ]; then
  echo "soak: no recording '$recording'" >&2
  exit 2
fi

if [ "$build" = 1 ]; then
  command -v cmake >/dev/null || { echo "soak: cmake is missing" >&2; exit 1; }
  echo "== building (cmake --preset default, orbel-host with the plug-in, and the server)"
  cmake --preset default >/dev/null
  cmake --build --preset default --target orbel-host OrbelOptical orbel-capture-server
fi
for program in orbel-host orbel-capture-server; do
  [ -x "$bin/$program" ] || { echo "soak: $bin/$program is not built (drop --no-build)" >&2; exit 1; }
done

mkdir -p "$out"
rm -f "$out/rss.csv" "$out/soak.orbs" "$out/empty.orbs" "$out/host.out" "$out/host.log" \
      "$out/server.out" "$out/server.log" "$out/take.bvh" "$out/take_markers.csv"

if [ -n "$recording" ]; then
  scene=(--bvh "$recording")
  what="the recording $recording"
else
  scene=(--scene-preset stage)
  what="the synthetic stage scene (10 subjects of 60 segments, 600 markers, 1000 unlabelled)"
fi
echo "== starting orbel-capture-server with $what on a free loopback port"
"$bin/orbel-capture-server" --port 0 "${scene[@]}" >"$out/server.out" 2>"$out/server.log" &
server=$!
host=
cleanup() {
  for pid in $host $server; do
    if kill -0 "$pid" 2>/dev/null; then
      kill -INT "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
}
trap cleanup EXIT

port=
for _ in $(seq 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$out/server.out")
  [ -n "$port" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "soak: the server did not start:" >&2
  cat "$out/server.log" >&2
  exit 1
fi
echo "   listening on 127.0.0.1:$port"

# One round takes about 45 seconds of waiting plus the commands' own time.
round_seconds=45
rounds=$(( (minutes * 60 + round_seconds - 1) / round_seconds ))
[ "$rounds" -ge 2 ] || rounds=2
{
  echo "# Written by scripts/soak.sh: $rounds rounds against 127.0.0.1:$port."
  echo "save $out/empty.orbs"
  for round in $(seq "$rounds"); do
    cat <<EOF
echo "round $round of $rounds"
load $out/empty.orbs
add "Orbel Stream Device" orbel
panel orbel set-address 127.0.0.1
panel orbel set-port $port
panel orbel axis Y-Up
panel orbel bones on
panel orbel markers on
panel orbel unlabeled on
online orbel on
bind orbel new
wait 4
arm orbel on
record 4
bind orbel Orbel
panel orbel axis Z-Up
wait 4
panel orbel pause
wait 3
panel orbel pause
panel orbel bones off
wait 3
panel orbel bones on
panel orbel markers off
record 3
panel orbel markers on
panel orbel axis Y-Up
bind orbel Orbel
wait 4
op orbel reset
bind orbel Orbel
wait 4
online orbel off
wait 2
online orbel on
record 4
export-bvh $out/take.bvh
export-csv $out/take_markers.csv
dump stats --out $out/stats.json
wait 6
EOF
  done
} >"$out/soak.orbs"

echo "== running orbel-host for $minutes minutes ($rounds rounds of about $round_seconds s)"
# One malloc arena: with one per thread, each new thread's arena keeps the
# highest memory it ever held, so memory steps up now and then without any
# leak and hides a real one. --arenas leaves the allocator as it is.
arena_env=()
[ "$own_arenas" = 1 ] || arena_env=(env MALLOC_ARENA_MAX=1)
"${arena_env[@]}" "$bin/orbel-host" --config-dir "$out/config" --no-status --quiet --script "$out/soak.orbs" \
  >"$out/host.out" 2>"$out/host.log" &
host=$!

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || true; }
start=$(date +%s)
echo "seconds,round,server_rss_kb,host_rss_kb" >"$out/rss.csv"
while kill -0 "$host" 2>/dev/null; do
  s=$(rss_kb "$server")
  h=$(rss_kb "$host")
  round=$(grep -c '^round ' "$out/host.out" || true)
  [ -n "$h" ] && echo "$(( $(date +%s) - start )),$round,${s:-0},$h" >>"$out/rss.csv"
  sleep "$every"
done
host_status=0
wait "$host" || host_status=$?
host=
server_alive=1
kill -0 "$server" 2>/dev/null || server_alive=0
cleanup
trap - EXIT

# Errors: a host that failed or a server that died, and the error lines of
# both programs' logs.
host_errors=$(grep -c 'orbel-host: error' "$out/host.log" || true)
server_errors=$(grep -Eic 'corrupt|failed|cannot|error' "$out/server.log" || true)
errors=$(( host_errors + server_errors ))
[ "$host_status" = 0 ] || errors=$(( errors + 1 ))
[ "$server_alive" = 1 ] || errors=$(( errors + 1 ))
completed=$(grep -c '^round ' "$out/host.out" || true)

# Memory: every round does the same work, so the highest memory of the
# rounds should stay the same. The allocator keeps what it once took, so
# memory steps up early and then stays; a leak keeps climbing. The first
# quarter of the rounds warms up; growth is the highest memory of the last
# half of the remaining rounds minus that of the first half.
awk -F, -v bound_mb="$max_growth_mb" '
  NR == 1 || $2 < 1 { next }
  {
    r = $2; s = $3; h = $4
    if (n == 0) { s0 = s; h0 = h }
    n++
    if (s > speak[r]) speak[r] = s
    if (h > hpeak[r]) hpeak[r] = h
    if (s > smax) smax = s
    if (h > hmax) hmax = h
    if (r > last) last = r
    s1 = s; h1 = h; t = $1
  }
  END {
    if (n == 0 || last < 2) { print "   too few rounds to judge growth"; exit 1 }
    warm = last >= 3 ? int(last / 4) : 0
    if (warm < 1 && last >= 3) warm = 1
    mid = warm + int((last - warm) / 2)
    for (r = warm + 1; r <= last; r++) {
      if (r <= mid) { if (speak[r] > s_a) s_a = speak[r]; if (hpeak[r] > h_a) h_a = hpeak[r] }
      else { if (speak[r] > s_b) s_b = speak[r]; if (hpeak[r] > h_b) h_b = hpeak[r] }
    }
    ra = (warm + 1 == mid) ? warm + 1 "" : (warm + 1) "-" mid
    rb = (mid + 1 == last) ? last "" : (mid + 1) "-" last
    printf "   %-22s %8s %8s %8s %14s %14s %8s\n", "memory (MB)", "start", "end", "max", "peak r" ra, "peak r" rb, "growth"
    printf "   %-22s %8.1f %8.1f %8.1f %14.1f %14.1f %+8.1f\n", "orbel-capture-server", s0/1024, s1/1024, smax/1024, s_a/1024, s_b/1024, (s_b-s_a)/1024
    printf "   %-22s %8.1f %8.1f %8.1f %14.1f %14.1f %+8.1f\n", "orbel-host", h0/1024, h1/1024, hmax/1024, h_a/1024, h_b/1024, (h_b-h_a)/1024
    printf "   %d samples over %d s; rounds 1-%d warm up\n", n, t, warm
    grown = ((s_b - s_a) / 1024 > bound_mb) || ((h_b - h_a) / 1024 > bound_mb)
    exit grown ? 3 : 0
  }
  ' "$out/rss.csv" >"$out/summary.txt" && memory_ok=1 || memory_ok=0

echo "== summary"
echo "   scene       $what"
echo "   rounds      $completed of $rounds completed"
cat "$out/summary.txt"
echo "   errors      $errors (host: $host_errors error lines, exit status $host_status;" \
     "server: $server_errors error lines, $([ "$server_alive" = 1 ] && echo running || echo DIED) at the end)"
echo "   memory      $out/rss.csv; host log $out/host.log; server log $out/server.log"
if [ "$errors" -gt 0 ]; then
  echo "soak: $errors errors; the first ones:" >&2
  grep -h -m 5 -Ei 'orbel-host: error|corrupt|failed|cannot|error' "$out/host.log" "$out/server.log" >&2 || true
  exit 1
fi
if [ "$memory_ok" != 1 ]; then
  echo "soak: memory grew by more than $max_growth_mb MB after the warm-up" >&2
  exit 1
fi
echo "soak: memory flat (within $max_growth_mb MB after the warm-up), no errors"
