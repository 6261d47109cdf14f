#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing.
set -euo pipefail
pacotes=(cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libsqlite3-dev clang libclang-rt-dev pkg-config dpkg-dev)
faltam=()
for p in "${pacotes[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || faltam+=("$p")
done
if [ ${#faltam[@]} -gt 0 ]; then
  echo "Instalando: ${faltam[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${faltam[@]}"
fi
