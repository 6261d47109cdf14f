#!/usr/bin/env bash
# Builds and runs the demonstration on a suite installation of its own under
# build/demo (its own registry files; the real ones are never touched).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/dependencias.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tolvan-demo
demo="$PWD/build/demo"
mkdir -p "$demo"
export ZEL_REGISTRO_MAQUINA="$demo/maquina.reg"
export ZEL_REGISTRO_USUARIO="$demo/usuario.reg"
./build/DF/Tolvan/tolvan-demo "$demo"
