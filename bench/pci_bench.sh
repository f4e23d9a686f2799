#!/usr/bin/env bash
# The two PCI probes alone over this machine against `lspci -vvv`, in the same run.
#   bench/pci_bench.sh [RUNS]     (default 21 runs of each, alternating)
# Each figure is the median CPU time (user + system) of the whole process, start-up and the
# id file's load included; the wall-clock median follows in brackets. Both commands write to
# /dev/null. The program runs with -batch -stdout so that it writes no container file.
set -euo pipefail
runs=${1:-21}
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZV_BENCH_BUILD:-$top/build-bench}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZV_TESTS=OFF >/dev/null
cmake --build "$build" --target zelvarn2 >/dev/null
program="$build/zelvarn2"
[ -f "$build/pcidb.txt" ] || echo "pci_bench: no pcidb.txt beside the program: names are not looked up"
command -v lspci >/dev/null || { echo "pci_bench: lspci is not installed (package pciutils)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"  # the program finds pcidb.txt beside itself, not in the current directory

TIMEFORMAT='%U %S %R'
probes() { "$program" -batch -stdout -probe "PCI DEVICES" "PCI ADAPTER INFORMATION" >/dev/null 2>&1; }
yardstick() { lspci -vvv >/dev/null 2>&1; }
probes; yardstick  # warm the caches
for ((i = 0; i < runs; i++)); do
  { time probes; } 2>>"$work/a"
  { time yardstick; } 2>>"$work/b"
done

median() { awk -v c="$2" '{ print (c == "cpu") ? $1 + $2 : $3 }' "$1" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
a_cpu=$(median "$work/a" cpu); a_wall=$(median "$work/a" wall)
b_cpu=$(median "$work/b" cpu); b_wall=$(median "$work/b" wall)
rows=$("$program" -batch -stdout -probe "PCI DEVICES" 2>/dev/null | grep -c '<ROW ID=' || true)
printf 'PCI probes    : %s s cpu [%s s wall], %s rows\n' "$a_cpu" "$a_wall" "$rows"
printf 'lspci -vvv    : %s s cpu [%s s wall], %s functions\n' "$b_cpu" "$b_wall" "$(lspci | wc -l)"
awk -v a="$a_cpu" -v b="$b_cpu" 'BEGIN { if (a > 0) printf "probes / lspci cpu: %.2f\n", a / b; else print "probes / lspci cpu: below the clock resolution" }'
