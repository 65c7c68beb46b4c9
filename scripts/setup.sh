#!/usr/bin/env bash
# Installs the system packages the build, the tests and the demo need, on
# Debian 12 as root. Does nothing when everything is already there, so every
# make target can call it.
set -euo pipefail

need_i386=0
pkgs=(cmake g++ make pkg-config libgtest-dev clang libclang-rt-14-dev
      g++-mingw-w64-i686 binutils-mingw-w64-i686
      g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64
      wine wine32:i386 xvfb xdotool imagemagick fonts-ipafont-gothic locales
      lhasa p7zip-full libarchive-tools jlha-utils default-jdk-headless hyperfine dosbox file
      python3 osslsigncode openssl icoutils)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_i386=1
fi

if [ ${#missing[@]} -gt 0 ] || [ "$need_i386" = 1 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages: ${missing[*]}; run as root to install them" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}" >&2
  [ "$need_i386" = 1 ] && dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Wine tests and the demo run with a Japanese locale; the locale tests
# also run the stub where Windows' ANSI code page is not 932 (Wine takes it
# from the locale: 1252 for en_US, 936 for zh_CN).
missing_locales=()
for loc in ja_JP en_US zh_CN; do
  locale -a 2>/dev/null | grep -qi "^$loc.utf8\$" || missing_locales+=("$loc")
done
if [ ${#missing_locales[@]} -gt 0 ] && [ "$(id -u)" = 0 ]; then
  for loc in "${missing_locales[@]}"; do
    sed -i "s/^# *$loc.UTF-8 UTF-8/$loc.UTF-8 UTF-8/" /etc/locale.gen
    grep -q "^$loc.UTF-8 UTF-8" /etc/locale.gen || echo "$loc.UTF-8 UTF-8" >> /etc/locale.gen
  done
  locale-gen >/dev/null
fi
exit 0
