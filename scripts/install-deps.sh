#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the game need, when any is missing.
# Shared by `make run`, `make test` and `make bench`; safe to run again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libluajit-5.1-dev libboost-filesystem-dev
  libsdl2-dev libepoxy-dev libegl1 libegl-mesa0 libgl1-mesa-dri libpng-dev glslang-tools
  libglm-dev
  libbullet-dev
)

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
