#!/usr/bin/env bash
# A whole default run against other inventory tools of this machine, in one session.
#   bench/whole_run.sh [RUNS]     (default 7 rounds)
# Each round runs, in turn: zelvarn2 -batch (in a scratch directory, its container removed after),
# inxi -Fxz, lshw -xml and hwinfo --short, each under /usr/bin/time -v, output discarded. A tool
# that is not installed is left out of the table. Per tool: wall time and peak resident memory
# (the process and its descendants, as time -v reports them), median with min and max; the
# zelvarn2/inxi wall ratio is the median of the per-round ratios. One further run with the debug
# stream (-fdebug) gives the program's own peak apart from that of its outside commands (the
# kernel charges a command the pages it was started with, so theirs is never below the program's
# at the time it started one).
# Run as root for the figures a support engineer sees (the probes read more as root).
set -euo pipefail
runs=${1:-7}
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZV_BENCH_BUILD:-$top/build-bench}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZV_TESTS=OFF >/dev/null
cmake --build "$build" --target zelvarn2 >/dev/null
prog="$build/zelvarn2"
[ -x /usr/bin/time ] || { echo "whole_run: /usr/bin/time is needed (Debian package time)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/run"

tools=(zelvarn2)
for t in inxi lshw hwinfo; do command -v "$t" >/dev/null && tools+=("$t"); done
cmd_of() {
  case $1 in
    zelvarn2) echo "cd $work/run && exec $prog -batch" ;;
    inxi) echo "exec inxi -Fxz" ;;
    lshw) echo "exec lshw -xml" ;;
    hwinfo) echo "exec hwinfo --short" ;;
  esac
}
# one TOOL: appends "wall_s peak_kib" of one run to $work/TOOL
one() {
  /usr/bin/time -v -o "$work/time" sh -c "$(cmd_of "$1")" >/dev/null 2>&1 </dev/null || true
  awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i] }
              /Maximum resident set size/ { m = $2 }
              END { printf "%.3f %d\n", s, m }' "$work/time" >> "$work/$1"
  rm -f "$work"/run/*
}
stats() {  # stats FIELD FILE: "median min max"
  cut -d' ' -f"$1" "$2" | sort -n |
    awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; print m, v[1], v[NR] }'
}

for t in "${tools[@]}"; do one "$t"; : > "$work/$t"; done  # one warm-up round
for _ in $(seq "$runs"); do for t in "${tools[@]}"; do one "$t"; done; done

echo "whole runs on $(uname -r), $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg), $runs rounds"
printf '%-9s %-30s %-34s %s\n' tool "wall s: median (min-max)" "peak KiB: median (min-max)" "wall / inxi"
for t in "${tools[@]}"; do
  read -r wm wl wh < <(stats 1 "$work/$t")
  read -r mm ml mh < <(stats 2 "$work/$t")
  ratio="-"
  if [ -s "$work/inxi" ]; then
    ratio=$(paste -d' ' "$work/$t" "$work/inxi" | awk '$3 > 0 { print $1 / $3 }' | sort -n |
            awk '{ v[NR] = $1 } END { if (NR) printf "x%.2f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
  fi
  printf '%-9s %-30s %-34s %s\n' "$t" "$wm ($wl-$wh)" "$mm ($ml-$mh)" "$ratio"
done
(cd "$work/run" && "$prog" -batch -fdebug >/dev/null 2>&1 </dev/null || true)
grep -h "gatherer: peak memory" "$work/run/gatherer.log" 2>/dev/null | sed 's/^.*gatherer: /zelvarn2 (own run with -fdebug): /' || true
grep -h "package list from" "$work/run/gatherer.log" 2>/dev/null | sed "s/^.*aptitude: /zelvarn2 packages: /; s/: '.*\$//" || true
