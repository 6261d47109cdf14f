#include <gtest/gtest.h>
#include <unistd.h>

#include "IExAjuda_test.h"

namespace {
class IExIntegracaoTeste : public IExTeste {
 protected:
  void SetUp() override {
    IExTeste::SetUp();
    ASSERT_EQ(m_ie.Inicializa("EMP1", 1, 1), S_OK);
  }
  UI4 GravaCabecalho(int eOrigem, int eDestino, UI1 cExcluido = 0, UI1 cInativo = 0, UI4 ulPos = 0) {
    const _REG_IE_CABECALHO_INTEGRACAO_PS reg{
        0, 0, static_cast<IE_E_PROCESSO>(eOrigem), static_cast<IE_E_PROCESSO>(eDestino), cExcluido, cInativo, {}};
    UI4 ulSaida = 0;
    EXPECT_EQ(m_ie.GravaCabecalhoIntegracao(ulPos, reg, &ulSaida), S_OK);
    return ulSaida;
  }
  int Erros(const std::string& sMetodo, const std::string& sExpressao) const {
    return ErrosDe("CIExBase::" + sMetodo, "IExBaseIntegracao", sExpressao);
  }
  static IE_HEADER_FILTRO_PS Filtro(int eProc, UI4 dwFlags = 0) {
    return IE_HEADER_FILTRO_PS{dwFlags, static_cast<IE_E_PROCESSO>(eProc), 0, {}};
  }
  // A header as the file holds it, with no links.
  static std::string CabecalhoArq(UI4 eOrigem, UI4 eDestino, UI1 cFlags) {
    return IEBytes(_REG_IE_CABECALHO_INTEGRACAO_ARQ_V0{eOrigem, eDestino, 0, 0, cFlags, {}});
  }
  // What ExisteCabecalhoIntegracao finds over a dirty output: origin, inactive, excluded, or "none" if cleared.
  std::string Existe(IE_HEADER_FILTRO_PS origem, IE_HEADER_FILTRO_PS destino) {
    _REG_IE_CABECALHO_INTEGRACAO_PS cab;
    std::memset(&cab, 0x5A, sizeof cab);
    EXPECT_EQ(m_ie.ExisteCabecalhoIntegracao(origem, destino, &cab), S_OK);
    if (IEBytes(cab) == IEZeros(80)) return "none";
    return std::to_string(cab.eProcessoOrigem) + " " + std::to_string(cab.cInativo) + " " +
           std::to_string(cab.cExcluido);
  }
  std::string LogGeral() const { return ZelLeArquivoInteiro(m_sEmpresa + "ZelLogGeral.log"); }
  CIExBaseTeste m_ie;
};

// Origin FT_NF with a text and a value field; destination FT_PED with value, text and date; origin record 7 set.
class IExCarregaTeste : public IExIntegracaoTeste {
 protected:
  void SetUp() override {
    IExIntegracaoTeste::SetUp();
    m_ulOrigem = IEGravaHeader(m_ie, IE_PROCESSO_FT_NF,
                               {IECampo(static_cast<IE_E_CAMPO>(101), "Obs"), IECampo(IE_CAMPO_LIVRE_V4_0, "Valor")});
    m_ulDestino = IEGravaHeader(m_ie, IE_PROCESSO_FT_PED,
                                {IECampo(static_cast<IE_E_CAMPO>(251), "Total"),
                                 IECampo(IE_CAMPO_LIVRE_TEXTO_0, "Nota"), IECampo(IE_CAMPO_LIVRE_DMA_0, "Data")});
    ASSERT_NE(m_ulOrigem, 0u);
    ASSERT_NE(m_ulDestino, 0u);
    ASSERT_EQ(IEGravaValores(m_ie, m_ulOrigem, 7,
                             {IEValor(static_cast<IE_E_CAMPO>(101), 0, "abc"), IEValor(IE_CAMPO_LIVRE_V4_0, 4242)}),
              S_OK);
  }
  UI4 m_ulOrigem = 0, m_ulDestino = 0;
};
}  // namespace

TEST_F(IExIntegracaoTeste, CabecalhosEVinculosGravadosListadosLidosEAchados) {
  IE_ARRAY_PONTEIROS_PS ptrs{};
  ASSERT_EQ(m_ie.GetPonteirosCabecalhoIntegracaoVoviDadi(&ptrs), S_OK);
  EXPECT_EQ(ptrs.qtd, 0u);
  EXPECT_EQ(ptrs.pPtrs, nullptr);
  EXPECT_EQ(GravaCabecalho(1, 2), 1u);
  EXPECT_EQ(GravaCabecalho(3, 4, 0, 1), 2u);
  EXPECT_EQ(GravaCabecalho(5, 6), 3u);
  EXPECT_EQ(GravaCabecalho(3, 4, 255, 1, 2), 2u) << "rewritten in place";
  EXPECT_EQ(Bytes("DFIEINTCAB.DAT"),
            IEZeros(80) + CabecalhoArq(1, 2, 0) + CabecalhoArq(3, 4, 3) + CabecalhoArq(5, 6, 0));
  GravaCabecalho(3, 4, 0, 0, 2);
  EXPECT_EQ(Bytes("DFIEINTCAB.DAT").substr(160, 80), CabecalhoArq(3, 4, 0)) << "a rewrite sets both marks anew";
  GravaCabecalho(3, 4, 255, 1, 2);
  ASSERT_EQ(m_ie.GetPonteirosCabecalhoIntegracaoVoviDadi(&ptrs), S_OK);
  EXPECT_EQ(std::vector<UI4>(ptrs.pPtrs, ptrs.pPtrs + ptrs.qtd), (std::vector<UI4>{1, 3}));
  CoTaskMemFree(ptrs.pPtrs);
  UI4 aPedidos[] = {3, 2, 1};
  IE_ARRAY_PONTEIROS_PS pedido{3, {}, aPedidos, nullptr};
  _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS lista{};
  ASSERT_EQ(m_ie.GetListaCabecalhosIntegracao(&pedido, &lista), S_OK);
  ASSERT_EQ(lista.ulQtd, 2u) << "the excluded one is left out";
  EXPECT_EQ(lista.pRegListaCabecalhos[0].eProcessoOrigem, 5);
  EXPECT_EQ(lista.pRegListaCabecalhos[1].eProcessoOrigem, 1);
  CoTaskMemFree(lista.pRegListaCabecalhos);
  _REG_IE_CABECALHO_INTEGRACAO_PS cab;
  std::memset(&cab, 0x5A, sizeof cab);
  ASSERT_EQ(m_ie.LeCabecalhoIntegracao(3, &cab), S_OK);
  EXPECT_EQ(cab.eProcessoDestino, 6);
  EXPECT_EQ(cab.cFiller[0], 0);
  std::memset(&cab, 0x5A, sizeof cab);
  ASSERT_EQ(m_ie.LeCabecalhoIntegracao(2, &cab), S_OK);
  EXPECT_EQ(IEBytes(cab), IEZeros(80)) << "an excluded header reads as a zero header";
  // An inactive header is found only when both filters ask for it.
  GravaCabecalho(7, 8, 255);   // excluded
  GravaCabecalho(7, 8, 0, 1);  // inactive
  GravaCabecalho(8, 7);
  EXPECT_EQ(Existe(Filtro(7), Filtro(8)), "none");
  EXPECT_EQ(Existe(Filtro(7, 2), Filtro(8)), "none");
  EXPECT_EQ(Existe(Filtro(7, 2), Filtro(8, 2)), "7 255 0");
  EXPECT_EQ(Existe(Filtro(8), Filtro(7)), "8 0 0");
  EXPECT_EQ(Existe(Filtro(8), Filtro(9)), "none") << "the origin alone is not a match";
  // Of two matches, the first in the file answers.
  GravaCabecalho(7, 8);
  EXPECT_EQ(Existe(Filtro(7), Filtro(8)), "7 0 0");
  EXPECT_EQ(Existe(Filtro(7, 2), Filtro(8, 2)), "7 255 0");
  // Links are appended and pointed to by their header.
  _REG_IE_VINCULO_INTEGRACAO_PS aVinculos[3] = {{0, 1, 2, 0, 0, {}}, {0, 3, 4, 255, 0, {}}, {0, 5, 6, 0, 1, {}}};
  _REG_LISTA_IE_VINCULO_INTEGRACAO_PS listaVinculos{3, {}, aVinculos, nullptr};
  _REG_IE_CABECALHO_INTEGRACAO_PS cabVinculos{};
  cabVinculos.ulQtdVinculosIntegracoes = 9;
  ASSERT_EQ(m_ie.GravaVinculosCabecalhosIntegracao(&cabVinculos, &listaVinculos), S_OK);
  EXPECT_EQ(cabVinculos.ulPonteiroPrimeiroVinculoIntegracao, 1u);
  EXPECT_EQ(cabVinculos.ulQtdVinculosIntegracoes, 3u);
  const _REG_IE_VINCULO_INTEGRACAO_ARQ_V0 esperados[3] = {{0, 1, 2, 0, {}}, {0, 3, 4, 2, {}}, {0, 5, 6, 1, {}}};
  EXPECT_EQ(Bytes("DFIEINTVINC.DAT"), IEZeros(80) + IEBytes(esperados));
  // A second write appends; the first run stays, unreferenced.
  ASSERT_EQ(m_ie.GravaVinculosCabecalhosIntegracao(&cabVinculos, &listaVinculos), S_OK);
  EXPECT_EQ(cabVinculos.ulPonteiroPrimeiroVinculoIntegracao, 4u);
  _REG_LISTA_IE_VINCULO_INTEGRACAO_PS lidos{};
  ASSERT_EQ(m_ie.LeVinculosCabecalhoIntegracao(&cabVinculos, &lidos), S_OK);
  ASSERT_EQ(lidos.ulQtd, 2u) << "the excluded link is left out";
  EXPECT_EQ(lidos.pRegListaVinculos[0].ulPosicaoCampoDestino, 2u);
  EXPECT_EQ(lidos.pRegListaVinculos[1].ulPosicaoCampoOrigem, 5u);
  EXPECT_EQ(lidos.pRegListaVinculos[1].cInativo, 255);
  CoTaskMemFree(lidos.pRegListaVinculos);
  _REG_IE_CABECALHO_INTEGRACAO_PS vazio{};
  ASSERT_EQ(m_ie.LeVinculosCabecalhoIntegracao(&vazio, &lidos), S_OK);
  EXPECT_EQ(lidos.ulQtd, 0u);
  EXPECT_EQ(lidos.pRegListaVinculos, nullptr);
  _REG_IE_CABECALHO_INTEGRACAO_PS alemDoFim = cabVinculos;
  alemDoFim.ulQtdVinculosIntegracoes = 1000;
  EXPECT_EQ(m_ie.LeVinculosCabecalhoIntegracao(&alemDoFim, &lidos), HR(0x80043E95));
  EXPECT_EQ(lidos.pRegListaVinculos, nullptr);
  EXPECT_EQ(Erros("LeVinculosCabecalhoIntegracao", "hr = arqVinculo.Le(ulPosLeitura + l, &regVinculoIntegracao)"), 1);
  _REG_LISTA_IE_VINCULO_INTEGRACAO_PS semArray{1, {}, nullptr, nullptr};
  const std::string sVinculos = Bytes("DFIEINTVINC.DAT");
  EXPECT_EQ(m_ie.GravaVinculosCabecalhosIntegracao(&cabVinculos, &semArray), E_POINTER);
  EXPECT_EQ(Bytes("DFIEINTVINC.DAT"), sVinculos);
}

TEST_F(IExIntegracaoTeste, ExclusaoPorProcessoMarcaERegistraEPosicoesRuinsNaoEscrevem) {
  GravaCabecalho(10, 11);
  GravaCabecalho(12, 10, 0, 1);  // inactive: left unless asked
  GravaCabecalho(12, 13);
  auto Usado = [&](IE_HEADER_FILTRO_PS filtro) {
    I4 bUsado = 7;
    EXPECT_EQ(m_ie.GetProcessoJaCadastradoNaIntegracao(filtro, &bUsado), S_OK);
    return bUsado;
  };
  EXPECT_EQ(Usado(Filtro(10)), 1);
  ASSERT_EQ(m_ie.ExcluiIntegracoesQueUsamEsteProcesso(Filtro(10)), S_OK);
  EXPECT_EQ(Bytes("DFIEINTCAB.DAT"),
            IEZeros(80) + CabecalhoArq(10, 11, 2) + CabecalhoArq(12, 10, 1) + CabecalhoArq(12, 13, 0));
  const std::string sLinha = "Vovi Dadi: Integra\xE7\xE3o entre processo origem 10 e destino 11 removida.\n";
  EXPECT_EQ(LogGeral(), sLinha);
  EXPECT_EQ(Usado(Filtro(10)), 0);
  EXPECT_EQ(Usado(Filtro(10, 2)), 1) << "the inactive one counts when asked";
  ASSERT_EQ(m_ie.ExcluiIntegracoesQueUsamEsteProcesso(Filtro(10, 2)), S_OK);
  EXPECT_EQ(LogGeral(), sLinha + "Vovi Dadi: Integra\xE7\xE3o entre processo origem 12 e destino 10 removida.\n");
  EXPECT_EQ(Bytes("DFIEINTCAB.DAT").substr(160, 80), CabecalhoArq(12, 10, 3))
      << "the deletion mark joins the inactive one";
  EXPECT_EQ(Usado(Filtro(10, 2)), 0);
  EXPECT_EQ(Usado(Filtro(13)), 1);
  // On a full disk the removal still happens, and the lost log line is told.
  ASSERT_EQ(ZelExcluiArquivo(m_sEmpresa + "ZelLogGeral.log"), ERROR_SUCCESS);
  ASSERT_EQ(symlink("/dev/full", (m_sEmpresa + "ZelLogGeral.log").c_str()), 0);
  ASSERT_EQ(m_ie.ExcluiIntegracoesQueUsamEsteProcesso(Filtro(13)), S_OK);
  EXPECT_EQ(Bytes("DFIEINTCAB.DAT").substr(240, 80), CabecalhoArq(12, 13, 2));
  EXPECT_EQ(Erros("ExcluiIntegracoesQueUsamEsteProcesso", "hr = GetAcessoEmpresarial()->GravaLogGeral(sLog)"), 1);
  // Bad positions or a busy marker give a code and a line and write nothing.
  GravaCabecalho(1, 2);
  const std::string sAntes = Bytes("DFIEINTCAB.DAT");
  _REG_IE_CABECALHO_INTEGRACAO_PS cab{};
  EXPECT_EQ(m_ie.LeCabecalhoIntegracao(9, &cab), HR(0x80043E95));
  EXPECT_EQ(Erros("GetListaCabecalhosIntegracao", "hr = arqCabecalho.Le(pRegPonteiros->pPtrs[ul], &regArq)"), 1);
  EXPECT_EQ(Erros("LeCabecalhoIntegracao", "hr = GetListaCabecalhosIntegracao(&regPonteiro, &regListaCabecalho)"), 1);
  EXPECT_EQ(m_ie.LeCabecalhoIntegracao(0, &cab), E_INVALIDARG);
  EXPECT_EQ(m_ie.LeCabecalhoIntegracao(1, nullptr), E_POINTER);
  _REG_IE_CABECALHO_INTEGRACAO_PS reg{};
  reg.eProcessoOrigem = IE_PROCESSO_COUNT;
  UI4 ulSaida = 77;
  EXPECT_EQ(m_ie.GravaCabecalhoIntegracao(0, reg, &ulSaida), E_INVALIDARG);
  reg.eProcessoOrigem = static_cast<IE_E_PROCESSO>(-1);
  EXPECT_EQ(m_ie.GravaCabecalhoIntegracao(0, reg, &ulSaida), E_INVALIDARG);
  reg.eProcessoOrigem = IE_PROCESSO_FN_CRE;
  EXPECT_EQ(m_ie.GravaCabecalhoIntegracao(0, reg, nullptr), E_POINTER);
  EXPECT_EQ(m_ie.GravaCabecalhoIntegracao(6, reg, &ulSaida), HR(0x80040A73)) << "beyond the next free position";
  EXPECT_EQ(ulSaida, 77u);
  EXPECT_EQ(Bytes("DFIEINTCAB.DAT"), sAntes);
  IE_ARRAY_PONTEIROS_PS semArray{2, {}, nullptr, nullptr};
  _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS lista{};
  EXPECT_EQ(m_ie.GetListaCabecalhosIntegracao(&semArray, &lista), E_POINTER);
  EXPECT_EQ(m_ie.GetPonteirosCabecalhoIntegracaoVoviDadi(nullptr), E_POINTER);
  EXPECT_EQ(m_ie.ExcluiIntegracoesQueUsamEsteProcesso(Filtro(500)), E_INVALIDARG);
  EXPECT_EQ(Erros("GetListaCabecalhosIntegracao", "hr = E_INVALIDARG"), 1) << "position 0";
  EXPECT_EQ(Erros("GravaCabecalhoIntegracao", "hr = E_INVALIDARG"), 2);
  EXPECT_EQ(Erros("ExcluiIntegracoesQueUsamEsteProcesso", "hr = E_INVALIDARG"), 1);
  {
    IESeguraMarca outra(m_sVovi);
    EXPECT_EQ(m_ie.GravaCabecalhoIntegracao(0, reg, &ulSaida), HR(0x800400FD));
  }
  EXPECT_EQ(Bytes("DFIEINTCAB.DAT"), sAntes);
  EXPECT_EQ(Erros("GravaCabecalhoIntegracao",
                  "iRetorno = marcaFila.Marca(m_sLocalDados, IZelArqMarcaEnum::VoviDadi, \"DF\")"),
            1);
  EXPECT_EQ(m_ie.GravaCabecalhoIntegracao(0, reg, &ulSaida), S_OK) << "free again";
}

TEST_F(IExCarregaTeste, ValoresLevadosPelosVinculosDaIntegracao) {
  const IE_HEADER_FILTRO_PS nf = Filtro(IE_PROCESSO_FT_NF), ped = Filtro(IE_PROCESSO_FT_PED);
  const IE_HEADER_FILTRO_PS oc = Filtro(IE_PROCESSO_CM_OC);
  IE_VINCULO_PS v;
  std::memset(&v, 0x5A, sizeof v);
  ASSERT_EQ(m_ie.GetVinculoByIntegracao(nf, 7, ped, &v), S_OK);
  EXPECT_EQ(v.origem.lPosHeader, m_ulDestino) << "no integration: the destination header and no values";
  EXPECT_EQ(v.nQtdCampos, 0u);
  EXPECT_EQ(v.pCampos, nullptr);
  std::memset(&v, 0x5A, sizeof v);
  ASSERT_EQ(m_ie.GetVinculoByIntegracao(nf, 8, oc, &v), S_OK) << "a record without values needs no destination header";
  EXPECT_EQ(IEBytes(v), IEZeros(32));
  EXPECT_EQ(m_ie.GetVinculoByIntegracao(nf, 7, oc, &v), HR(0x80040A5E));
  EXPECT_EQ(Erros("GetVinculoByIntegracao", "hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 2654)"), 1);
  EXPECT_EQ(m_ie.GetVinculoByIntegracao(Filtro(IE_PROCESSO_CM_SC), 7, ped, &v), HR(0x80040A5D));
  EXPECT_EQ(Erros("GetVinculoByIntegracao", "hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 2653)"), 1);
  EXPECT_EQ(m_ie.GetVinculoByIntegracao(nf, 7, ped, nullptr), E_POINTER);
  // Text to text, value to value; two links past the origin's values and two past the destination's fields (the
  // first of each just past: only the sanitizers see what it would read) are skipped, and the inactive last one.
  const UI4 ulPos = GravaCabecalho(IE_PROCESSO_FT_NF, IE_PROCESSO_FT_PED);
  const UI4 aPares[][2] = {{0, 1}, {1, 0}, {2, 2}, {5, 2}, {0, 3}, {0, 9}, {1, 2}};
  std::vector<_REG_IE_VINCULO_INTEGRACAO_PS> a;
  for (const auto& par : aPares) a.push_back({ulPos, par[0], par[1], 0, 0, {}});
  a.back().cInativo = 1;
  _REG_LISTA_IE_VINCULO_INTEGRACAO_PS lista{static_cast<UI4>(a.size()), {}, a.data(), nullptr};
  _REG_IE_CABECALHO_INTEGRACAO_PS cab{};
  ASSERT_EQ(m_ie.LeCabecalhoIntegracao(ulPos, &cab), S_OK);
  ASSERT_EQ(m_ie.GravaVinculosCabecalhosIntegracao(&cab, &lista), S_OK);
  UI4 ulSaida = 0;
  ASSERT_EQ(m_ie.GravaCabecalhoIntegracao(ulPos, cab, &ulSaida), S_OK);
  std::memset(&v, 0x5A, sizeof v);
  ASSERT_EQ(m_ie.GetVinculoByIntegracao(nf, 7, ped, &v), S_OK);
  EXPECT_EQ(v.origem.lPosHeader, m_ulDestino);
  EXPECT_EQ(v.origem.lChave, 0u);
  EXPECT_EQ(IEDescreveValores(v.pCampos, v.nQtdCampos), "251:4242 100:'abc' 0:0");
  EXPECT_EQ(IEBytes(v.pCampos[1].BinaryData), IEZeros(8)) << "a text carries no place";
  IELiberaItens(v.pCampos, v.nQtdCampos);
}
