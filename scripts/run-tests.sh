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
# As root (CI runs this script as root) nothing keeps the full-disk tests of the
# registry folder from mounting their tmpfs: there they must run, and a skip fails.
if [ "$(id -u)" -eq 0 ]; then
  export QZ_REQUIRE_FULL_DISK_TESTS=1
fi
# The Windows tests include msi_other_version_test, which builds the package of the next product
# version in a second build folder first (the CTest fixture msi_other_version_build).
for preset in native windows; do
  echo "== $preset: tests"
  ctest --preset "$preset"
done
# The fuzz targets build (clang, libFuzzer, ASan, UBSan) and pass over their seed
# corpora once: a reader change that breaks them or crashes on a seed shows here.
echo "== fuzz: build, and each target over its seed corpus once"
scripts/fuzz.sh --replay
