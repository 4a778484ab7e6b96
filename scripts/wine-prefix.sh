#!/usr/bin/env bash
# Creates the Wine prefix of a build tree once and starts a persistent wineserver for it.
#   scripts/wine-prefix.sh BUILD_DIR [start|stop]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINE_BUILD_DIR=$(cd "$1" && pwd)
action=${2:-start}
source "$here/scripts/wine-env.sh"

if [ "$action" = stop ]; then
  "$WINESERVER" -k >/dev/null 2>&1 || true
  exit 0
fi

mkdir -p "$HOME"
# Detached, with no standard streams: Wine's helpers must not hold a caller's pipe open.
setsid "$WINESERVER" -p </dev/null >/dev/null 2>&1 &
if [ ! -f "$WINEPREFIX/.ready" ]; then
  "$WINE" wineboot -i </dev/null >/dev/null 2>&1
  # Fonts for Chinese text in windows and standard dialogs.
  "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v '微软雅黑' /d 'Noto Sans CJK SC' /f </dev/null >/dev/null 2>&1 || true
  "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v 'Microsoft YaHei' /d 'Noto Sans CJK SC' /f </dev/null >/dev/null 2>&1 || true
  touch "$WINEPREFIX/.ready"
fi
# Warm the server so the first test does not pay the start-up.
"$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
