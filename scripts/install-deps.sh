#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the game need, when any is missing.
# Shared by `make run`, `make test`, `make bench` and `make fuzz`; safe to run again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config lld python3
  libgtest-dev libgmock-dev libbenchmark-dev
  libluajit-5.1-dev libboost-filesystem-dev
  libsdl2-dev libepoxy-dev libegl1 libegl-mesa0 libgl1-mesa-dri libpng-dev glslang-tools
  libfreetype-dev fonts-dejavu-core
  libglm-dev
  libbullet-dev
  libopenal-dev
  libsamplerate0-dev
  xvfb libxtst-dev
  locales
)

# `install-deps.sh fuzz` adds what `make fuzz` needs: clang (16: the first to build the engine's C++20)
# with its libFuzzer and sanitizer runtimes.
if [ "${1:-}" = fuzz ]; then
  packages+=(clang-16 libclang-rt-16-dev)
fi

# The serializer's tests write numbers under a locale whose decimal point is a comma.
comma_locale=de_DE.UTF-8
has_comma_locale() { locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && has_comma_locale && exit 0

if [ "$(id -u)" -ne 0 ]; then
  [ ${#missing[@]} -ne 0 ] && echo "error: these packages are missing and installing them needs root: ${missing[*]}" >&2
  has_comma_locale || echo "error: the locale $comma_locale is missing and generating it needs root" >&2
  exit 1
fi
if [ ${#missing[@]} -ne 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if ! has_comma_locale; then
  echo "Generating the locale $comma_locale"
  # localedef answers 1 for mere warnings; whether the locale now exists is what counts.
  localedef -i de_DE -c -f UTF-8 "$comma_locale" || has_comma_locale
fi
