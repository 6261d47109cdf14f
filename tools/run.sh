#!/usr/bin/env bash
# Builds the service and runs a demonstration of it on a suite installation of
# its own under build/demo (registry files, runtime directory and a company
# DEMO made on the spot; the real ones are never touched). Every call goes
# through tolvan-cli to the Tolvan server, which the client runtime starts on
# demand and which ends by itself once idle.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/dependencias.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target Tolvan tolvan-cli
demo="$PWD/build/demo"
rm -rf "$demo"
mkdir -p "$demo/modulos" "$demo/DEMO" "$demo/run"
chmod 700 "$demo/run"
export ZEL_REGISTRO_MAQUINA="$demo/maquina.reg"
export ZEL_REGISTRO_USUARIO="$demo/usuario.reg"
export XDG_RUNTIME_DIR="$demo/run"
cat > "$ZEL_REGISTRO_MAQUINA" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Zel Sistemas]
"DiretorioModulos"="$demo/modulos/"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Zel Sistemas\\Empresas\\DEMO]
"DF"="$demo/DEMO/"
REG
./build/Cliente/Tolvan -RegServerPerUser

passos=(
  "Open company DEMO (its Vovi Dadi files are made and converted on first use)"
  '{"metodo":"Inicializa_Padrao","regps":{"ulUsuario":3,"szEmpresa":"DEMO"}}'
  "Header 1: extra fields of sales orders (process FT_PED): a note and a weight"
  '{"metodo":"GravaIEHeader","pPos":0,"ps":{"eProcesso":"IE_PROCESSO_FT_PED","pCampos":[{"id":"IE_CAMPO_LIVRE_TEXTO_0","szNome":"Observação"},{"id":"IE_CAMPO_LIVRE_V4_0","szNome":"Peso (kg)"}]}}'
  "Header 2: extra fields of invoices (process FT_NF): the weight first, then a note"
  '{"metodo":"GravaIEHeader","pPos":0,"ps":{"eProcesso":"IE_PROCESSO_FT_NF","pCampos":[{"id":"IE_CAMPO_LIVRE_V4_0","szNome":"Peso"},{"id":"IE_CAMPO_LIVRE_TEXTO_0","szNome":"Nota"}]}}'
  "Values of sales order 1001"
  '{"metodo":"GravaCamposVinculo","vinculo":{"origem":{"lPosHeader":1,"lChave":1001},"pCampos":[{"id":"IE_CAMPO_LIVRE_TEXTO_0","pcTexto":"Entregar até às 8h"},{"id":"IE_CAMPO_LIVRE_V4_0","BinaryData":"7D00000000000000"}]}}'
  "Values of sales order 1002"
  '{"metodo":"GravaCamposVinculo","vinculo":{"origem":{"lPosHeader":1,"lChave":1002},"pCampos":[{"id":"IE_CAMPO_LIVRE_TEXTO_0","pcTexto":"Frágil"},{"id":"IE_CAMPO_LIVRE_V4_0","BinaryData":"0C00000000000000"}]}}'
  "Read back orders 1001 and 1002 (and 1003, which has none)"
  '{"metodo":"BuscaVinculosByOrigem","lPosHeader":1,"pChaves":[1001,1002,1003]}'
  "Integration FT_PED -> FT_NF"
  '{"metodo":"GravaCabecalhoIntegracao","ulPosicaoIn":0,"reg":{"eProcessoOrigem":"IE_PROCESSO_FT_PED","eProcessoDestino":"IE_PROCESSO_FT_NF"}}'
  "Its field links: order note -> invoice note, order weight -> invoice weight"
  '{"metodo":"GravaVinculosCabecalhosIntegracao","pRegCabecalho":{"eProcessoOrigem":"IE_PROCESSO_FT_PED","eProcessoDestino":"IE_PROCESSO_FT_NF"},"pRegLista":{"pRegListaVinculos":[{"ulPosicaoCabecalhoIntegracao":1,"ulPosicaoCampoOrigem":0,"ulPosicaoCampoDestino":1},{"ulPosicaoCabecalhoIntegracao":1,"ulPosicaoCampoOrigem":1,"ulPosicaoCampoDestino":0}]}}'
  "The integration header points at its links"
  '{"metodo":"GravaCabecalhoIntegracao","ulPosicaoIn":1,"reg":{"ulPonteiroPrimeiroVinculoIntegracao":1,"ulQtdVinculosIntegracoes":2,"eProcessoOrigem":"IE_PROCESSO_FT_PED","eProcessoDestino":"IE_PROCESSO_FT_NF"}}'
  "The invoice values carried from order 1001"
  '{"metodo":"GetVinculoByIntegracao","headerOrigem":{"eProc":"IE_PROCESSO_FT_PED"},"ulPosRegistroOrigem":1001,"headerDestino":{"eProc":"IE_PROCESSO_FT_NF"}}'
  "Release the object (the server ends by itself once idle)"
  '{"metodo":"Release"}'
)
pedidos=""
for ((i = 1; i < ${#passos[@]}; i += 2)); do pedidos+="${passos[i]}"$'\n'; done
mapfile -t respostas < <(printf '%s' "$pedidos" | ./build/Cliente/tolvan-cli)
for ((i = 0; i < ${#passos[@]}; i += 2)); do
  echo "== ${passos[i]}"
  echo "   > ${passos[i + 1]}"
  echo "   < ${respostas[i / 2]}"
done
echo
echo "Files of company DEMO: $demo/DEMO/VOVIDADI/"
ls -l "$demo/DEMO/VOVIDADI/"
