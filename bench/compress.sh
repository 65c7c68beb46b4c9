#!/bin/bash
# Compression benchmark: packs a corpus folder with `lzhsfx a` (each method,
# fast and -9) and with jlha (-lh5-, -lh7-, level-2 headers) and prints the
# archive sizes, their ratio to the input and to jlha, and speed in MB/s of
# input, by wall clock and by CPU time (the machine may be shared).
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
declare -A size wall cpu
labels=()
run() {
  local label=$1 archive=$2
  shift 2
  rm -f "$archive"
  (cd "$parent" && /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null 2>"$work/err") ||
    { echo "$label failed:" >&2; cat "$work/err" >&2; exit 1; }
  read -r w u s < "$work/time"
  size[$label]=$(stat -c %s "$archive")
  wall[$label]=$w
  cpu[$label]=$(echo "$u + $s" | bc)
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
printf '%-18s %12s %7s %9s %9s %9s\n' tool bytes ratio vs.jlha "MB/s" "MB/s cpu"
for label in "${labels[@]}"; do
  case $label in *lh5*) ref=${size["jlha -lh5-"]} ;; *) ref=${size["jlha -lh7-"]} ;; esac
  ratio=$(echo "scale=4; ${size[$label]} / $input" | bc)
  versus=$(echo "scale=2; (${size[$label]} - $ref) * 100 / $ref" | bc)
  speed=$(echo "scale=2; $mb / (${wall[$label]} + 0.005)" | bc)
  cpuspeed=$(echo "scale=2; $mb / (${cpu[$label]} + 0.005)" | bc)
  printf '%-18s %12s %7s %8s%% %9s %9s\n' "$label" "${size[$label]}" "$ratio" "$versus" "$speed" "$cpuspeed"
done
