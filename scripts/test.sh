#!/usr/bin/env bash
# Builds the installer and runs the whole test suite twice: once in an
# ordinary build (whose libplist code is also compiled against a newer
# libplist), and once with AddressSanitizer and UndefinedBehaviorSanitizer
# in the portable build, which uses only the calls every POSIX system (a Mac
# among them) has. Between them, a short fuzzing run of every fuzz target;
# then the code a Mac compiles built with clang and libc++; last, the macOS
# desktop built against GNUstep and its alert clicked through.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
# Unity builds compile each library as a few large files: the same code,
# built in a fraction of the time.
common=(-G Ninja -DKB_WERROR=ON -DCMAKE_UNITY_BUILD=ON)
cmake -S . -B build "${common[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

# The libplist code compiled against the header of libplist 2.7, the version a
# Mac's package manager has (Debian's is 2.2): cmake/compat holds that header,
# libplist's own (LGPL-2.1), unchanged.
mkdir -p build/compat && tar -xzf cmake/compat/libplist-2.7.tar.gz -C build/compat
cmake -S . -B build -DKB_LIBPLIST_NEWER_HEADERS="$PWD/build/compat/libplist-2.7" >/dev/null
cmake --build build --target kb_libplist_newer_check

# A short libFuzzer run of every fuzz target on its committed corpus.
scripts/fuzz-smoke.sh

cmake -S . -B build-asan "${common[@]}" -DCMAKE_BUILD_TYPE=Debug -DKB_SANITIZE=ON -DKB_PORTABLE=ON
cmake --build build-asan -j"$jobs"
export ASAN_OPTIONS=abort_on_error=0:detect_leaks=1
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan-suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j"$jobs"

# What a Mac compiles of it (every layer, the shared POSIX code and the
# portable calls among them) built with clang and libc++, as Apple's
# toolchain builds it, warnings as errors: compiled only, about half a
# minute, as GoogleTest here is built for libstdc++.
cmake -S . -B build-libcxx "${common[@]}" -DCMAKE_BUILD_TYPE=Release -DKB_PORTABLE=ON -DBUILD_TESTING=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-stdlib=libc++
cmake --build build-libcxx -j"$jobs" --target kb_app kestrelbay-bundle

# The macOS desktop compiled against GNUstep, its alert driven on a virtual display.
scripts/gnustep-check.sh
