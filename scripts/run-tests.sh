#!/usr/bin/env bash
# Sets up, builds both builds and runs every test: the native build (g++ with
# AddressSanitizer and UndefinedBehaviorSanitizer) and the Windows DLL under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-debian.sh

for preset in native windows; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
for preset in native windows; do
  echo "== $preset: tests"
  ctest --preset "$preset"
done
