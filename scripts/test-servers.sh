#!/usr/bin/env bash
# Starts or stops the loopback test servers of a build tree:  scripts/test-servers.sh BUILD_DIR start|stop
# start: makes the test certificates once, trusts the test CA in the build tree's Wine prefix
# (whose wineserver must be running), starts tests/server/testserver.py detached and waits until
# it listens. Folders: BUILD_DIR/testdata/{www,server,certs}.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
action=${2:-start}
data="$build/testdata"
state="$data/server"

stop_server() {
  if [ -f "$state/ready" ]; then
    kill "$(head -n 1 "$state/ready")" 2>/dev/null || true
    rm -f "$state/ready"
  fi
}

if [ "$action" = stop ]; then
  stop_server
  exit 0
fi

base=$(sed -n 's/^ORV_TEST_PORT_BASE:STRING=//p' "$build/CMakeCache.txt")
mkdir -p "$data/www" "$state"
bash "$here/tests/server/make-certs.sh" "$data/certs" >/dev/null

export WINE_BUILD_DIR="$build"
source "$here/scripts/wine-env.sh"
sum=$(sha1sum "$data/certs/ca.der" | cut -c1-40)
if [ ! -f "$WINEPREFIX/.trusted-$sum" ]; then
  "$WINE" "$build/tests/trust_ca.exe" "Z:${data//\//\\}\\certs\\ca.der" </dev/null >/dev/null 2>&1 \
    || { echo "test-servers: could not trust the test CA" >&2; exit 1; }
  touch "$WINEPREFIX/.trusted-$sum"
fi

stop_server
setsid python3 "$here/tests/server/testserver.py" --base-port "$base" --root "$data/www" --state "$state" \
  --certs "$data/certs" </dev/null >"$data/server.log" 2>&1 &
for _ in $(seq 1 100); do
  [ -f "$state/ready" ] && exit 0
  sleep 0.1
done
echo "test-servers: the server did not start; see $data/server.log" >&2
exit 1
