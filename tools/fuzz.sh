#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for a
# fixed number of inputs from the committed seed corpus (fuzz/corpus/), as the
# test command does. New inputs go to a temporary directory, never into the
# committed corpus. The file loaders' target starts the service on a copied
# company for each input, so it runs a tenth as many.
#   bash tools/fuzz.sh [runs]     (default 10000; -1 runs until stopped)
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-10000}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_FUZZ=ON \
  -DZEL_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target zel_fuzz_stub zel_fuzz_quadro zel_fuzz_arquivos
for alvo in stub quadro arquivos; do
  novos="$(mktemp -d)"
  n="$runs"
  if [ "$alvo" = arquivos ] && [ "$runs" -gt 0 ]; then n=$((runs / 10)); fi
  echo "== zel_fuzz_$alvo ($n inputs)"
  status=0
  build-fuzz/fuzz/zel_fuzz_$alvo -runs="$n" -print_final_stats=1 "$novos" "fuzz/corpus/$alvo" \
    >"$novos.log" 2>&1 || status=$?
  grep -E "^Done|^stat::number_of_executed_units" "$novos.log" || true
  rm -rf "$novos"
  if [ "$status" -ne 0 ]; then
    tail -40 "$novos.log"
    echo "zel_fuzz_$alvo failed"
    exit 1
  fi
  rm -f "$novos.log"
done
