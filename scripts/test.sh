#!/usr/bin/env bash
# Sets up everything and runs every test: bootstrap, both builds (the i686 release must build
# warning-free too), Xvfb, the Wine prefix, the loopback test servers, then ctest.
# Exits non-zero when a build or a test fails.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build_root=${BUILD_ROOT:-$here/build}
build="$build_root/x86_64"

bash "$here/scripts/bootstrap.sh"
bash "$here/scripts/build.sh" x86_64
bash "$here/scripts/build.sh" i686

pids=()
cleanup() {
  bash "$here/scripts/test-servers.sh" "$build" stop || true
  bash "$here/scripts/wine-prefix.sh" "$build" stop || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

# A display for the tests that open windows.
if [ -z "${DISPLAY:-}" ]; then
  export ORV_XVFB_DISPLAY=${ORV_XVFB_DISPLAY:-99}
  if ! [ -e "/tmp/.X11-unix/X$ORV_XVFB_DISPLAY" ]; then
    Xvfb ":$ORV_XVFB_DISPLAY" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    pids+=($!)
  fi
  export DISPLAY=":$ORV_XVFB_DISPLAY"
fi

bash "$here/scripts/wine-prefix.sh" "$build" start
bash "$here/scripts/test-servers.sh" "$build" start

ctest --test-dir "$build" -j "${ORV_TEST_JOBS:-2}" --output-on-failure --timeout 300
