#!/usr/bin/env bash
# File scan throughput against find(1) on the same tree in the same run.
#   bench/filescan_bench.sh [RUNS] [TREE]     (default 5 runs of each, /usr)
# The scan runs as a user would start it (standard-output mode, every file
# matched, output to /dev/null); find prints the same status fields of every
# entry. The two alternate, A B A B ..., after one warm-up run of each.
# Rates are entries of the tree per CPU second (user + system) of the whole
# process, medians; wall-clock rates follow in brackets.
set -euo pipefail
runs=${1:-5}
tree=${2:-/usr}
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZV_BENCH_BUILD:-$top/build-bench}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZV_TESTS=OFF >/dev/null
cmake --build "$build" --target zelvarn2 >/dev/null
prog="$build/zelvarn2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

scan() { (cd "$work" && exec "$prog" -batch -stdout -probe FILESCAN -p FILESCAN "path=$tree" 'filter=*' >/dev/null 2>&1); }
findit() { find "$tree" -printf '%p %s %A@ %T@ %C@ %m %U %G\n' >/dev/null 2>&1 || true; }

# one NAME: appends "cpu wall" seconds of one run to $work/NAME
TIMEFORMAT='%3U %3S %3R'
one() {
  local t
  t=$( { time "$1" ; } 2>&1 )
  awk '{ printf "%.3f %.3f\n", $1 + $2, $3 }' <<<"$t" >> "$work/$1"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

entries=$(find "$tree" 2>/dev/null | wc -l)
scan; findit
for _ in $(seq "$runs"); do one scan; one findit; done
rate() { awk -v n="$entries" -v s="$1" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print "?" }'; }
scan_cpu=$(cut -d' ' -f1 "$work/scan" | median); scan_wall=$(cut -d' ' -f2 "$work/scan" | median)
find_cpu=$(cut -d' ' -f1 "$work/findit" | median); find_wall=$(cut -d' ' -f2 "$work/findit" | median)
echo "tree $tree: $entries entries, $runs runs each"
echo "file scan: $(rate "$scan_cpu") entries/s CPU [$(rate "$scan_wall") wall]"
echo "find:      $(rate "$find_cpu") entries/s CPU [$(rate "$find_wall") wall]"
awk -v a="$scan_cpu" -v b="$find_cpu" 'BEGIN { if (a > 0) printf "file scan / find: x%.2f (CPU)\n", b / a }'
