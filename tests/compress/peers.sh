#!/bin/bash
# Archives written by `lzhsfx a` (every method and level) extract byte-exact
# with their time stamps through lzhsfx x, lhasa, 7-Zip and jlha, list clean
# through libarchive, and come out byte-identical when made twice; so do
# archives of files at the root with Japanese names; names that cannot be
# stored and '..' paths are refused.
# usage: peers.sh PATH/TO/lzhsfx
set -u
LZHSFX=$(readlink -f "$1")
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
work=$(mktemp -d)
[ -n "${KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# --- the input tree -------------------------------------------------------
src=$work/in/tree
mkdir -p "$src"/nested/a/b/c "$src"/emptydir "$src"/nested/empty2 "$src"/日本語 "$src"/ソ
: > "$src"/empty.bin
printf 'A' > "$src"/one.bin
for n in 8191 8192 8193 32768 65536 65537; do
  yes 'the quick brown fox jumps over the lazy dog' | head -c $n > "$src"/text$n.txt
done
head -c 300000 /dev/urandom > "$src"/random.bin
head -c 100000 /dev/zero > "$src"/zeros.bin
{ for i in $(seq 1 40000); do echo "line $i $((i * 7919 % 1000))"; done; head -c 1500000 /dev/urandom; } > "$src"/large.bin
echo deep > "$src"/nested/a/b/c/deep.txt
echo 日本 > "$src"/日本語/漢字.txt
echo hyou > "$src"/ソ/表.txt
chmod a-w "$src"/one.bin
stamp=978307200
for f in $(cd "$src" && find . -type f | sort); do
  touch -d @$stamp "$src/$f"
  stamp=$((stamp + 86461))
done
# lhasa and 7-Zip do not convert CP932 names (and split them at a second
# byte 0x5C, as in "ソ" and "表"): they are checked on ASCII names.
ascii_only() { LC_ALL=C grep -v -P '[^\x00-\x7F]'; }

# same_tree EXPECTED ACTUAL FILTER [time|notime]: files byte-exact,
# modification times equal.
same_tree() {
  local exp=$1 act=$2 filter=$3 times=${4:-time} f want
  for f in $(cd "$exp" && find . -type f | sort | $filter); do
    if ! cmp -s "$exp/$f" "$act/$f"; then echo "  differs: $f"; return 1; fi
    want=$(stat -c %Y "$exp/$f")
    if [ $times != notime ] && [ "$want" != "$(stat -c %Y "$act/$f")" ]; then
      echo "  time stamp: $f"
      return 1
    fi
  done
  for f in $(cd "$exp" && find . -type d | sort | $filter); do
    [ -d "$act/$f" ] || { echo "  missing folder: $f"; return 1; }
  done
}

cd "$work/in"
for variant in "lh0" "lh5" "lh6" "lh7" "lh5 -9" "lh6 -9" "lh7 -9"; do
  set -- $variant
  arc=$work/$1${2:-}.lzh
  "$LZHSFX" a "$arc" tree -m $1 ${2:-} || { fail "$variant: lzhsfx a"; continue; }
  "$LZHSFX" a "$arc.again" tree -m $1 ${2:-} && cmp -s "$arc" "$arc.again" || fail "$variant: output differs between runs"
  [ "$(tail -c 1 "$arc" | od -An -tu1 | tr -d ' ')" = 0 ] || fail "$variant: archive does not end in a 0 byte"

  out=$work/x-$1${2:-}
  mkdir -p "$out"/lzhsfx "$out"/lha "$out"/7z "$out"/jlha "$out"/bsdtar
  # lzhsfx x restores the Unix time to the second (odd ones too).
  "$LZHSFX" x "$arc" -C "$out"/lzhsfx >/dev/null && same_tree tree "$out"/lzhsfx/tree cat ||
    fail "$variant: lzhsfx x"
  (cd "$out"/lha && lhasa xq "$arc") && same_tree tree "$out"/lha/tree ascii_only || fail "$variant: lhasa x"
  7z x -o"$out"/7z "$arc" >/dev/null && same_tree tree "$out"/7z/tree ascii_only || fail "$variant: 7z x"
  # jlha restores no time stamps, not even from its own archives.
  (cd "$out"/jlha && jlha xq "$arc" >/dev/null 2>&1) && same_tree tree "$out"/jlha/tree cat notime || fail "$variant: jlha x"
  lhasa tq "$arc" >/dev/null 2>&1 || fail "$variant: lhasa t"
  listed=$(bsdtar --options hdrcharset=CP932 -tf "$arc" | sort)
  expected=$( (find tree -type f; find tree -type d | sed 's|$|/|') | sort)
  [ "$listed" = "$expected" ] || fail "$variant: bsdtar -t lists $(echo "$listed" | wc -l) names, expected $(echo "$expected" | wc -l)"
  bsdtar --options hdrcharset=CP932 -xf "$arc" -C "$out"/bsdtar && same_tree tree "$out"/bsdtar/tree cat ||
    fail "$variant: bsdtar -x"
  rm -rf "$out"
done

# Files at the archive's root, Japanese names among them, read everywhere:
# a root member has no directory-name record, which bsdtar would refuse
# if it were there empty.
mkdir -p "$work"/rootsrc && (cd "$src" && cp -p one.bin text8193.txt "$work"/rootsrc/ && cp -p 日本語/漢字.txt ソ/表.txt "$work"/rootsrc/)
for method in lh0 lh5 lh7; do
  arc=$work/root-$method.lzh
  (cd "$work"/rootsrc && "$LZHSFX" a "$arc" one.bin text8193.txt 漢字.txt 表.txt -m $method) || { fail "root $method: lzhsfx a"; continue; }
  out=$work/xroot-$method
  mkdir -p "$out"/lzhsfx "$out"/lha "$out"/7z "$out"/jlha "$out"/bsdtar
  "$LZHSFX" x "$arc" -C "$out"/lzhsfx >/dev/null && same_tree "$work"/rootsrc "$out"/lzhsfx cat || fail "root $method: lzhsfx x"
  (cd "$out"/lha && lhasa xq "$arc") && same_tree "$work"/rootsrc "$out"/lha ascii_only || fail "root $method: lhasa x"
  7z x -o"$out"/7z "$arc" >/dev/null && same_tree "$work"/rootsrc "$out"/7z ascii_only || fail "root $method: 7z x"
  (cd "$out"/jlha && jlha xq "$arc" >/dev/null 2>&1) && same_tree "$work"/rootsrc "$out"/jlha cat notime || fail "root $method: jlha x"
  bsdtar --options hdrcharset=CP932 -xf "$arc" -C "$out"/bsdtar && same_tree "$work"/rootsrc "$out"/bsdtar cat ||
    fail "root $method: bsdtar -x"
  rm -rf "$out"
done

# A member that does not shrink is stored.
"$LZHSFX" a "$work"/r.lzh tree/random.bin && lhasa v "$work"/r.lzh | grep -q -- '-lh0-' || fail "random data not stored"

# Refusals: no archive may be left behind.
mkdir -p "$work"/bad && touch "$work"/bad/smile😀.txt
(cd "$work" && "$LZHSFX" a bad.lzh bad 2>"$work"/err) && fail "name without CP932 form accepted"
grep -q 'smile' "$work"/err || fail "CP932 error does not name the file"
[ ! -e "$work"/bad.lzh ] || fail "archive left after a refused name"
(cd "$work"/in/tree && "$LZHSFX" a "$work"/dots.lzh ../tree/one.bin 2>/dev/null) && fail "'..' path accepted"

# Symbolic links are stored as links, as lhasa reads them, unless asked to
# pack their targets.
mkdir -p "$work"/ln && echo target > "$work"/ln/t.txt && ln -s t.txt "$work"/ln/link.txt
(cd "$work" && "$LZHSFX" a l1.lzh ln && "$LZHSFX" a l2.lzh ln --follow-symlinks)
lhasa l "$work"/l1.lzh | grep -q 'ln/link.txt -> t.txt' || fail "symbolic link not stored as a link"
lhasa l "$work"/l2.lzh | grep link.txt | grep -qv -- '->' || fail "--follow-symlinks did not pack the target"

# Leading "/" and "./" are dropped from member names.
(cd "$work"/in && "$LZHSFX" a "$work"/p.lzh ./tree/one.bin "$work"/in/tree/nested/a/b/c/deep.txt)
names=$(lhasa l "$work"/p.lzh | awk '$NF ~ /one.bin|deep.txt/ {print $NF}' | tr '\n' ' ')
[ "$names" = "tree/one.bin ${work#/}/in/tree/nested/a/b/c/deep.txt " ] || fail "member names: $names"

# Packing the folder that holds the archive leaves the old archive out.
mkdir -p "$work"/self && echo data > "$work"/self/f.txt
(cd "$work"/self && "$LZHSFX" a self.lzh . && "$LZHSFX" a self.lzh .)
lhasa l "$work"/self/self.lzh | grep -q 'self\.lzh' && fail "the archive packed itself"

echo "$failures failure(s)"
[ $failures = 0 ]
