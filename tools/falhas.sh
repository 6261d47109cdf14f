#!/usr/bin/env bash
# The long versions of the fault tests, which the test command runs short:
# the server killed with SIGKILL for many rounds under four writers, and
# eight clients of 10,000 mixed calls each; then the damaged-file, full-disk
# and identity tests once more. Each prints what it tried and what it found.
#   bash tools/falhas.sh [rodadas] [chamadas] [semente]   (500 10000 random)
set -euo pipefail
cd "$(dirname "$0")/.."
rodadas="${1:-500}"
chamadas="${2:-10000}"
semente="${3:-$RANDOM}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target falhas_testes
echo "== $rodadas kill rounds (seed $semente), 8 clients x $chamadas calls"
ZEL_FALHAS_RODADAS="$rodadas" ZEL_FALHAS_CHAMADAS="$chamadas" ZEL_FALHAS_SEMENTE="$semente" \
  build/Falhas/falhas_testes --gtest_filter='TolvanFalhas.*' 2>&1 | grep -v "^CoCreateInstance (ZelLocalAtivacao"
echo "== damaged files, a full disk, strange identities"
build/Falhas/falhas_testes --gtest_filter='-TolvanFalhas.*' --gtest_brief=1
