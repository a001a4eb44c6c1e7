#!/usr/bin/env bash
# Whole-process benchmark of kelconv against the copy limit.
#
#   bash tools/bench/run.sh            # 5 runs of each case
#   RUNS=9 bash tools/bench/run.sh     # more runs
#   KELCONV=/other/kelconv bash tools/bench/run.sh   # another build of the program
#
# Builds the 'bench' preset, generates seeded format 1.00 data sets of 100, 100,000 and
# 1,000,000 pages under $KELCONV_BENCH_DIR (default /tmp/kelconv-bench), and times, in
# alternation on the same files: kelconv converting them (answered Yes on standard input), and
# the copy limit, which reads both input files and writes as many bytes as kelconv writes,
# flushed to disk (dd bs=4M conv=fsync). Each timed run starts after `sync`, with the inputs in
# the page cache. Prints a markdown table of medians, the peak resident memory (from
# /usr/bin/time -v) and the time per megabyte at each size, then removes the data sets.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
runs=${RUNS:-5}
data=${KELCONV_BENCH_DIR:-/tmp/kelconv-bench}
sizes=(100 100000 1000000)

(cd "$root" && cmake --preset bench >/dev/null && cmake --build --preset bench >/dev/null)
make_data_set=$root/build/bench/kelconv_make_data_set
kelconv=${KELCONV:-$root/build/bench/kelconv}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs a command with its output discarded and prints "wall cpu peak_kb": elapsed and
# processor seconds (user and system) to the millisecond, and the peak resident set in KiB.
measure() {
  local timing=$data/time.txt times
  local TIMEFORMAT='%3R %3U %3S'
  times=$({ time /usr/bin/time -v -o "$timing" "$@" >/dev/null 2>&1; } 2>&1)
  awk -v times="$times" -F': ' '/Maximum resident/ { rss = $2 }
    END { split(times, t, " "); print t[1], t[2] + t[3], rss }' "$timing"
}

rm -rf "$data"
mkdir -p "$data"
echo y >"$data/yes"
table=()
declare -A ms_per_mb
for pages in "${sizes[@]}"; do
  src=$data/$pages/src work=$data/$pages/work
  mkdir -p "$src"
  "$make_data_set" "$src" "$pages" 1
  in_bytes=$(($(stat -c %s "$src/kelrun.lst") + $(stat -c %s "$src/kelrun.tab")))
  cat "$src/kelrun.lst" "$src/kelrun.tab" >/dev/null  # into the page cache

  kel_wall=() kel_cpu=() kel_rss=() copy_wall=() out_bytes='' out_sum=''
  for ((run = 0; run < runs; run++)); do
    # kelconv replaces the list file by a rename and deletes the page file, so hard links
    # to the sources give it the same cached bytes every time and leave the sources whole.
    rm -rf "$work" && mkdir -p "$work"
    ln "$src/kelrun.lst" "$src/kelrun.tab" "$work/"
    sync
    read -r wall cpu rss < <(cd "$work" && measure "$kelconv" <"$data/yes")
    if [[ -e $work/kelrun.tab ]]; then
      echo "kelconv did not convert the $pages-page set" >&2
      exit 1
    fi
    sum=$(md5sum <"$work/kelrun.lst")
    if [[ -z $out_sum ]]; then
      out_sum=$sum out_bytes=$(stat -c %s "$work/kelrun.lst")
    elif [[ $sum != "$out_sum" ]]; then
      echo "kelconv wrote different bytes in run $run of the $pages-page set" >&2
      exit 1
    fi
    kel_wall+=("$wall") kel_cpu+=("$cpu") kel_rss+=("$rss")

    rm -rf "$work" && mkdir -p "$work"
    sync
    read -r wall _ _ < <(measure sh -c "cat '$src/kelrun.lst' '$src/kelrun.tab' >/dev/null &&
      dd if=/dev/zero of='$work/copy' bs=4M count=$out_bytes iflag=count_bytes conv=fsync status=none")
    copy_wall+=("$wall")
  done
  rm -rf "$work"

  k=$(printf '%s\n' "${kel_wall[@]}" | median)
  c=$(printf '%s\n' "${copy_wall[@]}" | median)
  cpu=$(printf '%s\n' "${kel_cpu[@]}" | median)
  rss=$(printf '%s\n' "${kel_rss[@]}" | median)
  mb=$(echo "($in_bytes + $out_bytes) / 1000000" | bc -l)
  ms_per_mb[$pages]=$(echo "1000 * $k / $mb" | bc -l)
  table+=("$(printf '| %s | %.2f | %.2f | %.3f | %.3f | %.2f | %.3f | %.0f | %.2f | %.2f |' \
    "$pages" "$(echo "$in_bytes / 1000000" | bc -l)" "$(echo "$out_bytes / 1000000" | bc -l)" \
    "$k" "$c" "$(echo "$k / $c" | bc -l)" "$cpu" "$(echo "$rss / 1024" | bc -l)" \
    "$(echo "$rss * 1024 / ($in_bytes + $out_bytes)" | bc -l)" "${ms_per_mb[$pages]}")")
done
rm -rf "$data"

echo
echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores," \
  "$(free -g | awk '/^Mem:/ { print $2 }') GB," "Linux $(uname -r)," \
  "$(findmnt -no FSTYPE -T "${KELCONV_BENCH_DIR:-/tmp}") file system; medians of $runs runs."
echo
echo "| pages | input MB | output MB | kelconv s | copy limit s | ratio | kelconv CPU s | peak RSS MB | RSS / (input + output) | kelconv ms per MB |"
echo "| ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
printf '%s\n' "${table[@]}"
echo
printf 'Linearity: %.3f ms per MB at 100,000 pages, %.3f at 1,000,000 pages (%+.0f %%).\n' \
  "${ms_per_mb[100000]}" "${ms_per_mb[1000000]}" \
  "$(echo "100 * (${ms_per_mb[1000000]} - ${ms_per_mb[100000]}) / ${ms_per_mb[100000]}" | bc -l)"
