#!/usr/bin/env bash
# The program's main job on this machine: builds both targets, starts the 64-bit build under
# Wine (in the test prefix, with a virtual display) and shows the log lines it writes.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build_root=${BUILD_ROOT:-$here/build}
build="$build_root/x86_64"
seconds=${ORV_RUN_SECONDS:-5}

bash "$here/scripts/bootstrap.sh"
bash "$here/scripts/build.sh" x86_64
bash "$here/scripts/build.sh" i686

pids=()
cleanup() {
  bash "$here/scripts/wine-prefix.sh" "$build" stop || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  export ORV_XVFB_DISPLAY=${ORV_XVFB_DISPLAY:-98}
  Xvfb ":$ORV_XVFB_DISPLAY" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=":$ORV_XVFB_DISPLAY"
fi
bash "$here/scripts/wine-prefix.sh" "$build" start

export WINE_BUILD_DIR="$build"
source "$here/scripts/wine-env.sh"
log="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/downloader/downloader.log"
before=$(stat -c %s "$log" 2>/dev/null || echo 0)
"$WINE" "$build/downloader.exe" </dev/null >/dev/null 2>&1 &
prog=$!
sleep "$seconds"
# Nothing in the program ends its message loop yet: stop it from outside.
"$WINESERVER" -k >/dev/null 2>&1 || true
wait "$prog" 2>/dev/null || true
echo "== log lines of this run ($log)"
tail -c +"$((before + 1))" "$log" 2>/dev/null || echo "(no log written)"
