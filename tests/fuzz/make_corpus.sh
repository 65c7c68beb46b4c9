#!/usr/bin/env bash
# Builds the fuzzers' starting corpus with jlha into OUT:
#   OUT/archive  level-2 archives (-lh5-, -lh6-, -lh7-, stored, directories,
#                a message member), small enough for quick iterations; level-0
#                and level-1 ones; and, where javac is there, -lh1-, -lh2-,
#                -lh3-, -lz5- and -lzs- archives at levels 1 to 3 from jlha's Java
#                library (tests/peers/JlhaPack.java)
#   OUT/decode   each compressed member of the level-2 ones as the decode
#                target reads it: method selector, 3-byte original size,
#                coded data
# Usage: make_corpus.sh OUT
set -euo pipefail
out=${1:?usage: make_corpus.sh OUT}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out/archive" "$out/decode"

# Inputs: text, runs, a structured binary and a mix; fixed times so the
# archives come out the same each time.
src=$work/src
mkdir -p "$src/dir/sub"
seq 1 2000 > "$src/numbers.txt"
printf 'short text\n' > "$src/short.txt"
head -c 3000 /dev/zero | tr '\0' 'a' > "$src/run.bin"
awk 'BEGIN { x = 12345; for (i = 0; i < 6000; i++) { x = (x * 1103515245 + 12345) % 2147483648; printf "%c", 32 + (x % 64) } }' > "$src/dir/mixed.dat"
awk 'BEGIN { for (i = 0; i < 120; i++) printf "line %d of a repeated paragraph with words that come back\n", i % 37 }' > "$src/dir/sub/para.txt"
# The message member is longer than the text it is decoded into.
awk 'BEGIN { for (i = 0; i < 60; i++) printf "Extract the files of this archive? (%d)\n", i }' > "$src/!"
find "$src" -exec touch -h -d '2001-02-03 04:05:06 UTC' {} +

pack() {  # name options files... (LEVEL=0..2 chooses the header level)
  local name=$1 opts=$2
  shift 2
  (cd "$src" && jlha "c${LEVEL:-2}${opts}q" "$work/$name.lzh" "$@" >/dev/null)
  cp "$work/$name.lzh" "$out/archive/$name.lzh"
}
for m in 5 6 7; do
  pack "lh$m-text" "o$m" numbers.txt short.txt
  pack "lh$m-tree" "o$m" run.bin dir
done
pack stored z short.txt dir/sub/para.txt
pack message o5 '!' short.txt numbers.txt
LEVEL=0 pack level0-lh5 o5 short.txt dir/sub/para.txt
LEVEL=1 pack level1-lh5 o5 numbers.txt dir

# The older methods the host decodes, from jlha's Java library.
jar=/usr/share/java/jlha.jar
if command -v javac >/dev/null && [ -f "$jar" ]; then
  javac -d "$work" -cp "$jar" "$(dirname "$0")/../peers/JlhaPack.java"
  level=1
  for m in lh1 lh2 lh3 lz5 lzs; do
    printf '%s\t-%s-\t%s\tshort.txt\tdir/sub/para.txt\trun.bin\n' "$out/archive/$m-level$level.lzh" "$m" "$level"
    printf '%s\t-%s-\t2\tnumbers.txt\tdir/mixed.dat\n' "$out/archive/$m-level2.lzh" "$m"
    level=$((level == 1 ? 3 : 1))
  done > "$work/list.txt"
  (cd "$src" && java -cp "$jar:$work" JlhaPack "$work/list.txt")
fi

# Compressed members cut out of the archives for the decode target.
le() {  # file offset width
  od -An -t"u$3" -j"$2" -N"$3" "$1" | tr -d ' '
}
for archive in "$out"/archive/*.lzh; do
  size=$(stat -c %s "$archive")
  pos=0
  n=0
  while [ $((pos + 26)) -le "$size" ]; do
    hsize=$(le "$archive" "$pos" 2)
    [ "$hsize" -ge 26 ] || break
    [ "$(le "$archive" $((pos + 20)) 1)" = 2 ] || break  # the other levels are walked differently
    method=$(dd if="$archive" bs=1 skip=$((pos + 2)) count=5 status=none)
    packed=$(le "$archive" $((pos + 7)) 4)
    original=$(le "$archive" $((pos + 11)) 4)
    # The selectors of fuzz_decode.cpp's method table.
    case $method in
      -lh5-) sel=2 ;; -lh6-) sel=3 ;; -lh7-) sel=4 ;; -lh1-) sel=5 ;; -lh3-) sel=6 ;;
      -lz5-) sel=7 ;; -lzs-) sel=8 ;; -lh2-) sel=9 ;; *) sel= ;;
    esac
    if [ -n "$sel" ] && [ "$original" -lt 1048576 ]; then
      name=$(basename "$archive" .lzh)-$n
      printf "\\x$(printf %02x "$sel")\\x$(printf %02x $((original & 255)))\\x$(printf %02x $(((original >> 8) & 255)))\\x$(printf %02x $(((original >> 16) & 255)))" > "$out/decode/$name"
      # dd reads exactly the member's bytes; a pipe into head would let the
      # writer die of SIGPIPE when head stops early, which pipefail reports.
      dd if="$archive" of="$out/decode/$name" bs=64K iflag=skip_bytes,count_bytes oflag=append conv=notrunc \
         skip=$((pos + hsize)) count="$packed" status=none
      n=$((n + 1))
    fi
    pos=$((pos + hsize + packed))
  done
done
echo "corpus: $(ls "$out/archive" | wc -l) archives, $(ls "$out/decode" | wc -l) coded members in $out"
