#!/usr/bin/env bash
# Run once on a Mac, from the top of this repository, by a person at the
# desktop (logged in, not over ssh): confirms what the project's Linux builds
# cannot. It builds the project with Homebrew's libraries (as README.md's
# macOS section says), then checks
#   1. the bundle: otool names only system libraries, plutil reads the
#      product's Info.plist and finds its own name and identifier;
#   2. a start with the Finder's -psn_0_<number> argument reaches the
#      interactive run (and, given a signed and notarised product with
#      --signed, so does `open` of a quarantined copy of it);
#   3. the alert of that run comes to the front;
#   4. the bootstrap race: real launchctl bootout, then at once bootstrap of
#      a test agent, retried as the installer does (5 or 37 again after half
#      a second, for up to ten seconds);
#   5. the built file manager copies a FIFO (it matters on macOS 12, which
#      lacks mkfifoat).
# Nothing is installed: the run of step 2 is cancelled at its first dialog,
# and the test agent only runs /usr/bin/true and is removed again.
#
# Usage: scripts/mac-check.sh [--build <folder>] [--signed <Product.app>]
# Written for the bash 3.2 that macOS ships.
set -eo pipefail
cd "$(dirname "$0")/.."

build="build-mac"
signed=
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --signed) signed=$2; shift 2 ;;
    *) echo "usage: scripts/mac-check.sh [--build <folder>] [--signed <Product.app>]" >&2; exit 2 ;;
  esac
done
[ "$(uname -s)" = Darwin ] || { echo "mac-check.sh runs on a Mac only" >&2; exit 2; }

results=()
failed=0
pass() { results+=("PASS  $1"); echo "PASS  $1"; }
fail() { results+=("FAIL  $1: $2"); echo "FAIL  $1: $2"; failed=1; }
skip() { results+=("SKIP  $1: $2"); echo "SKIP  $1: $2"; }
now_ms() { perl -MTime::HiRes=time -e 'printf "%d\n", time * 1000'; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kb-mac-check.XXXXXX")
label="de.kestrelbay.mac-check.$$"
domain="gui/$(id -u)"
# shellcheck disable=SC2317  # called by the trap
cleanup() {
  launchctl bootout "$domain/$label" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

macos=$(sw_vers -productVersion)
echo "macOS $macos on $(uname -m)"

# --- the build -------------------------------------------------------------
# Warnings are counted rather than made errors, so that the checks below run
# even when Apple's compiler finds something the Linux builds did not.
libarchive_pc="$(brew --prefix libarchive)/lib/pkgconfig"
PKG_CONFIG_PATH="$libarchive_pc${PKG_CONFIG_PATH:+:$PKG_CONFIG_PATH}" \
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOPENSSL_ROOT_DIR="$(brew --prefix openssl@3)"
cmake --build "$build" --target Installer kestrelbay-bundle demo-geoweave kb_platform 2>&1 | tee "$work/build.log"
warnings=$(grep -c 'warning:' "$work/build.log" || true)
if [ "$warnings" -eq 0 ]; then pass "the build has no compiler warnings"
else fail "the build has no compiler warnings" "$warnings, see the build output above"; fi
product="$build/demo/Geoweave.app"
program="$product/Contents/MacOS/Installer"

# --- 1. the bundle ---------------------------------------------------------
foreign=$(otool -L "$program" | tail -n +2 | awk '{print $1}' | grep -Ev '^(/usr/lib/|/System/Library/)' || true)
if [ -z "$foreign" ]; then pass "the program links only /usr/lib and /System/Library"
else fail "the program links only /usr/lib and /System/Library" "also $(echo "$foreign" | tr '\n' ' ')"; fi
info="$product/Contents/Info.plist"
if plutil -lint -s "$info" &&
   [ "$(plutil -extract CFBundleIdentifier raw "$info")" = de.kestrelbay.installer.geoweave ] &&
   [ "$(plutil -extract CFBundleName raw "$info")" = Geoweave ] &&
   [ "$(plutil -extract CFBundleExecutable raw "$info")" = Installer ]; then
  pass "Info.plist names the product (Geoweave, de.kestrelbay.installer.geoweave)"
else
  fail "Info.plist names the product" "$(plutil -p "$info" 2>&1 | tr '\n' ' ')"
fi

# --- 2 and 3. the Finder's argument, the interactive run, the alert in front --
# Ends the run started as `pid` at its first dialog: Escape (the dialog's
# cancel key) where System Events may press it, else a signal.
end_run() {
  osascript -e "tell application \"System Events\" to key code 53" >/dev/null 2>&1 || true
  for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$1" 2>/dev/null || return 0; sleep 0.3; done
  kill -TERM "$1" 2>/dev/null || true; sleep 2; kill -KILL "$1" 2>/dev/null || true
}
# Whether process `pid` is the frontmost application: System Events says so
# (macOS asks once to let the terminal control it), or else the person does.
in_front() {
  local front
  if front=$(osascript -e 'tell application "System Events" to get unix id of first application process whose frontmost is true' 2>/dev/null); then
    [ "$front" = "$1" ]
  else
    local answer
    read -r -p "Is the installer's dialog in front of every other window? [y/n] " answer </dev/tty
    [ "$answer" = y ]
  fi
}

"$program" -psn_0_4242 >"$work/psn.out" 2>"$work/psn.err" &
pid=$!
sleep 5
# A refused command line ends at once with the usage text; the interactive
# run waits at its first dialog (the confirmation, or Resolve's refusal).
if kill -0 "$pid" 2>/dev/null; then
  pass "a start with -psn_0_4242 is the interactive run (it waits at its dialog)"
  if in_front "$pid"; then pass "the installer's alert comes to the front"
  else fail "the installer's alert comes to the front" "another application is frontmost"; fi
  end_run "$pid"
else
  wait "$pid" 2>/dev/null && status=0 || status=$?
  fail "a start with -psn_0_4242 is the interactive run" "it ended with status $status: $(tr '\n' ' ' <"$work/psn.err")"
  skip "the installer's alert comes to the front" "no interactive run to look at"
fi
wait "$pid" 2>/dev/null || true

if [ -n "$signed" ]; then
  # As a download: a quarantined copy, opened by Launch Services as the
  # Finder opens it (on its first start it gets a -psn_ argument; Gatekeeper
  # may run it from a translocated copy, hence the search by its name).
  copy="$work/$(basename "$signed")"
  ditto "$signed" "$copy"
  xattr -w com.apple.quarantine "0081;$(printf %x "$(date +%s)");Safari;" "$copy"
  open "$copy"
  sleep 8
  pid=$(pgrep -n -f "/$(basename "$signed")/Contents/MacOS/Installer" || true)
  if [ -n "$pid" ]; then
    pass "open of a quarantined copy of $(basename "$signed") reaches the interactive run"
    end_run "$pid"
  else
    fail "open of a quarantined copy reaches the interactive run" \
      "no installer runs (Gatekeeper refused it? see Console.app; spctl -a -vv \"$copy\")"
  fi
else
  skip "open of a quarantined copy" "needs a signed and notarised product: --signed <Product.app> (Gatekeeper refuses a quarantined unsigned one)"
fi

# --- 4. the bootstrap race with the real launchctl ---------------------------
plist="$work/$label.plist"
cat >"$plist" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>Label</key><string>$label</string>
  <key>ProgramArguments</key><array><string>/usr/bin/true</string></array>
  <key>RunAtLoad</key><true/>
</dict></plist>
EOF
if launchctl bootstrap "$domain" "$plist" 2>"$work/bootstrap.err"; then
  rounds=5 refused=0 worst=0 broken=
  for round in 1 2 3 4 5; do
    launchctl bootout "$domain/$label" 2>/dev/null || true
    start=$(now_ms) statuses=
    while :; do
      status=0
      launchctl bootstrap "$domain" "$plist" 2>"$work/bootstrap.err" || status=$?
      statuses="$statuses $status"
      elapsed=$(($(now_ms) - start))
      [ "$status" -eq 0 ] && break
      if [ "$status" -ne 5 ] && [ "$status" -ne 37 ] || [ $((elapsed + 500)) -gt 10000 ]; then
        broken="round $round: statuses$statuses after $elapsed ms, last: $(tr '\n' ' ' <"$work/bootstrap.err")"
        break
      fi
      sleep 0.5
    done
    [ -n "$broken" ] && break
    [ "$statuses" = " 0" ] || refused=$((refused + 1))
    [ "$elapsed" -le "$worst" ] || worst=$elapsed
    echo "  round $round: bootstrap statuses$statuses, loaded after $elapsed ms"
  done
  if [ -z "$broken" ]; then
    pass "bootout, then at once bootstrap: refused as busy in $refused of $rounds rounds, loaded within $worst ms each time (the installer waits up to 10000)"
  else
    fail "bootout, then at once bootstrap, retried as the installer does" "$broken"
  fi
else
  fail "bootstrap of a test agent" "$(tr '\n' ' ' <"$work/bootstrap.err")"
fi

# --- 5. a FIFO copied by the built file manager ------------------------------
# The probe the Linux tests use, built here against the bundle's platform
# library (the test suite itself is off on a Mac).
probe="$work/fm_probe"
if c++ -std=c++20 -mmacosx-version-min=12.0 -I"$build/layers/platform" tests/support/programs/fm_probe.cpp \
     "$build/platform/libkb_platform.a" -o "$probe" 2>"$work/probe.err"; then
  mkfifo "$work/fifo"
  if out=$("$probe" copy "$work/fifo" "$work/fifo-copy" 2>&1) && [ -p "$work/fifo-copy" ]; then
    pass "the file manager copies a FIFO on macOS $macos"
  else
    fail "the file manager copies a FIFO on macOS $macos" "$out"
  fi
  case $macos in 12.*) ;; *) echo "  (macOS 12 is where this matters: it has no mkfifoat; run the script there too)" ;; esac
else
  fail "build the file manager probe" "$(head -n 5 "$work/probe.err" | tr '\n' ' ')"
fi

echo
echo "Summary (macOS $macos, $(uname -m)):"
for line in "${results[@]}"; do echo "  $line"; done
exit $failed
