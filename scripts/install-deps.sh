#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing and benchmarking need.
# Safe to run again: apt-get is only called when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libfftw3-dev
  nlohmann-json3-dev
  hamradio-files
  libasound2-dev
  libsndfile1-dev
  sox
  clang
  libclang-rt-14-dev
  locales
  qt6-base-dev libqscintilla2-qt6-dev libgl-dev
  fonts-dejavu-core
  xvfb xauth openbox
  qt6-svg-dev libxcb1-dev libxcb-xtest0-dev
  minimodem
)

# Locales the tests switch to, to show that numbers never follow the locale.
LOCALES=(de_DE.UTF-8)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  SUDO=(sudo)
fi

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages already installed"
else
  if [ ${#SUDO[@]} -gt 0 ] && ! command -v sudo >/dev/null; then
    echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
    exit 1
  fi
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${SUDO[@]}" apt-get update -q
  "${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

for loc in "${LOCALES[@]}"; do
  # locale -a writes "de_DE.utf8" for "de_DE.UTF-8".
  short="$(echo "${loc%%.*}.${loc#*.}" | tr 'A-Z' 'a-z' | tr -d '-')"
  if ! locale -a 2>/dev/null | tr 'A-Z' 'a-z' | grep -qx "$short"; then
    echo "install-deps: generating locale $loc"
    "${SUDO[@]}" localedef -i "${loc%%.*}" -f "${loc#*.}" "$loc" || echo "install-deps: could not generate $loc (its tests skip)" >&2
  fi
done
