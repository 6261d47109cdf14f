#!/usr/bin/env bash
# Builds and runs every test twice: a plain build, then under AddressSanitizer
# and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/dependencias.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure --timeout 300
# Client programs build against the installed package alone.
bash tools/exemplo.sh build
# The Debian package: its files in a scratch root, its maintainer scripts.
bash tools/pacote.sh build

cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Debug -DZEL_SANITIZERS=ON >/dev/null
cmake --build build-san -j"$jobs"
# The fault guard tests raise real machine faults: the guard handles them itself.
ASAN_OPTIONS=detect_leaks=1:allow_user_segv_handler=1:handle_segv=1:use_sigaltstack=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-san -j"$jobs" --output-on-failure --timeout 600

# What a hostile peer can send, through the stub and the frame reader.
bash tools/fuzz.sh 10000
