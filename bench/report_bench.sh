#!/usr/bin/env bash
# zv2tool json and diff against xmllint --noout on the same large report, in the same run.
#   bench/report_bench.sh [RUNS] [PATHS]    (default 7 timed pairs; file scan of "/usr/lib;/usr/bin;/usr/include")
# The report is made by the program itself: a file scan of PATHS in standard-output mode (one
# FILESCAN section), framed with the report's heading, root element and report checksum as the
# report file has them; it is some 50 MB for the default paths and is removed afterwards.
#   json:  zv2tool json REPORT > /dev/null      against  xmllint --noout REPORT
#   diff:  zv2tool diff REPORT COPY             against  xmllint --noout REPORT COPY
# (diff reads both reports, so its yardstick parses both too.) Whole processes are timed by
# bench/pairtime, A and B in turn; the A/B rows are the ratios pair by pair (below 1: zv2tool is
# faster). Peak memory (maximum resident set) of one run of each follows.
set -euo pipefail
runs=${1:-7}
paths=${2:-/usr/lib;/usr/bin;/usr/include}
top=$(cd "$(dirname "$0")/.." && pwd)
# ZV_BENCH_BUILD names an existing build to use as it is configured.
build=${ZV_BENCH_BUILD:-$top/build-bench}
[ -n "${ZV_BENCH_BUILD:-}" ] || cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZV_TESTS=OFF >/dev/null
cmake --build "$build" --target zelvarn2 zv2tool pairtime >/dev/null
command -v xmllint >/dev/null || { echo "xmllint (libxml2-utils) is needed as the yardstick"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && "$build/zelvarn2" -batch -stdout -probe FILESCAN -p FILESCAN "path=$paths" 'filter=*' \
   > body 2>/dev/null)
# The frame: heading, root, version; after the sections the report checksum, which is the sum of
# the section checksums (the line before each "</SECTION>").
{
  printf '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n<GATHERED_DATA>\r\n'
  printf '<GATHERER_VERSION>2.44.0282.0809</GATHERER_VERSION>\r\n'
  cat "$work/body"
  awk 'function hex(h,  v, i) { v = 0; for (i = 1; i <= length(h); i++) v = v * 16 + index("0123456789ABCDEF", substr(h, i, 1)) - 1; return v }
       { sub(/\r$/, "") } /^<\/SECTION>$/ { if (match(prev, /<CHK> *[0-9A-F]+<\/CHK>/)) {
         h = prev; gsub(/<\/?CHK>| /, "", h); sum = (sum + hex(h)) % 4294967296 } }
       { prev = $0 } END { printf "<CHK>%8X</CHK>\r\n</GATHERED_DATA>\r\n", sum }' "$work/body"
} > "$work/report.xml"
rm "$work/body"
cp "$work/report.xml" "$work/copy.xml"
"$build/zv2tool" json "$work/report.xml" > /dev/null || { echo "the made report does not read back"; exit 1; }
bytes=$(stat -c %s "$work/report.xml")
rows=$(grep -c '^<ROW' "$work/report.xml" || true)
echo "report: $bytes bytes, $rows rows (file scan of $paths)"

tool="$build/zv2tool"
pair="$build/bench/pairtime"
echo "== zv2tool json REPORT > /dev/null  (A)  vs  xmllint --noout REPORT  (B)"
"$pair" -n "$runs" -b "xmllint --noout '$work/report.xml'" -- "$tool" json "$work/report.xml"
echo "== zv2tool diff REPORT COPY  (A)  vs  xmllint --noout REPORT COPY  (B)"
"$pair" -n "$runs" -b "xmllint --noout '$work/report.xml' '$work/copy.xml'" -- "$tool" diff "$work/report.xml" "$work/copy.xml"

peak() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1; }
if [ -x /usr/bin/time ]; then
  echo "peak memory (KiB): json $(peak "$tool" json "$work/report.xml")," \
       "diff $(peak "$tool" diff "$work/report.xml" "$work/copy.xml")," \
       "xmllint $(peak xmllint --noout "$work/report.xml")"
fi
