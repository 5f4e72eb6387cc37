#!/usr/bin/env bash
# The main job: sets up, builds the native library and its registration host in
# the release build (optimised, as users install it; the tests use the sanitized
# native build), and registers the product into a fresh built-in registry folder
# that holds an installation of the modelling system
# (scripts/demo-installation.reg), printing what the registration wrote. The
# folder (a new temporary one, or the path given, which register --create makes
# when it does not exist) is kept; its path is printed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-debian.sh >&2
cmake --preset release >/dev/null
cmake --build --preset release --target qzreg qzproduct >/dev/null

folder=${1:-$(mktemp -d "${TMPDIR:-/tmp}/orvantis-registry.XXXXXX")}
echo "Registry folder: $folder" >&2
build/release/bin/qzreg register --create --registry "$folder" --import scripts/demo-installation.reg
