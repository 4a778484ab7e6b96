# Sourced: the environment of the throw-away Wine prefix of one build tree.
#   WINE_BUILD_DIR must name the build tree (for example build/x86_64).
: "${WINE_BUILD_DIR:?WINE_BUILD_DIR must name the build tree}"
export WINEPREFIX="$WINE_BUILD_DIR/wine/prefix"
# Without a HOME of its own the prefix links its Desktop and Documents into the real home.
export HOME="$WINE_BUILD_DIR/wine/home"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Code page 936, as on the product's users' machines.
export LANG=zh_CN.UTF-8
export WINE=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
