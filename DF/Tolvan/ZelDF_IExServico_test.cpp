#include "ZelDF_IExServico.h"

#include <gtest/gtest.h>

#include "IExTeste.h"
#include "Pardak.h"
#include "ZelLocalAtivacao.h"
#include "ZelLocalSeguranca.h"
#include "ZelSessaoTeste.h"

namespace {
_REG_DF_INICIALIZAPS Sessao(const char* szEmpresa = "EMP1") {
  _REG_DF_INICIALIZAPS r = ZelSessaoTeste(77, "DF");
  std::snprintf(r.szEmpresa, sizeof r.szEmpresa, "%s", szEmpresa);
  r.uiCRC = ZelCrc64(&r, kBytesCRCInicializacao);
  return r;
}

struct Liberador {
  void operator()(IZelDF_IEx* p) const { p->Release(); }
};
using PtrObjeto = std::unique_ptr<IZelDF_IEx, Liberador>;

PtrObjeto Cria() {
  void* pv = nullptr;
  EXPECT_EQ(CZelDF_IEx::CriaInstancia(IID_IZelDF_IEx, &pv), S_OK);
  return PtrObjeto(static_cast<IZelDF_IEx*>(pv));
}

using ZelDF_IExTeste = IExTeste;
bool Contem(const std::string& s, const std::string& sParte) { return s.find(sParte) != std::string::npos; }
}  // namespace

TEST_F(ZelDF_IExTeste, ClasseAtendeSoIUnknownEASuaInterface) {
  void* pv = nullptr;
  ASSERT_EQ(CZelDF_IEx::CriaInstancia(IID_IUnknown, &pv), S_OK);
  auto* pUnk = static_cast<IUnknown*>(pv);
  void* pIEx = nullptr;
  EXPECT_EQ(pUnk->QueryInterface(IID_IZelDF_IEx, &pIEx), S_OK);
  void* pOutra = reinterpret_cast<void*>(1);
  EXPECT_EQ(pUnk->QueryInterface(IID_IZelUnknown, &pOutra), E_NOINTERFACE);
  EXPECT_EQ(pOutra, nullptr);
  EXPECT_EQ(pIEx, pv) << "alone, its unknown is its interface";
  static_cast<IUnknown*>(pIEx)->Release();
  EXPECT_EQ(pUnk->Release(), 0u);
}

// An outer object that reaches the service's interface through the inner
// unknown it keeps; it lives on the stack and only counts.
class CExterno final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    if (riid == IID_IZelDF_IEx) return pInterno->QueryInterface(riid, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++nRef; }
  ULONG Release() override { return --nRef; }
  ULONG nRef = 1;
  IUnknown* pInterno = nullptr;
};

TEST_F(ZelDF_IExTeste, ClasseSeAgregaEmProcessoPeloSeuIUnknown) {
  CExterno externo;
  void* pv = reinterpret_cast<void*>(1);
  EXPECT_EQ(CZelDF_IEx::Fabrica()->CreateInstance(&externo, IID_IZelDF_IEx, &pv), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(pv, nullptr);
  ASSERT_EQ(CZelDF_IEx::Fabrica()->CreateInstance(&externo, IID_IUnknown, reinterpret_cast<void**>(&externo.pInterno)),
            S_OK);
  EXPECT_EQ(externo.nRef, 1u) << "making the inner object does not hold the outer one";

  IZelDF_IEx* pIEx = nullptr;
  ASSERT_EQ(externo.QueryInterface(IID_IZelDF_IEx, reinterpret_cast<void**>(&pIEx)), S_OK);
  EXPECT_NE(static_cast<void*>(pIEx), static_cast<void*>(externo.pInterno));
  EXPECT_EQ(externo.nRef, 2u) << "the interface is counted on the outer object";
  // The interface's own unknown is the outer object's.
  void* pUnk = nullptr;
  ASSERT_EQ(pIEx->QueryInterface(IID_IUnknown, &pUnk), S_OK);
  EXPECT_EQ(pUnk, static_cast<void*>(static_cast<IUnknown*>(&externo)));
  EXPECT_EQ(pIEx->AddRef(), 4u);
  I4 bOk = 0;
  EXPECT_EQ(pIEx->KeepAlive(&bOk), S_OK);
  EXPECT_EQ(bOk, 1);
  EXPECT_EQ(pIEx->Release(), 3u);
  static_cast<IUnknown*>(pUnk)->Release();
  pIEx->Release();
  EXPECT_EQ(externo.nRef, 1u);
  void* pNenhuma = nullptr;
  EXPECT_EQ(externo.pInterno->QueryInterface(IID_IZelUnknown, &pNenhuma), E_NOINTERFACE);
  EXPECT_EQ(externo.pInterno->Release(), 0u) << "the inner unknown's last release ends the object";

  // Through the runtime: in process the outer object reaches the class; an
  // object in another process cannot be aggregated.
  DWORD dwCookie = 0;
  ASSERT_EQ(CoRegisterClassObject(CLSID_ZelDF_IEx, CZelDF_IEx::Fabrica(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                  &dwCookie),
            S_OK);
  IUnknown* pInterno = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_ZelDF_IEx, &externo, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&pInterno)),
            S_OK);
  void* pDoInterno = nullptr;
  ASSERT_EQ(pInterno->QueryInterface(IID_IZelDF_IEx, &pDoInterno), S_OK);
  EXPECT_EQ(externo.nRef, 2u) << "made inside the outer object";
  static_cast<IZelDF_IEx*>(pDoInterno)->Release();
  EXPECT_EQ(pInterno->Release(), 0u);
  EXPECT_EQ(CoRevokeClassObject(dwCookie), S_OK);
  EXPECT_EQ(CoCreateInstance(CLSID_ZelDF_IEx, &externo, CLSCTX_LOCAL_SERVER, IID_IUnknown, &pv),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(externo.nRef, 1u);
}

TEST_F(ZelDF_IExTeste, AntesDeInicializarTodoMetodoRecusaSemLinha) {
  PtrObjeto p = Cria();
  const HRESULT kNaoIniciado = HR(0x81080A04);
  UI4 ul = 1;
  IE_HDR_PS hdr{};
  IE_HEADER_FILTRO_PS f{};
  IE_ARRAY_PONTEIROS_PS ptrs{};
  IE_VINCULO_PS v{};
  _REG_IE_CABECALHO_INTEGRACAO_PS cab{};
  _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS lc{};
  _REG_LISTA_IE_VINCULO_INTEGRACAO_PS lv{};
  I4 b = 0;
  EXPECT_EQ(p->LeIEHeader(1, &ul, &hdr, 0), kNaoIniciado);
  EXPECT_EQ(p->GravaIEHeader(&ul, hdr), kNaoIniciado);
  EXPECT_EQ(p->BuscaPtrsIEHeader(f, &ptrs), kNaoIniciado);
  EXPECT_EQ(p->ExisteVinculo(1), kNaoIniciado);
  EXPECT_EQ(p->GravaCamposVinculo(v), kNaoIniciado);
  EXPECT_EQ(p->BuscaVinculosByOrigem(1, 1, &ul, &v), kNaoIniciado);
  EXPECT_EQ(p->NotificaExclusaoOrigem({1, 1}), kNaoIniciado);
  EXPECT_EQ(p->LeCabecalhoIntegracao(1, &cab), kNaoIniciado);
  EXPECT_EQ(p->GravaCabecalhoIntegracao(0, cab, &ul), kNaoIniciado);
  EXPECT_EQ(p->GetPonteirosCabecalhoIntegracaoVoviDadi(&ptrs), kNaoIniciado);
  EXPECT_EQ(p->GetListaCabecalhosIntegracao(&ptrs, &lc), kNaoIniciado);
  EXPECT_EQ(p->ExisteCabecalhoIntegracao(f, f, &cab), kNaoIniciado);
  EXPECT_EQ(p->LeVinculosCabecalhoIntegracao(&cab, &lv), kNaoIniciado);
  EXPECT_EQ(p->GravaVinculosCabecalhosIntegracao(&cab, &lv), kNaoIniciado);
  EXPECT_EQ(p->GetVinculoByIntegracao(f, 1, f, &v), kNaoIniciado);
  EXPECT_EQ(p->GetProcessoJaCadastradoNaIntegracao(f, &b), kNaoIniciado);
  EXPECT_EQ(p->ExcluiIntegracoesQueUsamEsteProcesso(f), kNaoIniciado);
  EXPECT_TRUE(Linhas(ArquivoErrosEmpresa()).empty());
  EXPECT_TRUE(Linhas(ArquivoErrosProgramas()).empty());
  EXPECT_FALSE(ZelExisteDiretorio(m_sVovi));

  // A failed initialisation leaves the object refusing as before.
  EXPECT_EQ(p->Inicializa_Padrao(Sessao("SEMREGISTRO")), HR(0x80043F59));
  EXPECT_EQ(p->ExisteVinculo(1), kNaoIniciado);
  auto r = Sessao();
  r.uiCRC ^= 1;
  EXPECT_EQ(p->Inicializa_Padrao(r), HR(0x81080C17));
  const auto linhas = Linhas(ArquivoErrosProgramas());
  ASSERT_FALSE(linhas.empty());
  EXPECT_TRUE(Contem(linhas.back(), "\tT_ZelUnknown<struct IZelDF_IEx,class CIExBase>::Inicializa_Padrao\t"));
}

// The process names of an entry line's pairs are asked for only when the
// line is written.
TEST_F(ZelDF_IExTeste, LinhasDeEntradaSoQuandoPedidasEDeErroComOMetodo) {
  PtrObjeto p = Cria();
  ASSERT_EQ(p->Inicializa_Padrao(Sessao()), S_OK);
  _REG_IE_CABECALHO_INTEGRACAO_PS cab{};
  int nConsultas = IEConsultasNomeProcesso();
  ASSERT_EQ(p->ExisteCabecalhoIntegracao({0, IE_PROCESSO_FT_NF, 0, {}}, {0, IE_PROCESSO_CM_OC, 0, {}}, &cab), S_OK);
  I4 b = 0;
  ASSERT_EQ(p->GetProcessoJaCadastradoNaIntegracao({0, IE_PROCESSO_FT_NF, 0, {}}, &b), S_OK);
  EXPECT_EQ(IEConsultasNomeProcesso(), nConsultas);
  EXPECT_TRUE(Linhas(LogChamadas()).empty());

  EscreveLogIni("[Log]\nEntrada=1\nZelDataBase=CZelDF_IEx\n");
  IE_ARRAY_PONTEIROS_PS ptrs{};
  ASSERT_EQ(p->GetPonteirosCabecalhoIntegracaoVoviDadi(&ptrs), S_OK);
  nConsultas = IEConsultasNomeProcesso();
  ASSERT_EQ(p->ExisteCabecalhoIntegracao({0, IE_PROCESSO_FT_NF, 0, {}}, {0, IE_PROCESSO_CM_OC, 0, {}}, &cab), S_OK);
  EXPECT_EQ(IEConsultasNomeProcesso(), nConsultas + 2);
  EXPECT_EQ(p->ExisteVinculo(4), S_FALSE) << "a success code passes through";
  IE_ARRAY_PONTEIROS_PS ptrsNF{};
  ASSERT_EQ(p->BuscaPtrsIEHeader({1, IE_PROCESSO_FT_NF, 0, {}}, &ptrsNF), S_OK);
  CoTaskMemFree(ptrsNF.pPtrs);

  auto linhas = Linhas(LogChamadas());
  ASSERT_EQ(linhas.size(), 4u);
  EXPECT_TRUE(Contem(linhas[0], "\tCZelDF_IEx::GetPonteirosCabecalhoIntegracaoVoviDadi\t"));
  EXPECT_TRUE(Contem(linhas[0], "\tENTROU\t"));
  EXPECT_FALSE(Contem(linhas[0], " = ")) << "no pairs";
  EXPECT_TRUE(Contem(linhas[1], "\tIEGetNomeProcesso(regHeaderOrigem.eProc) = FT_NF\t"));
  EXPECT_TRUE(Contem(linhas[1], "\tIEGetNomeProcesso(regHeaderDestino.eProc) = CM_OC"));
  EXPECT_TRUE(Contem(linhas[2], "\tCZelDF_IEx::ExisteVinculo\t"));
  EXPECT_TRUE(Contem(linhas[2], "\tulPosHeader = 4"));
  EXPECT_TRUE(Contem(linhas[3], "\tCZelDF_IEx::BuscaPtrsIEHeader\t"));
  EXPECT_TRUE(Contem(linhas[3], "\tregFiltro.eProc = 29"));
  EXPECT_TRUE(Linhas(ArquivoErrosEmpresa()).empty()) << "S_FALSE writes no error line";
  _REG_IE_CABECALHO_INTEGRACAO_PS cabLido{5, 2, IE_PROCESSO_FT_NF, IE_PROCESSO_CM_OC, 0, 0, {}};
  _REG_LISTA_IE_VINCULO_INTEGRACAO_PS lv{};
  EXPECT_EQ(p->LeVinculosCabecalhoIntegracao(&cabLido, &lv), HR(0x80043E95));  // no link at 5
  EXPECT_TRUE(Contem(Linhas(LogChamadas()).back(), "\tpRegCabecalho->ulPonteiroPrimeiroVinculoIntegracao = 5\t"
                                                   "pRegCabecalho->ulQtdVinculosIntegracoes = 2"));

  // A failure of the business class adds the method's own line.
  IE_CAMPO_DATA_PS aValores[] = {IEValor(IE_CAMPO_LIVRE_V4_0, 1)};
  EXPECT_EQ(p->GravaCamposVinculo({{9, 1}, 1, {}, aValores, nullptr}), HR(0x80043E95));
  UI4 ulChave = 1;
  IE_VINCULO_PS v{};
  EXPECT_EQ(p->BuscaVinculosByOrigem(9, 1, &ulChave, &v), HR(0x80043E95));
  bool bGrava = false, bBusca = false;
  for (const std::string& s : Linhas(ArquivoErrosEmpresa())) {
    bGrava |= Contem(s, "\tCZelDF_IEx::GravaCamposVinculo\t") && Contem(s, "\tZelDF_IEx\t37\thr = pfInSEHFuncao()\t");
    bBusca |= Contem(s, "\tCZelDF_IEx::BuscaVinculosByOrigem\t") && Contem(s, "\tZelDF_IEx\t32\thr = pfInSEHFuncao()\t");
  }
  EXPECT_TRUE(bGrava);
  EXPECT_TRUE(bBusca);
}

TEST_F(ZelDF_IExTeste, FalhasDoRuntimeVaoParaOArquivoDeErrosDoPrograma) {
  ZelInstalaRelatorErroServico();
  ZelLocalRelataErro("ZelLocalServidor", "ZelLocalAtivacao", 403, "hr = socket.RecebeQuadro(&ativacao)", "hr",
                     HR(0x80010108));
  auto linhas = Linhas(ArquivoErrosProgramas());
  ASSERT_EQ(linhas.size(), 1u);
  EXPECT_TRUE(Contem(linhas[0], "\tZelLocalServidor\t"));
  EXPECT_TRUE(Contem(linhas[0], "\tZelLocalAtivacao\t403\thr = socket.RecebeQuadro(&ativacao)\thr = 0X80010108 "));
  ZelLocalDefineRelatorErro(nullptr);
}
