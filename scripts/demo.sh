#!/usr/bin/env bash
# Builds the installer and runs its main job on the bundled demo product:
# proves the colour-script demo's payload intact, then installs it into a
# marked test folder (build/demo-home) and prints the result record. Run it
# again to see the second installation back up the first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" >/dev/null

installer=build/demo/Huecraft.app/Contents/MacOS/Installer
home=$PWD/build/demo-home
mkdir -p "$home"
touch "$home/.KESTREL-BAY-INSTALLER-TEST-HOME"

echo "\$ $installer --verify-payload"
"$installer" --verify-payload
echo "\$ $installer --test-home $home"
"$installer" --test-home "$home"
echo "Backups so far:"
ls -1 "$home/Library/Application Support/Huecraft Vireo/Installer-Backups/" | sed 's/^/  /'
