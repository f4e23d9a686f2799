#!/usr/bin/env bash
# LZH coder throughput against gzip -6 / gzip -d and an LHA extractor, on the same data in the same run.
#   bench/run.sh [RUNS]     (default 5 timed runs per figure)
# Corpora of 8.5 MiB each: text from /usr/share/doc, executables from /usr/bin, random bytes.
# Whole processes are timed with bench/pairtime, A (the coder) against B (the yardstick) in turn;
# throughputs are original bytes per CPU second (user + system), medians; the wall-clock
# figures follow in brackets. Each corpus is also coded by the plain reference coder: the
# streams must be bit-identical.
set -euo pipefail
runs=${1:-5}
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZV_BENCH_BUILD:-$top/build-bench}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZV_TESTS=OFF >/dev/null
cmake --build "$build" --target lzh_bench pairtime >/dev/null
bench="$build/bench/lzh_bench"
pairtime="$build/bench/pairtime"
work=$(mktemp -d /dev/shm/lzhbench.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
size=$((8 * 1024 * 1024 + 512 * 1024))

set +o pipefail  # head closes the pipes early on purpose
find /usr/share/doc -type f \( -name copyright -o -name '*.txt' -o -name 'README*' -o -name 'NEWS*' \) \
     ! -name '*.gz' -print0 | sort -z | xargs -0 cat 2>/dev/null | head -c $size > "$work/text"
find /usr/bin -maxdepth 1 -type f -size +64k -print0 | sort -z | xargs -0 cat 2>/dev/null | head -c $size > "$work/binary"
head -c $size /dev/urandom > "$work/random"
set -o pipefail

have_lha=0
command -v lha >/dev/null && have_lha=1

# med FIELD... : the median of a pairtime row ("A cpu s", "A/B cpu", ...)
med() { awk -v k="$1" '{ line = $1 " " $2 " " $3; if (index(line, k) == 1) { print $(NF - 1); exit } }' "$2"; }
mbs() { awk -v b="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.1f", b / s / 1e6; else print "?" }'; }
inv() { awk -v r="$1" 'BEGIN { if (r > 0) printf "%.2f", 1 / r; else print "?" }'; }

timed() {  # timed OUT_FILE 'B shell command' A command...
  local out=$1 vs=$2
  shift 2
  "$pairtime" -n "$runs" -t 900 -b "$vs" -- "$@" > "$out" 2>&1
}

printf '%-7s %9s %7s  %-26s  %-26s  %-22s  %s\n' corpus bytes ratio "encode MB/s (x gzip -6)" \
  "decode MB/s (x gzip -d)" "decode (x lha x)" "streams"
for corpus in text binary random; do
  f="$work/$corpus"
  bytes=$(stat -c %s "$f")
  read -r orig comp < <("$bench" encode "$f" "$f.lzs")
  gzip -6 -c "$f" > "$f.gz"
  identical=$("$bench" check "$f" || true)

  timed "$work/enc" "exec gzip -6 -c $f > $f.g6" "$bench" encode "$f" "$f.lzs2"
  timed "$work/dec" "exec gzip -d -c $f.gz > $f.gd" "$bench" decode "$f.lzs" "$f.out" "$orig"
  cmp -s "$f" "$f.out" || identical="$identical, DECODE MISMATCH"
  enc_cpu=$(med "A cpu s" "$work/enc"); enc_wall=$(med "A wall s" "$work/enc")
  gz_cpu=$(med "B cpu s" "$work/enc"); enc_ratio=$(med "A/B cpu" "$work/enc")
  dec_cpu=$(med "A cpu s" "$work/dec"); dec_wall=$(med "A wall s" "$work/dec")
  gzd_cpu=$(med "B cpu s" "$work/dec"); dec_ratio=$(med "A/B cpu" "$work/dec")
  lha_text="(no lha)"
  if [ $have_lha = 1 ]; then
    "$bench" lha "$f" "$f.lzs" "$f.lzh"
    mkdir -p "$work/x"
    timed "$work/lha" "cd $work/x && exec lha xqf $f.lzh" "$bench" decode "$f.lzs" "$f.out" "$orig"
    cmp -s "$f" "$work/x/member.bin" || identical="$identical, LHA MISMATCH"
    lha_cpu=$(med "B cpu s" "$work/lha")
    lha_text="$(mbs "$bytes" "$lha_cpu") MB/s, x$(inv "$(med "A/B cpu" "$work/lha")")"
  fi
  printf '%-7s %9s %6.1f%%  %-26s  %-26s  %-22s  %s\n' "$corpus" "$bytes" \
    "$(awk -v c="$comp" -v o="$orig" 'BEGIN { print 100 * c / o }')" \
    "$(mbs "$bytes" "$enc_cpu") [$(mbs "$bytes" "$enc_wall")] x$(inv "$enc_ratio") ($(mbs "$bytes" "$gz_cpu"))" \
    "$(mbs "$bytes" "$dec_cpu") [$(mbs "$bytes" "$dec_wall")] x$(inv "$dec_ratio") ($(mbs "$bytes" "$gzd_cpu"))" \
    "$lha_text" "$identical"
done
echo "x N: the coder's speed as a multiple of the yardstick's on the same data (median of pairs, CPU time)."
