#!/usr/bin/env bash
# Installs what the build and the tests need when it is missing, runs the
# README's first command (twice: a second run must find everything built),
# then builds and runs every test in the default and in the sanitizer
# configuration, and every fuzz target for a while.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/packages.sh test

echo "=== the README's first command ==="
first=$(sed -n '/^```sh$/{n;p;q}' README.md)
echo "$first"
bash -c "$first"
bash -c "$first" >/dev/null

jobs=$(nproc)
for preset in default sanitize; do
  echo "=== $preset ==="
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done

# Fuzz targets (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer):
# every target for FUZZ_SECONDS (20) seconds from its seed corpus; a crash
# fails the run.  fuzz/run.sh build-fuzz 600 runs them longer.
echo "=== fuzz ==="
CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz
cmake --build build-fuzz -j"$jobs"
fuzz/run.sh build-fuzz "${FUZZ_SECONDS:-20}"
