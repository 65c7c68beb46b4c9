#!/bin/bash
# Compression benchmark: packs a corpus folder with `lzhsfx a` (each method,
# fast and -9) and with jlha (-lh5-, -lh7-, level-2 headers) and prints the
# archive sizes, their ratio to the input and to jlha, speed in MB/s of
# input, by wall clock and by CPU time (the machine may be shared), and the
# peak memory (maximum resident set). Then packs one 1 GiB file made of the
# corpus's bytes, whose peak memory must stay within the goal whatever the
# file's size (BENCH_BIG_MIB sets its size; 0 skips it).
# usage: bench/compress.sh CORPUS_DIR [LZHSFX]   (LZHSFX default: build/bin/lzhsfx)
set -eu
corpus=$(readlink -f "${1:?usage: compress.sh CORPUS_DIR [LZHSFX]}")
root=$(cd "$(dirname "$0")/.." && pwd)
lzhsfx=$(readlink -f "${2:-${LZHSFX:-$root/build/bin/lzhsfx}}")
[ -d "$corpus" ] || { echo "no corpus folder $corpus" >&2; exit 2; }
[ -x "$lzhsfx" ] || { echo "no lzhsfx at $lzhsfx" >&2; exit 2; }
command -v jlha >/dev/null || { echo "jlha is not installed" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
input=$(find "$corpus" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
parent=$(dirname "$corpus")
name=$(basename "$corpus")

# run LABEL ARCHIVE COMMAND...: times the command (run inside the corpus's
# parent so member names start at the corpus folder) and records the result.
declare -A size wall cpu rss
labels=()
run() {
  local label=$1 archive=$2
  shift 2
  rm -f "$archive"
  (cd "$parent" && /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >/dev/null 2>"$work/err") ||
    { echo "$label failed:" >&2; cat "$work/err" >&2; exit 1; }
  read -r w u s m < "$work/time"
  size[$label]=$(stat -c %s "$archive")
  wall[$label]=$w
  cpu[$label]=$(echo "$u + $s" | bc)
  rss[$label]=$((m / 1024))
  labels+=("$label")
}

run "jlha -lh5-" "$work/j5.lzh" jlha a2o5q "$work/j5.lzh" "$name"
run "jlha -lh7-" "$work/j7.lzh" jlha a2o7q "$work/j7.lzh" "$name"
for method in lh5 lh6 lh7; do
  run "lzhsfx -$method-" "$work/$method.lzh" "$lzhsfx" a "$work/$method.lzh" "$name" -m $method
  run "lzhsfx -$method- -9" "$work/$method-9.lzh" "$lzhsfx" a "$work/$method-9.lzh" "$name" -m $method -9
done

# The smaller jlha archive of the same window class is the reference: -lh5-
# for -lh5-, -lh7- for -lh6- and -lh7-.
mb=$(echo "scale=3; $input / 1000000" | bc)
printf 'corpus: %s, %s files, %s MB\n\n' "$corpus" "$(find "$corpus" -type f | wc -l)" "$mb"
printf '%-18s %12s %7s %9s %9s %9s %7s\n' tool bytes ratio vs.jlha "MB/s" "MB/s cpu" "MB RSS"
for label in "${labels[@]}"; do
  case $label in *lh5*) ref=${size["jlha -lh5-"]} ;; *) ref=${size["jlha -lh7-"]} ;; esac
  ratio=$(echo "scale=4; ${size[$label]} / $input" | bc)
  versus=$(echo "scale=2; (${size[$label]} - $ref) * 100 / $ref" | bc)
  speed=$(echo "scale=2; $mb / (${wall[$label]} + 0.005)" | bc)
  cpuspeed=$(echo "scale=2; $mb / (${cpu[$label]} + 0.005)" | bc)
  printf '%-18s %12s %7s %8s%% %9s %9s %7s\n' "$label" "${size[$label]}" "$ratio" "$versus" "$speed" "$cpuspeed" \
    "${rss[$label]}"
done

# One large file: the corpus's files, one after another, over and over, up
# to the size asked. The packer reads and codes in pieces, so its peak memory
# must not grow with the file: at most big_goal_mb beyond the largest window.
big_mib=${BENCH_BIG_MIB:-1024}
big_goal_mb=64
[ "$big_mib" -gt 0 ] || exit 0
big_bytes=$((big_mib * 1024 * 1024))
mkdir -p "$work/big"
while :; do find "$corpus" -type f -print0 | sort -z | xargs -0 cat; done 2>/dev/null |
  head -c "$big_bytes" > "$work/big/big.bin"
printf '\none file of %s MiB made of the corpus (peak memory goal: %s MB plus the window):\n' "$big_mib" "$big_goal_mb"
printf '%-18s %12s %7s %9s %9s %7s %s\n' tool bytes ratio "MB/s" "MB/s cpu" "MB RSS" goal
for method in lh5 lh7; do
  rm -f "$work/big.lzh"
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$lzhsfx" a "$work/big.lzh" -m $method -- "$work/big/big.bin" \
    >/dev/null 2>"$work/err" || { echo "big file -$method- failed:" >&2; cat "$work/err" >&2; exit 1; }
  read -r w u s m < "$work/time"
  bytes=$(stat -c %s "$work/big.lzh")
  mb=$(echo "scale=3; $big_bytes / 1000000" | bc)
  peak=$((m / 1024))
  verdict=met; [ "$peak" -le $((big_goal_mb + 1)) ] || verdict=MISSED
  printf '%-18s %12s %7s %9s %9s %7s %s\n' "lzhsfx -$method-" "$bytes" "$(echo "scale=4; $bytes / $big_bytes" | bc)" \
    "$(echo "scale=2; $mb / ($w + 0.005)" | bc)" "$(echo "scale=2; $mb / ($u + $s + 0.005)" | bc)" "$peak" "$verdict"
done
