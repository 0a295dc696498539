#!/usr/bin/env bash
# Run once on a Mac, from the top of this repository, by a person at the
# desktop (logged in, not over ssh): confirms what the project's Linux builds
# cannot. Where a check needs you, it says what to click and waits for you.
# Nothing is installed into your home: every run installs into a folder of the
# script's own (given as HOME, or as a marked test folder), and launchd is
# touched only for a variable and an agent of the script's own, removed again.
#
# It needs the Xcode command line tools and CMake, as the installer does. The
# checks that need a product also need the vendor's bundle tool, which writes
# its archives with libarchive: brew install libarchive pkg-config (and, as
# Homebrew keeps it apart, PKG_CONFIG_PATH="$(brew --prefix libarchive)/lib/pkgconfig").
#
#   1. the build: one universal program (arm64 and x86_64) for macOS 12 and
#      later, linking only /usr/lib and /System; compiler and linker warnings
#      counted apart;
#   2. Apple's property-list reader answers the agent cases as the table says;
#   3. launchctl setenv and getenv round trip in gui/<uid>;
#   4. the bootstrap race: bootout, then at once bootstrap, retried as the
#      installer retries it;
#   5. the built file manager copies a FIFO (macOS 12 lacks mkfifoat);
#   6. the product's Info.plist names it;
#   7. a start with the Finder's -psn_0_<number> argument is the interactive
#      run, and its alert comes to the front;
#   8. the product quarantined as a download is: Gatekeeper's first open, and
#      the items a run installs from it carry no quarantine, while a backup
#      keeps the extended attributes of the user's item;
#   9. a Quit during the progress window stops the run and puts everything
#      back, and the run holds an activity against App Nap meanwhile;
#  10. opened with the Option key held, the installer offers the restore and
#      the uninstall instead of the installation.
#
# Usage: scripts/mac-check.sh [--build <folder>] [--signed <Product.app>]
# Written for the bash 3.2 and the BSD tools macOS ships.
set -u
cd "$(dirname "$0")/.." || exit 2

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
# Tells the person what to do and waits for Return.
ask() { echo; echo ">>> $1"; read -r -p ">>> Press Return when done. " _ </dev/tty; }

macos=$(sw_vers -productVersion)
work=$(mktemp -d "${TMPDIR:-/tmp}/kb-mac-check.XXXXXX")
label="de.kestrelbay.mac-check.$$"
domain="gui/$(id -u)"
# The summary comes however the script ends.
finish() {
  launchctl bootout "$domain/$label" >/dev/null 2>&1
  launchctl unsetenv KESTRELBAY_MAC_CHECK >/dev/null 2>&1
  rm -rf "$work"
  echo
  echo "Summary (macOS $macos, $(uname -m)):"
  for line in "${results[@]}"; do echo "  $line"; done
  exit $failed
}
trap finish EXIT
echo "macOS $macos on $(uname -m)"

# --- 1. the build -----------------------------------------------------------
# Warnings are counted rather than made errors, so that the checks below run
# even when Apple's compiler finds something the Linux builds did not.
targets="Installer agent-cases"
if cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_OSX_ARCHITECTURES="arm64;x86_64" >"$work/configure.log" 2>&1; then
  grep -q 'kestrelbay-bundle is not built' "$work/configure.log" || targets="$targets kestrelbay-bundle demo-huecraft demo-geoweave"
  # shellcheck disable=SC2086  # the targets are words
  cmake --build "$build" --target $targets -j "$(sysctl -n hw.ncpu)" >"$work/build.log" 2>&1
  built=$?
else
  cat "$work/configure.log"; built=1
fi
if [ $built -ne 0 ]; then
  tail -n 40 "$work/build.log" 2>/dev/null
  fail "the build" "it stopped (the lines above)"
  exit
fi
pass "the build (targets: $targets)"
compiler=$(grep 'warning:' "$work/build.log" | grep -vc '^ld: warning' || true)
linker=$(grep -c '^ld: warning' "$work/build.log" || true)
if [ "$compiler" -eq 0 ]; then pass "no compiler warnings"
else fail "no compiler warnings" "$compiler: grep warning: $build (the build log is gone with the work folder; rerun cmake --build)"; fi
if [ "$linker" -eq 0 ]; then pass "no linker warnings"
else fail "no linker warnings" "$(grep '^ld: warning' "$work/build.log" | sort -u | head -n 3 | tr '\n' ' ')"; fi

program="$build/Installer.app/Contents/MacOS/Installer"
archs=$(lipo -archs "$program" 2>&1)
case " $archs " in
  *" arm64 "*" x86_64 "*|*" x86_64 "*" arm64 "*) pass "one universal program ($archs)" ;;
  *) fail "one universal program" "lipo -archs says: $archs" ;;
esac
foreign=$(otool -L "$program" | tail -n +2 | awk '{print $1}' | grep -Ev '^(/usr/lib/|/System/Library/)' || true)
if [ -z "$foreign" ]; then pass "the program links only /usr/lib and /System"
else fail "the program links only /usr/lib and /System" "also $(echo "$foreign" | tr '\n' ' ')"; fi
minos=$(otool -l "$program" | awk '/LC_BUILD_VERSION/ {b=1} b && $1 == "minos" {print $2; exit}')
if [ "$minos" = 12.0 ]; then pass "the program runs on macOS 12 and later (minos $minos)"
else fail "the program runs on macOS 12 and later" "minos is ${minos:-not found}"; fi

# --- 2. Apple's property-list reader and the agent cases ---------------------
if out=$("$build/agent-cases" tests/products/agent-cases.json 2>&1); then
  pass "Foundation reads every agent case as the table says (tests/products/agent-cases.json)"
else
  fail "Foundation reads every agent case as the table says" "$(echo "$out" | tr '\n' ';')"
fi

# --- 3. launchctl setenv and getenv in gui/<uid> -----------------------------
value="/Volumes/Füße/OFX:/opt/ofx with blank"
if launchctl setenv KESTRELBAY_MAC_CHECK "$value" 2>"$work/setenv.err" &&
   [ "$(launchctl getenv KESTRELBAY_MAC_CHECK)" = "$value" ] &&
   launchctl unsetenv KESTRELBAY_MAC_CHECK && [ -z "$(launchctl getenv KESTRELBAY_MAC_CHECK)" ]; then
  pass "launchctl setenv, getenv and unsetenv round trip in $domain"
else
  fail "launchctl setenv, getenv and unsetenv round trip" "$(tr '\n' ' ' <"$work/setenv.err") getenv gave: $(launchctl getenv KESTRELBAY_MAC_CHECK)"
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
    launchctl bootout "$domain/$label" 2>/dev/null
    start=$(now_ms) statuses=
    while :; do
      status=0
      launchctl bootstrap "$domain" "$plist" 2>"$work/bootstrap.err" || status=$?
      statuses="$statuses $status"
      elapsed=$(($(now_ms) - start))
      [ "$status" -eq 0 ] && break
      if { [ "$status" -ne 5 ] && [ "$status" -ne 37 ]; } || [ $((elapsed + 500)) -gt 10000 ]; then
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
    pass "bootout, then at once bootstrap: refused as busy in $refused of $rounds rounds, loaded within $worst ms (the installer waits up to 10000)"
  else
    fail "bootout, then at once bootstrap, retried as the installer does" "$broken"
  fi
else
  fail "bootstrap of a test agent" "$(tr '\n' ' ' <"$work/bootstrap.err")"
fi

# --- 5. a FIFO copied by the built file manager ------------------------------
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

# --- the checks that need a product -------------------------------------------
huecraft="$build/demo/Huecraft.app"
if [ ! -d "$huecraft" ]; then
  for check in "the product's Info.plist" "the Finder's -psn_ start" "a quarantined product" "a Quit during the work" "the Option key"; do
    skip "$check" "no product: the bundle tool needs libarchive (brew install libarchive pkg-config, then rerun)"
  done
  exit
fi

# --- 6. the product's Info.plist -----------------------------------------------
info="$huecraft/Contents/Info.plist"
if plutil -lint -s "$info" &&
   [ "$(plutil -extract CFBundleIdentifier raw "$info")" = de.kestrelbay.installer.huecraft ] &&
   [ "$(plutil -extract CFBundleName raw "$info")" = "Huecraft Vireo" ] &&
   [ "$(plutil -extract CFBundleExecutable raw "$info")" = Installer ]; then
  pass "Info.plist names the product (Huecraft Vireo, de.kestrelbay.installer.huecraft)"
else
  fail "Info.plist names the product" "$(plutil -p "$info" 2>&1 | tr '\n' ' ')"
fi

# --- 7. the Finder's argument, the interactive run, the alert in front --------
mkdir -p "$work/home" "$work/tmp"
"$huecraft/Contents/MacOS/Installer" -psn_0_4242 >"$work/psn.out" 2>"$work/psn.err" &
pid=$!
sleep 3
if kill -0 "$pid" 2>/dev/null; then
  pass "a start with -psn_0_4242 is the interactive run (it waits at its dialog)"
  echo
  echo ">>> A dialog 'Huecraft Vireo 1.2.0b2 installieren' should now be in front of every other window."
  read -r -p ">>> Is it? [y/n] " answer </dev/tty
  if [ "$answer" = y ]; then pass "the installer's alert comes to the front"
  else fail "the installer's alert comes to the front" "not in front"; fi
  ask "Click 'Abbrechen' in that dialog (nothing is installed)."
  kill -TERM "$pid" 2>/dev/null
else
  wait "$pid"; status=$?
  fail "a start with -psn_0_4242 is the interactive run" "it ended with status $status: $(tr '\n' ' ' <"$work/psn.err")"
  skip "the installer's alert comes to the front" "no interactive run to look at"
fi
wait "$pid" 2>/dev/null

# --- 8. a quarantined product ----------------------------------------------------
# As a download: the whole product quarantined, every file in it.
product=${signed:-$huecraft}
copy="$work/$(basename "$product")"
ditto "$product" "$copy"
xattr -r -w com.apple.quarantine "0081;$(printf %x "$(date +%s)");Safari;" "$copy"
echo
echo ">>> Opening a quarantined copy of $(basename "$product") as the Finder would."
if [ -z "$signed" ]; then
  echo ">>> It is not signed, so macOS says it cannot be opened: click 'Done' (or 'OK'), then open"
  echo ">>> System Settings > Privacy & Security, click 'Open Anyway' for Installer and confirm."
fi
echo ">>> When the dialog 'Huecraft Vireo 1.2.0b2 installieren' shows, click 'Abbrechen'."
HOME="$work/home" open -W "$copy" &
ask "Do as above until the installer's dialog has come and gone (macOS may open it a second time after 'Open Anyway')."
kill %% 2>/dev/null
read -r -p ">>> Did the installer's dialog come? [y/n] " answer </dev/tty
if [ "$answer" = y ]; then pass "the quarantined product opens (Gatekeeper's first open answered)"
else fail "the quarantined product opens" "it did not (spctl -a -vv \"$copy\"; Console.app)"; fi

# A test run from the quarantined copy: its items carry no quarantine, and the
# backup of the user's settings keeps the attribute the user's file had.
testhome="$work/test-home"
mkdir -p "$testhome"
touch "$testhome/.KESTREL-BAY-INSTALLER-TEST-HOME"
echo '{"own": 1}' >"$testhome/.huecraft_vireo.json"
xattr -w com.example.kept yes "$testhome/.huecraft_vireo.json"
if TMPDIR="$work/tmp" "$copy/Contents/MacOS/Installer" --test-home "$testhome" >"$work/test.out" 2>"$work/test.err"; then
  marked=$(xattr -lr "$testhome" 2>/dev/null | grep -v '/Installer-Backups/' | grep -c com.apple.quarantine || true)
  if [ "$marked" -eq 0 ]; then pass "items installed from a quarantined product carry no quarantine"
  else fail "items installed from a quarantined product carry no quarantine" "$marked items do (xattr -lr)"; fi
  kept=$(find "$testhome" -path '*/Installer-Backups/*/huecraft-config.json' -exec xattr -p com.example.kept {} \; 2>/dev/null)
  if [ "$kept" = yes ]; then pass "the backup of the user's settings keeps its extended attributes"
  else fail "the backup of the user's settings keeps its extended attributes" "com.example.kept is '${kept}'"; fi
else
  fail "a test run from the quarantined product" "$(tr '\n' ' ' <"$work/test.err")"
fi

# --- 9. a Quit during the progress window, and App Nap ---------------------------
# A product large enough for the window to stay a while, made from the demo
# payload and 600 MB more; the run installs into HOME=$work/quit-home.
big="$work/Big.app" payload="$work/Huecraft-Payload"
cp -R demo/huecraft/Huecraft-Payload "$payload"
for i in 1 2 3 4 5 6; do head -c 104857600 /dev/urandom >"$payload/Runtime/filler-$i.bin"; done
if "$build/kestrelbay-bundle" --payload "$payload" --id huecraft --name "Huecraft Vireo" --version 9 \
     --message-file demo/huecraft/message.txt --output "$big" --compression store >/dev/null 2>"$work/bundle.err"; then
  mkdir -p "$work/quit-home" "$work/quit-tmp"
  HOME="$work/quit-home" TMPDIR="$work/quit-tmp" "$big/Contents/MacOS/Installer" >"$work/quit.out" 2>"$work/quit.err" &
  pid=$!
  echo
  echo ">>> A dialog 'Huecraft Vireo 9 installieren' comes: click 'Installieren'. The script then asks the"
  echo ">>> installer to quit while its progress window shows (nothing of yours is touched)."
  activity=
  for _ in $(seq 600); do
    activity=$(pmset -g assertions | grep "pid $pid(" | grep 'Installing' || true)
    [ -n "$activity" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -n "$activity" ]; then pass "the run holds an activity against App Nap ($(echo "$activity" | head -n 1 | sed 's/^ *//'))"
  else fail "the run holds an activity against App Nap" "pmset -g assertions names none for pid $pid"; fi
  sleep 0.8
  osascript -e 'tell application id "de.kestrelbay.installer.huecraft" to quit' >/dev/null 2>&1
  for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  wait "$pid"; status=$?
  expected="Installation abgebrochen: Der Installer wurde zum Beenden aufgefordert. Bereits vorgenommene Änderungen wurden zurückgesetzt."
  left=$(find "$work/quit-home/Library/Application Support/Huecraft" -name 'Runtime-1.2.0b2' 2>/dev/null)
  if [ "$status" -eq 1 ] && [ "$(cat "$work/quit.err")" = "$expected" ] && [ -z "$left" ] &&
     [ -z "$(ls -A "$work/quit-tmp")" ]; then
    pass "a Quit during the work stops it: everything put back, status 1, the one line on standard error"
  else
    fail "a Quit during the work stops it" "status $status, stderr '$(tr '\n' ' ' <"$work/quit.err")', runtime left: ${left:-no}, temporary folder: $(ls -A "$work/quit-tmp" | tr '\n' ' ')"
  fi
else
  fail "make the large product" "$(tr '\n' ' ' <"$work/bundle.err")"
fi

# --- 10. opened with the Option key held ------------------------------------------
# The installer reads the key as it starts; the run goes into HOME=$work/home,
# where nothing was installed, and is cancelled.
echo
echo ">>> Hold the Option key (⌥) down, press Return, and keep holding it until a dialog shows."
read -r -p ">>> " _ </dev/tty
HOME="$work/home" TMPDIR="$work/tmp" "$huecraft/Contents/MacOS/Installer" >"$work/option.out" 2>"$work/option.err" &
pid=$!
echo ">>> You can let go now. The dialog should be 'Huecraft Vireo wiederherstellen oder deinstallieren',"
echo ">>> with the buttons 'Wiederherstellen', 'Deinstallieren' and 'Abbrechen' (not the installation's)."
read -r -p ">>> Is it? [y/n] " answer </dev/tty
if [ "$answer" = y ]; then pass "opened with the Option key held, the installer offers the restore and the uninstall"
else fail "opened with the Option key held, the installer offers the restore and the uninstall" "another dialog"; fi
ask "Click 'Abbrechen' in that dialog (nothing is changed)."
wait "$pid"; status=$?
if [ "$status" -eq 0 ] && [ -z "$(ls -A "$work/tmp")" ]; then pass "'Abbrechen' there ends the run with nothing changed"
else fail "'Abbrechen' there ends the run with nothing changed" "status $status, stderr '$(tr '\n' ' ' <"$work/option.err")'"; fi
