#!/usr/bin/env bash
# Builds and runs the demonstration on a suite installation of its own under
# build/demo (its own registry files; the real ones are never touched):
# a service object initialised in process, then a client driving a local
# server through tolvan-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/dependencias.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tolvan-demo tolvan-cli tolvan-servidor-teste
demo="$PWD/build/demo"
mkdir -p "$demo"
export ZEL_REGISTRO_MAQUINA="$demo/maquina.reg"
export ZEL_REGISTRO_USUARIO="$demo/usuario.reg"

echo "== Service object in process"
./build/DF/Tolvan/tolvan-demo "$demo"

echo
echo "== Client and local server"
# The test server answers every method from what it was given; it registers
# itself under the service's class and ends 50 s after its last object goes.
./build/Cliente/tolvan-servidor-teste -RegServerPerUser
echo "Requests:"
pedidos='{"metodo":"Inicializa_Padrao","regps":{"ulUsuario":3,"szEmpresa":"DEMO"}}
{"metodo":"KeepAlive"}
{"metodo":"LeIEHeader","pPos":[12,15],"dwFlags":0}
{"metodo":"ExisteVinculo","lPosHeader":12}
{"metodo":"Release"}'
echo "$pedidos"
echo "Answers:"
echo "$pedidos" | ./build/Cliente/tolvan-cli
