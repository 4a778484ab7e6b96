#!/usr/bin/env bash
# Configures and builds one or both targets:  scripts/build.sh [x86_64|i686|all] [cmake --build args]
#   x86_64 -> build/x86_64 (tests, loopback endpoints)   i686 -> build/i686 (the release program)
# BUILD_ROOT overrides the folder that holds the build trees.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}
shift || true
deps_root="${XDG_CACHE_HOME:-$HOME/.cache}/orvanta-downloader/deps"
build_root=${BUILD_ROOT:-$here/build}

build_one() {
  local arch=$1 target=$1-w64-mingw32 dir="$build_root/$1"
  shift
  local deps="$deps_root/$target/deps.cmake"
  [ -f "$deps" ] || bash "$here/scripts/bootstrap.sh"
  if [ ! -f "$dir/build.ninja" ] || ! grep -qF "$deps" "$dir/CMakeCache.txt" 2>/dev/null; then
    cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-$target.cmake" \
      -DORV_DEPS_FILE="$deps" ${ORV_CMAKE_ARGS:-} >/dev/null
  fi
  cmake --build "$dir" "$@"
}

case "$which" in
  x86_64|i686) build_one "$which" "$@" ;;
  all) build_one x86_64 "$@"; build_one i686 "$@" ;;
  *) echo "usage: $0 [x86_64|i686|all]" >&2; exit 2 ;;
esac
