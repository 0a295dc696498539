#!/usr/bin/env bash
# Builds the macOS desktop (platform/macos/appkit_desktop.mm) against GNUstep
# with warnings as errors and runs its test, which clicks through its alert
# on a virtual display. The Darwin calls and the bundle need a Mac.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake -S . -B build-gnustep -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKB_WERROR=ON -DKB_GNUSTEP=ON \
  -DCMAKE_OBJCXX_COMPILER=/usr/bin/g++
cmake --build build-gnustep -j"$(nproc)" --target gnustep_tests
ctest --test-dir build-gnustep --output-on-failure -R '^gnustep\.'
