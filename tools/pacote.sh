#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks it without installing
# it: its files, unpacked into a scratch root (dpkg -x), and its maintainer
# scripts, run against the unpacked server with registry files of their own.
#   bash tools/pacote.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${1:-build}" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
falha() { echo "pacote: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$tmp/saida" >/dev/null)
deb=("$tmp"/saida/tolvan_*.deb)
[ -f "${deb[0]}" ] || falha "no package was built"
dpkg-deb -x "${deb[0]}" "$tmp/raiz"
dpkg-deb -e "${deb[0]}" "$tmp/controle"

for f in usr/libexec/tolvan/Tolvan usr/bin/tolvan-cli usr/bin/tolvan-inspeciona; do
  [ -x "$tmp/raiz/$f" ] || falha "$f is missing or not executable"
done
for f in usr/lib/libtolvan_cliente.a usr/lib/libtolvan_componentes.a usr/lib/libtolvan_plataforma.a \
         usr/include/tolvan/ZelClienteIEx.h usr/include/tolvan/ZelDF_IEx.h \
         usr/lib/cmake/Tolvan/TolvanConfig.cmake usr/lib/cmake/Tolvan/TolvanTargets.cmake \
         usr/lib/pkgconfig/tolvan.pc; do
  [ -f "$tmp/raiz/$f" ] || falha "$f is missing"
done
# Nothing of the tests or the build tree travels with it.
if find "$tmp/raiz" -name '*_testes' -o -name 'tolvan-servidor-teste' | grep -q .; then
  falha "test programs in the package"
fi
dpkg-deb -f "${deb[0]}" Depends | grep -q libc6 || falha "no dependency on the C library"

# The maintainer scripts, with the server's path moved into the scratch root.
servidor="$tmp/raiz/usr/libexec/tolvan/Tolvan"
grep -q '/usr/libexec/tolvan/Tolvan" -RegServer' "$tmp/controle/postinst" || falha "postinst does not register"
grep -q '/usr/libexec/tolvan/Tolvan" -UnregServer' "$tmp/controle/prerm" || falha "prerm does not unregister"
export ZEL_REGISTRO_MAQUINA="$tmp/maquina.reg"
export ZEL_REGISTRO_USUARIO="$tmp/usuario.reg"
sed "s#\"/usr/libexec/tolvan/Tolvan\"#\"$servidor\"#" "$tmp/controle/postinst" >"$tmp/postinst"
sed "s#\"/usr/libexec/tolvan/Tolvan\"#\"$servidor\"#" "$tmp/controle/prerm" >"$tmp/prerm"
sh "$tmp/postinst" configure
grep -qF "$servidor" "$ZEL_REGISTRO_MAQUINA" || falha "installation did not register the server"
sh "$tmp/prerm" upgrade
grep -qF "$servidor" "$ZEL_REGISTRO_MAQUINA" || falha "an upgrade dropped the registration"
sh "$tmp/prerm" remove
! grep -qF "$servidor" "$ZEL_REGISTRO_MAQUINA" || falha "removal left the registration behind"

# The unpacked tool runs and answers a usage error.
set +e
"$tmp/raiz/usr/bin/tolvan-inspeciona" 2>/dev/null
[ $? -eq 2 ] || falha "tolvan-inspeciona did not answer its usage"
set -e
echo "pacote: ok"
