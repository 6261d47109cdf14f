#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "IExAjuda_test.h"
#include "IExBase.h"
#include "ZelMutexNomeado.h"

namespace {
constexpr HRESULT kAlemDoFim = HR(0x80043E95);          // a read past the end
constexpr HRESULT kGravacaoAlemDoFim = HR(0x80040A73);  // a write beyond the next free record
constexpr HRESULT kMarcaOcupada = HR(0x800400FD);
const std::string kLidoAlemDoFim = "hr " + std::to_string(kAlemDoFim) + ": ", kTracoAlemDoFim = "" + kTracoAlemDoFim;

// A field as a client sends it; the users stay with the caller.
IE_CAMPO_PS Campo(int id, const char* szNome, const std::vector<UI2>& aUsuarios = {}, UI4 dwFlags = 0) {
  IE_CAMPO_PS c = IECampo(static_cast<IE_E_CAMPO>(id), szNome);
  c.dwFlags = dwFlags;
  c.lPtrExtra = 7;
  c.iQtdUsuarios = static_cast<UI2>(aUsuarios.size());
  c.pUsuarios = aUsuarios.empty() ? nullptr : const_cast<UI2*>(aUsuarios.data());
  return c;
}

// Records as the files hold them; the users' file with its zero record.
std::string RegCampo(int id, const char* szNome, UI4 ulPtrUsuarios, UI2 nUsuarios, UI4 dwFlags = 0) {
  IE_CAMPO_ARQ_V2 r{dwFlags, 7, ulPtrUsuarios, id, nUsuarios, {}, {}};
  std::strncpy(r.szNome, szNome, 50);
  return IEBytes(r);
}
std::string Usuarios(std::initializer_list<UI2> a) {
  std::string s = IEZeros(8);
  for (UI2 us : a) s += IEBytes(IE_USUARIO_ARQ_V0{us, {}});
  return s;
}
std::string RegHdr(UI4 dwFlags, UI4 eProcesso, UI4 nQtd, UI4 iPtr, UI8 ullCarimbo = 0) {
  return IEBytes(IE_HDR_ARQ_V0{dwFlags, eProcesso, nQtd, iPtr, ullCarimbo, {}});
}
IE_CAMPO_DATA_PS Valor(int id, UI8 ullValor) { return IEValor(static_cast<IE_E_CAMPO>(id), ullValor); }

// A text as the client library sends it: ulTamanho characters, terminated or not.
IE_CAMPO_DATA_PS Texto(int id, char* pcTexto, UI4 ulTamanho) {
  return {{}, {}, static_cast<IE_E_CAMPO>(id), ulTamanho, pcTexto, nullptr};
}

class IExCabecalho : public IExTeste {
 protected:
  void SetUp() override {
    IExTeste::SetUp();
    m_nBlocos = CoTaskMemBlocosVivos();
    AntesDeIniciar();
    ASSERT_EQ(m_ie.Inicializa("EMP1", 3, 77), S_OK);
  }
  virtual void AntesDeIniciar() {}
  void TearDown() override {
    m_ie.Finaliza();
    ZelExcluiMutexNomeado(CZelArqMarcaFila::NomeMutex(m_sVovi, IZelArqMarcaEnum::VoviDadi));
    EXPECT_EQ(CoTaskMemBlocosVivos(), m_nBlocos) << "every block handed out was freed";
  }
  HRESULT Grava(UI4* pPos, int eProcesso, std::vector<IE_CAMPO_PS> aCampos, UI4 dwFlags = 0) {
    return m_ie.GravaIEHeader(pPos, {dwFlags,
                                     static_cast<IE_E_PROCESSO>(eProcesso),
                                     static_cast<UINT>(aCampos.size()),
                                     {},
                                     aCampos.empty() ? nullptr : aCampos.data(),
                                     nullptr});
  }
  // One header read back over whatever the caller left there; after a failure, also what it holds.
  std::string Le(UI4 lPos) {
    IE_HDR_PS ps;
    std::memset(&ps, 0x5A, sizeof ps);
    const HRESULT hr = m_ie.LeIEHeader(1, &lPos, &ps);
    if (hr != S_OK && ps.dwFlags == 0x5A5A5A5Au) return "hr " + std::to_string(hr) + ": untouched";
    const std::string s = IEDescreveHeader(ps);
    IELiberaCampos(ps.pCampos, ps.nQtdCampos);
    return hr == S_OK ? s : "hr " + std::to_string(hr) + ": " + s;
  }
  std::map<std::string, std::string> Arquivos() const {
    std::map<std::string, std::string> m;
    for (const std::string& s : ZelListaArquivos(m_sVovi, "*")) m[s] = Bytes(s);
    return m;
  }
  std::string CabecalhosSemCarimbo() const {
    std::string s = Bytes("DFIEHDR.DAT");
    for (size_t i = 16; i + 8 <= s.size(); i += sizeof(IE_HDR_ARQ_V0)) std::memset(&s[i], 0, 8);
    return s;
  }
  UI8 Carimbo(UI4 lPos) const {
    UI8 ull = 0;
    std::memcpy(&ull, Bytes("DFIEHDR.DAT").data() + lPos * sizeof(IE_HDR_ARQ_V0) + 16, 8);
    return ull;
  }
  CIExBaseTeste m_ie;
  int64_t m_nBlocos = 0;
};

// The stamp counts seconds since 30 December 1899 in 38 signed bits; a new header gets the time of its writing.
TEST_F(IExCabecalho, CarimboECabecalhoNovoNoFimComCamposEUsuariosEmSequencia) {
  EXPECT_EQ(IECarimbo({1899, 12, 0, 30, 0, 0, 0, 0}), 0u);
  EXPECT_EQ(IECarimbo({1900, 1, 0, 1, 0, 0, 1, 0}), 2u * 86400 + 1);
  EXPECT_EQ(IECarimbo({2026, 12, 0, 5, 13, 45, 30, 0}), 4005639930u);
  // January and February count from the year before's March, the leap day included.
  EXPECT_EQ(IECarimbo({2025, 1, 0, 31, 12, 0, 0, 0}), 3947486400u);
  EXPECT_EQ(IECarimbo({2024, 2, 0, 29, 23, 59, 59, 0}), 3918412799u);
  EXPECT_EQ(IECarimbo({2026, 3, 0, 1, 0, 0, 0, 0}), 3981484800u);
  // Before the epoch the number is negative, kept in 38 bits.
  const UI8 ullAntigo = IECarimbo({1600, 3, 0, 1, 0, 0, 0, 0});
  EXPECT_EQ(ullAntigo, 265416156544u);
  EXPECT_EQ(IECarimboComSinal(ullAntigo), -109511LL * 86400);
  EXPECT_EQ(IECarimboComSinal((UI8{0x3FFFFFF} << 38) | 5), 5) << "the upper 26 bits are not part of the stamp";
  EXPECT_EQ(IECarimboComSinal(UI8{1} << 37), -(int64_t{1} << 37));
  UI4 lPos = 0;
  SYSTEMTIME st{};
  GetLocalTime(&st);
  const UI8 ullAntes = IECarimbo(st);
  ASSERT_EQ(Grava(&lPos, 27, {Campo(101, "Obs", {11, 12}, 4), Campo(250, "Peso"), Campo(400, "Hora", {13})}, 0x10),
            S_OK);
  GetLocalTime(&st);
  EXPECT_EQ(lPos, 1u) << "the first header of a new file";
  EXPECT_EQ(CabecalhosSemCarimbo(), IEZeros(56) + RegHdr(0x10, 27, 3, 1));
  EXPECT_GE(Carimbo(1), ullAntes);
  EXPECT_LE(Carimbo(1), IECarimbo(st));
  EXPECT_EQ(Bytes("DFIECMP.DAT"),
            IEZeros(80) + RegCampo(101, "Obs", 1, 2, 4) + RegCampo(250, "Peso", 0, 0) + RegCampo(400, "Hora", 3, 1));
  EXPECT_EQ(Bytes("DFIEUSU.DAT"), Usuarios({11, 12, 13}));
  EXPECT_FALSE(m_ie.m_ArqIE.EstaAberto()) << "the write closed the reader it bypassed";
  EXPECT_EQ(Le(1), "16 27 3 | 101 Obs 4 7 u11 u12 | 250 Peso 0 7 - | 400 Hora 0 7 u13");
  // A name that fills its field has no terminator in the file and comes back whole.
  const std::string sNome(50, 'N');
  UI4 lNome = 0;
  ASSERT_EQ(Grava(&lNome, 7, {Campo(0, sNome.c_str())}), S_OK);
  EXPECT_EQ(Bytes("DFIECMP.DAT").substr(4 * 80), RegCampo(0, sNome.c_str(), 0, 0));
  EXPECT_EQ(Le(lNome), "0 7 1 | 0 " + sNome + " 0 7 -");
  EXPECT_TRUE(Linhas(ArquivoErrosEmpresa()).empty());
}

TEST_F(IExCabecalho, ReescritaComMenosCamposNoLugarEComMaisNoFim) {
  const std::vector<UI2> aUsuarios{5};
  UI4 lPos = 0, lOutro = 0;
  ASSERT_EQ(Grava(&lPos, 3, {Campo(0, "A", aUsuarios), Campo(50, "B")}), S_OK);
  ASSERT_EQ(Grava(&lOutro, 4, {Campo(150, "C")}), S_OK);
  ASSERT_EQ(lOutro, 2u);
  // Fewer fields: the run is overwritten in place; the users move to the end.
  ASSERT_EQ(Grava(&lPos, 3, {Campo(200, "A2", aUsuarios)}, 1), S_OK);
  EXPECT_EQ(lPos, 1u);
  EXPECT_EQ(CabecalhosSemCarimbo(), IEZeros(56) + RegHdr(1, 3, 1, 1) + RegHdr(0, 4, 1, 3));
  EXPECT_EQ(Bytes("DFIECMP.DAT"),
            IEZeros(80) + RegCampo(200, "A2", 2, 1) + RegCampo(50, "B", 0, 0) + RegCampo(150, "C", 0, 0));
  EXPECT_EQ(Bytes("DFIEUSU.DAT"), Usuarios({5, 5}));
  // As many fields: in place too.
  ASSERT_EQ(Grava(&lOutro, 4, {Campo(150, "C2")}), S_OK);
  EXPECT_EQ(Bytes("DFIECMP.DAT").substr(3 * 80), RegCampo(150, "C2", 0, 0));
  // More fields than the run holds: a new run at the end, the old one left behind.
  ASSERT_EQ(Grava(&lPos, 3, {Campo(0, "X"), Campo(50, "Y")}), S_OK);
  EXPECT_EQ(CabecalhosSemCarimbo(), IEZeros(56) + RegHdr(0, 3, 2, 4) + RegHdr(0, 4, 1, 3));
  EXPECT_EQ(Bytes("DFIECMP.DAT").substr(4 * 80), RegCampo(0, "X", 0, 0) + RegCampo(50, "Y", 0, 0));
  // No fields: the header keeps its run and no field is written.
  const std::string sCampos = Bytes("DFIECMP.DAT");
  ASSERT_EQ(Grava(&lPos, 3, {}), S_OK);
  EXPECT_EQ(CabecalhosSemCarimbo(), IEZeros(56) + RegHdr(0, 3, 0, 4) + RegHdr(0, 4, 1, 3));
  EXPECT_EQ(Bytes("DFIECMP.DAT"), sCampos);
  EXPECT_EQ(Le(1), "0 3 0 null");
}

// Bad input, or a header the disk cannot take, fails with its own code and line and changes no file.
TEST_F(IExCabecalho, EntradaRuimDaCodigoELinhaSemMudarArquivo) {
  const std::vector<UI2> aUsuarios{1};
  UI4 lPos = 0;
  ASSERT_EQ(Grava(&lPos, 7, {Campo(0, "A", aUsuarios)}), S_OK);
  const auto antes = Arquivos();
  UI4 lNovo = 0;
  {
    // Room for the header file's two records, not for a third.
    ZelLimiteTamanhoArquivos limite(2 * sizeof(IE_HDR_ARQ_V0) + 10);
    EXPECT_EQ(Grava(&lNovo, 4, {}), HR(0x80043F08));
  }
  EXPECT_EQ(lNovo, 0u);
  EXPECT_EQ(Arquivos(), antes);
  EXPECT_EQ(Grava(nullptr, IE_PROCESSO_FT_PED, {}), E_POINTER);
  EXPECT_EQ(Grava(&lPos, 69, {}), E_INVALIDARG);
  EXPECT_EQ(Grava(&lPos, -1, {}), E_INVALIDARG);
  EXPECT_EQ(Erros("GravaIEHeader", "ps.eProcesso < 0 || ps.eProcesso >= IE_PROCESSO_COUNT\thr = 0X80070057"), 2);
  IE_HDR_PS ps{0, IE_PROCESSO_FT_PED, 2, {}, nullptr, nullptr};
  EXPECT_EQ(m_ie.GravaIEHeader(&lPos, ps), E_POINTER) << "fields counted but not given";
  IE_CAMPO_PS aCampos[2] = {Campo(0, "A"), Campo(1, "B")};
  ps.pCampos = aCampos;
  std::memset(aCampos[1].szNome, 'x', sizeof aCampos[1].szNome);
  EXPECT_EQ(m_ie.GravaIEHeader(&lPos, ps), E_INVALIDARG) << "a name without its terminator";
  EXPECT_EQ(Erros("GravaIEHeader", "strnlen(pCampos[i].szNome, 51) == 51"), 1);
  aCampos[1] = Campo(IE_CAMPO_COUNT, "B");
  EXPECT_EQ(m_ie.GravaIEHeader(&lPos, ps), E_INVALIDARG) << "a field kind the catalogue does not know";
  aCampos[1] = Campo(1, "B");
  aCampos[1].iQtdUsuarios = 3;
  EXPECT_EQ(m_ie.GravaIEHeader(&lPos, ps), E_POINTER) << "users counted but not given";
  aCampos[1].iQtdUsuarios = 1;
  EXPECT_EQ(m_ie.GravaIEHeader(&lPos, ps), E_POINTER) << "one user counted but not given";
  aCampos[1] = Campo(1, "B", aUsuarios);
  UI4 lLonge = 3;
  EXPECT_EQ(m_ie.GravaIEHeader(&lLonge, ps), kAlemDoFim);
  EXPECT_EQ(lLonge, 3u);
  EXPECT_EQ(Erros("GravaIEHeader", "hr = arqIE.Le(*pPos, &regIE)" + kTracoAlemDoFim), 1);
  lLonge = 0xFFFFFFFF;
  EXPECT_EQ(m_ie.GravaIEHeader(&lLonge, ps), kAlemDoFim);
  EXPECT_EQ(m_ie.GravaCampos(aCampos, 2, nullptr), E_POINTER);
  EXPECT_EQ(m_ie.GravaCampos(nullptr, 1, &lLonge), E_POINTER);
  IE_HDR_PS aLidos[2] = {};
  const UI4 aPos[2] = {1, 0};
  EXPECT_EQ(m_ie.LeIEHeader(2, aPos, aLidos), E_INVALIDARG);
  EXPECT_EQ(aLidos[0].pCampos, nullptr) << "positions are checked before anything is read";
  EXPECT_EQ(Erros("LeIEHeader", "pPos[i] == 0\thr = 0X80070057"), 1);
  EXPECT_EQ(m_ie.LeIEHeader(1, nullptr, aLidos), E_POINTER);
  EXPECT_EQ(m_ie.LeIEHeader(1, aPos, nullptr), E_POINTER);
  const UI4 lMaximo = 0xFFFFFFFF;
  EXPECT_EQ(m_ie.LeIEHeader(1, &lMaximo, aLidos), kAlemDoFim);
  EXPECT_EQ(m_ie.LeIEHeader(0, nullptr, nullptr), S_OK);
  EXPECT_EQ(m_ie.LeCampos(1, 1, nullptr), E_POINTER);
  EXPECT_EQ(Arquivos(), antes);
  // The field file lost its tail: a rewrite of a run past its end is refused before any user is written.
  UI4 lSegundo = 0;
  ASSERT_EQ(Grava(&lSegundo, 7, {Campo(0, "A"), Campo(1, "B"), Campo(2, "C")}), S_OK);
  Escreve("DFIECMP.DAT", Bytes("DFIECMP.DAT").substr(0, 80));
  const auto truncados = Arquivos();
  EXPECT_EQ(Grava(&lSegundo, 7, {Campo(0, "A", aUsuarios)}), kGravacaoAlemDoFim);
  EXPECT_EQ(Arquivos(), truncados);
  EXPECT_EQ(Erros("GravaCampos", "*piPtr > arqCamposIE.GetQtdRegistros()\thr = 0X80040A73"), 1);
  EXPECT_EQ(
      Erros("GravaIEHeader", "hr = GravaCampos(ps.pCampos, regIE.nQtdCampos, &regIE.iPtrCampos)\thr = 0X80040A73"), 1);
}

class IExBusca : public IExCabecalho {
 protected:
  // Headers 1 to 7: process 5 live at 2; process 9 live nowhere, deleted at 1 (stamp 100), 3 (300, upper bits set),
  // 4 (300 again) and 6 (negative in 38 bits); process 12 deleted with stamps 0 and negative only.
  void AntesDeIniciar() override {
    Escreve("DFIECONFIG.DAT", Configuracao(9));
    const UI8 ullNegativo = UI8{1} << 37;
    Escreve("DFIEHDR.DAT", IEZeros(56) + RegHdr(1, 9, 0, 0, 100) + RegHdr(0, 5, 0, 0, 50) +
                               RegHdr(3, 9, 0, 0, (UI8{0xABC} << 40) | 300) + RegHdr(1, 9, 0, 0, 300) +
                               RegHdr(1, 12, 0, 0, 0) + RegHdr(1, 9, 0, 0, ullNegativo | 999) +
                               RegHdr(1, 12, 0, 0, ullNegativo));
  }
  std::vector<UI4> Busca(UI4 dwFlags, int eProc, UI4 ulPonteiro = 0) {
    IE_ARRAY_PONTEIROS_PS r;
    std::memset(&r, 0x5A, sizeof r);
    EXPECT_EQ(m_ie.BuscaPtrsIEHeader({dwFlags, static_cast<IE_E_PROCESSO>(eProc), ulPonteiro, {}}, &r), S_OK);
    std::vector<UI4> a(r.pPtrs, r.pPtrs + r.qtd);
    EXPECT_EQ(r.pPtrs == nullptr, r.qtd == 0) << "no array for no match";
    CoTaskMemFree(r.pPtrs);
    return a;
  }
};

TEST_F(IExBusca, VivosDoProcessoOuOExcluidoMaisRecenteConformeOFiltro) {
  EXPECT_EQ(Busca(1, 5), std::vector<UI4>{2});
  EXPECT_EQ(Busca(0, 0), std::vector<UI4>{2}) << "without bit 0 every process";
  EXPECT_EQ(Busca(0, -1), std::vector<UI4>{2}) << "the process is ignored without bit 0";
  EXPECT_EQ(Busca(1, 33), std::vector<UI4>{}) << "no header of the process at all";
  EXPECT_EQ(Busca(1, 9), std::vector<UI4>{3}) << "the greatest stamp, the first of a tie, upper bits ignored";
  EXPECT_EQ(Busca(1, 12), std::vector<UI4>{}) << "a stamp not above 0 is never taken";
  EXPECT_EQ(Busca(1, 9, 6), std::vector<UI4>{6}) << "the deleted header named, whatever its stamp";
  EXPECT_EQ(Busca(1, 9, 2), std::vector<UI4>{}) << "a position that is not a deleted match";
  EXPECT_EQ(Busca(5, 9), std::vector<UI4>{}) << "bit 2: no fallback";
  EXPECT_EQ(Busca(3, 9), (std::vector<UI4>{1, 3, 4, 6})) << "bit 1: deleted headers listed, no fallback";
  EXPECT_EQ(Busca(3, 9, 6), (std::vector<UI4>{1, 3, 4, 6}));
  EXPECT_EQ(Busca(2, 0), (std::vector<UI4>{1, 2, 3, 4, 5, 6, 7}));
  // A bad filter or no result: the code and a line, nothing written.
  IE_HEADER_FILTRO_PS filtro{1, static_cast<IE_E_PROCESSO>(69), 0, {}};
  IE_ARRAY_PONTEIROS_PS r{3, {}, nullptr, nullptr};
  EXPECT_EQ(m_ie.BuscaPtrsIEHeader(filtro, &r), E_INVALIDARG);
  EXPECT_EQ(r.qtd, 3u) << "nothing written on refusal";
  EXPECT_EQ(Erros("BuscaPtrsIEHeader", "filtro.eProc < 0 || filtro.eProc >= IE_PROCESSO_COUNT"), 1);
  filtro.eProc = static_cast<IE_E_PROCESSO>(-1);
  EXPECT_EQ(m_ie.BuscaPtrsIEHeader(filtro, &r), E_INVALIDARG);
  filtro.dwFlags = 0;
  EXPECT_EQ(m_ie.BuscaPtrsIEHeader(filtro, nullptr), E_POINTER);
}

TEST_F(IExCabecalho, MarcaOcupadaChamadasSimultaneasELeituraQueParaNaPrimeiraFalha) {
  UI4 lPos = 0;
  ASSERT_EQ(Grava(&lPos, 7, {Campo(0, "A"), Campo(1, "B")}), S_OK);
  const auto antes = Arquivos();
  {
    IESeguraMarca outra(m_ie.m_sLocalDados);
    ASSERT_EQ(outra.m_iMarca, 0);
    UI4 lNovo = 0;
    EXPECT_EQ(Grava(&lNovo, 7, {Campo(0, "B")}), kMarcaOcupada);
    EXPECT_EQ(lNovo, 0u);
    IE_ARRAY_PONTEIROS_PS r;
    std::memset(&r, 0x5A, sizeof r);
    EXPECT_EQ(m_ie.BuscaPtrsIEHeader({0, IE_PROCESSO_FN_CRE, 0, {}}, &r), kMarcaOcupada);
    EXPECT_EQ(r.qtd, 0u) << "the result is cleared before the marker is asked for";
    EXPECT_EQ(r.pPtrs, nullptr);
  }
  EXPECT_EQ(Arquivos(), antes);
  const std::string sTraco =
      "iRetorno = marcaFila.Marca(m_sLocalDados, IZelArqMarcaEnum::VoviDadi, \"DF\")\tiRetorno = -2147221251\tHR = "
      "0X800400FD";
  EXPECT_EQ(Erros("GravaIEHeader", sTraco), 1);
  EXPECT_EQ(Erros("BuscaPtrsIEHeader", sTraco), 1);
  // The line's number is that of the operation's own place that asked for it.
  int nVistas = 0;
  for (const std::string& s : Linhas(ArquivoErrosEmpresa())) {
    const size_t i = s.find("\tIExBase\t");
    if (i == std::string::npos) continue;
    ++nVistas;
    const int nLinha = std::atoi(s.c_str() + i + std::strlen("\tIExBase\t"));
    std::ifstream fonte(std::filesystem::path(__FILE__).parent_path() / "IExBaseCabecalho.cpp");
    std::string sLinha;
    for (int n = 0; n < nLinha && std::getline(fonte, sLinha); ++n) {
    }
    EXPECT_NE(sLinha.find("SobMarca("), std::string::npos) << nLinha << ": " << sLinha;
  }
  EXPECT_EQ(nVistas, 2);
  // Released: both work again, and the failed call left the marker free.
  UI4 lNovo = 0;
  EXPECT_EQ(Grava(&lNovo, 8, {Campo(0, "B")}), S_OK);
  EXPECT_EQ(lNovo, 2u);
  // Calls of the same object at once.
  std::atomic<int> nFalhas{0};
  std::thread leitor([&] {
    for (int i = 0; i < 200; ++i) nFalhas += Le(1) != "0 7 2 | 0 A 0 7 - | 1 B 0 7 -";
  });
  for (int i = 0; i < 50; ++i) {
    UI4 lUm = 1;
    nFalhas += Grava(&lUm, 7, {Campo(0, "A"), Campo(1, "B")}) != S_OK;
    IE_ARRAY_PONTEIROS_PS r{};
    nFalhas += m_ie.BuscaPtrsIEHeader({1, static_cast<IE_E_PROCESSO>(7), 0, {}}, &r) != S_OK || r.qtd != 1;
    CoTaskMemFree(r.pPtrs);
  }
  leitor.join();
  EXPECT_EQ(nFalhas, 0);
  // A read stops at the first position that fails and keeps the ones before.
  const UI4 aPos[3] = {1, 9, 1};
  IE_HDR_PS aHdr[3] = {};
  aHdr[2].dwFlags = 0xABCD;
  EXPECT_EQ(m_ie.LeIEHeader(3, aPos, aHdr), kAlemDoFim);
  EXPECT_EQ(IEDescreveHeader(aHdr[0]), "0 7 2 | 0 A 0 7 - | 1 B 0 7 -");
  EXPECT_EQ(aHdr[1].pCampos, nullptr);
  EXPECT_EQ(aHdr[2].dwFlags, 0xABCDu) << "entries after the failure are not touched";
  EXPECT_EQ(Erros("LeIEHeader", "hr = m_ArqIE.Le(pPos[i], &regTipDoc)" + kTracoAlemDoFim), 1);
  IELiberaCampos(aHdr[0].pCampos, aHdr[0].nQtdCampos);
  // A run past the field file's end hands out its array with what was read, the rest zeroed.
  Escreve("DFIEHDR.DAT", Bytes("DFIEHDR.DAT") + RegHdr(0, 7, 3, 2) + RegHdr(0, 7, 200000, 1));
  EXPECT_EQ(Le(3), kLidoAlemDoFim + "0 7 3 | 1 B 0 7 - | 0 B 0 7 - | 0  0 0 -");
  EXPECT_EQ(Erros("LeCampos", "hr = m_ArqCamposIE.Le(iPtr + iCampo, &regCampo)" + kTracoAlemDoFim), 1);
  EXPECT_EQ(Erros("LeIEHeader", "hr = LeCampos(regTipDoc.iPtrCampos, ps.nQtdCampos, ps.pCampos)"), 1);
  // Unless no answer could carry such an array: a damaged count allocates nothing.
  EXPECT_EQ(Le(4), kLidoAlemDoFim + "0 7 200000 null");
  EXPECT_EQ(Le(9), kLidoAlemDoFim + "untouched") << "no header there";
  // Users past the users' file's end: the same, without a block left over.
  const std::vector<UI2> aUsuarios{1, 2};
  UI4 lUsuarios = 0;
  ASSERT_EQ(Grava(&lUsuarios, 7, {Campo(0, "A"), Campo(1, "B", aUsuarios)}), S_OK);
  m_ie.m_ArqUsuariosIE.Fecha();
  Escreve("DFIEUSU.DAT", Usuarios({1}));
  EXPECT_EQ(Le(lUsuarios), kLidoAlemDoFim + "0 7 2 | 0 A 0 7 - | 1 B 0 7 u1 u0");
  EXPECT_EQ(
      Erros("LeCampos", "hr = m_ArqUsuariosIE.Le(regCampo.ulPtrUsuarios + iUsuario, &regUsuario)" + kTracoAlemDoFim),
      1);
}

class IExItens : public IExCabecalho {
 protected:
  void SetUp() override {
    IExCabecalho::SetUp();
    ASSERT_EQ(m_arq.Abre('G', IE_PROCESSO_FN_CRE), S_OK);
  }
  // Values read from iPtr, with or without their texts, or the failure's code.
  std::string Le(UI4 iPtr, UINT nQtd, bool bTextos = true) {
    IE_CAMPO_DATA_PS* pLidos = nullptr;
    const HRESULT hr =
        bTextos ? m_ie.LeArrayItensWithText(m_arq, iPtr, nQtd, &pLidos) : m_ie.LeArrayItens(m_arq, iPtr, nQtd, &pLidos);
    const std::string s = pLidos == nullptr ? "null" : IEDescreveValores(pLidos, nQtd);
    IELiberaItens(pLidos, nQtd);
    return hr == S_OK ? s : "hr " + std::to_string(hr) + ": " + s;
  }
  CIEArqTDados<IE_CAMPO_DATA_ARQ_V2> m_arq{&m_ie};
};

TEST_F(IExItens, TextosNoArquivoDeTextoEValoresEmSequencia) {
  char szObs[] = "Observa\xE7\xE3o";
  char acSemFim[] = {'a', 'b'};  // as the client library sends a counted text
  IE_CAMPO_DATA_PS aValores[5] = {Texto(IE_CAMPO_LIVRE_TEXTO_0 + 3, szObs, sizeof szObs), Valor(251, 0x8000002A),
                                  Texto(IE_CAMPO_LIVRE_TEXTO_0, nullptr, 0), Texto(149, acSemFim, 2),
                                  Valor(IE_CAMPO_HORA, 1234)};
  UI4 iPtr = 0;
  ASSERT_EQ(m_ie.GravaArrayItensWithText(m_arq, 5, &iPtr, aValores), S_OK);
  EXPECT_EQ(iPtr, 1u);
  EXPECT_EQ(Bytes("FNIEXCREText.DAT"), std::string(1, '\0') + "Observa\xE7\xE3o" + "ab");
  EXPECT_EQ(Bytes("FNIEXCRE.DAT"), IEZeros(48) + IERegValor(103, IELugar(1, 10)) + IERegValor(251, 0x8000002A) +
                                       IERegValor(100, 0) + IERegValor(149, IELugar(11, 2)) + IERegValor(400, 1234));
  EXPECT_EQ(IEDescreveValores(aValores, 1), "103:" + std::to_string(IELugar(1, 10)))
      << "the caller's text values now hold their places, without text";
  EXPECT_EQ(Le(1, 5), "103:'Observa\xE7\xE3o' 251:2147483690 100:0 149:'ab' 400:1234");
  // Rewritten in place: the records are overwritten, every text appended again.
  char szNovo[] = "x";
  IE_CAMPO_DATA_PS aNovos[2] = {Texto(103, szNovo, 2), Valor(251, 7)};
  ASSERT_EQ(m_ie.GravaArrayItensWithText(m_arq, 2, &iPtr, aNovos), S_OK);
  EXPECT_EQ(iPtr, 1u);
  EXPECT_EQ(Bytes("FNIEXCREText.DAT"), std::string(1, '\0') + "Observa\xE7\xE3o" + "abx");
  EXPECT_EQ(Bytes("FNIEXCRE.DAT").substr(48, 96), IERegValor(103, IELugar(13, 1)) + IERegValor(251, 7));
  EXPECT_EQ(Bytes("FNIEXCRE.DAT").size(), 6u * 48);
  // The longest text a 16-bit length holds is kept whole.
  std::string sMaximo(0xFFFF, 'm');
  IE_CAMPO_DATA_PS aMaximo[1] = {Texto(103, sMaximo.data(), 0xFFFF)};
  UI4 iMaximo = 0;
  ASSERT_EQ(m_ie.GravaArrayItensWithText(m_arq, 1, &iMaximo, aMaximo), S_OK);
  EXPECT_EQ(iMaximo, 6u);
  EXPECT_EQ(Bytes("FNIEXCRE.DAT").substr(6 * 48), IERegValor(103, IELugar(14, 0xFFFF)));
  EXPECT_TRUE(Bytes("FNIEXCREText.DAT").substr(14) == sMaximo);
  // A run may start at the next free record itself.
  UI4 iFim = 7;
  IE_CAMPO_DATA_PS aFim[1] = {Valor(251, 9)};
  ASSERT_EQ(m_ie.GravaArrayItens(m_arq, 1, &iFim, aFim), S_OK);
  EXPECT_EQ(iFim, 7u);
  EXPECT_EQ(Bytes("FNIEXCRE.DAT").substr(7 * 48), IERegValor(251, 9));
}

TEST_F(IExItens, ArraysSemTextoVaziosOuAlemDoFim) {
  IE_CAMPO_DATA_PS aValores[2] = {Valor(0, 20261205), Valor(IE_CAMPO_LIVRE_TEXTO_0, IELugar(99, 99))};
  UI4 iPtr = 0;
  ASSERT_EQ(m_ie.GravaArrayItens(m_arq, 2, &iPtr, aValores), S_OK) << "the plain form writes places as they come";
  EXPECT_EQ(Bytes("FNIEXCRE.DAT"), IEZeros(48) + IERegValor(0, 20261205) + IERegValor(100, IELugar(99, 99)));
  EXPECT_EQ(Bytes("FNIEXCREText.DAT"), std::string(1, '\0'));
  EXPECT_EQ(Le(2, 1, false), "100:" + std::to_string(IELugar(99, 99))) << "the plain form reads no text";
  IE_CAMPO_DATA_PS* pLidos = nullptr;
  ASSERT_EQ(m_ie.LeArrayItens(m_arq, 0, 0, &pLidos), S_OK);
  EXPECT_NE(pLidos, nullptr) << "allocated even for no value";
  CoTaskMemFree(pLidos);
  UI4 iZero = 0;
  EXPECT_EQ(m_ie.GravaArrayItensWithText(m_arq, 0, &iZero, nullptr), S_OK);
  EXPECT_EQ(iZero, 0u);
  // A text place beyond the text file fails, the array kept with what was read.
  EXPECT_EQ(Le(1, 2), kLidoAlemDoFim + "0:20261205 100:425201762403");
  EXPECT_EQ(Erros("LeArrayItensWithText", "hr = arq.LeTexto(reg, sTexto)" + kTracoAlemDoFim), 1);
  // A chain or text past its file's end fails where a record-by-record read would; the cache changes nothing.
  char szAb[] = "ab";
  IE_CAMPO_DATA_PS aCadeia[2] = {Texto(IE_CAMPO_LIVRE_TEXTO_0, szAb, 3), Valor(251, 5)};
  UI4 iCadeia = 0;
  ASSERT_EQ(m_ie.GravaArrayItensWithText(m_arq, 2, &iCadeia, aCadeia), S_OK);
  ASSERT_EQ(iCadeia, 3u);
  EXPECT_EQ(Le(4, 2, false), kLidoAlemDoFim + "251:5 0:0");
  EXPECT_EQ(Erros("LeArrayItens", "hr = arq.Le(iPtr + i, &reg)" + kTracoAlemDoFim), 1);
  // A text whose start is inside the text file and whose end is not.
  IE_CAMPO_DATA_PS aLongo[1] = {Valor(IE_CAMPO_LIVRE_TEXTO_0, IELugar(2, 5))};
  UI4 iPtrLongo = 0;
  ASSERT_EQ(m_ie.GravaArrayItens(m_arq, 1, &iPtrLongo, aLongo), S_OK);
  EXPECT_EQ(Le(iPtrLongo, 1), kLidoAlemDoFim + "100:21474836482");
  // The same chain, read after another reader filled its cache with it.
  IE_CAMPO_DATA_ARQ_V2 reg{};
  ASSERT_EQ(m_arq.Le(3, &reg), ZELARQ_OK);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Le(3, 2), "100:'ab' 251:5");
    m_arq.Fecha();
    ASSERT_EQ(m_arq.Abre('L', IE_PROCESSO_FN_CRE), S_OK);
  }
}

// Values are taken in order: the texts before an unknown kind are stored, as one at a time would, no record is.
TEST_F(IExItens, ValorRuimParaAGravacaoDepoisDosTextosAnteriores) {
  char szTexto[] = "abc";
  UI4 iPtr = 0;
  IE_CAMPO_DATA_PS aValores[2] = {Texto(100, szTexto, 4), Valor(251, 1)};
  ASSERT_EQ(m_ie.GravaArrayItensWithText(m_arq, 2, &iPtr, aValores), S_OK);
  const std::string sValores = Bytes("FNIEXCRE.DAT");
  char szOutro[] = "de";
  IE_CAMPO_DATA_PS aRuins[3] = {Texto(100, szOutro, 3), Valor(IE_CAMPO_COUNT, 1), Texto(101, szTexto, 4)};
  UI4 iNovo = 0;
  EXPECT_EQ(m_ie.GravaArrayItensWithText(m_arq, 3, &iNovo, aRuins), E_FAIL);
  EXPECT_EQ(Erros("GravaArrayItensWithText", "hr = E_FAIL\thr = 0X80004005"), 1);
  EXPECT_EQ(Bytes("FNIEXCREText.DAT"), std::string(1, '\0') + "abc" + "de") << "only the text before it";
  EXPECT_EQ(Bytes("FNIEXCRE.DAT"), sValores);
  EXPECT_EQ(iNovo, 0u);
  EXPECT_EQ(aRuins[0].pcTexto, nullptr);
  EXPECT_EQ(IEBytes(aRuins[0].BinaryData), IEBytes(IELugar(4, 2))) << "the stored text's place";
  EXPECT_EQ(aRuins[2].pcTexto, szTexto) << "values after it stay as they were";
  const auto antes = Arquivos();
  aRuins[0] = Texto(100, szTexto, 4);
  std::string sLongo(0x10000, 'y');
  aRuins[1] = Texto(101, sLongo.data(), static_cast<UI4>(sLongo.size()));
  EXPECT_EQ(m_ie.GravaArrayItensWithText(m_arq, 2, &iNovo, aRuins), E_INVALIDARG) << "longer than 16 bits hold";
  EXPECT_EQ(Erros("GravaArrayItensWithText", "sTexto.GetLength() > 0xFFFF"), 1);
  aRuins[1] = Valor(251, 1);
  UI4 iLonge = 4;
  EXPECT_EQ(m_ie.GravaArrayItensWithText(m_arq, 2, &iLonge, aRuins), kGravacaoAlemDoFim);
  EXPECT_EQ(m_ie.GravaArrayItens(m_arq, 2, &iLonge, aRuins), kGravacaoAlemDoFim);
  EXPECT_EQ(iLonge, 4u);
  EXPECT_EQ(m_ie.GravaArrayItensWithText(m_arq, 2, nullptr, aRuins), E_POINTER);
  EXPECT_EQ(m_ie.GravaArrayItensWithText(m_arq, 2, &iNovo, nullptr), E_POINTER);
  EXPECT_EQ(m_ie.GravaArrayItens(m_arq, 2, &iNovo, nullptr), E_POINTER);
  EXPECT_EQ(Arquivos(), antes);
  // Reading past the end, or a record of an unknown kind, hands nothing out.
  EXPECT_EQ(Le(0xFFFFFFFF, 1), kLidoAlemDoFim + "0:0");
  EXPECT_EQ(
      Erros("LeArrayItensWithText", "hr = LeArrayItens(arq, iPtr, pQtd, ppArray, dwFlags, pHeader)" + kTracoAlemDoFim),
      1);
  EXPECT_EQ(m_ie.LeArrayItens(m_arq, 1, 1, nullptr), E_POINTER);
  m_arq.Fecha();
  Escreve("FNIEXCRE.DAT", Bytes("FNIEXCRE.DAT") + IERegValor(-1, 0));
  EXPECT_EQ(Le(1, 3), "hr " + std::to_string(E_FAIL) + ": 100:'abc' 251:1 -1:0");
  EXPECT_EQ(Erros("LeArrayItensWithText", "hr = E_FAIL\thr = 0X80004005"), 1);
}

constexpr UINT kMuitos = 4096 * 2 + 5;  // more records than one write takes

// A run and its texts go out in few writes, leaving what one record and one text at a time would.
class IExItensEmBloco : public IExItens {
 protected:
  // The values of record i: every third a text, some empty, the rest numbers.
  std::vector<IE_CAMPO_DATA_PS> Valores(UINT n, size_t nTamanhoTexto) {
    m_aTextos.assign(n, std::string());
    std::vector<IE_CAMPO_DATA_PS> a(n);
    for (UINT i = 0; i < n; ++i) {
      if (i % 3 == 0 && i % 7 != 0) m_aTextos[i] = std::string(nTamanhoTexto + i % 11, static_cast<char>('a' + i % 26));
      a[i] = i % 3 == 0 ? IEValor(static_cast<IE_E_CAMPO>(IE_CAMPO_LIVRE_TEXTO_0 + i % 5), 0, m_aTextos[i].c_str())
                        : IEValor(static_cast<IE_E_CAMPO>(251), 0x1000000000ull + i);
    }
    return a;
  }
  // The same values written the old way into the copy: each text alone, each record at its own position.
  void GravaUmAUm(std::vector<IE_CAMPO_DATA_PS> a, UI4 iPtr) {
    for (size_t i = 0; i < a.size(); ++i) {
      IE_CAMPO_DATA_ARQ_V2 reg{};
      IEConverte(a[i], &reg);
      if (i % 3 == 0) std::memset(reg.BinaryData, 0, sizeof reg.BinaryData);
      if (i % 3 == 0 && !m_aTextos[i].empty()) {
        ASSERT_EQ(m_copia.GravaTexto(m_aTextos[i], &reg), 0);
      }
      ULONG ulPos = iPtr == 0 && i == 0 ? 0 : iPtr + static_cast<ULONG>(i);
      ASSERT_EQ(m_copia.Grava(&reg, &ulPos), 0);
      if (i == 0) iPtr = ulPos;
    }
  }
  void ConfereCopia() {
    EXPECT_TRUE(Bytes("FNIEXCRE.DAT") == Bytes("FNIEXCRE.cop"));
    EXPECT_TRUE(Bytes("FNIEXCREText.DAT") == Bytes("FNIEXCREText.cop"));
  }
  CIEArqTDados<IE_CAMPO_DATA_ARQ_V2> m_copia{&m_ie, ".cop"};
  std::vector<std::string> m_aTextos;
};

// Texts past a megabyte, and a partial record a crash left at both value files' end: the run takes its place.
TEST_F(IExItensEmBloco, LongasCorridasDaoOsMesmosBytesQueUmAUmEFalhaNaoDeixaRegistroNovo) {
  ASSERT_EQ(m_copia.Abre('G', IE_PROCESSO_FN_CRE), S_OK);
  m_arq.Fecha();
  m_copia.Fecha();
  for (const char* szNome : {"FNIEXCRE.DAT", "FNIEXCRE.cop"})
    Escreve(szNome, Bytes(szNome) + IEBytes(IE_CAMPO_DATA_ARQ_V2{}) + std::string(20, 'x'));
  std::vector<IE_CAMPO_DATA_PS> a = Valores(kMuitos, 500);
  UI4 iPtr = 0;
  ASSERT_EQ(m_ie.GravaArrayItensWithText(m_arq, kMuitos, &iPtr, a.data()), S_OK);
  EXPECT_EQ(iPtr, 2u);
  GravaUmAUm(Valores(kMuitos, 500), 0);
  ASSERT_GT(Bytes("FNIEXCREText.DAT").size(), 1u << 20);
  ConfereCopia();
  // The caller's array holds what it would have held.
  EXPECT_EQ(a[3].pcTexto, nullptr);
  EXPECT_EQ(a[kMuitos - 2].id, 251);
  // Rewritten in place from the second record, running past the end.
  a = Valores(kMuitos, 9);
  iPtr = 3;
  ASSERT_EQ(m_ie.GravaArrayItensWithText(m_arq, kMuitos, &iPtr, a.data()), S_OK);
  EXPECT_EQ(iPtr, 3u);
  GravaUmAUm(Valores(kMuitos, 9), 3);
  EXPECT_EQ(Bytes("FNIEXCRE.DAT").size(), (2u + kMuitos + 1) * sizeof(IE_CAMPO_DATA_ARQ_V2));
  ConfereCopia();
  IE_CAMPO_DATA_PS* pLidos = nullptr;
  ASSERT_EQ(m_ie.LeArrayItensWithText(m_arq, 3, kMuitos, &pLidos), S_OK);
  for (UINT i : {0u, 3u, 7u, kMuitos - 2}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(pLidos[i].pcTexto == nullptr ? std::string() : std::string(pLidos[i].pcTexto), m_aTextos[i]);
  }
  IELiberaItens(pLidos, kMuitos);
  // A failure of the texts or of the values says which and leaves no new record.
  a = Valores(10, 5);
  iPtr = 0;
  ASSERT_EQ(m_ie.GravaArrayItensWithText(m_arq, 10, &iPtr, a.data()), S_OK);
  m_arq.Fecha();
  for (const auto& [szSomenteLeitura, szTraco] : {std::pair{"FNIEXCREText.DAT", "arq.GravaTexto(sTexto, reg)"},
                                                  std::pair{"FNIEXCRE.DAT", "arq.Grava(&reg, &lPosGrava)"}}) {
    SCOPED_TRACE(szSomenteLeitura);
    const std::string sValores = Bytes("FNIEXCRE.DAT");
    ASSERT_EQ(ZelDefineSomenteLeitura(m_sVovi + szSomenteLeitura, true), ERROR_SUCCESS);
    a = Valores(10, 5);
    iPtr = 0;
    EXPECT_EQ(m_ie.GravaArrayItensWithText(m_arq, 10, &iPtr, a.data()), IES_MAKE_HR(ZELARQ_SOMENTE_LEITURA));
    m_arq.Fecha();
    ZelDefineSomenteLeitura(m_sVovi + szSomenteLeitura, false);
    EXPECT_EQ(iPtr, 0u);
    EXPECT_TRUE(ErroContem(szTraco));
    EXPECT_EQ(Bytes("FNIEXCRE.DAT"), sValores);
  }
}
}  // namespace
