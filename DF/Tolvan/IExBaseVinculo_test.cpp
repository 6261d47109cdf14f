#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "IExAjuda_test.h"
#include "ZelLeituraLote.h"
#include "ZelVistaArquivo.h"

namespace {
const std::string kFonte = "IExBaseVinculo";
IE_CAMPO_DATA_PS Numero(uint64_t ull) { return IEValor(IE_CAMPO_LIVRE_V4_0, ull); }

// A link's position (0: none) through the origin index and by a scan, which must agree; no key: the header's.
ZelUInt ProcuraNosDois(CIExBaseTeste& ie, UI4 lPosHeader, UI4* plChave) {
  ZelUInt lPosIndice = 99, lPosVarredura = 99;
  IE_VINCULO_ARQ_V0 regIndice{}, regVarredura{};
  EXPECT_EQ(ie.ProcuraVinculoAtivo("t", lPosHeader, plChave, &lPosIndice, &regIndice), S_OK);
  EXPECT_EQ(ie.ProcuraVinculoLinear("t", lPosHeader, plChave, &lPosVarredura, &regVarredura), S_OK);
  EXPECT_EQ(lPosIndice, lPosVarredura);
  EXPECT_EQ(IEBytes(regIndice), IEBytes(regVarredura));
  return lPosIndice;
}

class IExVinculoTeste : public IExTeste {
 protected:
  void SetUp() override {
    IExTeste::SetUp();
    ASSERT_EQ(m_ie.Inicializa("EMP1", 1, 1), S_OK);
    ASSERT_EQ(IEGravaHeader(m_ie, IE_PROCESSO_FT_NF,
                            {IECampo(IE_CAMPO_LIVRE_TEXTO_0, "Obs"), IECampo(IE_CAMPO_LIVRE_V4_0, "Valor"),
                             IECampo(IE_CAMPO_LIVRE_DMA_0, "Data")}),
              1u);
  }
  HRESULT Grava(UI4 lPosHeader, UI4 lChave, std::vector<IE_CAMPO_DATA_PS> aValores) {
    return IEGravaValores(m_ie, lPosHeader, lChave, std::move(aValores));
  }
  std::string Le(UI4 lPosHeader, UI4 lChave) {
    IE_VINCULO_PS v{};
    EXPECT_EQ(m_ie.BuscaVinculosByOrigem(lPosHeader, 1, &lChave, &v), S_OK);
    const std::string s = IEDescreveValores(v.pCampos, v.nQtdCampos);
    IELiberaItens(v.pCampos, v.nQtdCampos);
    return s;
  }
  CIExBaseTeste m_ie;
};
}  // namespace

// Fewer values, then as many, rewrite the chain where it is; more start a new chain at the end.
TEST_F(IExVinculoTeste, ValoresGravadosLidosEReescritosNoLugar) {
  ASSERT_EQ(Grava(1, 7, {IEValor(IE_CAMPO_LIVRE_TEXTO_0, 0, "abc"), Numero(42), IEValor(IE_CAMPO_LIVRE_DMA_0, 9)}),
            S_OK);
  EXPECT_EQ(Bytes("FTIEXNFText.DAT"), std::string("\0abc", 4));
  EXPECT_EQ(Bytes("FTIEXNF.DAT"),
            IEZeros(48) + IERegValor(100, IELugar(1, 3)) + IERegValor(250, 42) + IERegValor(0, 9));
  const struct {
    std::vector<IE_CAMPO_DATA_PS> aValores;
    IE_VINCULO_ARQ_V0 vinculo;
    size_t nRegistros;
    const char* szLido;
  } kPassos[] = {
      {{}, Vinculo(1, 7, 3, 1), 4, "100:'abc' 250:42 0:9"},
      {{IEValor(IE_CAMPO_LIVRE_TEXTO_0, 0, "xy"), Numero(43)}, Vinculo(1, 7, 2, 1), 4, "100:'xy' 250:43"},
      {{Numero(5), Numero(6)}, Vinculo(1, 7, 2, 1), 4, "250:5 250:6"},
      {{Numero(1), Numero(2), Numero(3)}, Vinculo(1, 7, 3, 4), 7, "250:1 250:2 250:3"},
  };
  for (const auto& p : kPassos) {
    SCOPED_TRACE(p.szLido);
    ASSERT_EQ(p.aValores.empty() ? S_OK : Grava(1, 7, p.aValores), S_OK);
    EXPECT_EQ(Bytes("DFIEVINC.dat"), IEBytes(p.vinculo));
    EXPECT_EQ(Bytes("FTIEXNF.DAT").size(), p.nRegistros * 48);
    EXPECT_EQ(Le(1, 7), p.szLido);
  }
  EXPECT_TRUE(Linhas(ArquivoErrosEmpresa()).empty());
}

TEST_F(IExVinculoTeste, BuscaDeMuitasOrigensDeixaZeradasAsQueFaltam) {
  ASSERT_EQ(Grava(1, 7, {Numero(70)}), S_OK);
  // A text sent with size 0 is an empty text, whatever its pointer holds.
  IE_CAMPO_DATA_PS vazio = IEValor(IE_CAMPO_LIVRE_TEXTO_0, 0, "ignorado");
  vazio.ulTamanhoTexto = 0;
  ASSERT_EQ(Grava(1, 9, {Numero(90), vazio}), S_OK);
  EXPECT_EQ(Bytes("FTIEXNFText.DAT"), IEZeros(1)) << "an empty text is never written";
  UI4 aChaves[] = {9, 0, 8, 7};
  IE_VINCULO_PS aVinculos[4];
  std::memset(aVinculos, 0x5A, sizeof aVinculos);
  ASSERT_EQ(m_ie.BuscaVinculosByOrigem(1, 4, aChaves, aVinculos), S_OK);
  EXPECT_EQ(aVinculos[0].origem.lChave, 9u);
  ASSERT_EQ(aVinculos[0].nQtdCampos, 2u);
  EXPECT_EQ(aVinculos[0].pCampos[1].pcTexto, nullptr) << "an empty text reads back as none";
  EXPECT_EQ(aVinculos[0].pCampos[1].ulTamanhoTexto, 0u);
  EXPECT_EQ(IEBytes(aVinculos[1]), IEZeros(32));
  EXPECT_EQ(IEBytes(aVinculos[2]), IEZeros(32));
  EXPECT_EQ(aVinculos[3].origem.lPosHeader, 1u);
  EXPECT_EQ(aVinculos[3].nQtdCampos, 1u);
  for (auto& v : aVinculos) IELiberaItens(v.pCampos, v.nQtdCampos);
  UI4 aZeroPrimeiro[] = {0, 7};
  ASSERT_EQ(m_ie.BuscaVinculosByOrigem(1, 2, aZeroPrimeiro, aVinculos), S_OK);
  EXPECT_EQ(IEBytes(aVinculos[0]), IEZeros(32));
  EXPECT_EQ(aVinculos[1].nQtdCampos, 1u) << "a leading key 0 stops no other";
  IELiberaItens(aVinculos[1].pCampos, aVinculos[1].nQtdCampos);
  // Header 0, or the single key 0: nothing is read.
  ASSERT_EQ(ZelExcluiArquivo(m_sVovi + "FTIEXNF.DAT"), ERROR_SUCCESS);
  std::memset(aVinculos, 0x5A, sizeof aVinculos);
  EXPECT_EQ(m_ie.BuscaVinculosByOrigem(0, 4, aChaves, aVinculos), S_OK);
  EXPECT_EQ(IEBytes(aVinculos[3]), IEZeros(32));
  UI4 ulZero = 0;
  EXPECT_EQ(m_ie.BuscaVinculosByOrigem(1, 1, &ulZero, aVinculos), S_OK);
  EXPECT_FALSE(Existe("FTIEXNF.DAT"));
  EXPECT_EQ(m_ie.BuscaVinculosByOrigem(5, 1, aChaves, aVinculos), HR(0x80043E95)) << "no header at 5";
  EXPECT_EQ(ErrosDe("CIExBase::BuscaVinculosByOrigem", kFonte, "hr = m_ArqIE.Le(lPosHeader, &regTipDoc)"), 1);
  EXPECT_EQ(m_ie.BuscaVinculosByOrigem(1, 2, nullptr, aVinculos), E_POINTER);
}

// Many origins read ahead read what one at a time does, for chains rewritten, moved, empty, deleted, keys repeated.
TEST_F(IExVinculoTeste, BuscaDeMuitasOrigensLeOMesmoQueUmaAUma) {
  std::vector<std::string> aTextos;
  auto Valores = [&](UI4 k, UI4 n) {
    std::vector<IE_CAMPO_DATA_PS> a;
    for (UI4 j = 0; j < n; ++j) {
      aTextos.push_back("t" + std::to_string(k) + "." + std::string(j % 4, 'x'));
      a.push_back(j % 3 == 1 ? IEValor(IE_CAMPO_LIVRE_TEXTO_0, 0, aTextos.back().c_str()) : Numero(k * 100 + j));
    }
    return a;
  };
  aTextos.reserve(8000);
  for (UI4 k = 1; k <= 400; ++k) ASSERT_EQ(Grava(1, k, Valores(k, k % 11)), S_OK);
  for (UI4 k = 7; k <= 400; k += 7) ASSERT_EQ(Grava(1, k, Valores(k + 1, k % 11 + 3)), S_OK);
  for (UI4 k = 13; k <= 400; k += 13) ASSERT_EQ(Grava(1, k, Valores(k + 2, k % 11 / 2)), S_OK);
  ASSERT_EQ(m_ie.NotificaExclusaoOrigem({1, 50}), S_OK);
  std::vector<UI4> aChaves;
  for (UI4 k = 400; k >= 1; --k) aChaves.push_back(k);
  aChaves.insert(aChaves.begin() + 100, {401, 0, 5, 5});
  // Each link found, with its values' bytes.
  auto Busca = [&](UI4* pChaves, size_t nChaves) {
    std::vector<IE_VINCULO_PS> a(nChaves);
    EXPECT_EQ(m_ie.BuscaVinculosByOrigem(1, static_cast<UINT>(nChaves), pChaves, a.data()), S_OK);
    std::vector<std::string> aDescritos;
    for (auto& v : a) {
      aDescritos.push_back(std::to_string(v.origem.lPosHeader) + "/" + std::to_string(v.origem.lChave) + "/" +
                           std::to_string(v.nQtdCampos) + " " + IEDescreveValores(v.pCampos, v.nQtdCampos));
      for (UINT i = 0; i < v.nQtdCampos; ++i) aDescritos.back() += " " + IEBytes(v.pCampos[i].BinaryData);
      IELiberaItens(v.pCampos, v.nQtdCampos);
    }
    return aDescritos;
  };
  CZelVistaArquivo::Esquece();
  uint64_t n = ZelLeTrechosChamadas();
  const std::vector<std::string> aAdiantadas = Busca(aChaves.data(), aChaves.size());
  EXPECT_GT(ZelLeTrechosChamadas(), n) << "read ahead";
  std::vector<std::string> aUmaAUma;
  for (UI4 k : aChaves) aUmaAUma.push_back(Busca(&k, 1).at(0));
  EXPECT_EQ(aAdiantadas, aUmaAUma);
  ASSERT_EQ(aUmaAUma.size(), 404u);
  EXPECT_EQ(aUmaAUma[0].rfind("1/400/4 250:40000 100:'t400.x' 250:40002 250:40003 ", 0), 0u) << aUmaAUma[0];
  EXPECT_EQ(aUmaAUma[397].rfind("1/7/10 250:800 100:'t8.x' 250:802 250:803 100:'t8.' 250:805 ", 0), 0u) << "moved";
  EXPECT_EQ(aUmaAUma[101], "0/0/0 ") << "the key 0";
  EXPECT_EQ(aUmaAUma[102], aUmaAUma[103]);
  n = ZelLeTrechosChamadas();
  EXPECT_EQ(Busca(aChaves.data(), aChaves.size()), aUmaAUma);
  EXPECT_EQ(ZelLeTrechosChamadas(), n) << "every page asked for before: the view";
}

TEST_F(IExVinculoTeste, OrigemInvalidaOuCampoDesconhecidoNaoEscreveEExclusaoMarcaSemApagar) {
  EXPECT_EQ(Grava(0, 7, {Numero(1)}), HR(0x80040CE4));
  EXPECT_EQ(Grava(1, 0, {Numero(1)}), HR(0x8004097B));
  EXPECT_TRUE(Linhas(ArquivoErrosEmpresa()).empty()) << "neither is logged";
  EXPECT_EQ(m_ie.NotificaExclusaoOrigem({1, 0}), HR(0x80040CE3));
  EXPECT_EQ(
      ErrosDe("CIExBase::NotificaExclusaoOrigem", kFonte, "hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 3299)"), 1);
  EXPECT_EQ(m_ie.GravaCamposVinculo({{1, 5}, 2, {}, nullptr, nullptr}), E_POINTER);
  EXPECT_EQ(Grava(3, 7, {Numero(1)}), HR(0x80043E95)) << "a header that does not exist";
  EXPECT_FALSE(Existe("DFIEVINC.dat"));
  EXPECT_FALSE(Existe("FTIEXNF.DAT"));
  EXPECT_EQ(Grava(1, 7, {IEValor(IE_CAMPO_LIVRE_TEXTO_0, 0, "abc"), IEValor(static_cast<IE_E_CAMPO>(600), 1)}), E_FAIL);
  // Failed at the value file's own check, reported at both levels; the file holds the text before the bad value.
  EXPECT_EQ(Erros("GravaArrayItensWithText", "hr = E_FAIL\thr = 0X80004005"), 1);
  EXPECT_TRUE(ErroContem(
      "hr = GravaArrayItensWithText(arqCmp, regVin.nQtdCampos, &regVin.iPtrCampos, vinculo.pCampos)\thr = 0X80004005"));
  EXPECT_EQ(Bytes("FTIEXNF.DAT"), IEZeros(48));
  EXPECT_EQ(Bytes("FTIEXNFText.DAT"), IEZeros(1) + "abc");
  EXPECT_FALSE(Existe("DFIEVINC.dat"));
  // Deleting an origin flags its link and erases nothing.
  ASSERT_EQ(Grava(1, 7, {Numero(70)}), S_OK);
  EXPECT_EQ(m_ie.ExisteVinculo(1), S_OK);
  EXPECT_EQ(m_ie.ExisteVinculo(2), S_FALSE);
  const std::string sAntes = Bytes("DFIEVINC.dat");
  EXPECT_EQ(m_ie.NotificaExclusaoOrigem({1, 8}), S_OK) << "an origin without a link";
  EXPECT_EQ(Bytes("DFIEVINC.dat"), sAntes);
  ASSERT_EQ(m_ie.NotificaExclusaoOrigem({1, 7}), S_OK);
  EXPECT_EQ(Bytes("DFIEVINC.dat"), IEBytes(Vinculo(1, 7, 1, 1, 1)));
  EXPECT_EQ(m_ie.ExisteVinculo(1), S_FALSE);
  EXPECT_EQ(Le(1, 7), "250:70") << "the index still finds the flagged link";
  EXPECT_EQ(Grava(1, 7, {Numero(71)}), HR(0x81080AAD));
  EXPECT_EQ(Bytes("DFIEVINC.dat"), IEBytes(Vinculo(1, 7, 1, 1, 1)));
  EXPECT_EQ(ErrosDe("CIExBase::GravaCamposVinculo", kFonte, "hr = m_pDataBase->m_Vinculo.Grava(lPos, regVin)"), 1);
}

// A cut chain fails where it ends, keeping what was read; a value file that cannot open writes no link.
TEST_F(IExVinculoTeste, ArquivoDeValoresCortadoOuQueNaoAbre) {
  ASSERT_EQ(Grava(1, 7, {Numero(1), Numero(2), Numero(3)}), S_OK);
  const std::string sVinculos = Bytes("DFIEVINC.dat");
  Escreve("FTIEXNF.DAT", Bytes("FTIEXNF.DAT").substr(0, 3 * 48));
  UI4 lChave = 7;
  IE_VINCULO_PS v{};
  {
    CIExBaseTeste ie;  // its own value file, read afresh
    ASSERT_EQ(ie.Inicializa("EMP1", 1, 1), S_OK);
    EXPECT_EQ(ie.BuscaVinculosByOrigem(1, 1, &lChave, &v), HR(0x80043E95));
  }
  EXPECT_EQ(v.origem.lChave, 7u);
  ASSERT_EQ(v.nQtdCampos, 3u);
  EXPECT_EQ(IEDescreveValores(v.pCampos, v.nQtdCampos), "250:1 250:2 0:0");
  IELiberaItens(v.pCampos, v.nQtdCampos);
  EXPECT_EQ(Erros("BuscaVinculosByOrigem", "LeArrayItensWithText(arquivoCampos, rVinculo.iPtrCampos"), 1);
  ASSERT_EQ(ZelExcluiArquivo(m_sVovi + "FTIEXNF.DAT"), ERROR_SUCCESS);
  std::filesystem::create_symlink("nenhum/FTIEXNF.DAT", m_sVovi + "FTIEXNF.DAT");
  CIExBaseTeste ie;
  ASSERT_EQ(ie.Inicializa("EMP1", 1, 1), S_OK);
  v = {};
  EXPECT_EQ(ie.BuscaVinculosByOrigem(1, 1, &lChave, &v), HR(0x80043EB7));
  IELiberaItens(v.pCampos, v.nQtdCampos);
  EXPECT_EQ(ErrosDe("CIExBase::BuscaVinculosByOrigem", kFonte,
                    "hr = arquivoCampos.Abre('L', (IE_E_PROCESSO)regTipDoc.iProcesso)"),
            1);
  EXPECT_EQ(IEGravaValores(ie, 1, 8, {Numero(2)}), HR(0x80043EB7));
  EXPECT_EQ(ErrosDe("CIExBase::GravaCamposVinculo", kFonte, "hr = arqCmp.Abre('G', regHeaderPS.eProcesso)"), 1);
  EXPECT_EQ(Bytes("DFIEVINC.dat"), sVinculos);
}

TEST_F(IExVinculoTeste, EscritoresConcorrentesNaoPerdemNada) {
  constexpr int kThreads = 4;
  constexpr int kOrigens = 25;
  std::vector<std::thread> aThreads;
  std::vector<std::unique_ptr<CIExBaseTeste>> aObjetos;
  for (int t = 0; t < kThreads; ++t) {
    aObjetos.push_back(std::make_unique<CIExBaseTeste>());
    ASSERT_EQ(aObjetos.back()->Inicializa("EMP1", 1, t), S_OK);
  }
  std::atomic<int> nFalhas{0};
  for (int t = 0; t < kThreads; ++t)
    aThreads.emplace_back([&, t] {
      for (int o = 1; o <= kOrigens; ++o) {
        // Distinct origins per thread, and origin 1000 shared by all.
        for (UI4 lChave : {static_cast<UI4>(t * 100 + o), 1000u})
          nFalhas += IEGravaValores(*aObjetos[t], 1, lChave, {Numero(lChave * 10 + t)}) != S_OK;
      }
    });
  for (auto& th : aThreads) th.join();
  EXPECT_EQ(nFalhas.load(), 0);
  for (int t = 0; t < kThreads; ++t)
    for (int o = 1; o <= kOrigens; ++o) EXPECT_EQ(Le(1, t * 100 + o), "250:" + std::to_string((t * 100 + o) * 10 + t));
  EXPECT_EQ(Bytes("DFIEVINC.dat").size(), (kThreads * kOrigens + 1) * 24u) << "one link per origin";
  EXPECT_EQ(Le(1, 1000).find(' '), std::string::npos) << "one value";
}

TEST_F(IExTeste, IndicesDoCabecalhoEDaOrigemAchamOMesmoVinculoQueAVarredura) {
  // Headers whose first records are flagged, repeated origins, a header with flagged records only.
  Escreve("DFIECONFIG.DAT", Configuracao(9));
  Escreve("DFIEVINC.dat", IEBytes(std::vector<IE_VINCULO_ARQ_V0>{
                              Vinculo(1, 5, 1, 1, 1), Vinculo(2, 6, 1, 2, 1), Vinculo(1, 6, 2, 2), Vinculo(2, 5),
                              Vinculo(1, 7, 1, 4), Vinculo(3, 8, 1, 5, 1), Vinculo(3, 9, 1, 6, 1), Vinculo(2, 6)}));
  CIExBaseTeste ie;
  ASSERT_EQ(ie.Inicializa("EMP1", 1, 1), S_OK);
  auto confere = [&](const char* szMomento, std::vector<UI4> aEsperados) {
    std::vector<UI4> aAchados;
    for (UI4 lPosHeader : {0u, 1u, 2u, 3u, 4u}) {
      SCOPED_TRACE(std::string(szMomento) + ", header " + std::to_string(lPosHeader));
      aAchados.push_back(static_cast<UI4>(ProcuraNosDois(ie, lPosHeader, nullptr)));
      EXPECT_EQ(ie.ExisteVinculo(lPosHeader), aAchados.back() != 0 ? S_OK : S_FALSE);
    }
    EXPECT_EQ(aAchados, aEsperados) << szMomento;
  };
  confere("loaded", {0, 3, 4, 0, 0});
  // Flag the first active record of header 1: the next one answers.
  ASSERT_EQ(ie.NotificaExclusaoOrigem({1, 6}), S_OK);
  confere("flagged", {0, 5, 4, 0, 0});
  // A flagged record made active again, ahead of the others, and a record moved to another header.
  auto Regrava = [&](ZelUInt uiPos, const IE_VINCULO_ARQ_V0& reg) {
    return ie.m_pDataBase->m_Vinculo.Grava(uiPos, reg);
  };
  ASSERT_EQ(Regrava(1, Vinculo(1, 4, 1, 1)), S_OK);
  ASSERT_EQ(Regrava(4, Vinculo(3, 5, 1, 3)), S_OK);
  ASSERT_EQ(Regrava(0, Vinculo(0, 5, 1, 7)), S_OK) << "header 0 is scanned";
  confere("rewritten", {9, 1, 8, 4, 0});
  // Every link of header 1 flagged.
  ASSERT_EQ(ie.NotificaExclusaoOrigem({1, 4}), S_OK);
  ASSERT_EQ(ie.NotificaExclusaoOrigem({1, 7}), S_OK);
  confere("all flagged", {9, 0, 8, 4, 0});
  ASSERT_EQ(ie.Finaliza(), S_OK);
  // Repeated origins, flagged records before and after live ones, other headers with the same key.
  Escreve("DFIEVINC.dat",
          IEBytes(std::vector<IE_VINCULO_ARQ_V0>{Vinculo(1, 5, 1, 1, 1), Vinculo(1, 6), Vinculo(1, 5, 2, 2),
                                                 Vinculo(2, 5), Vinculo(1, 5, 3, 3), Vinculo(1, 7, 1, 4, 1),
                                                 Vinculo(3, 8, 1, 5, 1), Vinculo(3, 8, 1, 6)}));
  CIExBaseTeste porOrigem;
  ASSERT_EQ(porOrigem.Inicializa("EMP1", 1, 1), S_OK);
  ZelUInt uiPos = 2;
  ASSERT_EQ(porOrigem.m_pDataBase->m_Vinculo.Grava(uiPos, Vinculo(1, 6, 9, 9)), S_OK)
      << "a rewrite keeps the index in step";
  int nAchados = 0;
  for (UI4 lPosHeader : {1u, 2u, 3u, 4u})
    for (UI4 lChave : {5u, 6u, 7u, 8u, 9u}) {
      SCOPED_TRACE(std::to_string(lPosHeader) + "/" + std::to_string(lChave));
      nAchados += ProcuraNosDois(porOrigem, lPosHeader, &lChave) != 0;
    }
  EXPECT_EQ(nAchados, 4) << "1/5 at 3, 1/6 at 2, 2/5 at 4, 3/8 at 8";
}
