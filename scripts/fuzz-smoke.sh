#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each for a
# bounded number of inputs, starting from its committed corpus in
# fuzz/corpus/<target>/. Fails on the first crash, leak, sanitizer report or
# broken property; the input that caused it is left in build-fuzz/artifacts/.
# New inputs go to build-fuzz/smoke/, never into the committed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKB_FUZZ=ON -DKB_WERROR=ON -DCMAKE_UNITY_BUILD=ON -DBUILD_TESTING=OFF >/dev/null
targets=(fuzz_product fuzz_manifest fuzz_settings_merge fuzz_agent_file fuzz_ditto)
cmake --build "$build" -j2 --target "${targets[@]}"

# The sanitizer settings of the test run do not apply to the fuzzers. The ditto target empties an unpacked tree
# holding one descriptor per level, so deep trees need the highest descriptor limit allowed.
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
ulimit -n "$(ulimit -Hn)"

run() {
  local target=$1 dict=$2
  shift 2
  local scratch=$build/smoke/$target artifacts=$build/artifacts/$target
  rm -rf "$scratch"
  mkdir -p "$scratch" "$artifacts"
  echo "== $target"
  if ! "$build/fuzz/$target" -seed=1 -dict="fuzz/dict/$dict" -artifact_prefix="$artifacts/" "$@" \
      "$scratch" "fuzz/corpus/${target#fuzz_}" >"$build/smoke/$target.log" 2>&1; then
    tail -n 60 "$build/smoke/$target.log"
    echo "fuzz-smoke: $target failed; its input is in $artifacts/" >&2
    return 1
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE' "$build/smoke/$target.log" || tail -n 1 "$build/smoke/$target.log"
}

run fuzz_product json.dict -runs=2000 -max_len=8192
run fuzz_manifest json.dict -runs=2000 -max_len=8192
run fuzz_settings_merge json.dict -runs=2000 -max_len=8192
run fuzz_agent_file plist.dict -runs=2000 -max_len=8192
run fuzz_ditto zip.dict -runs=300 -max_len=16384 -timeout=30
echo "fuzz-smoke: all targets passed"
