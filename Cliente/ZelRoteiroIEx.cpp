#include "ZelRoteiroIEx.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "ZelCrc.h"
#include "ZelFalsoIEx.h"

namespace {

std::string Hr(HRESULT hr) {
  char sz[16];
  std::snprintf(sz, sizeof sz, "%08X", static_cast<unsigned>(hr));
  return sz;
}

std::string Txt(const char* p, size_t n) { return "'" + std::string(p, strnlen(p, n)) + "'"; }

void Campo(std::ostream& o, IE_CAMPO_PS& c) {
  o << "{f" << c.dwFlags << " x" << c.lPtrExtra << " id" << c.id << " " << Txt(c.szNome, sizeof c.szNome) << " u"
    << c.iQtdUsuarios << "[";
  if (c.pUsuarios == nullptr) o << "null";
  for (UI2 k = 0; c.pUsuarios != nullptr && k < c.iQtdUsuarios; ++k) o << c.pUsuarios[k] << ",";
  o << "]}";
  CoTaskMemFree(c.pUsuarios);
}

void Header(std::ostream& o, IE_HDR_PS& h) {
  o << "H{f" << h.dwFlags << " p" << h.eProcesso << " n" << h.nQtdCampos << "[";
  if (h.pCampos == nullptr) o << "null";
  for (UINT j = 0; h.pCampos != nullptr && j < h.nQtdCampos; ++j) Campo(o, h.pCampos[j]);
  o << "]}";
  CoTaskMemFree(h.pCampos);
}

void Vinculo(std::ostream& o, IE_VINCULO_PS& v) {
  o << "V{" << v.origem.lPosHeader << "/" << v.origem.lChave << " n" << v.nQtdCampos << "[";
  if (v.pCampos == nullptr) o << "null";
  for (UINT k = 0; v.pCampos != nullptr && k < v.nQtdCampos; ++k) {
    IE_CAMPO_DATA_PS& c = v.pCampos[k];
    UI8 b;
    std::memcpy(&b, c.BinaryData, 8);
    o << "{id" << c.id << " b" << b << " t" << c.ulTamanhoTexto << ":";
    if (c.pcTexto == nullptr)
      o << "null";
    else
      o << "'" << std::string(c.pcTexto, c.ulTamanhoTexto) << "'";
    o << "}";
    CoTaskMemFree(c.pcTexto);
  }
  o << "]}";
  CoTaskMemFree(v.pCampos);
}

void Ponteiros(std::ostream& o, IE_ARRAY_PONTEIROS_PS& a) {
  o << "P{" << a.qtd << "[";
  if (a.pPtrs == nullptr) o << "null";
  for (UINT k = 0; a.pPtrs != nullptr && k < a.qtd; ++k) o << a.pPtrs[k] << ",";
  o << "]}";
  CoTaskMemFree(a.pPtrs);
}

void Cabecalho(std::ostream& o, const _REG_IE_CABECALHO_INTEGRACAO_PS& c) {
  o << "C{" << c.ulPonteiroPrimeiroVinculoIntegracao << " " << c.ulQtdVinculosIntegracoes << " " << c.eProcessoOrigem
    << ">" << c.eProcessoDestino << " " << int{c.cExcluido} << int{c.cInativo} << "}";
}

_REG_DF_INICIALIZAPS Inicializacao(UI2 usVersao) {
  _REG_DF_INICIALIZAPS r{};
  r.ulUsuario = 12;
  r.ulNumeroSessao = 0x30345;  // wider than 16 bits: every byte has to travel
  r.ulLinhaFonte = 77;
  r.usVersaoMorvo = usVersao;
  std::snprintf(r.szEmpresa, sizeof r.szEmpresa, "Empresa Jo\xE3o");
  std::snprintf(r.szAplicativo, sizeof r.szAplicativo, "roteiro");
  std::snprintf(r.szModuleName, sizeof r.szModuleName, "roteiro.so");
  std::snprintf(r.szArquivoFonte, sizeof r.szArquivoFonte, "ZelRoteiroIEx.cpp");
  r.cControle = 'B';
  r.uiCRC = ZelCrc64(&r, kBytesCRCInicializacao);
  return r;
}

}  // namespace

std::string ZelRoteiroIEx(IZelDF_IEx* p) {
  std::ostringstream o;
  auto hr = [&](const char* sz, HRESULT h) { o << "\n" << sz << " " << Hr(h) << " "; };

  hr("Inicializa(137)", p->Inicializa_Padrao(Inicializacao(137)));
  hr("Inicializa", p->Inicializa_Padrao(Inicializacao(kVersaoMorvo)));
  I4 b = -1;
  hr("KeepAlive", p->KeepAlive(&b));
  o << b;

  _REG_DF_ERROPS erro;
  std::memset(&erro, 0x5A, sizeof erro);
  hr("GetUltimoErro", p->GetUltimoErro(&erro));
  o << Hr(erro.hr) << " " << erro.nCodigoErro << " " << erro.nTipoErro << " " << erro.usNumeroServidor << " "
    << Txt(erro.cMensagem, sizeof erro.cMensagem) << " " << Txt(erro.szEmpresa, sizeof erro.szEmpresa);

  UI1 bytes[] = {1, 2, 3, 250};
  _REG_CR_LISTA_BYTESPS in{4, {}, bytes, nullptr};
  _REG_CR_LISTA_BYTESPS* pOut = reinterpret_cast<_REG_CR_LISTA_BYTESPS*>(&o);  // must be overwritten
  hr("FuncaoGenerica", p->FuncaoGenerica(0x11, in, &pOut));
  if (pOut != nullptr) {
    o << pOut->ulQtdBytes << ":";
    for (UI4 i = 0; i < pOut->ulQtdBytes; ++i) o << int{pOut->pListaBytes[i]} << ",";
    CoTaskMemFree(pOut->pListaBytes);
    CoTaskMemFree(pOut);
  }
  pOut = reinterpret_cast<_REG_CR_LISTA_BYTESPS*>(&o);
  hr("FuncaoGenerica(0)", p->FuncaoGenerica(0, in, &pOut));
  o << (pOut == nullptr ? "null" : "set");
  _REG_CR_LISTA_BYTESPS vazio{0, {}, nullptr, nullptr};
  pOut = nullptr;
  hr("FuncaoGenerica(vazio)", p->FuncaoGenerica(3, vazio, &pOut));
  if (pOut != nullptr) {
    o << pOut->ulQtdBytes;
    CoTaskMemFree(pOut->pListaBytes);
    CoTaskMemFree(pOut);
  }

  UI4 ptrs[] = {10, 20, 30};
  UI1 d1[] = {9, 8}, d2[] = {7};
  _REG_CR_ALTERACAOPS alt[2] = {{{2, {}, d1, nullptr}, 5, 0}, {{1, {}, d2, nullptr}, 6, 0}};
  hr("AlteracaoMultiplaCadastro", p->AlteracaoMultiplaCadastro(3, ptrs, 2, alt));
  // Fewer pointers than changes: each array travels by its own count.
  hr("AlteracaoMultiplaCadastro(1)", p->AlteracaoMultiplaCadastro(1, ptrs, 2, alt));
  hr("AlteracaoMultiplaCadastro(0)", p->AlteracaoMultiplaCadastro(0, nullptr, 0, nullptr));
  hr("AlteracaoMultiplaCadastro(null)", p->AlteracaoMultiplaCadastro(2, nullptr, 0, nullptr));
  UI8 ptrs8[] = {1ull << 40, 2};
  hr("AlteracaoMultiplaMovimento", p->AlteracaoMultiplaMovimento(2, ptrs8, 1, alt));
  hr("AlteracaoMultiplaMovimento(1)", p->AlteracaoMultiplaMovimento(1, ptrs8, 2, alt));
  b = -1;
  hr("CadastroTeveMovimentacao", p->CadastroTeveMovimentacao(3, 4, &b));
  o << b;
  hr("CadastroTeveMovimentacao(par)", p->CadastroTeveMovimentacao(3, 5, &b));
  o << b;

  UI4 pos[] = {5, 6, 0, 9};
  IE_HDR_PS hdrs[4];
  std::memset(hdrs, 0, sizeof hdrs);
  hr("LeIEHeader", p->LeIEHeader(2, pos, hdrs, 0xF0));
  for (int i = 0; i < 2; ++i) Header(o, hdrs[i]);
  std::memset(hdrs, 0, sizeof hdrs);
  hr("LeIEHeader(parcial)", p->LeIEHeader(4, pos, hdrs, 1));  // fails at the third, the first two kept
  for (auto& h : hdrs) Header(o, h);
  hr("LeIEHeader(0)", p->LeIEHeader(0, nullptr, hdrs, 0));

  UI2 usuarios[] = {1, 2, 3};
  IE_CAMPO_PS campos[2] = {};
  campos[0].id = IE_CAMPO_HORA;
  std::snprintf(campos[0].szNome, sizeof campos[0].szNome, "Hora");
  campos[0].iQtdUsuarios = 3;
  campos[0].pUsuarios = usuarios;
  campos[1].id = IE_CAMPO_CHECK_BOX;
  IE_HDR_PS novo{1, IE_PROCESSO_FT_NF, 2, {}, campos, nullptr};
  UI4 ulPos = 0;
  hr("GravaIEHeader", p->GravaIEHeader(&ulPos, novo));
  o << ulPos;
  ulPos = 44;
  IE_HDR_PS semCampos{0, IE_PROCESSO_FN_CRE, 0, {}, nullptr, nullptr};
  hr("GravaIEHeader(vazio)", p->GravaIEHeader(&ulPos, semCampos));
  o << ulPos;

  IE_ARRAY_PONTEIROS_PS aps{};
  hr("BuscaPtrsIEHeader", p->BuscaPtrsIEHeader({0, IE_PROCESSO_CM_SC, 12, {}}, &aps));
  Ponteiros(o, aps);
  hr("BuscaPtrsIEHeader(parcial)", p->BuscaPtrsIEHeader({1, IE_PROCESSO_CM_SC, 5, {}}, &aps));
  Ponteiros(o, aps);
  hr("BuscaPtrsIEHeader(vazio)", p->BuscaPtrsIEHeader({0, IE_PROCESSO_CM_SC, 7, {}}, &aps));
  Ponteiros(o, aps);
  hr("BuscaPtrsIEHeader(ruim)", p->BuscaPtrsIEHeader({0, static_cast<IE_E_PROCESSO>(99), 1, {}}, &aps));
  Ponteiros(o, aps);

  hr("ExisteVinculo(2)", p->ExisteVinculo(2));
  hr("ExisteVinculo(3)", p->ExisteVinculo(3));
  hr("ExisteVinculo(0)", p->ExisteVinculo(0));

  char texto[] = {'a', 'b', '\xE7'};
  IE_CAMPO_DATA_PS dados[2] = {};
  dados[0].id = IE_CAMPO_LIVRE_TEXTO_0;
  dados[0].ulTamanhoTexto = 3;
  dados[0].pcTexto = texto;
  dados[1].id = IE_CAMPO_LIVRE_V4_0;
  dados[1].BinaryData[0] = 0x2A;
  dados[1].BinaryData[7] = 0x80;
  // Keys past 16 bits, so that a key carried in two bytes shows.
  IE_VINCULO_PS vinc{{7, 0x10008}, 2, {}, dados, nullptr};
  hr("GravaCamposVinculo", p->GravaCamposVinculo(vinc));
  dados[0].ulTamanhoTexto = 0;
  hr("GravaCamposVinculo(texto vazio)", p->GravaCamposVinculo(vinc));

  UI4 chaves[] = {5, 0x10007, 0};
  IE_VINCULO_PS vincs[3];
  std::memset(vincs, 0, sizeof vincs);
  hr("BuscaVinculosByOrigem", p->BuscaVinculosByOrigem(4, 2, chaves, vincs));
  for (int i = 0; i < 2; ++i) Vinculo(o, vincs[i]);
  std::memset(vincs, 0, sizeof vincs);
  hr("BuscaVinculosByOrigem(parcial)", p->BuscaVinculosByOrigem(4, 3, chaves, vincs));
  for (auto& v : vincs) Vinculo(o, v);

  hr("NotificaExclusaoOrigem", p->NotificaExclusaoOrigem({3, 0x10063}));
  hr("NotificaExclusaoOrigem(0)", p->NotificaExclusaoOrigem({0, 99}));

  _REG_IE_CABECALHO_INTEGRACAO_PS cab;
  std::memset(&cab, 0x33, sizeof cab);
  hr("LeCabecalhoIntegracao", p->LeCabecalhoIntegracao(7, &cab));
  Cabecalho(o, cab);
  hr("LeCabecalhoIntegracao(0)", p->LeCabecalhoIntegracao(0, &cab));
  Cabecalho(o, cab);

  _REG_IE_CABECALHO_INTEGRACAO_PS novoCab{};
  novoCab.eProcessoOrigem = IE_PROCESSO_FT_PED;
  novoCab.eProcessoDestino = IE_PROCESSO_FT_NF;
  UI4 ulOut = 0;
  hr("GravaCabecalhoIntegracao", p->GravaCabecalhoIntegracao(0, novoCab, &ulOut));
  o << ulOut;
  novoCab.cExcluido = 1;
  hr("GravaCabecalhoIntegracao(excluido)", p->GravaCabecalhoIntegracao(21, novoCab, &ulOut));
  o << ulOut;

  hr("GetPonteirosCabecalhoIntegracaoVoviDadi", p->GetPonteirosCabecalhoIntegracaoVoviDadi(&aps));
  Ponteiros(o, aps);

  UI4 ptrsCab[] = {4, 9, 0, 2};
  IE_ARRAY_PONTEIROS_PS entrada{2, {}, ptrsCab, nullptr};
  _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS lista{};
  for (UINT n : {2u, 4u}) {
    entrada.qtd = n;
    hr("GetListaCabecalhosIntegracao", p->GetListaCabecalhosIntegracao(&entrada, &lista));
    o << lista.ulQtd << (lista.pRegListaCabecalhos == nullptr ? " null" : " ");
    for (UI4 i = 0; lista.pRegListaCabecalhos != nullptr && i < lista.ulQtd; ++i)
      Cabecalho(o, lista.pRegListaCabecalhos[i]);
    CoTaskMemFree(lista.pRegListaCabecalhos);
  }
  hr("GetListaCabecalhosIntegracao(null)", p->GetListaCabecalhosIntegracao(nullptr, &lista));
  o << lista.ulQtd;
  CoTaskMemFree(lista.pRegListaCabecalhos);

  hr("ExisteCabecalhoIntegracao", p->ExisteCabecalhoIntegracao({1, IE_PROCESSO_FT_PED, 3, {}},
                                                                {0, IE_PROCESSO_FT_NF, 4, {}}, &cab));
  Cabecalho(o, cab);
  hr("ExisteCabecalhoIntegracao(igual)", p->ExisteCabecalhoIntegracao({1, IE_PROCESSO_FT_PED, 3, {}},
                                                                       {0, IE_PROCESSO_FT_PED, 4, {}}, &cab));
  Cabecalho(o, cab);

  _REG_IE_CABECALHO_INTEGRACAO_PS cabIn{};
  cabIn.ulPonteiroPrimeiroVinculoIntegracao = 50;
  cabIn.ulQtdVinculosIntegracoes = 4;
  _REG_LISTA_IE_VINCULO_INTEGRACAO_PS lv{};
  hr("LeVinculosCabecalhoIntegracao", p->LeVinculosCabecalhoIntegracao(&cabIn, &lv));
  o << lv.ulQtd << ":";
  for (UI4 i = 0; i < lv.ulQtd; ++i) {
    const auto& v = lv.pRegListaVinculos[i];
    o << v.ulPosicaoCabecalhoIntegracao << "/" << v.ulPosicaoCampoOrigem << "/" << v.ulPosicaoCampoDestino << "/"
      << int{v.cInativo} << ",";
  }
  hr("GravaVinculosCabecalhosIntegracao", p->GravaVinculosCabecalhosIntegracao(&cabIn, &lv));
  Cabecalho(o, cabIn);
  CoTaskMemFree(lv.pRegListaVinculos);
  hr("GravaVinculosCabecalhosIntegracao(null)", p->GravaVinculosCabecalhosIntegracao(&cabIn, nullptr));

  IE_VINCULO_PS vi;
  std::memset(&vi, 0x11, sizeof vi);
  hr("GetVinculoByIntegracao", p->GetVinculoByIntegracao({0, IE_PROCESSO_FT_PED, 1, {}}, 6,
                                                          {0, IE_PROCESSO_FT_NF, 2, {}}, &vi));
  Vinculo(o, vi);
  hr("GetVinculoByIntegracao(0)", p->GetVinculoByIntegracao({0, IE_PROCESSO_FT_PED, 1, {}}, 0,
                                                             {0, IE_PROCESSO_FT_NF, 2, {}}, &vi));
  Vinculo(o, vi);

  hr("GetProcessoJaCadastradoNaIntegracao", p->GetProcessoJaCadastradoNaIntegracao({0, IE_PROCESSO_FN_CPA, 0, {}}, &b));
  o << b;
  hr("ExcluiIntegracoesQueUsamEsteProcesso",
     p->ExcluiIntegracoesQueUsamEsteProcesso({2, IE_PROCESSO_NF_AER_NFS, 9, {}}));
  hr("ExcluiIntegracoesQueUsamEsteProcesso(ruim)",
     p->ExcluiIntegracoesQueUsamEsteProcesso({2, static_cast<IE_E_PROCESSO>(-1), 9, {}}));

  std::memset(&erro, 0, sizeof erro);
  hr("GetUltimoErro(fim)", p->GetUltimoErro(&erro));
  o << Hr(erro.hr) << " " << erro.nCodigoErro << " " << Txt(erro.cMensagem, sizeof erro.cMensagem);
  return o.str();
}
