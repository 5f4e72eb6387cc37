#!/usr/bin/env bash
# Sets up, builds both builds and runs every test: the native build (g++ with
# AddressSanitizer and UndefinedBehaviorSanitizer), the Windows DLL under Wine,
# and the fuzz targets over their seed corpora.
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
# The package of another product version (a second Windows build folder, only the package's
# targets) installed and removed beside this version's under Wine.
echo "== windows: the package of version 39.0 beside 38.0"
scripts/msi-other-version.sh 39.0
# The fuzz targets build (clang, libFuzzer, ASan, UBSan) and pass over their seed
# corpora once: a reader change that breaks them or crashes on a seed shows here.
echo "== fuzz: build, and each target over its seed corpus once"
scripts/fuzz.sh --replay
