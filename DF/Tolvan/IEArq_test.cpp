#include "IEArq.h"

#include <fstream>

#include <gtest/gtest.h>

#include "IExAjuda_test.h"
#include "ZelVistaArquivo.h"

namespace {
struct CDiretorio : IIEArqBind {
  explicit CDiretorio(std::string s) : m_s(std::move(s)) {}
  std::string GetDiretorioDados() const override { return m_s; }
  std::string m_s;
};

using IEArqTeste = IExTeste;
IE_CAMPO_DATA_ARQ_V2 Lugar(UI4 ulOffset, UI2 usTamanho, I4 id = 100) {
  IE_CAMPO_DATA_ARQ_V2 r{{}, id, {}};
  std::memcpy(r.BinaryData, &ulOffset, 4);
  std::memcpy(r.BinaryData + 4, &usTamanho, 2);
  return r;
}
}  // namespace

TEST(IExRegistros, NomesDosArquivosPorProcessoEConversoesDosRegistros) {
  std::string sNomes;
  for (int e = -1; e <= 68; ++e) sNomes += std::string(IEGetNomeBaseProcesso(e)) + ",";
  sNomes += IEGetNomeBaseProcesso(1000);
  // A name lost or misspelt leaves that process's values behind in the old file.
  EXPECT_EQ(sNomes, ","
            "FNIEXCRE,FNIEXCPA,FNIEXTES,FPIEXFUNC,FPIEXSIND,FPIEXEVT,FPIEXTERCALIM,FPIEXTERCCONTRIB,"
            "FPIEXTERCSAUDE,FPIEXTERCSEG,FPIEXTERCTRA,GEIEXATTEC,GEIEXPROTCSAIDA,GEIEXPROTCENTRADA,"
            "GEIEXCONTRATOS,PPIEXFICHATECNICA,PPIEXNECESSPRODUCAO,PPIEXORDEMPRODUCAO,MMIEXGESTAO,"
            "ESIEXCADASTROLOCAL,ESIEXMOVIMENTOS,CMIEXSC,CMIEXCP,CMIEXOC,CMIEXRE,CMIEXCT,FTIEXORC,FTIEXPED,"
            "FTIEXROM,FTIEXNF,FPIEXTRANSF,FPIEXPAGAMENTOS,DFIEXRI,FTIEXAGV,DFIEXCADPRO,DFIEXCADSERV,CMIEXCC,"
            "MMIEXPLANO,DFIEXRECURSO,DFIEXEFCONTPAGENT,DFIEXEFCONTPAGTOM,DFIEXEFCONTRECSAI,DFIEXEFCONTRECPRES,"
            "PPIEXAPONTINTERMED,PPIEXAPONTFINAL,PPIEXAPONTPERDAS,PPIEXAPONTRECURSO,DFIEXCADFOR,DFIEXCADCLI,"
            "DFIEXCADTRA,DFIEXCADREP,GEIEXACOMPSEV,NFIEXAERNF,NFIEXAERCT,GEIEXAGRUPREG,PPIEXDESENVPROD,"
            "PPIEXENSAIOPROD,DFIEXEFSAIDAS,DFIEXEFENTRADAS,DFIEXEFTOMADOS,DFIEXEFPRESTADOS,FPIEXCARGOS,"
            "DFIEXEFITENOTENT,DFIEXEFITENOTSAI,DFIEXEFITENOTPRES,DFIEXEFITENOTTOM,GEIEXCONTRATOSERVICO,FTIEXCTR,"
            ",");
  CDiretorio dir("/d/VOVIDADI/");
  CIEArqTDados<IE_CAMPO_DATA_ARQ_V2> arq(&dir);
  EXPECT_EQ(arq.GetNomeArquivoDados(IE_PROCESSO_FT_NF), "/d/VOVIDADI/FTIEXNF.DAT");
  EXPECT_EQ(arq.GetNomeArquivoTexto(IE_PROCESSO_FT_NF), "/d/VOVIDADI/FTIEXNFText.DAT");
  EXPECT_EQ(arq.GetNomeArquivoDados(IE_PROCESSO_NF_AER_NFS), "/d/VOVIDADI/.DAT");
  EXPECT_EQ(arq.GetNomeArquivoTexto(IE_PROCESSO_NF_AER_NFS), "/d/VOVIDADI/Text.DAT");
  CIEArqT<_REG_IE_VINCULO_INTEGRACAO_ARQ_V0> intVinc(&dir);
  EXPECT_EQ(intVinc.GetNomeArquivo(), "/d/VOVIDADI/DFIEINTVINC.DAT");
  CIEArqT<IE_HDR_ARQ_V0> hdrTra(&dir, ".TRA");
  EXPECT_EQ(hdrTra.GetNomeArquivo(), "/d/VOVIDADI/DFIEHDR.TRA");
  // Conversions copy only the fields of the same name.
  IE_HDR_PS hps;
  std::memset(&hps, 0xAB, sizeof hps);
  IEConverte(IE_HDR_ARQ_V0{5, 27, 3, 9, 12345, {}}, &hps);
  EXPECT_EQ(IEDescreveHeader(hps), "5 27 3 null");
  IE_HDR_ARQ_V0 volta;
  std::memset(&volta, 0xAB, sizeof volta);
  IEConverte(hps, &volta);
  EXPECT_EQ(IEBytes(volta), IEBytes(IE_HDR_ARQ_V0{5, 27, 3, 0, 0, {}})) << "pointer and stamp belong to the store";
  IE_CAMPO_PS cps{1, 2, IE_CAMPO_HORA, {}, {}, 4, {}, nullptr, nullptr};
  std::memset(cps.szNome, 'x', sizeof cps.szNome);  // no terminator
  IE_CAMPO_ARQ_V2 carq;
  IEConverte(cps, &carq);
  EXPECT_EQ(std::string(carq.szNome), std::string(50, 'x'));
  EXPECT_EQ(carq.ulPtrUsuarios, 0u);
  EXPECT_EQ(carq.id, 400);
  EXPECT_EQ(carq.iQtdUsuarios, 4);
  _REG_IE_CABECALHO_INTEGRACAO_PS cab{0, 0, {}, {}, 1, 2, {}};  // the low bit decides
  _REG_IE_CABECALHO_INTEGRACAO_ARQ_V0 cabArq;
  IEConverte(cab, &cabArq);
  EXPECT_EQ(cabArq.cFlags, 0x02);
  cab.cInativo = 255;
  IEConverte(cab, &cabArq);
  EXPECT_EQ(cabArq.cFlags, 0x03);
  _REG_IE_CABECALHO_INTEGRACAO_PS cabVolta;
  IEConverte(cabArq, &cabVolta);
  EXPECT_EQ(cabVolta.cExcluido, 255) << "as a client compares it";
  EXPECT_EQ(cabVolta.cInativo, 255);
  _REG_IE_VINCULO_INTEGRACAO_PS vps;
  IEConverte(_REG_IE_VINCULO_INTEGRACAO_ARQ_V0{0, 0, 7, 0x01, {}}, &vps);
  EXPECT_EQ(vps.cExcluido, 0);
  EXPECT_EQ(vps.cInativo, 255);
  EXPECT_EQ(vps.ulPosicaoCampoDestino, 7u);
}

TEST_F(IEArqTeste, AbreCriaComRegistroZeroTextosNoFimOuNoMesmoLugarELidosAdiante) {
  CriaDiretorio();
  CDiretorio dir(m_sVovi);
  CIEArqT<IE_VINCULO_ARQ_V0> arqVinculos(&dir);
  ASSERT_EQ(arqVinculos.Abre('G'), S_OK);
  EXPECT_EQ(Bytes("DFIEVINC.DAT"), IEZeros(24));
  IE_VINCULO_ARQ_V0 v = Vinculo(1, 2);
  ULONG ulPos = 0;
  ASSERT_EQ(arqVinculos.Grava(&v, &ulPos), 0);
  EXPECT_EQ(ulPos, 1u);
  std::vector<IE_VINCULO_ARQ_V0> a;
  ASSERT_EQ(arqVinculos.LeTudo(a), 0);
  EXPECT_EQ(IEBytes(a), IEBytes(v));
  arqVinculos.Fecha();
  CIEArqT<IE_HDR_ARQ_V0> semCriar(&dir);
  EXPECT_EQ(semCriar.Abre('L', FALSE), HR(0x80043EB7));
  EXPECT_FALSE(Existe("DFIEHDR.DAT"));
  CIEArqT<IE_HDR_ARQ_V0> criado(&dir);
  ASSERT_EQ(criado.Abre('C'), S_OK);
  EXPECT_EQ(Bytes("DFIEHDR.DAT"), IEZeros(56));
  {
    // A disk that cannot take the zero record fails the making of the file.
    ZelLimiteTamanhoArquivos limite(10);
    CIEArqT<IE_CAMPO_ARQ_V2> semEspaco(&dir);
    EXPECT_EQ(semEspaco.Abre('C'), HR(0x80043F08));
  }
  // Values and their texts: texts at the end or in the same place.
  CIEArqTDados<IE_CAMPO_DATA_ARQ_V2> arqDados(&dir);
  ASSERT_EQ(arqDados.Abre('G', IE_PROCESSO_FT_NF), S_OK);
  EXPECT_EQ(Bytes("FTIEXNF.DAT"), IEZeros(48));
  EXPECT_EQ(Bytes("FTIEXNFText.DAT"), IEZeros(1)) << "no text starts at offset 0";
  // The place a text is written to, over the record's old one.
  auto Grava = [&](const std::string& sTexto, IE_CAMPO_DATA_ARQ_V2* pReg) {
    return arqDados.GravaTexto(sTexto, pReg) == 0 ? IEBytes(*pReg) : "failed";
  };
  IE_CAMPO_DATA_ARQ_V2 reg = Lugar(0, 0);
  EXPECT_EQ(Grava("abcd", &reg), IEBytes(Lugar(1, 4)));
  // Not longer than the last one through this object: in place.
  EXPECT_EQ(Grava("xy", &reg), IEBytes(Lugar(1, 2)));
  EXPECT_EQ(Bytes("FTIEXNFText.DAT"), std::string("\0xycd", 5));
  EXPECT_EQ(Grava("zw", &reg), IEBytes(Lugar(1, 2))) << "the same length: in place too";
  ASSERT_EQ(Grava("xy", &reg), IEBytes(Lugar(1, 2)));
  // Longer: appended, the old bytes stay unreferenced.
  EXPECT_EQ(Grava("longer", &reg), IEBytes(Lugar(5, 6)));
  EXPECT_EQ(Bytes("FTIEXNFText.DAT"), std::string("\0xycdlonger", 11));
  std::string s = "lixo";
  ASSERT_EQ(arqDados.LeTexto(Lugar(1, 2), &s), 0);
  EXPECT_EQ(s, "xy");
  EXPECT_EQ(arqDados.GetOffsetTexto(), 1u);
  EXPECT_EQ(arqDados.GetTamanhoTexto(), 2);
  ASSERT_EQ(arqDados.LeTexto(Lugar(0, 0), &s), 0);
  EXPECT_EQ(s, "");
  EXPECT_NE(arqDados.LeTexto(Lugar(40, 3), &s), 0) << "a place beyond the file";
  EXPECT_EQ(s, "");
  // A record without a place always appends, whatever was read before.
  ASSERT_EQ(arqDados.LeTexto(Lugar(5, 6), &s), 0);
  IE_CAMPO_DATA_ARQ_V2 novo = Lugar(0, 0);
  EXPECT_EQ(Grava("ab", &novo), IEBytes(Lugar(11, 2)));
  IE_CAMPO_DATA_ARQ_V2 grande = Lugar(0, 0);
  for (size_t n : {size_t{0x10000}, size_t{70000}}) {
    EXPECT_EQ(Grava(std::string(n, 'z'), &grande), "failed") << n << ": a length beyond 16 bits is never cut";
    EXPECT_EQ(IEBytes(grande), IEBytes(Lugar(0, 0)));
    EXPECT_EQ(Bytes("FTIEXNFText.DAT").size(), 13u);
  }
  EXPECT_EQ(Grava(std::string(0xFFFF, 'z'), &grande), IEBytes(Lugar(13, 0xFFFF)));
  // Values whose texts are gone do not open: the texts' code now, not empty texts later.
  arqDados.Fecha();
  ASSERT_EQ(std::remove((m_sVovi + "FTIEXNFText.DAT").c_str()), 0);
  CIEArqTDados<IE_CAMPO_DATA_ARQ_V2> semTextos(&dir);
  EXPECT_EQ(semTextos.Abre('L', IE_PROCESSO_FT_NF, FALSE), HR(0x80043EB7));
  EXPECT_FALSE(Existe("FTIEXNFText.DAT"));
  // Reading ahead takes the texts of text fields as they stand then, never a place another kind of value holds.
  Escreve("FTIEXNF.DAT", IEZeros(48) + IEBytes(Lugar(1, 3)) + IEBytes(Lugar(4, 3, 250)));
  Escreve("FTIEXNFText.DAT", std::string(1, '\0') + "abcdef");
  CZelVistaArquivo::Esquece();
  CIEArqTDados<IE_CAMPO_DATA_ARQ_V2> arq(&dir);
  ASSERT_EQ(arq.Abre('L', IE_PROCESSO_FT_NF, FALSE), S_OK);
  arq.AdiantaRuns({{1, 2}}, [](I4 id) { return id == 100; });
  std::fstream f(m_sVovi + "FTIEXNFText.DAT", std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(1);
  f << "XYZUVW";
  f.close();
  ASSERT_EQ(arq.LeTexto(Lugar(1, 3), &s), 0);
  EXPECT_EQ(s, "abc") << "read ahead";
  ASSERT_EQ(arq.LeTexto(Lugar(4, 3), &s), 0);
  EXPECT_EQ(s, "UVW") << "not a text: not read ahead";
  arq.Fecha();
  // The texts of a run as long as one read takes are read ahead too; a longer run's are not.
  for (UINT nQtd : {4096u, 4097u}) {
    std::string sRegs = IEZeros(48);
    for (UINT i = 0; i < nQtd; ++i) sRegs += IEBytes(Lugar(1, 3));
    Escreve("FTIEXNF.DAT", sRegs);
    Escreve("FTIEXNFText.DAT", std::string(1, '\0') + "abc");
    CZelVistaArquivo::Esquece();
    CIEArqTDados<IE_CAMPO_DATA_ARQ_V2> longo(&dir);
    ASSERT_EQ(longo.Abre('L', IE_PROCESSO_FT_NF, FALSE), S_OK);
    longo.AdiantaRuns({{1, nQtd}}, [](I4 id) { return id == 100; });
    Escreve("FTIEXNFText.DAT", std::string(1, '\0') + "XYZ");
    ASSERT_EQ(longo.LeTexto(Lugar(1, 3), &s), 0);
    EXPECT_EQ(s, nQtd == 4096u ? "abc" : "XYZ") << nQtd;
  }
}
