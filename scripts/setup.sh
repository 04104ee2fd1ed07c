#!/usr/bin/env bash
# Installs every build and test dependency from Debian's packages. Safe to run again:
# apt-get skips what is already there, and the update runs only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev googletest libbenchmark-dev
  libfltk1.3-dev portaudio19-dev libasound2-dev alsa-utils
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine64 wine
  xvfb xdotool x11-utils imagemagick
  clang libclang-rt-14-dev
  libxmp-dev libopenmpt-dev
  # Real XM music for the benchmark from three free games, Heroes, Powermanga and Rafkill
  # (bench/bench_modules.cpp lists the files and their licences).
  heroes-sound-tracks powermanga-data rafkill-data
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
