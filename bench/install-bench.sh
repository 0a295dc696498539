#!/usr/bin/env bash
# Measures the installer's heavy paths side by side with standard tools doing
# the same work, in one go:
#
#   verify   Installer --verify-payload: digest the archive, unpack it, walk
#            the tree and digest every file, remove the unpacked tree
#   first    Installer --test-home into an empty test home: all of the above,
#            then copy the runtime tree, the script files and the settings in
#   over     Installer --test-home into that home again: the same, plus a
#            backup copy of every item it replaces and the removal of the old ones
#
# against
#   (a) sha256sum of the archive, bsdtar -xf into a new folder, sha256sum of every file
#   (b) the same with openssl dgst -sha256
#   rm  rm -rf of that folder (the installer removes its unpacked tree too)
#   (c) cp -a of the installed items into an empty home ("cp first"), and into
#       a home holding them already: cp -a of the old items into a backup
#       folder, rm -rf of the old items, cp -a of the new ones ("cp over")
#
# on synthetic "huecraft" payloads (Runtime/ with resolve/Huecraft_Vireo.py,
# its two language files and runtime/huecraft-engine, the bulk elsewhere below
# Runtime/):
#   large: about 1 GiB in 20 files
#   small: about 200 MiB in 20,000 files with 200 links
# each bundled stored and deflated. Runs are interleaved; the report gives the
# medians of wall time and peak resident memory (largest resident set of one
# process, from /usr/bin/time; the installer's figure includes its unpack
# helper) and every ratio against its goal:
#   verify <= 1.0 x (b) + rm,  first <= 1.1 x (b) + rm + cp first,
#   over <= 1.2 x (b) + rm + cp over, installer peak < 64 MiB.
# It also times kb::sha256 against `openssl speed -evp sha256` (goal >= 0.8 x),
# measures how long the interactive run of the large payload goes at most
# without serving its window's events (goal < 100 ms, on a virtual display)
# and how soon its Abbrechen, pressed halfway through, ends it with the home
# as it was (goal < 1 s to the failure dialog),
# and runs the installer once on a payload ten times the large one (10 GiB in
# sparse, mostly empty files, deflated) to show that its memory stays flat.
#
# Run as root, it works on a fresh ext4 file system with a journal, made for
# the run in an image file below the work folder and mounted through a loop
# device: ext4 without a journal (as on some cloud disks) steps over every
# inode freed in the last minute whenever it creates a file, so on such a
# disk whichever command comes after a large removal pays seconds for it, and
# the small-file figures swing by a factor of two from run to run.
#
# usage: bench/install-bench.sh [--build <dir>] [--work <folder>] [--runs <n>] [--no-tenfold]
#                               [--in-place] [--keep]
#   --build       build folder with kestrelbay-bundle, Installer.app and digest-speed,
#                 configured with -DCMAKE_BUILD_TYPE=RelWithDebInfo (default: <repo>/build-perf)
#   --work        where payloads, bundles and homes go (default: $TMPDIR or /tmp);
#                 needs about 12 GiB free, 24 GiB more for the tenfold payload
#   --runs        runs per case, at least 3 (default 3)
#   --no-tenfold  skip the 10 GiB payload
#   --in-place    work on the work folder's own file system, without the fresh one
#   --keep        leave the working files in place afterwards (implies --in-place)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-perf"
work_parent="${TMPDIR:-/tmp}"
runs=3
keep=0
tenfold=1
in_place=0
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=$(cd "$2" && pwd); shift 2 ;;
        --work) work_parent="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        --no-tenfold) tenfold=0; shift ;;
        --in-place) in_place=1; shift ;;
        --keep) keep=1; in_place=1; shift ;;
        -h|--help) sed -n '2,55p' "$0"; exit 0 ;;
        *) echo "install-bench: unknown argument $1" >&2; exit 2 ;;
    esac
done
[ "$runs" -ge 3 ] || { echo "install-bench: --runs must be at least 3" >&2; exit 2; }
bundle_tool="$build/kestrelbay-bundle"
for tool in "$bundle_tool" "$build/Installer.app/Contents/MacOS/Installer" /usr/bin/time bsdtar sha256sum \
            openssl python3 c++ pkg-config; do
    command -v "$tool" >/dev/null || { echo "install-bench: $tool is missing (build first; install-deps.sh)" >&2; exit 2; }
done
[ -x "$build/digest-speed" ] || { echo "install-bench: $build/digest-speed is missing" >&2; exit 2; }

mkdir -p "$work_parent"
free_kib=$(df -Pk "$work_parent" | awk 'NR == 2 { print $4 }')
need_gib=$((12 + 24 * tenfold))
if [ "$free_kib" -lt $((need_gib * 1024 * 1024)) ]; then
    echo "install-bench: only $((free_kib / 1024)) MiB free in $work_parent; about $need_gib GiB are needed" >&2
    exit 2
fi
image="" mount_point=""
cleanup() {
    # Whatever step of making the file system failed, nothing of it stays.
    if [ -n "$mount_point" ]; then
        if mountpoint -q "$mount_point"; then umount "$mount_point" || umount -l "$mount_point" || true; fi
        rmdir "$mount_point" 2>/dev/null || true
    fi
    if [ -n "$image" ]; then
        rm -f "$image"
    elif [ "$keep" -eq 0 ] && [ -n "${work:-}" ]; then
        rm -rf "$work"
    fi
}
trap cleanup EXIT
if [ "$in_place" -eq 0 ]; then
    if [ "$(id -u)" -ne 0 ] || ! command -v mkfs.ext4 >/dev/null || [ ! -e /dev/loop-control ]; then
        echo "install-bench: a fresh file system needs root, mkfs.ext4 and loop devices; use --in-place" >&2
        exit 2
    fi
    # Sparse: it takes only what the run writes. Inode tables and journal are
    # written now, so that no background initialisation runs beside the figures.
    image=$(mktemp "$work_parent/kb-bench-fs.XXXXXX")
    truncate -s "$((need_gib + 4))G" "$image"
    mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$image"
    mount_point=$(mktemp -d "$work_parent/kb-bench-mnt.XXXXXX")
    mount -o loop "$image" "$mount_point"
    work_parent=$mount_point
fi
work=$(mktemp -d "$work_parent/kb-bench-install.XXXXXX")
echo "working in $work ($(df -h --output=avail "$work_parent" | tail -1 | tr -d ' ') free), $runs runs per case"
echo "file system: $(findmnt -no FSTYPE,SOURCE -T "$work")$([ -n "$image" ] && echo ", made for this run with a journal")"
echo "machine: $(nproc) cores, $(uptime | sed 's/.*load/load/')"

# --- digest speed -----------------------------------------------------------
# The build's own kb::sha256 and file manager (the digest-speed target).
cp "$build/digest-speed" "$work/digest-speed"
# Written in large pieces, as the unpacker writes payload files: how a file
# came into the page cache shows in how fast it can be read back.
dd if=/dev/urandom of="$work/digest-input" bs=4M count=256 status=none
# Three rounds, each program beside the other; medians.
kb_rates=() ossl_rates=()
for round in 1 2 3; do
    kb_rates+=("$("$work/digest-speed" "$work/digest-input" 3 | cut -d' ' -f1)")
    # The last column holds thousands of bytes per second for 1 MiB pieces.
    ossl_rates+=("$(openssl speed -evp sha256 -bytes 1048576 -seconds 2 2>/dev/null |
                    awk '/^sha256/ { v = $NF; sub(/k$/, "", v); print v / 1000 }')")
done
median3() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
kb_rate=$(median3 "${kb_rates[@]}")
ossl_rate=$(median3 "${ossl_rates[@]}")
rm -f "$work/digest-input"
digest_line=$(printf "digest (median of 3 rounds): kb::sha256 %.0f MB/s, openssl speed %.0f MB/s: %.2fx (goal >= 0.80x)" \
              "$kb_rate" "$ossl_rate" "$(echo "$kb_rate / $ossl_rate" | bc -l)")
echo "$digest_line"

# --- payloads ---------------------------------------------------------------
python3 - "$work" <<'PY'
import os, random, sys
work = sys.argv[1]
rng = random.Random(20240601)

def write(path, data, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)
    os.chmod(path, mode)

def product_files(root):
    # What the colour-script recipe takes from Runtime/.
    resolve = os.path.join(root, "Runtime", "resolve")
    write(os.path.join(resolve, "Huecraft_Vireo.py"), b"# colour script\n" + b"print('grade')\n" * 400)
    write(os.path.join(resolve, "huecraft_ui_language.py"), b"LANGUAGE = 'de'\n" * 200)
    write(os.path.join(resolve, "huecraft_ui_catalog.json"), b'{"de": {"title": "Huecraft"}}\n')
    write(os.path.join(root, "Runtime", "runtime", "huecraft-engine"), b"#!/bin/sh\nexit 0\n" + os.urandom(65536), 0o755)

# 20 files of about 51 MiB: half random bytes (incompressible, like media),
# half text-like bytes (compress several times, like code and data files).
words = [b"grade", b"node", b"lut", b"curve", b"0.65", b"banded", b"colour", b"strength", b"\n"]
pool = b" ".join(rng.choice(words) for _ in range(800000))
large = os.path.join(work, "payload-large", "Huecraft")
product_files(large)
for index in range(20):
    path = os.path.join(large, "Runtime", "data", "chunk-%02d.bin" % index)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        for _ in range(51):
            if index % 2 == 0:
                out.write(os.urandom(1 << 20))
            else:
                start = rng.randrange(len(pool) - (1 << 20))
                out.write(pool[start:start + (1 << 20)])

# 20,000 files of about 10 KiB in 200 folders, 200 relative links.
small = os.path.join(work, "payload-small", "Huecraft")
product_files(small)
for folder in range(200):
    base = os.path.join(small, "Runtime", "lib", "pkg%03d" % folder)
    for index in range(100):
        size = rng.randint(2048, 18432)
        write(os.path.join(base, "module%03d.py" % index),
              (b"# generated module %d/%d\n" % (folder, index)) + os.urandom(size // 2).hex().encode()[:size])
    os.symlink("module000.py" if folder % 2 else "../pkg%03d/module001.py" % ((folder + 1) % 200),
               os.path.join(base, "alias.py"))
PY
echo "payloads: large $(du -sh "$work/payload-large" | cut -f1), small $(du -sh "$work/payload-small" | cut -f1)"

make_bundle() {  # make_bundle <payload name> <compression>
    "$bundle_tool" --payload "$work/payload-$1/Huecraft" --id huecraft --name "Bench $1" \
        --version 1 --message "Messung" --compression "$2" \
        --installer "$build/Installer.app" --output "$work/bundles/$1-$2.app"
    echo "bundle $1-$2: payload.zip $(du -h "$work/bundles/$1-$2.app/Contents/Resources/payload.zip" | cut -f1)"
}
for payload in large small; do
    for compression in store deflate; do make_bundle "$payload" "$compression"; done
done

# --- measurements -----------------------------------------------------------
results="$work/results.tsv"
: > "$results"
mkdir -p "$work/tmp"

# measure <case> <method> <run> <command...>: wall seconds and peak KiB into
# the results. Dirty pages of earlier steps are written out first, so that no
# command pays for another's writes.
measure() {
    local case_name=$1 method=$2 run=$3
    shift 3
    local timing="$work/timing"
    sync
    if ! /usr/bin/time -f "%e %M" -o "$timing" "$@" >/dev/null 2>"$work/stderr"; then
        echo "install-bench: $method failed for $case_name:" >&2
        cat "$work/stderr" >&2
        exit 1
    fi
    read -r seconds kib < "$timing"
    printf '%s\t%s\t%s\t%s\t%s\n' "$case_name" "$method" "$run" "$seconds" "$kib" >> "$results"
}

# baseline <digest command> <archive> <folder> [<home>]: the digest, unpack,
# digest pipeline into <folder>; with a home, the installed items copied into
# it as the installer does (see copy_items); then rm -rf of <folder>.
baseline() {
    local digest=$1 archive=$2 folder=$3 home=${4:-}
    export digest archive folder
    sh -c '$digest "$archive" >/dev/null && mkdir "$folder" && bsdtar -xf "$archive" -C "$folder" &&
           find "$folder" -type f -print0 | xargs -0 -r $digest >/dev/null'
    [ -z "$home" ] || copy_items "$folder/Huecraft" "$home"
    rm -rf "$folder"
}
# copy_items <payload root> <home>: what the installer puts into a home, in
# its order: a copy of the new item beside the target, a backup copy of the
# old one (none in an empty home), the old one removed, the new one moved in.
copy_items() {
    local payload=$1 home=$2
    local support="$home/Library/Application Support"
    local scripts="$support/Blackmagic Design/DaVinci Resolve/Fusion/Scripts/Color"
    local backup="$support/Bench/Installer-Backups/$(date +%s%N)"
    mkdir -p "$support/Huecraft" "$scripts" "$backup"
    put() {  # put <source> <target> <label>
        cp -a "$1" "$2.new"
        if [ -e "$2" ]; then
            cp -a "$2" "$backup/$3"
            rm -rf "$2"
        fi
        mv "$2.new" "$2"
    }
    put "$payload/Runtime" "$support/Huecraft/Runtime-1.2.0b2" Runtime-1.2.0b2
    local name
    for name in Huecraft_Vireo.py huecraft_ui_language.py huecraft_ui_catalog.json; do
        put "$payload/Runtime/resolve/$name" "$scripts/$name" "$name"
    done
}
export -f baseline copy_items

# ext4 without a journal skips inodes freed in the last minute (five when
# their table is not yet written) when it allocates new ones, one look-up per
# skipped inode; every measurement here frees tens of thousands, so the next
# one to create 20,000 files in the same block group pays seconds for that
# alone, whoever it is. Folders marked as top folders (chattr +T) place each
# new subfolder in a fresh group, which keeps that cost out of the figures
# for every method alike.
spread() { chattr +T "$@" 2>/dev/null || true; }
spread "$work" "$work/tmp"
new_home() { rm -rf "$1"; mkdir -p "$1"; spread "$1"; touch "$1/.KESTREL-BAY-INSTALLER-TEST-HOME"; }

for run in $(seq 1 "$runs"); do
    for case_name in large-store large-deflate small-store small-deflate; do
        app="$work/bundles/$case_name.app"
        installer="$app/Contents/MacOS/Installer"
        archive="$app/Contents/Resources/payload.zip"
        cat "$archive" > /dev/null  # the same warm cache for every method

        measure "$case_name" verify "$run" env TMPDIR="$work/tmp" "$installer" --verify-payload
        new_home "$work/home-kb"
        measure "$case_name" first "$run" env TMPDIR="$work/tmp" "$installer" --test-home "$work/home-kb"
        measure "$case_name" over "$run" env TMPDIR="$work/tmp" "$installer" --test-home "$work/home-kb"
        [ -z "$(ls -A "$work/tmp")" ] || { echo "install-bench: the installer left $(ls "$work/tmp")" >&2; exit 1; }
        rm -rf "$work/home-kb"

        measure "$case_name" "(a) verify" "$run" bash -c 'baseline sha256sum "$0" "$1"' "$archive" "$work/x"
        measure "$case_name" "(b) verify" "$run" bash -c 'baseline "openssl dgst -sha256" "$0" "$1"' "$archive" "$work/x"
        new_home "$work/home-cp"
        measure "$case_name" "(b)+(c) first" "$run" bash -c 'baseline "openssl dgst -sha256" "$0" "$1" "$2"' \
            "$archive" "$work/x" "$work/home-cp"
        measure "$case_name" "(b)+(c) over" "$run" bash -c 'baseline "openssl dgst -sha256" "$0" "$1" "$2"' \
            "$archive" "$work/x" "$work/home-cp"
        rm -rf "$work/home-cp"
    done
    echo "run $run of $runs done ($(uptime | sed 's/.*load/load/'))"
done

# --- answering while it works -----------------------------------------------
# Both steps below run the installer without arguments, as a double-click
# does, on a virtual display of their own, driven by xdotool.
start_display() {  # sets xvfb and display
    local fd="$work/display"
    rm -f "$fd"
    Xvfb -displayfd 3 3>"$fd" 2>/dev/null &
    xvfb=$!
    for _ in $(seq 100); do [ -s "$fd" ] && break; sleep 0.1; done
    display=":$(cat "$fd")"
}
press_return_on() {  # press_return_on <window title>
    # Looks every 0.1 s for up to 300 s, and again when xdotool fails, as it
    # does when another window goes away while it searches.
    local window=
    for _ in $(seq 3000); do
        window=$(DISPLAY=$display xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1) || true
        [ -n "$window" ] && break
        sleep 0.1
    done
    sleep 0.3
    DISPLAY=$display xdotool windowfocus --sync "$window" key Return
}

# The run of the large stored payload, confirmed and closed: the longest time
# its window thread went without serving the toolkit's events while the
# worker digested, unpacked, checked and copied 1 GiB
# (KESTRELBAY_EVENT_GAP_LOG, written as the progress window's watch ends).
answering() {
    local app="$work/bundles/large-store.app" home="$work/home-window"
    rm -rf "$home" "$work/gaps"
    mkdir -p "$home"
    start_display
    DISPLAY=$display HOME=$home TMPDIR="$work/tmp" KESTRELBAY_EVENT_GAP_LOG="$work/gaps" \
        "$app/Contents/MacOS/Installer" &
    local run=$!
    press_return_on "Bench large 1 installieren"
    press_return_on "Bench large ist installiert"
    wait "$run"
    kill "$xvfb"
    rm -rf "$home"
    sed -n 's/^longest gap: \([0-9]*\) ms$/\1/p' "$work/gaps"
}
gap_ms=$(answering)
answering_line="answering: the interactive run of large-store served its window's events at least every $gap_ms ms (goal < 100 ms)"
echo "$answering_line"

# --- stopping it half-way -----------------------------------------------------
# The same run over an earlier installation, stopped with the progress
# window's Abbrechen halfway through the median time of an installation over
# an earlier one: how long from the key to the failure dialog (looked for
# every 20 ms), and whether the home is as it was but for the backup folder
# that a stopped run leaves, with nothing left in the temporary folder.
home_state() {  # every path, mode, size, link target and file digest below $1, but the backups
    (cd "$1" && find . -path '*/Installer-Backups' -prune -o -printf '%p %M %s %l\n' | sort &&
        find . -path '*/Installer-Backups' -prune -o -type f -print0 | sort -z | xargs -0 sha256sum)
}
stopping() {
    local app="$work/bundles/large-store.app" home="$work/home-window" half
    half=$(awk -F'\t' '$1 == "large-store" && $2 == "over" { print $4 }' "$results" | sort -n |
        awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] / 2 }')
    new_home "$home"
    TMPDIR="$work/tmp" "$app/Contents/MacOS/Installer" --test-home "$home" >/dev/null
    home_state "$home" >"$work/home-before"
    start_display
    DISPLAY=$display HOME=$home TMPDIR="$work/tmp" "$app/Contents/MacOS/Installer" &
    local run=$! status=0 pressed found
    press_return_on "Bench large 1 installieren"
    sleep "$half"
    press_return_on "Bench large"
    pressed=$(date +%s%N)
    for _ in $(seq 1500); do
        DISPLAY=$display xdotool search --onlyvisible --name "^Installation abgebrochen\$" >/dev/null 2>&1 && break
        sleep 0.02
    done
    found=$(date +%s%N)
    if [ $((found - pressed)) -lt 30000000000 ]; then
        press_return_on "Installation abgebrochen"
    else
        kill "$run"  # the run did not stop: its closing dialog waits
    fi
    wait "$run" || status=$?
    kill "$xvfb"
    local home_now="the home as it was" temporary="the temporary folder empty"
    home_state "$home" | cmp -s - "$work/home-before" || home_now="THE HOME CHANGED"
    [ -z "$(ls -A "$work/tmp")" ] || temporary="SOMETHING LEFT IN THE TEMPORARY FOLDER"
    rm -rf "$home"
    echo "stopping: Abbrechen ${half} s into the run of large-store over an earlier installation: the failure dialog" \
        "after $(((found - pressed) / 1000000)) ms (goal < 1000 ms), exit $status, $home_now, $temporary"
}
stopping_line=$(stopping)
echo "$stopping_line"

# --- ten times the large payload ----------------------------------------------
if [ "$tenfold" -eq 1 ]; then
    rm -rf "$work/payload-large" "$work/payload-small"
    python3 - "$work" <<'PY'
import os, sys
# 20 files of 512 MiB; every 16 MiB block holds 1 MiB of random bytes and a
# hole, so the source stays small on disk and deflates about 16-fold.
root = os.path.join(sys.argv[1], "payload-tenfold", "Huecraft")
resolve = os.path.join(root, "Runtime", "resolve")
os.makedirs(resolve)
for name in ("Huecraft_Vireo.py", "huecraft_ui_language.py", "huecraft_ui_catalog.json"):
    with open(os.path.join(resolve, name), "w") as out:
        out.write("# %s\n" % name)
os.makedirs(os.path.join(root, "Runtime", "runtime"))
with open(os.path.join(root, "Runtime", "runtime", "huecraft-engine"), "w") as out:
    out.write("#!/bin/sh\nexit 0\n")
os.chmod(os.path.join(root, "Runtime", "runtime", "huecraft-engine"), 0o755)
os.makedirs(os.path.join(root, "Runtime", "data"))
for index in range(20):
    with open(os.path.join(root, "Runtime", "data", "chunk-%02d.bin" % index), "wb") as out:
        for block in range(32):
            out.seek(block * (16 << 20))
            out.write(os.urandom(1 << 20))
        out.truncate(512 << 20)
PY
    make_bundle tenfold deflate
    app="$work/bundles/tenfold-deflate.app"
    archive="$app/Contents/Resources/payload.zip"
    cat "$archive" > /dev/null
    measure tenfold-deflate verify 1 env TMPDIR="$work/tmp" "$app/Contents/MacOS/Installer" --verify-payload
    new_home "$work/home-kb"
    measure tenfold-deflate first 1 env TMPDIR="$work/tmp" "$app/Contents/MacOS/Installer" --test-home "$work/home-kb"
    rm -rf "$work/home-kb"
    measure tenfold-deflate "(b) verify" 1 bash -c 'baseline "openssl dgst -sha256" "$0" "$1"' "$archive" "$work/x"
fi

# --- report -----------------------------------------------------------------
python3 - "$results" "$digest_line" "$(uptime | sed 's/.*load/load/')" "$answering_line" "$stopping_line" <<'PY'
import collections, statistics, sys
rows = collections.defaultdict(lambda: collections.defaultdict(list))
for line in open(sys.argv[1]):
    case, method, _run, seconds, kib = line.rstrip("\n").split("\t")
    rows[case][method].append((float(seconds), int(kib)))

def med(case, method):
    values = rows[case][method]
    return statistics.median(t for t, _ in values), statistics.median(k for _, k in values) / 1024

cases = [c for c in ("large-store", "large-deflate", "small-store", "small-deflate", "tenfold-deflate") if c in rows]
methods = ("verify", "first", "over", "(a) verify", "(b) verify", "(b)+(c) first", "(b)+(c) over")
print()
print("%-15s %-19s %9s %9s" % ("case", "method", "time (s)", "peak MiB"))
for case in cases:
    for method in methods:
        if method in rows[case]:
            t, m = med(case, method)
            print("%-15s %-19s %9.2f %9.1f" % (case, ("installer " if "(" not in method else "") + method, t, m))
    print()

goals = {"verify": 1.0, "first": 1.1, "over": 1.2}
print("%-15s %-7s %8s %8s %8s %8s   %s" % ("case", "step", "inst s", "base s", "vs (b)", "vs (a)*", "goal (vs (b))"))
failed = 0
for case in cases:
    b_verify = med(case, "(b) verify")[0]
    a_verify = med(case, "(a) verify")[0] if "(a) verify" in rows[case] else None
    for step in ("verify", "first", "over"):
        base = "(b) verify" if step == "verify" else "(b)+(c) " + step
        if step not in rows[case] or base not in rows[case]:
            continue
        t, b = med(case, step)[0], med(case, base)[0]
        # (a) for the install steps: its verify time plus the copying part of (b)+(c).
        a = None if a_verify is None else a_verify + (b - b_verify)
        if case.startswith("tenfold"):
            # One run, there to show the memory; its times are not judged.
            verdict = "(memory case, one run)"
        else:
            ok = t / b <= goals[step]
            failed += not ok
            verdict = "<= %.1fx %s" % (goals[step], "ok" if ok else "MISSED")
        print("%-15s %-7s %8.2f %8.2f %7.2fx %8s   %s" %
              (case, step, t, b, t / b, "-" if a is None else "%.2fx" % (t / a), verdict))
print("base: (b) = openssl dgst of the archive, bsdtar -xf, openssl dgst of every file, rm -rf of the")
print("unpacked folder; first/over add (c), cp -a of the installed items and of the replaced ones.")
print("* (a) for first/over: (a) verify plus the copying part of (b)+(c)")
print()
print("installer peak resident memory (goal < 64 MiB):")
for case in cases:
    steps = [s for s in ("verify", "first", "over") if s in rows[case]]
    worst = max(med(case, s)[1] for s in steps)
    failed += worst >= 64
    print("  %-15s %s  %s" % (case, ", ".join("%s %.1f MiB" % (s, med(case, s)[1]) for s in steps),
                             "ok" if worst < 64 else "MISSED"))
print()
print(sys.argv[2])
print(sys.argv[4])
print(sys.argv[5])
print("medians of %d interleaved runs each (tenfold: one run); %s at the end" %
      (len(rows["large-store"]["verify"]), sys.argv[3]))
print("goals missed: %d (digest goal judged above)" % failed)
PY
