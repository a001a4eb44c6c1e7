#!/usr/bin/env bash
# The hardening checks, for CI: clang-format, cppcheck, the whole test suite under ASan and
# UBSan, the fault walk on the release build, the fuzz corpus replay and short fuzz runs, and
# clang-tidy. Fails on the first finding.
#
# First installs, as root, the Debian packages that this needs; `--no-install` leaves that out
# on a machine that has them. KELCONV_FUZZ_SECONDS sets how long each fuzz target runs (20).
set -euo pipefail
cd "$(dirname "$0")/../.."

packages=(
  cmake make g++ libgtest-dev       # the native build and its tests
  clang libclang-rt-14-dev          # the sanitizer runtimes and libFuzzer
  clang-tidy clang-format cppcheck  # the analysers
)

if [[ "${1:-}" != "--no-install" ]]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 "${packages[@]}"
fi

fuzz_seconds="${KELCONV_FUZZ_SECONDS:-20}"

step() { printf '\n== %s\n' "$*"; }

for tool in clang++ clang-tidy run-clang-tidy clang-format cppcheck; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done

# The project's own C++ files (found without git, which a CI checkout may lack).
sources() { find src tests fuzz bench -name '*.cpp' "$@" | sort; }

step "clang-format"
{ sources; find src tests fuzz bench -name '*.h'; } | xargs clang-format --dry-run -Werror

step "cppcheck"
# shellcheck disable=SC2046
cppcheck --std=c++20 --language=c++ -I src -I tests -I fuzz -I bench \
  --library=googletest --library=posix -D__linux__ -U_WIN32 \
  --enable=warning,style,performance,portability --inline-suppr \
  --suppressions-list=tools/ci/cppcheck-suppressions.txt --error-exitcode=1 -q \
  --template='{file}:{line}: {severity}: {message} [{id}]' \
  $(sources ! -name '*_win32.cpp' ! -path 'tests/win32/*')

step "ASan + UBSan: every native test"
cmake --workflow --preset asan

step "The fault walk, on the release build"
cmake --preset native
cmake --build --preset native
ctest --preset native -L fault_walk

step "Fuzzing: replay of the seed corpus, then ${fuzz_seconds} s for each target"
cmake --preset fuzz -DKELCONV_FUZZ_SECONDS="${fuzz_seconds}"
cmake --build --preset fuzz
ctest --preset fuzz

step "clang-tidy"
# The compile commands of the asan build cover the sources, the tests and the benchmarks;
# those of the fuzz build, the fuzz targets.
tidy_log="$(mktemp)"
trap 'rm -f "${tidy_log}"' EXIT
tidy() {
  run-clang-tidy -quiet -j 2 -p "build/$1" "$2" >"${tidy_log}" 2>&1 ||
    { grep -E 'error|warning' "${tidy_log}"; exit 1; }
}
tidy asan "$PWD/(src|tests|bench)/.*\.cpp$"
tidy fuzz "$PWD/fuzz/.*\.cpp$"

step "All hardening checks passed"
