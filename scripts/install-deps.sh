#!/usr/bin/env bash
# The one list of Debian packages this project needs, and the one place that
# installs them: `.ci/run`, `scripts/demo.sh` and the README's commands all
# come through here, so the lists can never drift apart.
#
#   scripts/install-deps.sh [build|test|ci]   (default: build)
#
# build: what `cmake --preset default` needs to build everything, tests
#        included (three.js is what orbel-host's live view serves).
# test:  build, plus what the tests run but do not build with (Chromium
#        for the browser test of the live view).
# ci:    test, plus what the CI-only jobs need (clang's fuzzer runtime).
# Missing packages are installed with apt-get when running as root (or through
# sudo when it needs no password); otherwise the script names them and fails.
set -euo pipefail

build_packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  libeigen3-dev nlohmann-json3-dev libedit-dev libcpp-httplib-dev libjs-three libtinygltf-dev
  libassimp-dev)
test_packages=(chromium)
ci_packages=(clang libclang-rt-14-dev)

group=${1:-build}
case "$group" in
  build) wanted=("${build_packages[@]}") ;;
  test) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
  ci) wanted=("${build_packages[@]}" "${test_packages[@]}" "${ci_packages[@]}") ;;
  *) echo "install-deps: unknown group '$group' (build, test or ci)" >&2; exit 2 ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  run=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  run=(sudo)
else
  echo "install-deps: missing Debian packages: ${missing[*]}" >&2
  echo "install-deps: install them as root: apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${run[@]}" apt-get update -qq
"${run[@]}" apt-get install -y -qq "${missing[@]}"
