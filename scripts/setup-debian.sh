#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks. Safe to run again: it installs nothing that is present.
set -euo pipefail

#   scripts/setup-debian.sh              what the build and the tests need
#   scripts/setup-debian.sh --ci-host    what scripts/fresh-debian.sh needs on the machine
#                                        that makes the fresh Debian (CI's host)
packages=(
  cmake ninja-build g++ googletest git
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64
  util-linux
  libcli11-dev nlohmann-json3-dev
  clang libclang-rt-dev
  wixl msitools
  osslsigncode openssl
)
if [ "${1:-}" = "--ci-host" ]; then
  packages=(mmdebstrap git)
elif [ $# -gt 0 ]; then
  echo "setup-debian.sh: unknown option $1 (known: --ci-host)" >&2
  exit 1
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
