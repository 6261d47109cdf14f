#include "ZelMensagem.h"

#include <iterator>

namespace {
struct Texto {
  uint32_t hr;
  const char* sz;
};
// Texts in Windows-1252.
constexpr Texto kTextos[] = {
    {0x80004001u, "N\xE3o implementado"},
    {0x80004002u, "Interface n\xE3o suportada"},
    {0x80004003u, "Ponteiro inv\xE1lido"},
    {0x80004005u, "Falha n\xE3o especificada"},
    {0x80070005u, "Acesso negado"},
    {0x8007000Eu, "Mem\xF3ria insuficiente"},
    {0x80070057u, "Par\xE2metro inv\xE1lido"},
    {0x8000FFFFu, "Falha catastr\xF3" "fica"},
    {0x81080A04u, "Objeto n\xE3o inicializado"},
    {0x81080AA8u, "Objeto n\xE3o criado"},
    {0x81080BB1u, "Exce\xE7\xE3o reportada"},
    {0x81080BFDu, "Vers\xE3o incompat\xEDvel"},
    {0x81080C17u, "CRC da inicializa\xE7\xE3o inv\xE1lido"},
    {0x81080C19u, "Estrutura da inicializa\xE7\xE3o inv\xE1lida"},
    {0x80040A73u, "Posi\xE7\xE3o de grava\xE7\xE3o al\xE9m do fim do arquivo"},
    {0x80040A74u, "Posi\xE7\xE3o de grava\xE7\xE3o negativa"},
    {0x80043E95u, "Posi\xE7\xE3o al\xE9m do fim do arquivo"},
};
}  // namespace

void ZelGetDescricaoHRESULT(std::string& sTexto, HRESULT hr) {
  sTexto.clear();
  for (const auto& t : kTextos)
    if (t.hr == static_cast<uint32_t>(hr)) sTexto = t.sz;
}

BYTE EhFacilityMT(unsigned facility) { return facility >= kPrimeiraFacilityZel && facility <= kUltimaFacilityZel; }
