#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (as root) and builds the two
# dependencies that have no MinGW packages (libcurl with Schannel, the 7z decoder of the LZMA SDK)
# for both Windows targets into a cache outside the repository. Idempotent: a second run only checks.
#
# Output: $DEPS_ROOT/<target>/deps.cmake, read by the CMake build.
set -euo pipefail

CACHE_ROOT="${XDG_CACHE_HOME:-$HOME/.cache}/orvanta-downloader"
DEPS_ROOT="$CACHE_ROOT/deps"
SRC_ROOT="$CACHE_ROOT/src"
TARGETS=(i686-w64-mingw32 x86_64-w64-mingw32)

PACKAGES=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine64 wine xvfb xauth cmake ninja-build make
  7zip rapidjson-dev libstb-dev googletest osslsigncode openssl python3 dpkg-dev locales
)

log() { printf 'bootstrap: %s\n' "$*" >&2; }

need_root() {
  if [ "$(id -u)" != 0 ]; then
    log "must run as root to install packages: $*"
    exit 1
  fi
}

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  need_root "${missing[*]}"
  log "installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The test prefix runs with LANG=zh_CN.UTF-8 (code page 936, as on the users' machines); without
# that locale generated, Wine cannot map non-ASCII file names to the Linux side.
ensure_locale() {
  locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$' && return 0
  need_root "zh_CN.UTF-8 locale"
  log "generating the zh_CN.UTF-8 locale"
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
}

# apt-get source needs a deb-src entry for Debian's own archive; add one in a file of our own.
ensure_deb_src() {
  if grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/ \
     && apt-cache showsrc curl 2>/dev/null | grep -q '^Version:'; then
    return 0
  fi
  need_root "deb-src entry"
  log "adding a deb-src entry for bookworm main"
  cat > /etc/apt/sources.list.d/orvanta-downloader-src.sources <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  apt-get update -qq
}

src_version() { apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -V | tail -n 1; }

# Unpacks the source package once per version; prints its folder.
fetch_source() {
  local pkg=$1 ver=$2 dir="$SRC_ROOT/$1-$2"
  if [ ! -f "$dir/.unpacked" ]; then
    log "fetching source $pkg $ver"
    rm -rf "$dir" "$dir.tmp"
    mkdir -p "$dir.tmp"
    (cd "$dir.tmp" && apt-get source -qq "$pkg=$ver" >/dev/null 2>&1)
    local top
    top=$(find "$dir.tmp" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    mv "$top" "$dir"
    rm -rf "$dir.tmp"
    touch "$dir/.unpacked"
  fi
  printf '%s\n' "$dir"
}

build_curl() {
  local target=$1 src=$2 prefix=$3
  [ -f "$prefix/.built" ] && return 0
  log "building libcurl for $target"
  local bdir="$CACHE_ROOT/build/curl-$target"
  mkdir -p "$CACHE_ROOT/build"
  rm -rf "$bdir" "$prefix"
  # No CA bundle or path compiled in: on Windows Schannel uses the system store, and a baked-in
  # host path would silently work under Wine while failing on real Windows.
  cmake -S "$src" -B "$bdir" -G Ninja \
    -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_C_COMPILER="$target-gcc-posix" -DCMAKE_RC_COMPILER="$target-windres" \
    -DCMAKE_FIND_ROOT_PATH="/usr/$target" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
    -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
    -DUSE_NGHTTP2=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DCURL_USE_LIBPSL=OFF \
    -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none >"$bdir.log" 2>&1 \
    && cmake --build "$bdir" >>"$bdir.log" 2>&1 \
    && cmake --install "$bdir" >>"$bdir.log" 2>&1 \
    || { log "libcurl build failed, see $bdir.log"; tail -n 30 "$bdir.log" >&2; exit 1; }
  rm -rf "$bdir"
  touch "$prefix/.built"
}

# The 7z reader and its decoders: the C sources of the LZMA SDK inside the 7zip package.
LZMA_SOURCES=(7zArcIn.c 7zDec.c 7zStream.c 7zBuf.c 7zCrc.c 7zCrcOpt.c LzmaDec.c Lzma2Dec.c Bcj2.c Bra.c Bra86.c Delta.c)
build_lzma() {
  local target=$1 src=$2 prefix=$3
  [ -f "$prefix/.built" ] && return 0
  log "building the 7z decoder for $target"
  rm -rf "$prefix"
  mkdir -p "$prefix/include" "$prefix/lib" "$prefix/obj"
  local objs=()
  for f in "${LZMA_SOURCES[@]}"; do
    "$target-gcc-posix" -O2 -Wall -c "$src/C/$f" -o "$prefix/obj/${f%.c}.o"
    objs+=("$prefix/obj/${f%.c}.o")
  done
  "$target-ar" rcs "$prefix/lib/lib7zdec.a" "${objs[@]}"
  rm -rf "$prefix/obj"
  cp "$src"/C/*.h "$prefix/include/"
  touch "$prefix/.built"
}

# Header-only libraries staged alone: adding /usr/include itself would break the cross headers.
stage_headers() {
  local dir="$DEPS_ROOT/headers"
  mkdir -p "$dir"
  ln -sfn /usr/include/rapidjson "$dir/rapidjson"
  ln -sfn /usr/include/stb "$dir/stb"
}

main() {
  install_packages
  ensure_locale
  ensure_deb_src
  local curl_ver zip_ver curl_src zip_src
  curl_ver=$(src_version curl)
  zip_ver=$(src_version 7zip)
  [ -n "$curl_ver" ] && [ -n "$zip_ver" ] || { log "no source versions for curl/7zip"; exit 1; }
  curl_src=$(fetch_source curl "$curl_ver")
  zip_src=$(fetch_source 7zip "$zip_ver")
  stage_headers
  for t in "${TARGETS[@]}"; do
    local cp="$DEPS_ROOT/$t/curl-$curl_ver" lp="$DEPS_ROOT/$t/7zip-$zip_ver"
    build_curl "$t" "$curl_src" "$cp" &
    local curl_pid=$!
    build_lzma "$t" "$zip_src" "$lp"
    wait "$curl_pid"
    cat > "$DEPS_ROOT/$t/deps.cmake.tmp" <<EOF
# Written by scripts/bootstrap.sh: versions of the Debian source packages in use.
set(DEPS_CURL_VERSION "$curl_ver")
set(DEPS_7ZIP_VERSION "$zip_ver")
set(DEPS_CURL_PREFIX "$cp")
set(DEPS_LZMA_PREFIX "$lp")
set(DEPS_HEADERS "$DEPS_ROOT/headers")
EOF
    mv "$DEPS_ROOT/$t/deps.cmake.tmp" "$DEPS_ROOT/$t/deps.cmake"
  done
}

main "$@"
