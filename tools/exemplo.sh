#!/usr/bin/env bash
# Installs the client package from a build directory into a fresh prefix and
# builds the example client against it alone, out of the source tree: with
# CMake (find_package(Tolvan)) and with pkg-config. Both builds then create
# the object in the test server, registered in registry files of their own.
#   bash tools/exemplo.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

cmake --install "$build" --prefix "$tmp/prefixo" >/dev/null
cmake -S exemplos/cliente -B "$tmp/exemplo" -DCMAKE_PREFIX_PATH="$tmp/prefixo" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$tmp/exemplo" >/dev/null
PKG_CONFIG_PATH="$tmp/prefixo/lib/pkgconfig" \
  g++ -Wall -Wextra -Werror exemplos/cliente/exemplo.cpp -o "$tmp/exemplo-pkgconfig" \
  $(PKG_CONFIG_PATH="$tmp/prefixo/lib/pkgconfig" pkg-config --cflags --libs tolvan)

export ZEL_REGISTRO_MAQUINA="$tmp/maquina.reg"
export ZEL_REGISTRO_USUARIO="$tmp/usuario.reg"
export XDG_RUNTIME_DIR="$tmp/run"
export ZEL_ESCALA_TEMPO=0.01  # the server ends soon after the example
mkdir -p "$XDG_RUNTIME_DIR"
"$build/Cliente/tolvan-servidor-teste" -RegServer
"$tmp/exemplo/exemplo-cliente"
"$tmp/exemplo-pkgconfig"
"$tmp/prefixo/bin/tolvan-cli" <<<'{"metodo":"KeepAlive"}'
# The servers end by themselves once idle; their socket directory goes after.
for _ in $(seq 100); do
  [ -e "$XDG_RUNTIME_DIR/zelcom/"*.sock ] || break
  sleep 0.1
done
echo "exemplo: ok"
