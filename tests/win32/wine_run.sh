#!/bin/sh
# Runs a 64-bit Windows program of the tests under Wine: `wine_run.sh PROGRAM [ARGS...]`.
# `wine_run.sh --wait-server` waits until the prefix's Wine server has ended.
# The Wine prefix is KELCONV_WINEPREFIX, or build/win64/wineprefix beside the sources. The ANSI
# code page is 932 (Japanese locale), and Wine's own messages are off unless WINEDEBUG is set.
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="${KELCONV_WINEPREFIX:-$here/../../build/win64/wineprefix}"
export WINELOADER=/usr/lib/wine/wine64
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No installer dialogs for Mono and Gecko, which nothing here needs.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
if [ "$1" = "--wait-server" ]; then
  exec /usr/lib/wine/wineserver -w
fi
exec "$WINELOADER" "$@"
