#!/usr/bin/env bash
# The self-extracting part of the demo: packs examples/ with a Japanese title
# and message into build/demo/demo.exe, runs it under Wine + Xvfb in
# automatic mode into a fresh folder and compares what came out with
# examples/. Where Wine cannot run, it says why and the demo goes on.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
lzhsfx=${LZHSFX:-$root/build/bin/lzhsfx}
bin=$(dirname "$lzhsfx")
stub32=${LZHSFX_STUB:-$bin/sfxstub.exe}
stub64=${LZHSFX_STUB64:-$bin/sfxstub64.exe}
demo=$root/build/demo
out=$demo/sfx-out

step() { printf '\n=== %s\n' "$*"; }

mkdir -p "$demo"
cat > "$demo/message.txt" <<'EOF'
lzhsfx のサンプル書庫です。
説明書と表を展開します。よろしいですか？
EOF
options=(--title "lzhsfx サンプル書庫" --prompt "展開先フォルダ(&D):"
         --message "$demo/message.txt")

step "lzhsfx create build/demo/demo.exe (examples/, Japanese title and message)"
rm -f "$demo/demo.exe" "$demo/demo64.exe"
(cd "$root/examples" && shopt -s nullglob && "$lzhsfx" create "$demo/demo.exe" --stub "$stub32" \
  "${options[@]}" -- *)
"$lzhsfx" info "$demo/demo.exe"

# The twin runs the same archive and options where 32-bit Wine cannot run.
run_args=(--exe32 "$demo/demo.exe")
if [ -f "$stub64" ]; then
  (cd "$root/examples" && shopt -s nullglob && "$lzhsfx" create "$demo/demo64.exe" \
    --stub "$stub64" "${options[@]}" -- * >/dev/null)
  run_args+=(--exe64 "$demo/demo64.exe")
fi

step "run it under Wine + Xvfb: the message answered Yes, then automatic mode (-n) into build/demo/sfx-out"
if ! command -v python3 >/dev/null; then
  echo "skipped the run under Wine: python3 (which drives it) is missing; demo.exe is ready to try on Windows"
  exit 0
fi
status=0
python3 "$root/scripts/demo_sfx_run.py" "${run_args[@]}" --stub32 "$stub32" --stub64 "$stub64" \
  --dest "$out" --shots "$demo" --work "$demo/wine" || status=$?
if [ "$status" = 3 ]; then
  echo "skipped the run under Wine (see the reason above); demo.exe is ready to try on Windows"
  exit 0
fi
[ "$status" = 0 ] || { echo "demo: the self-extracting file did not run as expected" >&2; exit 1; }

step "compare build/demo/sfx-out with examples/"
diff -r "$root/examples" "$out"
echo "identical: the self-extracting file restored examples/ byte for byte"

step "where everything is"
cat <<EOF
  build/demo/demo.exe       the self-extracting file (32-bit stub) for Windows
  build/demo/demo64.exe     the same on the 64-bit twin, for Wine without 32-bit support
  build/demo/sfx-out/       what the automatic run extracted
  build/demo/message.png    screenshot: the message question
  build/demo/dialog.png     screenshot: the main dialog
  build/demo/wine/          the Wine prefix and log of the run
EOF
