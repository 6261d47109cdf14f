#include "ZelDF_IExServico.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

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

using PtrObjeto = std::unique_ptr<IZelDF_IEx, void (*)(IZelDF_IEx*)>;
PtrObjeto Cria() {
  void* pv = nullptr;
  EXPECT_EQ(CZelDF_IEx::CriaInstancia(IID_IZelDF_IEx, &pv), S_OK);
  return PtrObjeto(static_cast<IZelDF_IEx*>(pv), [](IZelDF_IEx* p) { p->Release(); });
}

using ZelDF_IExTeste = IExTeste;
bool Contem(const std::string& s, const std::string& sParte) { return s.find(sParte) != std::string::npos; }
// An entry line's function and its pairs, tab-separated.
std::string Entrada(const std::string& sLinha) {
  const std::vector<std::string> a = IEColunas(sLinha);
  const auto itEntrou = std::find(a.begin(), a.end(), "ENTROU");
  if (a.end() - itEntrou < 6) return sLinha;
  std::string s =
      *std::find_if(a.begin(), itEntrou, [](const std::string& c) { return c.rfind("CZelDF_IEx::", 0) == 0; });
  for (auto it = itEntrou + 6; it != a.end(); ++it) s += "\t" + *it;
  return s;
}
}  // namespace

// An outer object on the stack that only counts, reaching the interface through the inner unknown.
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

// Alone, its unknown is its interface; aggregated in process, the interface counts on the outer object.
TEST_F(ZelDF_IExTeste, ClasseAtendeSoIUnknownEASuaInterfaceSeAgregaEFalhasDoRuntimeSaoRelatadas) {
  void* pv = nullptr;
  ASSERT_EQ(CZelDF_IEx::CriaInstancia(IID_IUnknown, &pv), S_OK);
  auto* pSozinho = static_cast<IUnknown*>(pv);
  void* pDoSozinho = nullptr;
  EXPECT_EQ(pSozinho->QueryInterface(IID_IZelDF_IEx, &pDoSozinho), S_OK);
  void* pOutra = reinterpret_cast<void*>(1);
  EXPECT_EQ(pSozinho->QueryInterface(IID_IZelUnknown, &pOutra), E_NOINTERFACE);
  EXPECT_EQ(pOutra, nullptr);
  EXPECT_EQ(pDoSozinho, pv) << "alone, its unknown is its interface";
  static_cast<IUnknown*>(pDoSozinho)->Release();
  EXPECT_EQ(pSozinho->Release(), 0u);
  CExterno externo;
  pv = reinterpret_cast<void*>(1);
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
  EXPECT_EQ(externo.pInterno->QueryInterface(IID_IZelUnknown, &pOutra), E_NOINTERFACE);
  EXPECT_EQ(externo.pInterno->Release(), 0u) << "the inner unknown's last release ends the object";
  // Through the runtime: in process the outer object reaches the class; one in another process cannot.
  DWORD dwCookie = 0;
  ASSERT_EQ(CoRegisterClassObject(CLSID_ZelDF_IEx, CZelDF_IEx::Fabrica(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                  &dwCookie),
            S_OK);
  ASSERT_EQ(CoCreateInstance(CLSID_ZelDF_IEx, &externo, CLSCTX_INPROC_SERVER, IID_IUnknown, &pv), S_OK);
  auto* pInterno = static_cast<IUnknown*>(pv);
  void* pDoInterno = nullptr;
  ASSERT_EQ(pInterno->QueryInterface(IID_IZelDF_IEx, &pDoInterno), S_OK);
  EXPECT_EQ(externo.nRef, 2u) << "made inside the outer object";
  static_cast<IZelDF_IEx*>(pDoInterno)->Release();
  EXPECT_EQ(pInterno->Release(), 0u);
  // An in-process class that refuses is the answer: no server is looked for.
  EXPECT_EQ(
      CoCreateInstance(CLSID_ZelDF_IEx, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IClassFactory, &pv),
      E_NOINTERFACE);
  EXPECT_EQ(pv, nullptr);
  EXPECT_EQ(CoRevokeClassObject(dwCookie), S_OK);
  EXPECT_EQ(CoCreateInstance(CLSID_ZelDF_IEx, &externo, CLSCTX_LOCAL_SERVER, IID_IUnknown, &pv), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(externo.nRef, 1u);
  // The runtime's own failures go to the programs' error file.
  ZelInstalaRelatorErroServico();
  ZelLocalRelataErro("ZelLocalServidor", "ZelLocalAtivacao", 403, "hr = socket.RecebeQuadro(&ativacao)", "hr",
                     HR(0x80010108));
  auto linhas = Linhas(ArquivoErrosProgramas());
  ASSERT_EQ(linhas.size(), 1u);
  EXPECT_TRUE(Contem(linhas[0], "\tZelLocalServidor\t"));
  EXPECT_TRUE(Contem(linhas[0], "\tZelLocalAtivacao\t403\thr = socket.RecebeQuadro(&ativacao)\thr = 0X80010108 "));
  ZelLocalDefineRelatorErro(nullptr);
}

// Every method refuses without a line until started; then entry lines ask for process names only when written.
TEST_F(ZelDF_IExTeste, AntesDeInicializarRecusaEDepoisLinhasDeEntradaEDeErroComOMetodo) {
  PtrObjeto p = Cria();
  const HRESULT kNaoIniciado = HR(0x81080A04);
  UI4 ul = 9, aZero[] = {0};
  IE_CAMPO_DATA_PS aValores[] = {IEValor(IE_CAMPO_LIVRE_V4_0, 1)};
  IE_VINCULO_PS v{}, vinculo{{9, 4}, 1, {}, aValores, nullptr};
  const IE_HDR_PS hdr{0, IE_PROCESSO_COUNT, 0, {}, nullptr, nullptr};
  _REG_IE_CABECALHO_INTEGRACAO_PS cabLido{5, 2, IE_PROCESSO_FT_NF, IE_PROCESSO_CM_OC, 0, 0, {}};
  _REG_LISTA_IE_VINCULO_INTEGRACAO_PS lv{};
  _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS lc{};
  IE_ARRAY_PONTEIROS_PS ptrs{}, ptrZero{1, {}, aZero, nullptr};
  const IE_HEADER_FILTRO_PS nf{0, IE_PROCESSO_FT_NF, 0, {}}, oc{0, IE_PROCESSO_CM_OC, 0, {}};
  const IE_HEADER_FILTRO_PS fora{1, IE_PROCESSO_COUNT, 0, {}};
  const IE_ORIGEM_VINCULO_PS semChave{9, 0};
  const std::string sCabecalho =
      "\tpRegCabecalho->eProcessoOrigem = 29\tpRegCabecalho->eProcessoDestino = 23\t"
      "pRegCabecalho->ulPonteiroPrimeiroVinculoIntegracao = 5\tpRegCabecalho->ulQtdVinculosIntegracoes = 2";
  const struct {
    std::function<HRESULT()> fChamada;
    std::string sEntrada;
    int nLinha;
  } casos[] = {
      {[&] { return p->LeIEHeader(1, &ul, nullptr, 3); }, "LeIEHeader\tuiQtd = 1\tdwFlags = 3", 12},
      {[&] { return p->GravaIEHeader(&ul, hdr); }, "GravaIEHeader\t*pulPos = 9\tps.eProcesso = 69", 17},
      {[&] { return p->BuscaPtrsIEHeader(fora, &ptrs); }, "BuscaPtrsIEHeader\tregFiltro.eProc = 69", 22},
      {[&] { return p->ExisteVinculo(6); }, "ExisteVinculo\tulPosHeader = 6", 0},
      {[&] { return p->GravaCamposVinculo(vinculo); },
       "GravaCamposVinculo\tregVinculo.origem.lPosHeader = 9\tregVinculo.origem.lChave = 4", 37},
      {[&] { return p->BuscaVinculosByOrigem(9, 1, &ul, &v); }, "BuscaVinculosByOrigem\tulPosHeader = 9\tuiQtd = 1",
       32},
      {[&] { return p->NotificaExclusaoOrigem(semChave); },
       "NotificaExclusaoOrigem\tregOrigem.lPosHeader = 9\tregOrigem.lChave = 0", 42},
      {[&] { return p->LeCabecalhoIntegracao(7, nullptr); }, "LeCabecalhoIntegracao\tulPosicao = 7", 47},
      {[&] { return p->GravaCabecalhoIntegracao(3, cabLido, nullptr); },
       "GravaCabecalhoIntegracao\tulPosicaoIn = 3\treg.eProcessoOrigem = 29\treg.eProcessoDestino = 23", 52},
      {[&] { return p->GetPonteirosCabecalhoIntegracaoVoviDadi(nullptr); }, "GetPonteirosCabecalhoIntegracaoVoviDadi",
       57},
      {[&] { return p->GetListaCabecalhosIntegracao(&ptrZero, &lc); },
       "GetListaCabecalhosIntegracao\tpRegPonteiros->qtd = 1", 62},
      {[&] { return p->GetListaCabecalhosIntegracao(nullptr, &lc); },
       "GetListaCabecalhosIntegracao\tpRegPonteiros->qtd = 0", 62},
      {[&] { return p->ExisteCabecalhoIntegracao(nf, oc, nullptr); },
       "ExisteCabecalhoIntegracao\tIEGetNomeProcesso(regHeaderOrigem.eProc) = FT_NF\t"
       "IEGetNomeProcesso(regHeaderDestino.eProc) = CM_OC",
       67},
      {[&] { return p->LeVinculosCabecalhoIntegracao(&cabLido, &lv); }, "LeVinculosCabecalhoIntegracao" + sCabecalho,
       72},
      {[&] { return p->GravaVinculosCabecalhosIntegracao(&cabLido, nullptr); },
       "GravaVinculosCabecalhosIntegracao" + sCabecalho, 77},
      {[&] { return p->GetVinculoByIntegracao(oc, 8, nf, nullptr); },
       "GetVinculoByIntegracao\tIEGetNomeProcesso(headerOrigem.eProc) = CM_OC\tulPosRegistroOrigem = 8\t"
       "IEGetNomeProcesso(headerDestino.eProc) = FT_NF",
       82},
      {[&] { return p->GetProcessoJaCadastradoNaIntegracao(oc, nullptr); },
       "GetProcessoJaCadastradoNaIntegracao\tIEGetNomeProcesso(header.eProc) = CM_OC", 87},
      {[&] { return p->ExcluiIntegracoesQueUsamEsteProcesso(nf); },
       "ExcluiIntegracoesQueUsamEsteProcesso\tIEGetNomeProcesso(header.eProc) = FT_NF", 0},
  };
  for (const auto& c : casos) EXPECT_EQ(c.fChamada(), kNaoIniciado) << c.sEntrada;
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
  p = Cria();  // the cases' calls now go to a fresh object
  ASSERT_EQ(p->Inicializa_Padrao(Sessao()), S_OK);
  _REG_IE_CABECALHO_INTEGRACAO_PS cab{};
  int nConsultas = IEConsultasNomeProcesso();
  ASSERT_EQ(p->ExisteCabecalhoIntegracao(nf, oc, &cab), S_OK);
  I4 b = 0;
  ASSERT_EQ(p->GetProcessoJaCadastradoNaIntegracao(nf, &b), S_OK);
  EXPECT_EQ(IEConsultasNomeProcesso(), nConsultas);
  EXPECT_TRUE(Linhas(LogChamadas()).empty());
  EscreveLogIni("[Log]\nEntrada=1\nZelDataBase=CZelDF_IEx\n");
  ASSERT_EQ(p->GetPonteirosCabecalhoIntegracaoVoviDadi(&ptrs), S_OK);
  nConsultas = IEConsultasNomeProcesso();
  ASSERT_EQ(p->ExisteCabecalhoIntegracao(nf, oc, &cab), S_OK);
  EXPECT_EQ(IEConsultasNomeProcesso(), nConsultas + 2);
  EXPECT_EQ(p->ExisteVinculo(4), S_FALSE) << "a success code passes through";
  EXPECT_TRUE(Linhas(ArquivoErrosEmpresa()).empty()) << "S_FALSE writes no error line";
  // Each method's pairs, and its business method's failure with its own source line (0: the call succeeds).
  for (const auto& c : casos) {
    SCOPED_TRACE(c.sEntrada);
    const size_t nErros = Linhas(ArquivoErrosEmpresa()).size();
    EXPECT_EQ(FAILED(c.fChamada()), c.nLinha != 0);
    EXPECT_EQ(Entrada(Linhas(LogChamadas()).back()), "CZelDF_IEx::" + c.sEntrada);
    const auto erros = Linhas(ArquivoErrosEmpresa());
    ASSERT_EQ(erros.size() > nErros, c.nLinha != 0);
    if (c.nLinha == 0) continue;
    EXPECT_TRUE(Contem(erros.back(), "\tCZelDF_IEx::" + c.sEntrada.substr(0, c.sEntrada.find('\t')) + "\t") &&
                Contem(erros.back(), "\tZelDF_IEx\t" + std::to_string(c.nLinha) + "\thr = pfInSEHFuncao()\thr = 0X"))
        << erros.back();
  }
}
