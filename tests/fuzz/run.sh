#!/usr/bin/env bash
# Longer fuzzing runs: each target in turn for SECONDS (default 600), each on
# a corpus that grows from run to run in build/host/fuzz/live/TARGET. Crash
# inputs land in build/host/fuzz/live/TARGET/artifacts; copy the ones worth
# keeping to tests/fuzz/regressions/TARGET/ so every build replays them.
# Usage: tests/fuzz/run.sh [SECONDS]
set -euo pipefail
seconds=${1:-600}
root=$(cd "$(dirname "$0")/../.." && pwd)
host=${LZHSFX_HOST_BUILD:-$root/build/host}
fuzzdir=$host/fuzz
start=$host/tests/fuzz/corpus-start
here=$root/tests/fuzz

if [ ! -x "$fuzzdir/fuzz_header" ] || [ ! -d "$start" ]; then
  echo "run.sh: build the host first (make build)" >&2
  exit 1
fi

failed=()
for target in header archive decode; do
  case $target in
    decode) corpus=("$start/decode") ;;
    *) corpus=("$here/corpus" "$start/archive") ;;
  esac
  echo "== fuzz_$target for ${seconds}s"
  if ! bash "$here/fuzz_one.sh" "$fuzzdir/fuzz_$target" "$fuzzdir/live/$target" "$seconds" "${corpus[@]}"; then
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "run.sh: findings in: ${failed[*]}" >&2
  exit 1
fi
echo "run.sh: no findings"
