#!/usr/bin/env bash
# Shows the installer's dialogs on a virtual display, as a user meets them
# with the demo product, and saves a picture of each under docs/dialogs/: the
# confirmation, the progress window, the closing dialog, the choice offered
# when the installer is opened with the Option (Alt) key held and what a
# restore ends with, the refusal while DaVinci Resolve runs, and the failure
# dialog of a damaged payload.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=docs/dialogs
mkdir -p "$out"

work=$(mktemp -d /tmp/kb-dialogs-XXXXXX)
display=:$((70 + RANDOM % 20))
Xvfb "$display" -screen 0 1024x768x24 -noreset >/dev/null 2>&1 &
xvfb=$!
cleanup() { kill "$xvfb" 2>/dev/null || true; [ -n "${resolve:-}" ] && kill "$resolve" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
export DISPLAY=$display

# Waits for the dialog titled $1, saves it as $2 and presses its first button
# (or, with a third argument "look", leaves it be).
shoot() {
  # Looks every 0.1 s for up to 30 s, and again when xdotool fails, as it
  # does when another window goes away while it searches.
  local window=
  for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1) || true
    [ -n "$window" ] && break
    sleep 0.1
  done
  sleep 0.7
  import -window "$window" "$out/$2.png"
  [ "${3:-}" = look ] && return
  xdotool windowfocus --sync "$window" 2>/dev/null
  xdotool key Return
}

run_installer() {  # bundle, home
  mkdir -p "$2" "$work/tmp"
  HOME=$2 TMPDIR=$work/tmp "$1/Contents/MacOS/Installer" &
}

# A whole installation of the colour-script demo, its unpacking slowed down
# so that the progress window shows.
cp -a "$build/demo/Huecraft.app" "$work/Huecraft.app"
helpers=$work/Huecraft.app/Contents/Helpers
mv "$helpers/ditto" "$helpers/ditto.real"
printf '#!/bin/sh\nsleep 3\nexec "$0.real" "$@"\n' > "$helpers/ditto"
chmod +x "$helpers/ditto"
run_installer "$work/Huecraft.app" "$work/home"
shoot "Huecraft Vireo 1.2.0b2 installieren" confirmation
shoot "Huecraft Vireo" progress look
shoot "Huecraft Vireo ist installiert" closing
wait $!

# Installed again, so that there is an earlier version to go back to; then
# opened with the Option key (Alt here) held: a restore of that backup.
run_installer "$work/Huecraft.app" "$work/home"
shoot "Huecraft Vireo 1.2.0b2 installieren" again-confirmation
shoot "Huecraft Vireo ist installiert" again-closing
wait $!
rm -f "$out/again-confirmation.png" "$out/again-closing.png"
xdotool keydown Alt_L
run_installer "$build/demo/Huecraft.app" "$work/home"
shoot "Huecraft Vireo wiederherstellen oder deinstallieren" maintenance look
xdotool keyup Alt_L
shoot "Huecraft Vireo wiederherstellen oder deinstallieren" maintenance
shoot "Huecraft Vireo ist wiederhergestellt" restored
wait $!

# Refused while a program named "DaVinci Resolve" runs.
cp /bin/sleep "$work/DaVinci Resolve"
"$work/DaVinci Resolve" 60 &
resolve=$!
run_installer "$build/demo/Geoweave.app" "$work/home2"
shoot "Resolve bitte beenden" resolve-refusal
wait $! || true
kill "$resolve"; wait "$resolve" 2>/dev/null || true; resolve=

# A damaged payload, reported after "Installieren".
cp -a "$build/demo/Geoweave.app" "$work/Damaged.app"
printf 'x' >> "$work/Damaged.app/Contents/Resources/payload.zip"
run_installer "$work/Damaged.app" "$work/home3"
shoot "Geoweave 2.4.1 installieren" damaged-confirmation
shoot "Installation abgebrochen" failure
wait $! || true
rm -f "$out/damaged-confirmation.png"
ls -l "$out"
