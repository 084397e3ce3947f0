#!/usr/bin/env bash
# The main job, end to end: build, start the capture server on one of the
# project's own recordings on a free loopback port, run orbel-host through a
# whole session (add the device, address and port, online, bind, record,
# save, export; scripts/demo.orbs), print a summary and stop the server.
#
#   scripts/demo.sh [--no-build] [--seconds N] [--bvh FILE] [--out DIR] [--bin DIR]
#
# Everything it writes goes to DIR (default out/demo), the host's settings
# file included; the build goes to build/default. --bin runs the programs
# of another build folder's bin/ instead (and builds nothing).
set -euo pipefail
cd "$(dirname "$0")/.."

build=1
bin=build/default/bin
seconds=5
recording=data/mocap/walk.bvh
out=out/demo
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) build=0 ;;
    --seconds) seconds=${2:?--seconds needs a number}; shift ;;
    --bvh) recording=${2:?--bvh needs a file}; shift ;;
    --out) out=${2:?--out needs a folder}; shift ;;
    --bin) bin=${2:?--bin needs a folder}; build=0; shift ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown argument '$1' (try --help)" >&2; exit 2 ;;
  esac
  shift
done
case "$out" in
  /*|..*|*/..*) echo "demo: the output folder must lie inside the repository, not '$out'" >&2; exit 2 ;;
esac
[ -f "$recording" ] || { echo "demo: no recording '$recording'" >&2; exit 2; }

if [ "$build" = 1 ]; then
  scripts/install-deps.sh build
  echo "== building (cmake --preset default, target orbel-host with the plug-in and the server)"
  cmake --preset default >/dev/null
  cmake --build --preset default --target orbel-host
fi
for program in orbel-host orbel-capture-server; do
  [ -x "$bin/$program" ] || { echo "demo: $bin/$program is not built (drop --no-build)" >&2; exit 1; }
done

mkdir -p "$out"
name=$(basename "$recording" .bvh)
rm -f "$out/$name.orbs" "$out/$name.bvh" "$out/${name}_markers.csv" "$out/panel.png" \
      "$out/stats.json" "$out/server.out" "$out/server.log"

echo "== starting orbel-capture-server with $recording on a free loopback port"
"$bin/orbel-capture-server" --port 0 --bvh "$recording" >"$out/server.out" 2>"$out/server.log" &
server=$!
stop_server() {
  if kill -0 "$server" 2>/dev/null; then
    kill -INT "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
}
trap stop_server EXIT

port=
for _ in $(seq 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$out/server.out")
  [ -n "$port" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "demo: the server did not start:" >&2
  cat "$out/server.log" >&2
  exit 1
fi
echo "   listening on 127.0.0.1:$port"

echo "== running orbel-host --script scripts/demo.orbs"
status=0
"$bin/orbel-host" --config-dir "$out/config" \
  --set PORT="$port" --set OUT="$out" --set SECONDS="$seconds" --set NAME="$name" \
  --script scripts/demo.orbs || status=$?

stop_server
trap - EXIT
echo "== server log"
sed 's/^/   /' "$out/server.log"

if [ "$status" != 0 ]; then
  echo "demo: orbel-host failed (exit status $status); see the messages above" >&2
  exit "$status"
fi
frames=$(sed -n 's/^Frames: //p' "$out/$name.bvh")
rows=$(($(wc -l <"$out/${name}_markers.csv") - 1))
echo "== summary"
echo "   recording   $recording, served at 120 frames per second on 127.0.0.1:$port"
echo "   take        $seconds s recorded, $frames samples"
echo "   scene       $out/$name.orbs"
echo "   BVH         $out/$name.bvh ($frames frames; open it in any tool that imports BVH)"
echo "   markers     $out/${name}_markers.csv ($rows rows)"
echo "   panel       $out/panel.png"
echo "   figures     $out/stats.json"
echo "   settings    $out/config/OrbelOpticalDevice.txt"
