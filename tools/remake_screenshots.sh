#!/usr/bin/env bash
# Remakes the README's pictures of kelconv.exe's three kinds of box, docs/screenshots/
# question.png, information.png and failure.png, from the 64-bit build under Wine and Xvfb.
# Needs the packages that tools/windows_tests.sh installs. Builds build/win64/kelconv.exe if
# it is not there.
#
# The boxes are shown inside a Wine desktop window, which draws their captions as Windows
# does (a bare X server draws no window frames). A box is photographed once Wine's relay trace
# shows its call and it has had a moment to draw, then answered by key.
set -euo pipefail
[[ -n ${KELCONV_TRACE:-} ]] && set -x
cd "$(dirname "$0")/.."
root=$PWD
out=$root/docs/screenshots
program=$root/build/win64/kelconv.exe
wine=$root/tests/win32/wine_run.sh
# A prefix of its own: the Wine desktop outlives the program, and is ended with its server.
export KELCONV_WINEPREFIX=$root/build/win64/screenshot-prefix

if [[ ! -x $program ]]; then
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 --target kelconv
fi
mkdir -p "$out"
work=$(mktemp -d)
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$work/display" 2>/dev/null &
xvfb=$!
cleanup() {
  WINEPREFIX=$KELCONV_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
"$wine" reg.exe add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
  /d 'user32.MessageBoxExA;user32.MessageBoxA' /f >/dev/null 2>&1

# Waits until the trace in $1 shows $2 box calls and the box has drawn itself.
wait_for_box() {
  for _ in $(seq 300); do
    if (($(grep -ac 'Call user32.MessageBox' "$1" || true) >= $2)); then
      sleep 1.5
      return 0
    fi
    sleep 0.1
  done
  echo "no box $2 appeared" >&2
  return 1
}

# Photographs the Wine desktop and cuts out the box: everything that is not desktop colour.
shoot() {
  xwd -silent -root | convert xwd:- -crop 640x360+0+0 +repage -trim +repage \
    -bordercolor white -border 0 "$out/$1"
  echo "wrote docs/screenshots/$1"
}

# The box has the keyboard: it came up in front, and nothing else is on this display.
answer() {
  xdotool key "$@"
}

# Ends the Wine desktop and everything else of this prefix.
end_wine() {
  WINEPREFIX=$KELCONV_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
  wait "$run" || true
}

# Runs kelconv.exe in a Wine desktop in folder $1; the trace goes to $1.trace.
start() {
  (cd "$1" && WINEDEBUG=+relay "$wine" explorer.exe /desktop=kelconv,640x360 "$program" \
    >/dev/null 2>"$1.trace") &
  run=$!
}

# The question and, after Yes, the closing message, on the bundled example data.
mkdir "$work/convert"
cp examples/basic/kelrun.lst examples/basic/kelrun.tab "$work/convert"
start "$work/convert"
wait_for_box "$work/convert.trace" 1 && shoot question.png && answer Return
wait_for_box "$work/convert.trace" 2 && shoot information.png && answer Return
sleep 1
end_wine

# The failure report, for a list file without a single line.
mkdir "$work/fail"
: >"$work/fail/kelrun.lst"
start "$work/fail"
wait_for_box "$work/fail.trace" 1 && shoot failure.png && answer Return
sleep 1
end_wine
