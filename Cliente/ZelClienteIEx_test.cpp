#include "ZelClienteIEx.h"

#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ZelCrc.h"
#include "ZelEsperado_test.h"
#include "ZelFalsoIEx.h"
#include "ZelLocalAtivacao.h"
#include "ZelRoteiroIEx.h"
#include "ZelSessaoTeste.h"

namespace {

// A proxy to a fake served in process over a socket pair: marshalling without a server.
IZelDF_IEx* ProxyParaFalso() {
  CZelLocalSocket a, b;
  EXPECT_EQ(ZelLocalParSockets(&a, &b), S_OK);
  IZelDF_IEx* pFalso = nullptr;
  EXPECT_EQ(CZelFalsoIEx::CriaInstancia(IID_IZelDF_IEx, reinterpret_cast<void**>(&pFalso)), S_OK);
  EXPECT_EQ(ZelLocalServeConexao(std::move(a), pFalso, IID_IZelDF_IEx), S_OK);
  pFalso->Release();  // the connection holds it now
  IZelDF_IEx* pProxy = nullptr;
  EXPECT_EQ(ZelLocalCriaProxy(std::move(b), IID_IZelDF_IEx, reinterpret_cast<void**>(&pProxy)), S_OK);
  return pProxy;
}

void EsperaFalsosLiberados(int nEsperados) {
  for (int i = 0; i < 2000 && CZelFalsoIEx::Vivos() != nEsperados; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

}  // namespace

TEST(ZelClienteIEx, DescricaoConfereComAsAssinaturasDaInterface) {
  const ZelLocalInterface& d = ZelDescricaoIZelDF_IEx();
  ASSERT_EQ(d.metodos.size(), 24u);
  // The stub refuses slots outside the interface without calling anything.
  for (uint16_t usSlot : {0, 3, 28, 0xFFFF}) EXPECT_EQ(d.pfInvoca(nullptr, usSlot, nullptr), RPC_X_BAD_STUB_DATA);
  for (uint16_t usSlot = 4; usSlot <= 27; ++usSlot) {
    const ZelLocalMetodo* m = d.Metodo(usSlot);
    ASSERT_NE(m, nullptr) << usSlot;
    auto assinatura = ZelAssinaturaIZelDF_IEx(usSlot);
    ASSERT_EQ(assinatura.size(), m->parametros.size()) << m->szNome;
    for (size_t i = 0; i < assinatura.size(); ++i) {
      const ZelLocalParametro& par = m->parametros[i];
      bool bPonteiro = par.eForma != ZelLocalForma::Valor;
      EXPECT_EQ(assinatura[i].second, bPonteiro) << m->szNome << "." << par.szNome;
      if (!bPonteiro) {
        EXPECT_EQ(assinatura[i].first, par.pTipo->ulTamanho) << m->szNome << "." << par.szNome;
      }
      if (par.eForma == ZelLocalForma::Array) {
        ASSERT_GE(par.iContagem, 0);
        EXPECT_EQ(m->parametros[static_cast<size_t>(par.iContagem)].pTipo->ulTamanho, 4u) << m->szNome;
      }
    }
  }
}

// Every enumerator name stands for the interface's value, and every value has its name.
TEST(ZelClienteIEx, CadaNomeDeEnumeradorDaOValorDaInterface) {
#define ZEL_PAR_PROCESSO(nome) {"IE_PROCESSO_" #nome, IE_PROCESSO_##nome},
  const std::vector<std::pair<std::string, int32_t>> processos = {ZEL_IE_PROCESSOS(ZEL_PAR_PROCESSO){
      "IE_PROCESSO_COUNT", IE_PROCESSO_COUNT}};
#undef ZEL_PAR_PROCESSO
  const std::vector<std::pair<std::string, int32_t>> campos = {
      {"IE_CAMPO_LIVRE_DMA_0", IE_CAMPO_LIVRE_DMA_0},     {"IE_CAMPO_LIVRE_MA_0", IE_CAMPO_LIVRE_MA_0},
      {"IE_CAMPO_LIVRE_TEXTO_0", IE_CAMPO_LIVRE_TEXTO_0}, {"IE_CAMPO_LIVRE_V0_0", IE_CAMPO_LIVRE_V0_0},
      {"IE_CAMPO_LIVRE_V2_0", IE_CAMPO_LIVRE_V2_0},       {"IE_CAMPO_LIVRE_V4_0", IE_CAMPO_LIVRE_V4_0},
      {"IE_CAMPO_LIVRE_V8_0", IE_CAMPO_LIVRE_V8_0},       {"IE_CAMPO_INF_COMPL_COD", IE_CAMPO_INF_COMPL_COD},
      {"IE_CAMPO_HORA", IE_CAMPO_HORA},                   {"IE_CAMPO_CHECK_BOX", IE_CAMPO_CHECK_BOX},
      {"IE_CAMPO_COUNT", IE_CAMPO_COUNT}};
  for (const auto& [pTipo, esperados] : {std::make_pair(&ZelTiposIEx::kProcesso, processos),
                                         std::make_pair(&ZelTiposIEx::kCampoId, campos)}) {
    std::vector<std::pair<std::string, int32_t>> descritos;
    for (const auto& [sz, valor] : pTipo->enumeradores) descritos.emplace_back(sz, valor);
    EXPECT_EQ(descritos, esperados) << pTipo->szNome;
  }
}

TEST(ZelClienteIEx, CamposDescritosCabemNosRegistros) {
  for (const ZelLocalTipo* t :
       {&ZelTiposIEx::kInicializa, &ZelTiposIEx::kErro, &ZelTiposIEx::kListaBytes, &ZelTiposIEx::kAlteracao,
        &ZelTiposIEx::kCampo, &ZelTiposIEx::kHeader, &ZelTiposIEx::kFiltro, &ZelTiposIEx::kArrayPonteiros,
        &ZelTiposIEx::kOrigem, &ZelTiposIEx::kCampoData, &ZelTiposIEx::kVinculo, &ZelTiposIEx::kCabecalho,
        &ZelTiposIEx::kVinculoIntegracao, &ZelTiposIEx::kListaCabecalhos, &ZelTiposIEx::kListaVinculos}) {
    uint32_t ulPonteiros = 0;
    for (const auto& c : t->campos) {
      EXPECT_LE(c.ulOffset + c.ulTamanho, t->ulTamanho) << t->szNome << "." << c.szNome;
      if (c.eTipo == ZelLocalTipoValor::Array) {
        ASSERT_NE(t->Campo(c.szContagem), nullptr) << t->szNome << "." << c.szNome;
        ++ulPonteiros;
      }
      if (c.eTipo == ZelLocalTipoValor::Reservado) ++ulPonteiros;
    }
    // Every pointer of a record is described, or it would travel as an address.
    uint32_t ulEsperados = 0;
    for (const char* sz : {"pListaBytes", "pFiller", "pUsuarios", "pCampos", "pPtrs", "pcTexto",
                           "pRegListaCabecalhos", "pRegListaVinculos"})
      if (t->Campo(sz) != nullptr) ++ulEsperados;
    EXPECT_EQ(ulPonteiros, ulEsperados) << t->szNome;
  }
}

TEST(ZelClienteIEx, TodosOsMetodosDaoOMesmoPeloProxyQueDireto) {
  IZelDF_IEx* pDireto = nullptr;
  ASSERT_EQ(CZelFalsoIEx::CriaInstancia(IID_IZelDF_IEx, reinterpret_cast<void**>(&pDireto)), S_OK);
  int64_t nBlocos = CoTaskMemBlocosVivos();
  std::string sDireto = ZelRoteiroIEx(pDireto);
  EXPECT_EQ(CoTaskMemBlocosVivos(), nBlocos);
  pDireto->Release();

  IZelDF_IEx* pProxy = ProxyParaFalso();
  ASSERT_NE(pProxy, nullptr);
  nBlocos = CoTaskMemBlocosVivos();
  std::string sProxy = ZelRoteiroIEx(pProxy);
  pProxy->Release();
  EsperaFalsosLiberados(0);
  // Blocks the server side allocated are freed once replies are sent; the
  // client's copies were freed by the script.
  EXPECT_EQ(CoTaskMemBlocosVivos(), nBlocos);
  EXPECT_EQ(sProxy, sDireto);
  // What the script shows (outputs, partial failures, S_FALSE) is pinned, so
  // that a weaker script cannot pass unseen.
  ZelConfereEsperado("falso_direto", sDireto);
  EXPECT_EQ(CZelFalsoIEx::Vivos(), 0);
}

TEST(ZelClienteIEx, ProxyRecusaSaidaNulaLevaRegistrosInteirosERespondeSoSuasInterfaces) {
  IZelDF_IEx* p = ProxyParaFalso();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->KeepAlive(nullptr), RPC_X_NULL_REF_POINTER);
  EXPECT_EQ(p->LeIEHeader(2, nullptr, nullptr, 0), RPC_X_NULL_REF_POINTER);
  EXPECT_EQ(p->GravaIEHeader(nullptr, IE_HDR_PS{}), RPC_X_NULL_REF_POINTER);
  EXPECT_EQ(p->FuncaoGenerica(1, _REG_CR_LISTA_BYTESPS{}, nullptr), RPC_X_NULL_REF_POINTER);
  // None of them reached the object: its last call is still none.
  _REG_DF_ERROPS erro{};
  ASSERT_EQ(p->GetUltimoErro(&erro), S_OK);
  EXPECT_EQ(erro.nCodigoErro, 0);
  // A null [in] pointer is passed on as null.
  _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS lista{};
  EXPECT_EQ(p->GetListaCabecalhosIntegracao(nullptr, &lista), E_POINTER);

  // Reserved fields travel too: the session's checksum covers them.
  _REG_DF_INICIALIZAPS r = ZelSessaoTeste(1, "app");
  r.ulFiller = 7;
  r.usFiller[0] = 1;
  r.usFiller[2] = 0xFFFF;
  std::strcpy(r.szFiller, "reservado");
  r.uiCRC = ZelCrc64(&r, kBytesCRCInicializacao);
  EXPECT_EQ(p->Inicializa_Padrao(r), S_OK);
  r.szFiller[20] = 'x';  // after the text's end: still covered
  EXPECT_EQ(p->Inicializa_Padrao(r), HR(0x81080C17));
  r.uiCRC = ZelCrc64(&r, kBytesCRCInicializacao);
  EXPECT_EQ(p->Inicializa_Padrao(r), S_OK);

  // Each call waits in the object for the other: both answer S_OK only if
  // they were served at the same time. A lone one gives up, and is not counted for the next pair.
  HRESULT hr1 = E_FAIL, hr2 = E_FAIL;
  I4 b1 = 0, b2 = 0;
  EXPECT_EQ(p->CadastroTeveMovimentacao(kZelFalsoEncontro, 0, &b1), E_ABORT);
  std::thread t([&] { hr1 = p->CadastroTeveMovimentacao(kZelFalsoEncontro, 0, &b1); });
  hr2 = p->CadastroTeveMovimentacao(kZelFalsoEncontro, 0, &b2);
  t.join();
  EXPECT_EQ(hr1, S_OK);
  EXPECT_EQ(hr2, S_OK);
  EXPECT_EQ(b1 + b2, 2);

  // A pure [out] value travels one way: the object finds 0 in it, whatever
  // the caller's variable held, and the caller gets the object's answer.
  const std::pair<const char*, std::function<HRESULT(I4*)>> casos[] = {
      {"KeepAlive", [&](I4* pb) { return p->KeepAlive(pb); }},
      {"CadastroTeveMovimentacao", [&](I4* pb) { return p->CadastroTeveMovimentacao(3, 4, pb); }},
      {"GetProcessoJaCadastradoNaIntegracao",
       [&](I4* pb) { return p->GetProcessoJaCadastradoNaIntegracao({0, IE_PROCESSO_FN_CPA, 0, {}}, pb); }}};
  for (const auto& [szMetodo, fnChama] : casos) {
    I4 b = 77;
    EXPECT_TRUE(SUCCEEDED(fnChama(&b))) << szMetodo;
    EXPECT_EQ(CZelFalsoIEx::SaidaAoChegar(), 0) << szMetodo;
    EXPECT_NE(b, 77) << szMetodo;
  }

  // A byte list past 64 KiB keeps its whole count and every byte both ways.
  std::vector<UI1> aBytes(70000);
  for (size_t i = 0; i < aBytes.size(); ++i) aBytes[i] = static_cast<UI1>(i * 7 + i / 251);
  _REG_CR_LISTA_BYTESPS* pSaida = nullptr;
  ASSERT_EQ(p->FuncaoGenerica(5, {static_cast<UI4>(aBytes.size()), {}, aBytes.data(), nullptr}, &pSaida), S_OK);
  ASSERT_NE(pSaida, nullptr);
  ASSERT_EQ(pSaida->ulQtdBytes, aBytes.size());
  size_t nDiferentes = 0;
  for (size_t i = 0; i < aBytes.size(); ++i)
    nDiferentes += pSaida->pListaBytes[i] != static_cast<UI1>(aBytes[aBytes.size() - 1 - i] ^ 5);
  EXPECT_EQ(nDiferentes, 0u);
  CoTaskMemFree(pSaida->pListaBytes);
  CoTaskMemFree(pSaida);

  void* pv = nullptr;
  EXPECT_EQ(p->QueryInterface(IID_IUnknown, &pv), S_OK);
  EXPECT_EQ(pv, static_cast<void*>(p));
  static_cast<IUnknown*>(pv)->Release();
  EXPECT_EQ(p->QueryInterface(IID_IZelUnknown, &pv), E_NOINTERFACE);
  EXPECT_EQ(pv, nullptr);
  EXPECT_EQ(p->QueryInterface(IID_IClassFactory, &pv), E_NOINTERFACE);
  EXPECT_EQ(p->AddRef(), 2u);
  EXPECT_EQ(p->Release(), 1u);
  EXPECT_EQ(CZelFalsoIEx::Vivos(), 1);
  EXPECT_EQ(p->Release(), 0u);
  EsperaFalsosLiberados(0);
  EXPECT_EQ(CZelFalsoIEx::Vivos(), 0);
}

TEST(ZelClienteIEx, ConexaoPerdidaDaDesconectado) {
  CZelLocalSocket a, b;
  ASSERT_EQ(ZelLocalParSockets(&a, &b), S_OK);
  IZelDF_IEx* p = nullptr;
  ASSERT_EQ(ZelLocalCriaProxy(std::move(b), IID_IZelDF_IEx, reinterpret_cast<void**>(&p)), S_OK);
  a.Fecha();
  I4 bOk = 0;
  EXPECT_EQ(p->KeepAlive(&bOk), RPC_E_DISCONNECTED);
  _REG_CR_LISTA_BYTESPS* pOut = reinterpret_cast<_REG_CR_LISTA_BYTESPS*>(&bOk);
  EXPECT_EQ(p->FuncaoGenerica(1, _REG_CR_LISTA_BYTESPS{}, &pOut), RPC_E_DISCONNECTED);
  EXPECT_EQ(pOut, nullptr);
  p->Release();
}
