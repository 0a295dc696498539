#!/usr/bin/env bash
# Builds the installer and runs its main job on the bundled demo product:
# verifies the demo payload, as a vendor would before shipping it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" >/dev/null

build/demo/Huecraft.app/Contents/MacOS/Installer --verify-payload
