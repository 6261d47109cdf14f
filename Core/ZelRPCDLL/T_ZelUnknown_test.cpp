#include "T_ZelUnknown.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <new>
#include <stdexcept>
#include <tuple>

#include "ZelAmbienteTeste.h"
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif
#include "ZelParametroInvalido.h"
#include "ZelTempo.h"

namespace {
volatile int g_nNuncaAlcancado = -1;
// Where a faulting read's result goes: unused, the optimiser dropped the call.
volatile int g_nLido = 0;
// 1: the business object's constructor throws; 2: it faults.
std::atomic<int> g_iConstrutorFalha{0};
// Its destructor: 1 faults; 2 passes an invalid parameter.
std::atomic<int> g_iDestrutorFalha{0};
std::atomic<HRESULT> g_hrOnInicializa{S_OK};
// A business object whose start answers S_OK and yet leaves it unstarted.
std::atomic<bool> g_bFingeNaoIniciado{false};

__attribute__((no_sanitize("address", "undefined"), noinline)) int LeNulo() {
  volatile int* p = nullptr;
  return *p;
}
__attribute__((no_sanitize("address", "undefined"), noinline)) int Divide(int a, int b) {
  volatile int x = a, y = b;
  return x / y;
}
__attribute__((no_sanitize("address", "undefined"), noinline)) int Recursa(int n) {
  volatile char buf[256];
  buf[0] = static_cast<char>(n);
  if (n == g_nNuncaAlcancado) return 0;
  return Recursa(n + 1) + buf[0];
}
HRESULT CopiaLongaDemais() {
  char sz[2];
  strcpy_s(sz, sizeof sz, "longo demais");
  return S_OK;
}

class CTesteBase : public CZelBaseParaRotinas {
 public:
  CTesteBase() {
    if (g_iConstrutorFalha == 1) throw std::runtime_error("construtor");
    if (g_iConstrutorFalha == 2) g_nLido = LeNulo();
  }
  ~CTesteBase() override {
    if (g_iDestrutorFalha == 1) g_nLido = LeNulo();
    if (g_iDestrutorFalha == 2) CopiaLongaDemais();
  }
  bool EstaInicializado() const { return !g_bFingeNaoIniciado && CZelBaseParaRotinas::EstaInicializado(); }
  HRESULT FuncaoGenerica(unsigned long ulFuncao, const _REG_CR_LISTA_BYTESPS&, _REG_CR_LISTA_BYTESPS**) override {
    return ulFuncao == 7 ? S_FALSE : CZelBaseParaRotinas::FuncaoGenerica(ulFuncao, {}, nullptr);
  }

 protected:
  HRESULT OnInicializa() override { return g_hrOnInicializa; }
};

// What a method does in the business object.
using Corpo = HRESULT (*)(CTesteBase&);
HRESULT Sucesso(CTesteBase&) { return S_OK; }
HRESULT Falso(CTesteBase&) { return S_FALSE; }
HRESULT Falha(CTesteBase&) { return E_INVALIDARG; }
HRESULT RastreiaFalha(CTesteBase& b) {
  ZelTraceHR(&b, "CTesteBase::Faz", "TesteBase", 9, "hr = arq.Grava()", "hr", HR(0x80043EEE));
  return HR(0x80043EEE);
}

class CTesteObjeto : public T_ZelUnknown<IZelUnknown, CTesteBase> {
 public:
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }

  // bDescarta: discarded between entry check and body, as by another thread's fault (entry lines on).
  HRESULT Metodo(Corpo corpo, int nModo = 0, bool bDescarta = false) {
    auto fnPares = [this, nModo, bDescarta] {
      if (bDescarta) DescartaBase();
      return ZelPares{{"modo", std::to_string(nModo)}};
    };
    return ChamaGuardado("CTesteObjeto::Metodo", "TesteObjeto", 12, true, fnPares, corpo);
  }
  bool TemBase() const { return Base() != nullptr; }

  int nHooks = 0;
  HRESULT hrHook = E_NOTIMPL;
  std::string sRecebido;  // per hook, the pointer and each change's type and size
  HRESULT OnAlteracaoMultiplaCadastro(UI4 ulPonteiro, ListaAlteracoes& lista) override {
    ++nHooks;
    sRecebido += std::to_string(ulPonteiro) + ":";
    for (const auto& a : lista)
      sRecebido += " " + std::to_string(a.GetTipoAlteracao()) + "/" + std::to_string(a.GetBytes().size());
    sRecebido += ";";
    return hrHook;
  }
};

void Recalcula(_REG_DF_INICIALIZAPS& r) { r.uiCRC = ZelCrc64(&r, kBytesCRCInicializacao); }

_REG_DF_INICIALIZAPS RegistroValido(UI2 usVersao = 138) {
  _REG_DF_INICIALIZAPS r{};
  r.ulUsuario = 5;
  r.ulNumeroSessao = 77;
  r.ulLinhaFonte = 10;
  r.usVersaoMorvo = usVersao;
  std::strcpy(r.szEmpresa, "EMP1");
  std::strcpy(r.szAplicativo, "DF");
  std::strcpy(r.szModuleName, "df.exe");
  std::strcpy(r.szArquivoFonte, "cliente.cpp");
  r.cControle = 'B';
  Recalcula(r);
  return r;
}

class TZelUnknownTeste : public ZelAmbienteTeste {
 protected:
  void SetUp() override {
    ZelAmbienteTeste::SetUp();
    g_iConstrutorFalha = 0;
    g_iDestrutorFalha = 0;
    g_hrOnInicializa = S_OK;
    g_bFingeNaoIniciado = false;
    ZelReiniciaPrevineErroRPC();
  }
  size_t LinhasErro() { return Linhas(ArquivoErrosEmpresa()).size() + Linhas(ArquivoErrosProgramas()).size(); }
  std::string UltimaLinhaErroProgramas() {
    auto v = Linhas(ArquivoErrosProgramas());
    return v.empty() ? "" : v.back();
  }
};

// A process that has read nothing yet: without the suite's key it yields.
ZEL_AJUDANTE(PrevineErroRPCSemChave) {
  PrevineErroRPC();
  return ZelPrevineErroRPCAtivo() && ZelLeiturasPrevineErroRPC() == 0 ? 0 : 1;
}

bool Contem(const std::string& s, const std::string& p) { return s.find(p) != std::string::npos; }
void ConfereLinha(const std::string& sLinha, std::initializer_list<std::string> fragmentos) {
  for (const std::string& s : fragmentos) EXPECT_TRUE(Contem(sLinha, s)) << s << "\n" << sLinha;
}
}  // namespace

TEST_F(TZelUnknownTeste, SemControleSoAVersaoDiferenteDe138Falha) {
  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "DesabilitaControleInicializacao", 1),
            ERROR_SUCCESS);
  CTesteObjeto obj;
  // 394 is 138 in its low byte: the whole number is compared.
  for (UI2 v : {UI2{137}, UI2{139}, UI2{394}}) EXPECT_EQ(obj.Inicializa_Padrao(RegistroValido(v)), HR(0x81080BFD)) << v;
  auto linhas = Linhas(ArquivoErrosProgramas());
  ASSERT_EQ(linhas.size(), 3u);
  ConfereLinha(linhas[0], {"\tT_ZelUnknown<struct IZelUnknown,class (anonymous namespace)::CTesteBase>::"
                           "Inicializa_Padrao\t",
                           "\tT_ZelUnknown\t40\thr = E_ZELCR_VERSAO_INCOMPATIVEL\thr = 0X81080BFD "});

  // A wrong check sum and an empty application pass.
  auto r = RegistroValido();
  r.szAplicativo[0] = '\0';
  r.uiCRC = 12345;
  EXPECT_EQ(obj.Inicializa_Padrao(r), S_OK);
  EXPECT_EQ(obj.GetEmpresa(), "EMP1");
  EXPECT_EQ(obj.GetUsuario(), 5);
  EXPECT_EQ(obj.GetNumeroSessao(), 77u);
  EXPECT_EQ(obj.Metodo(Sucesso), S_OK);
}

TEST_F(TZelUnknownTeste, RegistrosRejeitadosPreservamOAceitoEFalhaNoInicioDescartaONegocio) {
  // The check sum is tested first: the others are broken behind a good one.
  const std::pair<void (*)(_REG_DF_INICIALIZAPS&), uint32_t> casos[] = {
      {[](_REG_DF_INICIALIZAPS& r) { r.uiCRC ^= 1; }, 0x81080C17},
      // The sum covers the filler too, up to the sum itself.
      {[](_REG_DF_INICIALIZAPS& r) { r.szFiller[sizeof r.szFiller - 1] ^= 1; }, 0x81080C17},
      {[](_REG_DF_INICIALIZAPS& r) { r.cControle = 'b'; }, 0x81080C19},
      {[](_REG_DF_INICIALIZAPS& r) { r.ulLinhaFonte = 0; }, 0x81080C19},
      {[](_REG_DF_INICIALIZAPS& r) { r.szArquivoFonte[0] = '\0'; }, 0x81080C19},
      {[](_REG_DF_INICIALIZAPS& r) { r.szModuleName[0] = '\0'; }, 0x81080C19},
      {[](_REG_DF_INICIALIZAPS& r) { r.szAplicativo[0] = '\0'; }, 0x81080C19},
      {[](_REG_DF_INICIALIZAPS& r) { r = RegistroValido(137); }, 0x81080BFD},
  };
  CTesteObjeto obj;
  const auto aceito = RegistroValido();
  ASSERT_EQ(obj.Inicializa_Padrao(aceito), S_OK);
  for (const auto& [pfEstraga, hr] : casos) {
    auto r = RegistroValido();
    pfEstraga(r);
    if (hr != 0x81080C17) Recalcula(r);
    EXPECT_EQ(obj.Inicializa_Padrao(r), HR(hr)) << std::hex << hr;
  }
  // Started, the object traces under its company.
  auto linhas = Linhas(ArquivoErrosEmpresa());
  ASSERT_EQ(linhas.size(), 8u);
  for (size_t i : {0, 1}) ConfereLinha(linhas[i], {"\tT_ZelUnknown\t49\thr = E_ZELCR_CRC_INICIALIZACAO_INVALIDO\t"});
  ConfereLinha(linhas[2], {"\tT_ZelUnknown\t66\thr = E_ZELCR_ESTRUTURA_INICIALIZACAO_INVALIDA\t"});
  EXPECT_EQ(std::memcmp(obj.GetRegistroInicializacao(), &aceito, sizeof aceito), 0);
  EXPECT_EQ(obj.Metodo(Sucesso), S_OK);

  // A failed start zeroes the record and discards the business object.
  CTesteObjeto outro;
  g_hrOnInicializa = E_ACCESSDENIED;
  EXPECT_EQ(outro.Inicializa_Padrao(RegistroValido()), E_ACCESSDENIED);
  linhas = Linhas(ArquivoErrosEmpresa());
  ASSERT_EQ(linhas.size(), 9u) << "traced under the company it was starting for";
  ConfereLinha(linhas.back(), {"\tEEMP1\tU005\t", "\tT_ZelUnknown\t74\thr = pfInSEHFuncao()\thr = 0X80070005 "});
  _REG_DF_INICIALIZAPS zero{};
  EXPECT_EQ(std::memcmp(outro.GetRegistroInicializacao(), &zero, sizeof zero), 0);
  EXPECT_FALSE(outro.TemBase());
  g_hrOnInicializa = S_OK;
  EXPECT_EQ(outro.Inicializa_Padrao(RegistroValido()), HR(0x81080AA8));
  EXPECT_EQ(outro.Metodo(Sucesso), HR(0x81080A04));

  // S_OK without becoming started: the object is not kept either.
  CTesteObjeto fingido;
  g_bFingeNaoIniciado = true;
  EXPECT_EQ(fingido.Inicializa_Padrao(RegistroValido()), S_OK);
  g_bFingeNaoIniciado = false;
  EXPECT_FALSE(fingido.TemBase());
  EXPECT_EQ(fingido.Metodo(Sucesso), HR(0x81080A04));
}

TEST_F(TZelUnknownTeste, SemInicializarMetodosNaoEscrevemNadaEAlteracoesMultiplasPassamPelosGanchos) {
  CTesteObjeto obj;
  EXPECT_EQ(obj.Metodo(Falha), HR(0x81080A04));
  _REG_CR_LISTA_BYTESPS lista{};
  _REG_CR_LISTA_BYTESPS* pSaida = nullptr;
  EXPECT_EQ(obj.FuncaoGenerica(1, lista, &pSaida), HR(0x81080A04));
  EXPECT_EQ(obj.AlteracaoMultiplaCadastro(0, nullptr, 0, nullptr), S_OK);
  EXPECT_EQ(obj.nHooks, 0);
  EXPECT_FALSE(ZelExisteArquivo(ArquivoErrosProgramas()));
  EXPECT_EQ(LinhasErro(), 0u);
  UI4 aPonteiros[3] = {1, 2, 3};
  UI1 aBytes[2] = {9, 8};
  _REG_CR_ALTERACAOPS alteracao{};
  alteracao.regDados.ulQtdBytes = 2;
  alteracao.regDados.pListaBytes = aBytes;
  EXPECT_EQ(obj.AlteracaoMultiplaCadastro(1, aPonteiros, 1, &alteracao), E_NOTIMPL);
  EXPECT_EQ(obj.nHooks, 1);
  ASSERT_EQ(LinhasErro(), 1u);
  ConfereLinha(UltimaLinhaErroProgramas(),
               {"\tT_ZelUnknown\t120\thr = OnAlteracaoMultiplaCadastro(ulPonteiro, listaAlteracoes)\t"});

  obj.hrHook = S_FALSE;
  EXPECT_EQ(obj.AlteracaoMultiplaCadastro(3, aPonteiros, 1, &alteracao), S_FALSE) << "a success code stops it too";
  EXPECT_EQ(obj.nHooks, 2);
  EXPECT_EQ(LinhasErro(), 2u) << "and is traced";
  // Pointers or changes announced without their arrays reach no hook, and say so.
  EXPECT_EQ(obj.AlteracaoMultiplaCadastro(1, nullptr, 0, nullptr), E_POINTER);
  EXPECT_EQ(obj.AlteracaoMultiplaCadastro(1, aPonteiros, 2, nullptr), E_POINTER);
  EXPECT_EQ(obj.nHooks, 2);
  EXPECT_EQ(LinhasErro(), 4u);
  ConfereLinha(UltimaLinhaErroProgramas(),
               {"::AlteracaoMultiplaCadastro\t", "\tT_ZelUnknown\t120\thr = E_POINTER\thr = 0X80004003 "});
  // Every hook gets every change, in order.
  obj.hrHook = S_OK;
  obj.sRecebido.clear();
  _REG_CR_ALTERACAOPS duas[2] = {alteracao, alteracao};
  duas[0].ulTipoAlteracao = 4;
  duas[1].ulTipoAlteracao = 6;
  duas[1].regDados.ulQtdBytes = 1;
  EXPECT_EQ(obj.AlteracaoMultiplaCadastro(2, aPonteiros, 2, duas), S_OK);
  EXPECT_EQ(obj.sRecebido, "1: 4/2 6/1;2: 4/2 6/1;");

  UI8 aMovimentos[1] = {42};
  EXPECT_EQ(obj.AlteracaoMultiplaMovimento(1, aMovimentos, 0, nullptr), E_NOTIMPL);
  ConfereLinha(UltimaLinhaErroProgramas(),
               {"\tT_ZelUnknown\t139\thr = OnAlteracaoMultiplaMovimento(regDMC, listaAlteracoes)\t"});

  I4 b = 1234;
  EXPECT_EQ(obj.CadastroTeveMovimentacao(1, 2, &b), E_NOTIMPL);
  EXPECT_EQ(b, 1234);
}

TEST_F(TZelUnknownTeste, SucessosNaoSaoErrosFalhasPassamPeloNegocioEExcecoesViramCodigos) {
  CTesteObjeto obj;
  ASSERT_EQ(obj.Inicializa_Padrao(RegistroValido()), S_OK);
  EXPECT_EQ(obj.Metodo(Sucesso), S_OK);
  EXPECT_EQ(CZelBaseParaRotinas::GetAcessoServidoresDefault(), nullptr) << "the call's default access ends with it";
  EXPECT_EQ(obj.Metodo(Falso), S_FALSE);
  EXPECT_EQ(LinhasErro(), 0u);
  EXPECT_EQ(obj.Metodo(Falha), E_INVALIDARG);
  auto linhas = Linhas(ArquivoErrosEmpresa());
  ASSERT_EQ(linhas.size(), 1u);
  ConfereLinha(linhas[0], {"\tCTesteObjeto::Metodo\t{", "\tEEMP1\tU005\tS00000077\t",
                           "\tEMP1\t5\t77\t\tDF\tdf.exe\tcliente.cpp\t10\t",
                           "\tTesteObjeto\t12\thr = pfInSEHFuncao()\thr = 0X80070057 "});

  // GetUltimoErro and FuncaoGenerica pass through the business object.
  EXPECT_EQ(obj.Metodo(RastreiaFalha), HR(0x80043EEE));
  _REG_DF_ERROPS reg{};
  EXPECT_EQ(obj.GetUltimoErro(&reg), S_OK);
  EXPECT_EQ(reg.hr, HR(0x80043EEE));
  EXPECT_STREQ(reg.szEmpresa, "EMP1");
  EXPECT_TRUE(Contem(reg.cMensagem, "CTesteBase::Faz"));
  EXPECT_EQ(Linhas(ArquivoErrosEmpresa()).size(), 1u + 2u) << "one line where it failed, one at the frame";
  _REG_CR_LISTA_BYTESPS lista{};
  EXPECT_EQ(obj.FuncaoGenerica(7, lista, nullptr), S_FALSE);
  EXPECT_EQ(obj.FuncaoGenerica(1, lista, nullptr), E_NOTIMPL);
  linhas = Linhas(ArquivoErrosEmpresa());
  ASSERT_EQ(linhas.size(), 4u);
  ConfereLinha(linhas[3], {"::FuncaoGenerica\t", "\tT_ZelUnknown\t104\thr = pfInSEHFuncao()\thr = 0X80004001 "});

  // The object goes on serving after each.
  const std::pair<Corpo, uint32_t> excecoes[] = {
      {[](CTesteBase&) -> HRESULT { throw std::bad_alloc(); }, 0x8004EA64},
      {[](CTesteBase&) -> HRESULT { throw std::logic_error("x"); }, 0x8004EA65},
      {[](CTesteBase&) -> HRESULT { throw 1.5; }, 0x8004EA66},
      {[](CTesteBase&) -> HRESULT { AfxThrowFileException(CFileException::accessDenied, ERROR_ACCESS_DENIED); },
       0x80070005},
      {[](CTesteBase&) -> HRESULT { throw new CZelException("m", 1L, 0L); }, 0x8004EA61},
      {[](CTesteBase&) -> HRESULT { throw static_cast<long>(HR(0x80041234)); }, 0x80041234},
  };
  for (const auto& [corpo, hr] : excecoes) EXPECT_EQ(obj.Metodo(corpo), HR(hr)) << std::hex << hr;
  EXPECT_EQ(obj.Metodo(Sucesso), S_OK);
  linhas = Linhas(ArquivoErrosEmpresa());
  ASSERT_EQ(linhas.size(), 4u + 6u);
  for (size_t i = 4; i < linhas.size(); ++i)
    ConfereLinha(linhas[i], {"\thr = ZelTranslateThrownExceptionToHresult()\thr = 0X8"});

  // An invalid parameter is reported and answers its errno's code; the runtime's report reaches the message library.
  EXPECT_EQ(obj.Metodo([](CTesteBase&) { return CopiaLongaDemais(); }), HR(0x8004EAFB));
  EXPECT_EQ(obj.Metodo(Sucesso), S_OK);
  ConfereLinha(UltimaLinhaErroProgramas(),
               {"\tZelTrataErroExported\t", "\tIdentificacao = ZelAcessoServidores EEMP1 U005 S00000077\t",
                "\tTesteObjeto\t12\tRelatorio = 0X81080BB1\tHR = 0X8004EAFB\tMensagem = 2147483647\t",
                "\tExpression = (\"Buffer is too small\" && 0)\tFunction = strcpy_s\tFile = \tLine = 0\t",
                "\tFlag = 1\t"});
  // The runtime's wide texts are reported in Windows-1252.
  ZelInstalaReporterParametroInvalido("TesteObjeto", 12);
  errno = EINVAL;
  long lLancado = 0;
  try {
    _invalid_parameter(L"(s != \u201Cx\u201D) \u20AC \u4E2D", L"fun\u00E7\u00E3o", L"arq.cpp", 7, 0);
  } catch (long l) {
    lLancado = l;
  }
  _set_thread_local_invalid_parameter_handler(nullptr);
  EXPECT_EQ(lLancado, static_cast<long>(HR(0x8004EAF0)));
  ConfereLinha(UltimaLinhaErroProgramas(),
               {"\tExpression = (s != \x93x\x94) \x80 ?\tFunction = fun\xE7\xE3o\tFile = arq.cpp\tLine = 7\t"});
}

TEST_F(TZelUnknownTeste, FalhaDeMaquinaDescartaONegocioEDizOndeFoiAoConstruirOuDescartar) {
  const std::pair<Corpo, uint32_t> falhas[] = {{[](CTesteBase&) -> HRESULT { return LeNulo(); }, 0x8004EAC5},
                                               {[](CTesteBase&) -> HRESULT { return Divide(1, 0); }, 0x8004EAD3},
                                               {[](CTesteBase&) -> HRESULT { return Recursa(0); }, 0x8004EADA}};
  for (const auto& [corpo, hr] : falhas) {
    CTesteObjeto obj;
    ASSERT_EQ(obj.Inicializa_Padrao(RegistroValido()), S_OK);
    EXPECT_EQ(obj.Metodo(corpo), HR(hr));
    EXPECT_FALSE(obj.TemBase());
    EXPECT_EQ(obj.Metodo(Sucesso), HR(0x81080A04));
    const std::string sLinha = UltimaLinhaErroProgramas(), sPrograma = ZelCaminhoPrograma();
    ConfereLinha(sLinha, {"\tRelatorio = 0X81080BB1\tHR = ",
                          "\tMensagem = 2147483647\tIdentificacao = EMP1\tFlag = 1\tModulo = " + sPrograma + "\t"});
    // The stack text ends the line, its frames joined on it.
    const std::string sPilha = sLinha.substr(sLinha.find("\tModulo = ") + 11 + sPrograma.size());
    ConfereLinha(sPilha, {sPrograma.substr(sPrograma.rfind('/') + 1) + "!", " | "});

    // Without its business object it still answers KeepAlive and GetUltimoErro.
    I4 bOK = 0;
    EXPECT_EQ(obj.KeepAlive(&bOK), S_OK);
    EXPECT_EQ(bOK, 1);
    _REG_DF_ERROPS reg;
    std::memset(&reg, 0xAB, sizeof reg);
    EXPECT_EQ(obj.GetUltimoErro(&reg), S_OK);
    _REG_DF_ERROPS zero{};
    EXPECT_EQ(std::memcmp(&reg, &zero, sizeof reg), 0);
    EXPECT_EQ(obj.GetUltimoErro(nullptr), S_OK);
    EXPECT_EQ(obj.KeepAlive(nullptr), E_POINTER);
  }
  EXPECT_EQ(Linhas(ArquivoErrosEmpresa()).size(), 3u);

  // A fault while the business object is built or freed says where it was.
  const std::tuple<int, uint32_t, std::string> casos[] = {
      {1, 0x8004EA65, "ZelTranslateThrownExceptionToHresult()\tm_hrConstruct = 0X8004EA65 "},
      {2, 0x8004EAC5, "pfInSEHFuncao()\tm_hrConstruct = 0X8004EAC5 "}};
  size_t nLinhas = Linhas(ArquivoErrosProgramas()).size();
  for (const auto& [iFalha, hr, sTraco] : casos) {
    g_iConstrutorFalha = iFalha;
#if defined(__SANITIZE_ADDRESS__)
    // A fault leaves by a jump, past the destructors: the half-built object stays allocated.
    __lsan::ScopedDisabler semVazamento;
#endif
    CTesteObjeto obj;
    EXPECT_EQ(obj.FinalConstruct(), HR(hr)) << iFalha;
    EXPECT_FALSE(obj.TemBase());
    auto linhas = Linhas(ArquivoErrosProgramas());
    // A machine fault is also reported, with its stack, before the trace.
    nLinhas += iFalha == 2 ? 2 : 1;
    ASSERT_EQ(linhas.size(), nLinhas);
    ConfereLinha(linhas.back(), {"::T_ZelUnknown\t", "\tT_ZelUnknown\t14\tm_hrConstruct = " + sTraco});
    if (iFalha == 2)
      ConfereLinha(linhas[nLinhas - 2], {"\tZelTrataErroExported\t",
                                         "\tT_ZelUnknown\t14\tRelatorio = 0X81080BB1\tHR = 0X8004EAC5\t"});
  }
  g_iConstrutorFalha = 0;

  // A fault while the business object is freed is reported as the destructor's, and the object still goes.
  {
#if defined(__SANITIZE_ADDRESS__)
    __lsan::ScopedDisabler semVazamento;
#endif
    CTesteObjeto obj;
    ASSERT_EQ(obj.FinalConstruct(), S_OK);
    g_iDestrutorFalha = 1;
  }
  g_iDestrutorFalha = 0;
  auto linhas = Linhas(ArquivoErrosProgramas());
  ASSERT_EQ(linhas.size(), nLinhas + 2);
  ConfereLinha(linhas[nLinhas],
               {"\tZelTrataErroExported\t", "\tT_ZelUnknown\t21\tRelatorio = 0X81080BB1\tHR = 0X8004EAC5\t"});
  ConfereLinha(linhas[nLinhas + 1], {"::~T_ZelUnknown\t", "\tT_ZelUnknown\t21\t"});

  // An invalid parameter there ends the process; its report, support's last line, names the destructor.
  // The temporary goes at the end of the statement, after the flag is set.
  EXPECT_DEATH((void)(CTesteObjeto().FinalConstruct() == S_OK && (g_iDestrutorFalha = 2)), "");
  linhas = Linhas(ArquivoErrosProgramas());
  ASSERT_EQ(linhas.size(), nLinhas + 3);
  ConfereLinha(linhas.back(),
               {"\tZelTrataErroExported\t", "\tT_ZelUnknown\t21\tRelatorio = 0X81080BB1\tHR = 0X8004EAFB\t",
                "\tFunction = strcpy_s\t"});
}

TEST_F(TZelUnknownTeste, LinhasDeEntradaESaidaDoFrameLevamOsParametrosEDescarteNaEntradaPulaOCorpo) {
  for (bool bEntrada : {true, false}) {
    SCOPED_TRACE(bEntrada ? "entry and exit" : "exit only");
    std::remove(LogChamadas().c_str());
    EscreveLogIni(std::string("[Log]\n") + (bEntrada ? "Entrada=1\n" : "") + "Saida=1\nZelDataBase=CTesteObjeto\n");
    CTesteObjeto obj;
    ASSERT_EQ(obj.Inicializa_Padrao(RegistroValido()), S_OK);
    EXPECT_EQ(obj.Metodo(Falso, 1), S_FALSE);
    auto linhas = Linhas(LogChamadas());
    // The constructor and Inicializa_Padrao are not selected.
    ASSERT_EQ(linhas.size(), bEntrada ? 2u : 1u);
    // A GUID pairs entry and exit lines only when both are written.
    ConfereLinha(linhas[0], {bEntrada ? "\tCTesteObjeto::Metodo\t{" : "\tCTesteObjeto::Metodo\t",
                             bEntrada ? "\tENTROU\t" : "\tSAIU\t", "\tmodo = 1\t"});
    ConfereLinha(linhas.back(), {"\tSAIU\t"});
    if (!bEntrada) continue;
    // Discarded between entry check and body: the body does not run.
    static int nCorpos = 0;
    auto corpo = [](CTesteBase&) -> HRESULT {
      ++nCorpos;
      return S_OK;
    };
    EXPECT_EQ(obj.Metodo(corpo, 1, true), HR(0x81080AA8));
    EXPECT_EQ(nCorpos, 0);
    EXPECT_FALSE(obj.TemBase());
    // Without its business object the line has no company to go to.
    EXPECT_EQ(LinhasErro(), 1u);
    ConfereLinha(UltimaLinhaErroProgramas(), {"\thr = pfInSEHFuncao()\thr = 0X81080AA8 "});
  }
}

TEST_F(TZelUnknownTeste, PrevineErroRPCReleORegistroSoDepoisDoPeriodo) {
  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "PrevineErroRPC", 0), ERROR_SUCCESS);
  PrevineErroRPC();
  PrevineErroRPC();
  EXPECT_EQ(ZelLeiturasPrevineErroRPC(), 1u);
  EXPECT_FALSE(ZelPrevineErroRPCAtivo());
  // The 300 s period, scaled: not read again halfway through it, read again once past.
  const uint32_t msPeriodo = ZelTempoMs(300'000);
  Sleep(msPeriodo / 2);
  PrevineErroRPC();
  EXPECT_EQ(ZelLeiturasPrevineErroRPC(), 1u);
  Sleep(msPeriodo / 2 + 5);
  PrevineErroRPC();
  EXPECT_EQ(ZelLeiturasPrevineErroRPC(), 2u);
  // Without the value under the suite's key, calls yield.
  ASSERT_EQ(ZelRegistro::ExcluiValor(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "PrevineErroRPC"), ERROR_SUCCESS);
  ZelReiniciaPrevineErroRPC();
  PrevineErroRPC();
  EXPECT_EQ(ZelLeiturasPrevineErroRPC(), 1u) << "a first call reads, however recent the last reading";
  EXPECT_TRUE(ZelPrevineErroRPCAtivo());
  // Without the key nothing is read: after a reset from a reading of 0, or never read, calls yield.
  ASSERT_EQ(ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "PrevineErroRPC", 0), ERROR_SUCCESS);
  ZelReiniciaPrevineErroRPC();
  PrevineErroRPC();
  ASSERT_FALSE(ZelPrevineErroRPCAtivo());
  ASSERT_EQ(ZelRegistro::ExcluiChave(HKEY_LOCAL_MACHINE, kChaveZelSistemas), ERROR_SUCCESS);
  ZelReiniciaPrevineErroRPC();
  PrevineErroRPC();
  EXPECT_EQ(ZelLeiturasPrevineErroRPC(), 0u);
  EXPECT_TRUE(ZelPrevineErroRPCAtivo());
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("PrevineErroRPCSemChave")), 0);
}

TEST(ZelRPCDLL, TabelaDasFalhasDeMaquinaESeusLimites) {
  // Exception codes in the order of their published results, from 0x8004EAC5 on.
  const DWORD excecoes[] = {0xC0000005, 0xC000008C, 0x80000003, 0x80000002, 0xC000008D, 0xC000008E,
                            0xC000008F, 0xC0000090, 0xC0000091, 0xC0000092, 0xC0000093, 0x80000001,
                            0xC000001D, 0xC0000006, 0xC0000094, 0xC0000095, 0xC0000026, 0xC0000008,
                            0xC0000025, 0xC0000096, 0x80000004, 0xC00000FD};
  for (uint32_t i = 0; i < std::size(excecoes); ++i) {
    EXPECT_EQ(static_cast<uint32_t>(ZelSEHParaHresult(excecoes[i])), 0x8004EAC5u + i) << std::hex << excecoes[i];
    EXPECT_TRUE(ZelEhCodigoFalhaMaquina(HR(0x8004EAC5u + i)));
  }
  EXPECT_EQ(ZelSEHParaHresult(0xC0000017), HR(0x8004EE47)) << "a code outside the table";
  EXPECT_TRUE(ZelEhCodigoFalhaMaquina(HR(0x8004EE47)));
  EXPECT_TRUE(ZelEhCodigoFalhaMaquina(HR(0x8004EADB))) << "the last of the range, though no exception gives it";
  // Just outside: the first errno code, and either side of the range and of the outside code.
  for (uint32_t u : {0x8004EADCu, 0x8004EAC4u, 0x8004EE46u, 0x8004EE48u})
    EXPECT_FALSE(ZelEhCodigoFalhaMaquina(HR(u))) << std::hex << u;
}
