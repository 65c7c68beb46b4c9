#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time on a working copy of its
# starting corpus, so the repository is never written to. Fails on any
# crash, leak, timeout or out-of-memory; the input that did it is kept in
# WORKDIR/artifacts and named in the output.
# Usage: fuzz_one.sh FUZZER WORKDIR SECONDS [--fresh] CORPUS_DIR...
#   --fresh  start from an empty WORKDIR (the tests); without it the corpus
#            grown by earlier runs is kept and extended (make fuzz)
set -euo pipefail
fuzzer=${1:?usage: fuzz_one.sh FUZZER WORKDIR SECONDS [--fresh] CORPUS_DIR...}
workdir=${2:?}
seconds=${3:?}
shift 3
if [ "${1:-}" = --fresh ]; then
  rm -rf "$workdir"
  shift
fi
here=$(cd "$(dirname "$0")" && pwd)
if [ ! -x "$fuzzer" ]; then
  echo "fuzz_one: $fuzzer is not built" >&2
  exit 1
fi
mkdir -p "$workdir/corpus" "$workdir/artifacts"
for dir in "$@"; do
  [ -d "$dir" ] || continue
  for f in "$dir"/*; do
    if [ -f "$f" ]; then cp -f "$f" "$workdir/corpus/"; fi
  done
done
if [ "$(ls -A "$workdir/corpus")" = "" ]; then
  echo "fuzz_one: no starting corpus in $*" >&2
  exit 1
fi

cd "$workdir"
set +e
"$fuzzer" corpus -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -dict="$here/lzh.dict" -artifact_prefix="$workdir/artifacts/" -print_final_stats=1 \
  > "$workdir/fuzz.log" 2>&1
status=$?
set -e
tail -n 12 "$workdir/fuzz.log"
if [ $status -ne 0 ]; then
  echo "fuzz_one: $(basename "$fuzzer") failed (exit $status); full log in $workdir/fuzz.log" >&2
  grep -E '^(==[0-9]+==ERROR|SUMMARY|fuzz invariant|artifact_prefix|Test unit written)' "$workdir/fuzz.log" >&2 || true
  ls "$workdir/artifacts" >&2
fi
exit $status
