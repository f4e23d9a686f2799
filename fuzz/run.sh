#!/usr/bin/env bash
# Builds every libFuzzer harness with clang and runs each for a while.
#   fuzz/run.sh [SECONDS]      (default 60 per harness)
# Prints the executions of each run; exits non-zero on the first finding.
set -euo pipefail
seconds=${1:-60}
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZV_FUZZ_BUILD:-$top/build-fuzz}
cmake -S "$top" -B "$build" -G Ninja -DZV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" >/dev/null
status=0
for exe in "$build"/fuzz/*_fuzz; do
  name=$(basename "$exe")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  seeds="$top/fuzz/seeds/${name%_fuzz}"
  args=("$corpus")
  [ -d "$seeds" ] && args+=("$seeds")
  log="$build/$name.log"
  if (cd "$build" && "$exe" -max_total_time="$seconds" -print_final_stats=1 "${args[@]}" >"$log" 2>&1); then
    runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
    echo "$name: ${runs:-?} executions in ${seconds}s, no finding"
  else
    echo "$name: FINDING (see $log)"; tail -40 "$log"; status=1
  fi
done
exit $status
