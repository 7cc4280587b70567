#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite twice (a normal build and an
# AddressSanitizer + UndefinedBehaviorSanitizer build), checks the Debian
# packages of the normal build, and runs every fuzz target for a short time.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
for kind in release sanitize; do
  ./scripts/build.sh "$kind"
  dir=build; [ "$kind" = sanitize ] && dir=build-sanitize
  ctest --test-dir "$dir" --output-on-failure -j2 --timeout 300
done
./scripts/package_test.sh build
./scripts/fuzz.sh
