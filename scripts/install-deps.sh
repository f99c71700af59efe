#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the game need, when any is missing.
# Shared by `make run`, `make test`, `make bench` and `make fuzz`; safe to run again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libluajit-5.1-dev libboost-filesystem-dev
  libsdl2-dev libepoxy-dev libegl1 libegl-mesa0 libgl1-mesa-dri libpng-dev glslang-tools
  libfreetype-dev fonts-dejavu-core
  libglm-dev
  libbullet-dev
  xvfb
)

# `install-deps.sh fuzz` adds what `make fuzz` needs: clang (16: the first to build the engine's C++20)
# with its libFuzzer and sanitizer runtimes.
if [ "${1:-}" = fuzz ]; then
  packages+=(clang-16 libclang-rt-16-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "error: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
