#!/usr/bin/env bash
# The first demo: packs the bundled sample tree (examples/) with jlha into a
# level-2, -lh5- LZH archive, then lists, tests and extracts it with lzhsfx
# and compares the extracted tree with the original. The self-extractor part
# follows from scripts/demo_sfx.sh when that script exists.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
lzhsfx=${LZHSFX:-$root/build/bin/lzhsfx}
demo=$root/build/demo

step() { printf '\n=== %s\n' "$*"; }

if [ ! -x "$lzhsfx" ]; then
  echo "demo: $lzhsfx is not built yet (run 'make build')" >&2
  exit 1
fi
for tool in jlha lhasa; do
  command -v "$tool" >/dev/null || { echo "demo: $tool is missing (run scripts/setup.sh)" >&2; exit 1; }
done

# Stage a copy: git cannot hold the sample's empty directory, so it is made here.
rm -rf "$demo"
mkdir -p "$demo/src"
cp -a "$root/examples/." "$demo/src/"
mkdir -p "$demo/src/empty"

step "pack examples/ with jlha (level-2 headers, -lh5-, CP932 names)"
(cd "$demo/src" && shopt -s nullglob && LC_ALL=ja_JP.UTF-8 jlha a2o5q ../examples.lzh * >/dev/null)
ls -l "$demo/examples.lzh"

step "lzhsfx l build/demo/examples.lzh"
"$lzhsfx" l "$demo/examples.lzh"

step "lzhsfx t build/demo/examples.lzh"
"$lzhsfx" t "$demo/examples.lzh"

step "lzhsfx x build/demo/examples.lzh -C build/demo/out"
"$lzhsfx" x "$demo/examples.lzh" -C "$demo/out"

step "the extracted tree"
(cd "$demo/out" && find . -mindepth 1 | LC_ALL=C sort | while IFS= read -r p; do
  if [ -d "$p" ]; then printf '%-40s  directory\n' "$p"
  else printf '%-40s  %6s bytes  %s\n' "$p" "$(stat -c %s "$p")" "$(date -u -r "$p" '+%F %T UTC')"; fi
done)

step "compare with examples/ (plus the staged empty directory)"
diff -r "$demo/src" "$demo/out"
echo "identical: every file and directory came back byte for byte"

step "cross-check: lhasa tests the same archive"
if lhasa t "$demo/examples.lzh" >/dev/null 2>&1; then
  echo "lhasa: every member tests intact"
else
  echo "lhasa: reports a problem with the archive" >&2
  exit 1
fi

if [ -f "$root/scripts/demo_sfx.sh" ]; then
  step "self-extracting part"
  bash "$root/scripts/demo_sfx.sh"
fi
