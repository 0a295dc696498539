#!/usr/bin/env bash
# Measures `Installer --verify-payload` against the same work done by
# standard tools, on two synthetic payloads:
#   large: about 1 GiB in 20 files
#   small: about 200 MiB in 20,000 files with 200 links
# each bundled twice (stored and deflated). For every case and run it times
#   installer  Installer --verify-payload (digest, unpack, walk, digest every file)
#   sha256sum  sha256sum of the archive, bsdtar -xf into a new folder, sha256sum of every file
#   openssl    the same with openssl dgst -sha256
# interleaved, and prints the medians of wall time and peak memory (largest
# resident set of any one process, from /usr/bin/time) and their ratios.
#
# usage: bench/verify-bench.sh [--build <build dir>] [--work <folder>] [--runs <n>] [--keep]
#   --build  the build folder holding kestrelbay-bundle and Installer.app (default: <repo>/build)
#   --work   where payloads, bundles and unpacked trees go (default: $TMPDIR or /tmp);
#            needs about 6 GiB free
#   --runs   runs per case, at least 3 (default 3)
#   --keep   leave the working files in place afterwards
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build"
work_parent="${TMPDIR:-/tmp}"
runs=3
keep=0
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=$(cd "$2" && pwd); shift 2 ;;
        --work) work_parent="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        --keep) keep=1; shift ;;
        -h|--help) sed -n '2,22p' "$0"; exit 0 ;;
        *) echo "verify-bench: unknown argument $1" >&2; exit 2 ;;
    esac
done
[ "$runs" -ge 3 ] || { echo "verify-bench: --runs must be at least 3" >&2; exit 2; }
bundle_tool="$build/kestrelbay-bundle"
for tool in "$bundle_tool" "$build/Installer.app/Contents/MacOS/Installer" /usr/bin/time bsdtar sha256sum openssl python3; do
    command -v "$tool" >/dev/null || { echo "verify-bench: $tool is missing (build first; install-deps.sh)" >&2; exit 2; }
done

mkdir -p "$work_parent"
free_kib=$(df -Pk "$work_parent" | awk 'NR == 2 { print $4 }')
if [ "$free_kib" -lt $((6 * 1024 * 1024)) ]; then
    echo "verify-bench: only $((free_kib / 1024)) MiB free in $work_parent; about 6 GiB are needed" >&2
    exit 2
fi
work=$(mktemp -d "$work_parent/kb-verify-bench.XXXXXX")
cleanup() { [ "$keep" -eq 1 ] || rm -rf "$work"; }
trap cleanup EXIT
echo "working in $work ($(df -h --output=avail "$work_parent" | tail -1 | tr -d ' ') free), $runs runs per case"

# --- payloads ---------------------------------------------------------------
python3 - "$work" <<'PY'
import os, random, sys
work = sys.argv[1]
rng = random.Random(20240601)

def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)

# 20 files of about 51 MiB: half random bytes (incompressible, like media),
# half text-like bytes (compress several times, like code and data files).
words = [b"grade", b"node", b"lut", b"curve", b"0.65", b"banded", b"colour", b"strength", b"\n"]
pool = b" ".join(rng.choice(words) for _ in range(800000))
large = os.path.join(work, "payload-large", "Large-Payload")
for index in range(20):
    path = os.path.join(large, "Contents", "Data", "chunk-%02d.bin" % index)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        for _ in range(51):
            if index % 2 == 0:
                out.write(os.urandom(1 << 20))
            else:
                start = rng.randrange(len(pool) - (1 << 20))
                out.write(pool[start:start + (1 << 20)])

# 20,000 files of about 10 KiB in 200 folders, 200 relative links.
small = os.path.join(work, "payload-small", "Small-Payload")
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

for payload in large small; do
    root=$(ls "$work/payload-$payload")
    for compression in store deflate; do
        "$bundle_tool" --payload "$work/payload-$payload/$root" --id huecraft --name "Bench $payload" \
            --version 1 --message "Messung" --compression "$compression" \
            --installer "$build/Installer.app" --output "$work/bundles/$payload-$compression.app"
        echo "bundle $payload-$compression: payload.zip $(du -h "$work/bundles/$payload-$compression.app/Contents/Resources/payload.zip" | cut -f1)"
    done
done

# --- measurements -----------------------------------------------------------
results="$work/results.tsv"
: > "$results"
mkdir -p "$work/tmp"

# measure <case> <method> <run> <command...>: wall seconds and peak KiB into the results.
measure() {
    local case_name=$1 method=$2 run=$3
    shift 3
    local timing="$work/timing"
    if ! /usr/bin/time -f "%e %M" -o "$timing" "$@" >/dev/null 2>"$work/stderr"; then
        echo "verify-bench: $method failed for $case_name:" >&2
        cat "$work/stderr" >&2
        exit 1
    fi
    read -r seconds kib < "$timing"
    printf '%s\t%s\t%s\t%s\t%s\n' "$case_name" "$method" "$run" "$seconds" "$kib" >> "$results"
}

standard_tools() {  # standard_tools <digest command> <archive> <folder>
    local digest=$1 archive=$2 folder=$3
    export digest archive folder
    sh -c '$digest "$archive" >/dev/null && mkdir "$folder" && bsdtar -xf "$archive" -C "$folder" &&
           find "$folder" -type f -print0 | xargs -0 -r $digest >/dev/null'
}
export -f standard_tools

for run in $(seq 1 "$runs"); do
    for case_name in large-store large-deflate small-store small-deflate; do
        app="$work/bundles/$case_name.app"
        archive="$app/Contents/Resources/payload.zip"
        cat "$archive" > /dev/null  # the same warm cache for every method
        measure "$case_name" installer "$run" env TMPDIR="$work/tmp" "$app/Contents/MacOS/Installer" --verify-payload
        [ -z "$(ls -A "$work/tmp")" ] || { echo "verify-bench: the installer left $(ls "$work/tmp")" >&2; exit 1; }
        measure "$case_name" sha256sum "$run" bash -c 'standard_tools sha256sum "$0" "$1"' "$archive" "$work/x-sha"
        rm -rf "$work/x-sha"
        measure "$case_name" openssl "$run" bash -c 'standard_tools "openssl dgst -sha256" "$0" "$1"' "$archive" "$work/x-ossl"
        rm -rf "$work/x-ossl"
    done
    echo "run $run of $runs done"
done

# --- report -----------------------------------------------------------------
python3 - "$results" <<'PY'
import collections, statistics, sys
rows = collections.defaultdict(lambda: collections.defaultdict(list))
for line in open(sys.argv[1]):
    case, method, _run, seconds, kib = line.split("\t")
    rows[case][method].append((float(seconds), int(kib)))
print()
print("%-14s %-10s %9s %10s   %s" % ("case", "method", "time (s)", "peak MiB", "installer / method (time, memory)"))
for case in ("large-store", "large-deflate", "small-store", "small-deflate"):
    medians = {m: (statistics.median(t for t, _ in v), statistics.median(k for _, k in v) / 1024)
               for m, v in rows[case].items()}
    inst_t, inst_m = medians["installer"]
    for method in ("installer", "sha256sum", "openssl"):
        t, m = medians[method]
        ratio = "" if method == "installer" else "%.2fx, %.2fx" % (inst_t / t, inst_m / m)
        print("%-14s %-10s %9.2f %10.1f   %s" % (case, method, t, m, ratio))
print("\nmedians of %d interleaved runs each; peak = largest resident set of one process" %
      len(rows["large-store"]["installer"]))
PY
