#!/usr/bin/env bash
# Speed and size against the peers (make bench; never part of make test).
#
#  1. Corpus (cached in build/bench/corpus): the contents of a fixed list of
#     Debian packages unpacked into tree/, symlinks removed, and big.bin, the
#     first 64 MiB of a reproducible tar of that tree. Package versions are
#     not pinned but recorded.
#  2. Archives (cached in build/bench/archives): tree and big.bin packed by
#     jlha with level-2 headers, as -lh5- and as -lh7-.
#  3. Extraction of each archive by lzhsfx, bsdtar, 7z and lhasa into a tmpfs
#     directory emptied before every run, in one hyperfine run per archive;
#     the decode-only `lzhsfx t` is timed alongside. MB/s counts output bytes.
#  4. The stub's size against its goal, and where its sections end.
#  5. bench/compress.sh (the compressor's benchmark), when present.
#  6. The stub's decoding speed under Wine: big.bin's archives as
#     self-extracting files run with -n against a tiny one (the start-up) and
#     against lzhsfx x, and the tree's -lh5- archive the same way (its many
#     small members), in one hyperfine run of at least 10 runs each, judged
#     by the medians (Wine's start-up now and then takes a few tenths of a
#     second longer, which moves a mean of a few runs by more than the
#     difference measured); skipped with a message where Wine or an X server
#     cannot run.
# The summary goes to the terminal and to build/bench/summary.txt.
#
# Environment: LZHSFX (the tool), LZHSFX_STUB (the stub), BENCH_RUNS (5;
# the Wine section takes at least 10),
# BENCH_OUT (scratch output directory, tmpfs by default), BENCH_REUSE (when
# set, archives already timed keep their results; only the report is redone),
# BENCH_DIR (corpus, archives and results; build/bench by default),
# BENCH_ONLY=wine (only the corpus, the archives and section 6).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bench=${BENCH_DIR:-$root/build/bench}
corpus=$bench/corpus
archives=$bench/archives
results=$bench/results
lzhsfx=${LZHSFX:-$root/build/bin/lzhsfx}
stub=${LZHSFX_STUB:-$root/build/bin/sfxstub.exe}
stub64=$(dirname "$stub")/sfxstub64.exe
only=${BENCH_ONLY:-}
runs=${BENCH_RUNS:-5}

# Speed goal: lzhsfx at least this many times the fastest peer.
goal_ratio=1.5
# The stub's decoding time under Wine against lzhsfx x: at most this ratio.
wine_goal_ratio=1.3
# Stub size goal and ceiling, in bytes.
stub_goal=24576
stub_ceiling=32768
big_size=$((64 * 1024 * 1024))
packages=(manpages manpages-dev libstdc++-12-dev linux-libc-dev libpython3.11-stdlib
          perl-modules-5.36 coreutils gcc-mingw-w64-i686-win32-runtime desktop-base)
min_tree_bytes=$((50 * 1000 * 1000))

if [ -n "${BENCH_OUT:-}" ]; then
  out=$BENCH_OUT
elif [ -d /dev/shm ] && [ -w /dev/shm ]; then
  out=/dev/shm/lzhsfx-bench
else
  out=$bench/out
fi

say() { printf '%s\n' "$*" >&2; }
die() { say "bench: $*"; exit 1; }

for tool in hyperfine jlha lhasa 7z bsdtar dpkg-deb apt-get tar awk; do
  command -v "$tool" >/dev/null || die "$tool is missing (make setup installs it)"
done
[ -x "$lzhsfx" ] || die "$lzhsfx is not built (make build)"

# ---------------------------------------------------------------- corpus
build_corpus() {
  say "bench: building the corpus in $corpus"
  rm -rf "$corpus"
  mkdir -p "$corpus/debs" "$corpus/tree"
  # apt-get download writes into the current directory.
  (cd "$corpus/debs" && apt-get download "${packages[@]}" >/dev/null 2>"$corpus/download.log") ||
    die "apt-get download failed; see $corpus/download.log (try apt-get update)"
  : > "$corpus/versions.txt"
  for deb in "$corpus"/debs/*.deb; do
    printf '%s %s\n' "$(dpkg-deb -f "$deb" Package)" "$(dpkg-deb -f "$deb" Version)" >> "$corpus/versions.txt"
    dpkg-deb -x "$deb" "$corpus/tree"
  done
  # Links are left out: the peers and jlha treat them differently, and the
  # comparison is about file data.
  find "$corpus/tree" -type l -delete
  local bytes
  bytes=$(find "$corpus/tree" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  [ "$bytes" -ge "$min_tree_bytes" ] || die "the tree holds only $bytes bytes"
  # head closes the pipe early, so tar's own status says nothing here.
  (cd "$corpus/tree" && tar --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner -cf - . || true) |
    head -c "$big_size" > "$corpus/big.bin"
  [ "$(stat -c %s "$corpus/big.bin")" -eq "$big_size" ] || die "the tar of the tree is below 64 MiB"
  touch "$corpus/.complete"
}
[ -f "$corpus/.complete" ] || build_corpus

tree_bytes=$(find "$corpus/tree" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
tree_files=$(find "$corpus/tree" -type f | wc -l)

# ---------------------------------------------------------------- archives
mkdir -p "$archives" "$results"
pack() {  # archive method source-dir names...
  local archive=$1 method=$2 dir=$3
  shift 3
  [ -f "$archive" ] && return 0
  say "bench: packing $(basename "$archive") with jlha"
  rm -f "$archive.part"
  (cd "$dir" && jlha "c2o${method}q" "$archive.part" "$@" >/dev/null)
  lhasa tq "$archive.part" >/dev/null || die "lhasa rejects $archive.part"
  mv "$archive.part" "$archive"
}
tree_top=()
while IFS= read -r name; do tree_top+=("$name"); done < <(cd "$corpus/tree" && ls -A)
for m in 5 7; do
  # The Wine section extracts tree-lh5 too.
  [ "$only" = wine ] && [ "$m" = 7 ] || pack "$archives/tree-lh$m.lzh" "$m" "$corpus/tree" "${tree_top[@]}"
  pack "$archives/big-lh$m.lzh" "$m" "$corpus" big.bin
done

# ---------------------------------------------------------------- stub under Wine
# The stub decodes what lzhsfx x decodes, with the same engine; what differs
# is the dialog around it. A 2-byte self-extracting file gives Wine's and the
# dialog's start-up (the automatic start waits 700 ms before it begins), so
# the stub's decoding time is a big file's run minus the tiny file's. The
# stub ends with 1 after an extraction, which the commands check.
wine_report=""
# Whether dest holds what tree holds, on a drive that ignores case (folders
# included): one file for each path that differs from the others in more
# than case, and the same bytes wherever a path has no such twin.
same_tree_but_case() {  # tree dest
  python3 - "$1" "$2" <<'PY'
import filecmp, os, sys
def files(top):
    return [os.path.relpath(os.path.join(r, f), top) for r, _, fs in os.walk(top) for f in fs]
tree, dest = sys.argv[1:]
folded = {}
for n in files(tree):
    folded.setdefault(n.lower(), []).append(n)
got = {n.lower(): n for n in files(dest)}
sys.exit(0 if got.keys() == folded.keys() and
         all(filecmp.cmp(os.path.join(tree, v[0]), os.path.join(dest, got[k]), shallow=False)
             for k, v in folded.items() if len(v) == 1)
         else 1)
PY
}
wine_loader() {  # prints "bits loader stub" for the stub Wine can run here
  local loader
  for loader in /usr/lib/wine/wine /usr/lib/i386-linux-gnu/wine/wine; do
    if [ -x "$loader" ] && [ -f "$stub" ] && timeout 20 "$loader" --version >/dev/null 2>&1; then
      echo "32 $(command -v wine) $stub"
      return 0
    fi
  done
  for loader in "$(command -v wine64 || true)" /usr/lib/wine/wine64; do
    if [ -n "$loader" ] && [ -x "$loader" ] && [ -f "$stub64" ]; then
      echo "64 $loader $stub64"
      return 0
    fi
  done
  return 1
}

wine_bench() {
  local found bits wine_cmd wstub display n xvfb prefix work rc
  local wine_runs=$((runs > 10 ? runs : 10))
  for tool in wine Xvfb timeout; do
    command -v "$tool" >/dev/null || { wine_report="stub under Wine: skipped ($tool is missing)"; return 0; }
  done
  found=$(wine_loader) || { wine_report="stub under Wine: skipped (Wine cannot run $stub or $stub64 here)"; return 0; }
  read -r bits wine_cmd wstub <<< "$found"
  work=$bench/wine
  prefix=$work/prefix
  mkdir -p "$work"
  for n in $(seq $((120 + $$ % 50)) 250); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  display=":$n"
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  export WINEPREFIX=$prefix WINEDEBUG=-all DISPLAY=$display WINEDLLOVERRIDES="mscoree,mshtml="
  local wineserver
  wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  if [ ! -f "$prefix/.booted" ]; then
    say "bench: booting a Wine prefix in $prefix"
    rm -rf "$prefix"
    if ! timeout 300 "$wine_cmd" wineboot -i >/dev/null 2>&1; then
      wine_report="stub under Wine: skipped (wineboot failed or took over 300 s)"
      "$wineserver" -k >/dev/null 2>&1 || true
      kill "$xvfb" 2>/dev/null || true
      return 0
    fi
    touch "$prefix/.booted"
  fi
  # A persistent server keeps each run from paying for the server's start.
  "$wineserver" -p >/dev/null 2>&1 || true

  mkdir -p "$work/tiny"
  printf 'ab' > "$work/tiny/t.txt"
  rm -f "$work/tiny.lzh"
  (cd "$work/tiny" && jlha c2o5q "$work/tiny.lzh" t.txt >/dev/null)
  local m sfx
  for m in tiny big-lh5 big-lh7 tree-lh5; do
    sfx=$work/$m.exe
    if [ "$m" = tiny ]; then src=$work/tiny.lzh; else src=$archives/$m.lzh; fi
    # Wine's drives ignore case like Windows, and the tree holds names that
    # differ only in case: the later one replaces the earlier without a question.
    "$lzhsfx" create "$sfx" --from-lzh "$src" --stub "$wstub" --overwrite >/dev/null ||
      die "lzhsfx create failed for $m"
  done
  local dest wdest
  dest=$out/wine-dest
  mkdir -p "$out"
  wdest="Z:$(echo "$dest" | tr / '\\')"
  # One run first: the stub must produce big.bin exactly, or its time means nothing.
  for m in big-lh5 big-lh7; do
    rm -rf "$dest" && mkdir -p "$dest"
    rc=0
    timeout 300 "$wine_cmd" "$work/$m.exe" -n "$wdest" >/dev/null 2>&1 || rc=$?
    [ "$rc" = 1 ] && cmp -s "$corpus/big.bin" "$dest/big.bin" ||
      die "the stub under Wine did not extract big.bin from $m.exe (exit code $rc)"
  done
  rm -rf "$dest" && mkdir -p "$dest"
  rc=0
  timeout 600 "$wine_cmd" "$work/tree-lh5.exe" -n "$wdest" >/dev/null 2>&1 || rc=$?
  [ "$rc" = 1 ] && same_tree_but_case "$corpus/tree" "$dest" ||
    die "the stub under Wine did not extract the tree from tree-lh5.exe (exit code $rc)"
  if [ -z "${BENCH_REUSE:-}" ] || [ ! -f "$results/wine.csv" ]; then
    say "bench: timing the $bits-bit stub under Wine"
    local run="timeout 300 '$wine_cmd'"
    hyperfine --warmup 1 --runs "$wine_runs" --style basic \
      --prepare "rm -rf '$dest' && mkdir -p '$dest'" \
      --export-json "$results/wine.json" --export-csv "$results/wine.csv" \
      -n tiny "$run '$work/tiny.exe' -n '$wdest' >/dev/null 2>&1; test \$? = 1" \
      -n stub-lh5 "$run '$work/big-lh5.exe' -n '$wdest' >/dev/null 2>&1; test \$? = 1" \
      -n stub-lh7 "$run '$work/big-lh7.exe' -n '$wdest' >/dev/null 2>&1; test \$? = 1" \
      -n stub-tree-lh5 "$run '$work/tree-lh5.exe' -n '$wdest' >/dev/null 2>&1; test \$? = 1" \
      -n lzhsfx-lh5 "'$lzhsfx' x '$archives/big-lh5.lzh' -C '$dest' -y --overwrite=always" \
      -n lzhsfx-lh7 "'$lzhsfx' x '$archives/big-lh7.lzh' -C '$dest' -y --overwrite=always" \
      -n lzhsfx-tree-lh5 "'$lzhsfx' x '$archives/tree-lh5.lzh' -C '$dest' -y --overwrite=always" >&2
  fi
  rm -rf "$dest"
  "$wineserver" -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  unset WINEPREFIX WINEDEBUG DISPLAY WINEDLLOVERRIDES

  declare -A wmean wmedian
  local tool mn md
  while IFS=, read -r tool mn _ md _; do
    [ "$tool" = command ] && continue
    wmean[$tool]=$mn
    wmedian[$tool]=$md
  done < "$results/wine.csv"
  wine_report="stub under Wine ($bits-bit, $(basename "$wstub"), $wine_runs runs after one warm-up, median; mean in brackets):"$'\n'
  wine_report+=$(printf '  start-up (2-byte member): %.3f s [%.3f s]' "${wmedian[tiny]}" "${wmean[tiny]}")$'\n'
  for m in 5 7; do
    wine_report+=$(awk -v run="${wmedian[stub-lh$m]}" -v tiny="${wmedian[tiny]}" -v host="${wmedian[lzhsfx-lh$m]}" \
      -v mrun="${wmean[stub-lh$m]}" -v mtiny="${wmean[tiny]}" -v mhost="${wmean[lzhsfx-lh$m]}" \
      -v b="$big_size" -v g="$wine_goal_ratio" -v m="$m" 'BEGIN {
        d = run - tiny; r = d / host; mr = (mrun - mtiny) / mhost
        printf "  big-lh%s: stub %.3f s, decoding %.3f s (%.1f MB/s); lzhsfx x %.3f s; ratio %.2fx [%.2fx] (%s the goal of %sx)",
               m, run, d, b / 1e6 / d, host, r, mr, (r <= g) ? "meets" : "misses", g }')$'\n'
  done
  # No goal here: most of the stub's time goes to Wine's server, which
  # creates every file.
  wine_report+=$(awk -v run="${wmedian[stub-tree-lh5]}" -v tiny="${wmedian[tiny]}" -v host="${wmedian[lzhsfx-tree-lh5]}" \
    -v mrun="${wmean[stub-tree-lh5]}" -v mtiny="${wmean[tiny]}" -v mhost="${wmean[lzhsfx-tree-lh5]}" \
    -v files="$tree_files" 'BEGIN {
      d = run - tiny
      printf "  tree-lh5 (%d files): stub %.3f s, extraction %.3f s (%.0f files/s); lzhsfx x %.3f s; ratio %.2fx [%.2fx]",
             files, run, d, files / d, host, d / host, (mrun - mtiny) / mhost }')$'\n'
}

if [ "$only" = wine ]; then
  wine_bench
  printf '%s\n' "$wine_report"
  exit 0
fi

# ---------------------------------------------------------------- speed
tools=(lzhsfx bsdtar 7z lhasa)
peers=(bsdtar 7z lhasa)
declare -A mean   # "archive tool" -> mean wall-clock seconds
declare -A cpu    # "archive tool" -> mean user + system seconds

time_with_hyperfine() {  # name archive dest
  local name=$1 archive=$2 dest=$3
  say "bench: timing $name"
  mkdir -p "$out"
  hyperfine --warmup 1 --runs "$runs" --style basic \
    --prepare "rm -rf '$dest' && mkdir -p '$dest'" \
    --export-json "$results/$name.json" --export-csv "$results/$name.csv" \
    -n lzhsfx "'$lzhsfx' x '$archive' -C '$dest' -y --overwrite=always" \
    -n bsdtar "bsdtar -xf '$archive' -C '$dest'" \
    -n 7z "7z x -y '-o$dest' '$archive'" \
    -n lhasa "lhasa xfqw='$dest' '$archive'" \
    -n lzhsfx-t "'$lzhsfx' t '$archive'" >&2
  rm -rf "$dest"
}

time_archive() {  # name archive
  local name=$1 archive=$2
  if [ -z "${BENCH_REUSE:-}" ] || [ ! -f "$results/$name.csv" ]; then
    time_with_hyperfine "$name" "$archive" "$out/$name"
  fi
  # CSV columns: command, mean, stddev, median, user, system, min, max.
  local tool m sd md user system
  while IFS=, read -r tool m sd md user system _; do
    [ "$tool" = command ] && continue
    mean["$name $tool"]=$m
    cpu["$name $tool"]=$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')
  done < "$results/$name.csv"
}

check_output() {  # name archive expected-dir-or-file
  local name=$1 archive=$2 expected=$3 dest=$out/check-$1
  rm -rf "$dest" && mkdir -p "$dest"
  "$lzhsfx" x "$archive" -C "$dest" -y --overwrite=always >/dev/null ||
    die "lzhsfx x failed on $archive"
  if [ -d "$expected" ]; then
    diff -r "$expected" "$dest" >/dev/null || die "lzhsfx x output differs from the tree for $archive"
  else
    cmp -s "$expected" "$dest/$(basename "$expected")" || die "lzhsfx x output differs from $expected"
  fi
  rm -rf "$dest"
}

declare -A outbytes
for m in 5 7; do
  check_output "tree-lh$m" "$archives/tree-lh$m.lzh" "$corpus/tree"
  check_output "big-lh$m" "$archives/big-lh$m.lzh" "$corpus/big.bin"
  outbytes[tree-lh$m]=$tree_bytes
  outbytes[big-lh$m]=$big_size
done
names=(tree-lh5 tree-lh7 big-lh5 big-lh7)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for name in "${names[@]}"; do time_archive "$name" "$archives/$name.lzh"; done

# ---------------------------------------------------------------- stub
stub_line="stub: $stub is not built"
stub_sections=""
if [ -f "$stub" ]; then
  stub_bytes=$(stat -c %s "$stub")
  verdict="within the goal"
  [ "$stub_bytes" -gt "$stub_goal" ] && verdict="ABOVE the goal"
  [ "$stub_bytes" -gt "$stub_ceiling" ] && verdict="ABOVE the ceiling"
  stub_line="stub: $stub_bytes bytes (goal $stub_goal, ceiling $stub_ceiling): $verdict"
  if command -v i686-w64-mingw32-objdump >/dev/null; then
    # Section rows of objdump -h: index, name, size, VMA, LMA, file offset.
    # Raw data is stored in whole units of the file alignment.
    align=$(i686-w64-mingw32-objdump -p "$stub" | awk '$1 == "FileAlignment" { print $2 }')
    align=$((16#${align:-200}))
    end=0
    while read -r idx sec size _ _ off _; do
      [[ $idx =~ ^[0-9]+$ ]] || continue
      stub_sections+=$(printf '  %-8s file 0x%05x..0x%05x %6d bytes' "$sec" $((16#$off)) $((16#$off + 16#$size)) $((16#$size)))$'\n'
      [ $((16#$off + 16#$size)) -gt "$end" ] && end=$((16#$off + 16#$size))
    done < <(i686-w64-mingw32-objdump -h "$stub")
    raw=$(( (end + align - 1) / align * align ))
    stub_sections+=$(printf '  section data ends at 0x%x (%d), padded to 0x%x (%d); %d bytes follow' \
      "$end" "$end" "$raw" "$raw" $((stub_bytes - raw)))
  fi
fi

wine_bench

# ---------------------------------------------------------------- compressor
compress_report=""
if [ -f "$root/bench/compress.sh" ]; then
  say "bench: running bench/compress.sh"
  if bash "$root/bench/compress.sh" "$corpus/tree" "$lzhsfx" > "$bench/compress.txt" 2> "$bench/compress.log"; then
    compress_report=$(cat "$bench/compress.txt")
  else
    compress_report="bench/compress.sh failed; see $bench/compress.log"
  fi
fi

# ---------------------------------------------------------------- summary
# One table of MB/s per archive and tool from the named array of seconds,
# with lzhsfx x against the fastest peer.
table() {  # title array-name
  local -n secs=$2
  local name tool row packed best best_tool t ratio mark
  echo "$1:"
  printf '%-9s %10s %10s %10s %10s %10s %10s  %s\n' archive packed "lzhsfx x" bsdtar 7z lhasa "lzhsfx t" "lzhsfx x / fastest peer"
  for name in "${names[@]}"; do
    packed=$(stat -c %s "$archives/$name.lzh")
    row=$(printf '%-9s %10s' "$name" "$packed")
    for tool in "${tools[@]}" lzhsfx-t; do
      row+=$(awk -v b="${outbytes[$name]}" -v t="${secs[$name $tool]}" 'BEGIN { printf " %10s", sprintf("%.1f MB/s", b / 1e6 / t) }')
    done
    best=""
    best_tool=""
    for tool in "${peers[@]}"; do
      t=${secs[$name $tool]}
      if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then
        best=$t
        best_tool=$tool
      fi
    done
    ratio=$(awk -v p="$best" -v l="${secs[$name lzhsfx]}" 'BEGIN { printf "%.2f", p / l }')
    mark=$(awk -v r="$ratio" -v g="$goal_ratio" 'BEGIN { print (r >= g) ? "meets" : "below" }')
    echo "$row  ${ratio}x vs $best_tool ($mark the goal of $goal_ratio)"
  done
}

{
  timed="$runs runs per tool after one warm-up (mean)"
  [ -n "${BENCH_REUSE:-}" ] && timed="results reused from $results"
  echo "lzhsfx benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $timed"
  echo "corpus: tree $tree_bytes bytes in $tree_files files; big.bin $big_size bytes"
  echo "packages: $(tr '\n' ' ' < "$corpus/versions.txt")"
  echo "tools: $(dpkg-query -W -f='${Package} ${Version}; ' lhasa p7zip-full libarchive-tools jlha-utils hyperfine 2>/dev/null)"
  echo "output to: $out; load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo
  table "wall clock" mean
  echo
  table "CPU time (user + system; steadier on a busy machine)" cpu
  echo
  echo "$stub_line"
  [ -n "$stub_sections" ] && echo "$stub_sections"
  echo
  printf '%s\n' "$wine_report"
  if [ -n "$compress_report" ]; then
    echo
    echo "compression (bench/compress.sh):"
    echo "$compress_report"
  fi
} > "$bench/summary.txt"
cat "$bench/summary.txt"
