#!/usr/bin/env bash
# Builds the Windows program for 32-bit and 64-bit x86 with mingw-w64 and runs every test of
# it: the unit, contract and end-to-end tests under Wine (64-bit only: this machine cannot run
# 32-bit programs) and the checks of both program files.
#
# First installs, as root, the Debian packages that this needs; `--no-install` leaves that out
# on a machine that has them. The end-to-end tests compare with the native build, which is
# built here first.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake make python3
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix  # cross compilers with std::thread
  googletest                                           # GoogleTest sources for the cross build
  wine wine64                                          # runs the 64-bit programs
  locales                                              # ja_JP.UTF-8: ANSI code page 932 in Wine
  xvfb xdotool x11-apps imagemagick                    # screen, keys and screenshots
  fonts-ipafont-gothic                                 # Japanese glyphs in the boxes
)

if [[ "${1:-}" != "--no-install" ]]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y -o DPkg::Lock::Timeout=600 "${packages[@]}"
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

cmake --preset native >/dev/null
cmake --build --preset native --target kelconv

cmake --workflow --preset win32
status=0
cmake --workflow --preset win64 || status=$?

# Wine's server and desktop end by themselves a few seconds after the last program; wait for
# that, so that nothing is left running.
WINEPREFIX="$PWD/build/win64/wineprefix" timeout 60 /usr/lib/wine/wineserver -w || true
exit "$status"
