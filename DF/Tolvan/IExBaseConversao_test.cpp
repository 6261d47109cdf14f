#include "IExBaseConversao.h"

#include <gtest/gtest.h>

#include "IExTeste.h"

namespace {
using IExBaseConversaoTeste = IExTeste;

IE_CAMPO_ARQ_V1 CampoV1(I4 id, const char* szNome, UI2 iQtdUsuarios, UI2 usPtr, UI4 ulPtr32) {
  IE_CAMPO_ARQ_V1 r{};
  r.dwFlags = 0x11;
  r.lPtrExtra = 0x22;
  r.id = id;
  r.iQtdUsuarios = iQtdUsuarios;
  r.usPtrUsuarios = usPtr;
  std::snprintf(r.szNome, sizeof r.szNome, "%s", szNome);
  std::memcpy(r.ulPtrUsuarios, &ulPtr32, 4);
  return r;
}

IE_CAMPO_ARQ_V2 CampoV2(I4 id, const char* szNome, UI2 iQtdUsuarios, UI4 ulPtr) {
  IE_CAMPO_ARQ_V2 r{};
  r.dwFlags = 0x11;
  r.lPtrExtra = 0x22;
  r.id = id;
  r.iQtdUsuarios = iQtdUsuarios;
  r.ulPtrUsuarios = ulPtr;
  std::snprintf(r.szNome, sizeof r.szNome, "%s", szNome);
  return r;
}

std::string Usuarios(std::initializer_list<UI2> a) {
  std::string s = IEZeros(8);
  for (UI2 us : a) {
    IE_USUARIO_ARQ_V0 r{};
    r.usUsuario = us;
    s += IEBytes(r);
  }
  return s;
}

// Old company files: links with record 0 and an empty link, V1 fields whose
// users lie scattered (one through the 16-bit pointer, one through the
// 32-bit pointer whose 16-bit form is stale).
struct EmpresaAntiga {
  std::string sVinculos = IEZeros(24) + IEBytes(Vinculo(5, 1)) + IEBytes(Vinculo(0, 2)) + IEBytes(Vinculo(6, 3, 2, 4, 1));
  std::string sCampos = IEZeros(72) + IEBytes(CampoV1(100, "Observa\xE7\xE3o", 2, 3, 0)) +
                        IEBytes(CampoV1(150, "Valor", 0, 0, 0)) + IEBytes(CampoV1(0, "Data", 1, 1, 5));
  std::string sUsuarios = Usuarios({10, 11, 12, 13, 14});
};
}  // namespace

TEST_F(IExBaseConversaoTeste, VersaoZeroPassaPelosTresPassos) {
  EmpresaAntiga antiga;
  Escreve("DFIEVINC.DAT", antiga.sVinculos);
  Escreve("DFIECMP.DAT", antiga.sCampos);
  Escreve("DFIEUSU.DAT", antiga.sUsuarios);
  CIExBaseConversao conversao;
  ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(Bytes("DFIECONFIG.DAT"), Configuracao(0)) << "a new configuration reads version 0";
  ASSERT_EQ(conversao.FazConversao(), S_OK);

  EXPECT_EQ(VersaoGravada(), 9u);
  EXPECT_EQ(Bytes("DFIEVINC.dat"), IEBytes(Vinculo(5, 1)) + IEBytes(Vinculo(6, 3, 2, 4, 1)))
      << "empty links dropped, flagged ones kept, record 0 gone";
  // Users become one run per field, in field order.
  EXPECT_EQ(Bytes("DFIEUSU.DAT"), Usuarios({12, 13, 14}));
  EXPECT_EQ(Bytes("DFIECMP.DAT"), IEZeros(80) + IEBytes(CampoV2(100, "Observa\xE7\xE3o", 2, 1)) +
                                      IEBytes(CampoV2(150, "Valor", 0, 0)) + IEBytes(CampoV2(0, "Data", 1, 3)));
  EXPECT_TRUE(ArquivosTRA().empty());
}

TEST_F(IExBaseConversaoTeste, NomeSemTerminadorCopiaOs51Bytes) {
  IE_CAMPO_ARQ_V1 v1 = CampoV1(5, "", 0, 0, 0);
  std::memset(v1.szNome, 'N', sizeof v1.szNome);
  v1.cReservado = 'X';
  Escreve("DFIECONFIG.DAT", Configuracao(8));
  Escreve("DFIECMP.DAT", IEZeros(72) + IEBytes(v1));
  CIExBaseConversao conversao;
  ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
  ASSERT_EQ(conversao.FazConversao(), S_OK);
  IE_CAMPO_ARQ_V2 v2 = CampoV2(5, "", 0, 0);
  std::memset(v2.szNome, 'N', sizeof v2.szNome);
  EXPECT_EQ(Bytes("DFIECMP.DAT"), IEZeros(80) + IEBytes(v2));
}

TEST_F(IExBaseConversaoTeste, VersaoSeteSoRemoveORegistroZeroEConverteOsCampos) {
  EmpresaAntiga antiga;
  Escreve("DFIECONFIG.DAT", Configuracao(7));
  Escreve("DFIEVINC.DAT", antiga.sVinculos);
  Escreve("DFIECMP.DAT", antiga.sCampos);
  Escreve("DFIEUSU.DAT", antiga.sUsuarios);
  CIExBaseConversao conversao;
  ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
  ASSERT_EQ(conversao.FazConversao(), S_OK);
  EXPECT_EQ(VersaoGravada(), 9u);
  EXPECT_EQ(Bytes("DFIEVINC.dat"), antiga.sVinculos.substr(24)) << "the empty link stays: step 7 did not run";
  EXPECT_EQ(Bytes("DFIECMP.DAT").size(), 4u * 80);
}

TEST_F(IExBaseConversaoTeste, VersaoNoveNaoTocaOutroArquivo) {
  EmpresaAntiga antiga;
  Escreve("DFIECONFIG.DAT", Configuracao(9));
  Escreve("DFIEVINC.DAT", antiga.sVinculos);
  Escreve("DFIECMP.DAT", antiga.sCampos);
  Escreve("DFIECMP.TRA", "stale");
  CIExBaseConversao conversao;
  ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
  ASSERT_EQ(conversao.FazConversao(), S_OK);
  EXPECT_EQ(Bytes("DFIEVINC.DAT"), antiga.sVinculos);
  EXPECT_EQ(Bytes("DFIECMP.DAT"), antiga.sCampos);
  EXPECT_FALSE(Existe("DFIEUSU.DAT"));
  EXPECT_EQ(VersaoGravada(), 9u);
}

TEST_F(IExBaseConversaoTeste, VersaoPosteriorERecusadaSemEscrever) {
  EmpresaAntiga antiga;
  Escreve("DFIECONFIG.DAT", Configuracao(10));
  Escreve("DFIEVINC.DAT", antiga.sVinculos);
  CIExBaseConversao conversao;
  ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(conversao.FazConversao(), HR(0x80040975));
  EXPECT_EQ(Bytes("DFIECONFIG.DAT"), Configuracao(10));
  EXPECT_EQ(Bytes("DFIEVINC.DAT"), antiga.sVinculos);
  EXPECT_TRUE(Linhas(ArquivoErrosEmpresa()).empty()) << "a later version is not reported";

  CIExBaseTeste ie;
  EXPECT_EQ(ie.Inicializa("EMP1", 1, 1), HR(0x80040975));
  EXPECT_FALSE(CIExBase::m_ContainerFacade().ExisteDataBase("EMP1"));
}

TEST_F(IExBaseConversaoTeste, TransferenciaEsquecidaParaOPassoEGuardaAVersao) {
  EmpresaAntiga antiga;
  Escreve("DFIECONFIG.DAT", Configuracao(8));
  Escreve("DFIECMP.DAT", antiga.sCampos);
  Escreve("DFIEUSU.DAT", antiga.sUsuarios);
  Escreve("DFIECMP.TRA", "stale");
  CIExBaseConversao conversao;
  ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(conversao.FazConversao(), HR(0x80040979));
  EXPECT_EQ(VersaoGravada(), 8u);
  EXPECT_EQ(Bytes("DFIECMP.DAT"), antiga.sCampos);
  EXPECT_EQ(Bytes("DFIECMP.TRA"), "stale");
  EXPECT_TRUE(ErroContem("hr = IES_MAKE_HR(IE_ERRO_CONVERSAO)"));
  EXPECT_TRUE(ErroContem("hr = VerificaExistenciaTRA()"));
  EXPECT_TRUE(ErroContem("hr = ConverteIE_CAMPO_ARQ_V1ParaV2()"));
}

TEST_F(IExBaseConversaoTeste, CadaArquivoDeTransferenciaProcuradoEOdosUsuariosNao) {
  const char* aszTRA[] = {"DFIEVINC.TRA", "DFIEINTCAB.TRA", "DFIEINTVINC.TRA", "DFIEHDR.TRA", "dfiecmp.tra",
                          "FNIEXCRE.TRA", "FNIEXCRETextTRA", "FTIEXCTRText.TRA", ".TRA", "Text.TRA"};
  for (const char* sz : aszTRA) {
    Escreve(sz, "x");
    CIExBaseConversao conversao;
    ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
    HRESULT hrEsperado = std::string(sz) == "FNIEXCRETextTRA" ? S_OK : HR(0x80040979);
    EXPECT_EQ(conversao.VerificaExistenciaTRA(), hrEsperado) << sz;
    ZelExcluiArquivo(m_sVovi + sz);
  }
  Escreve("DFIEUSU.TRA", "x");
  CIExBaseConversao conversao;
  ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(conversao.VerificaExistenciaTRA(), S_OK);
}

TEST_F(IExBaseConversaoTeste, CamposComRegistroPartidoNaoSaoConvertidos) {
  const std::string sCampos = IEZeros(72) + IEBytes(CampoV1(1, "A", 0, 0, 0)) + "rest";
  Escreve("DFIECONFIG.DAT", Configuracao(8));
  Escreve("DFIECMP.DAT", sCampos);
  CIExBaseConversao conversao;
  ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(conversao.FazConversao(), HR(0x80043EE2));
  EXPECT_EQ(Bytes("DFIECMP.DAT"), sCampos);
  EXPECT_EQ(VersaoGravada(), 8u);
  EXPECT_TRUE(ArquivosTRA().empty()) << "a failed step leaves no transfer file to block the next start";
}

TEST_F(IExBaseConversaoTeste, UsuarioForaDoArquivoParaOPassoSemTransferencia) {
  Escreve("DFIECONFIG.DAT", Configuracao(8));
  Escreve("DFIECMP.DAT", IEZeros(72) + IEBytes(CampoV1(1, "A", 2, 4, 0)));
  Escreve("DFIEUSU.DAT", Usuarios({1, 2, 3}));
  CIExBaseConversao conversao;
  ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(conversao.FazConversao(), HR(0x80043E95));
  EXPECT_TRUE(ErroContem("iRetorno = arqUsuarioDAT.Le(ulPtrUsuarios + iUsuario, &regUsuarioDat)"));
  EXPECT_EQ(VersaoGravada(), 8u);
  EXPECT_TRUE(ArquivosTRA().empty());
  EXPECT_EQ(Bytes("DFIEUSU.DAT"), Usuarios({1, 2, 3}));
}

TEST_F(IExBaseConversaoTeste, ConfiguracaoDanificadaDaCodigo) {
  Escreve("DFIECONFIG.DAT", "abc");
  CIExBaseConversao conversao;
  ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_TRUE(FAILED(conversao.FazConversao()));
  EXPECT_TRUE(ErroContem("iRetorno = arqConfig.Le(0, &regConfig)"));
  EXPECT_TRUE(ErroContem("hr = GetConfiguracao(&regConfigPS)"));
  EXPECT_EQ(Bytes("DFIECONFIG.DAT"), "abc");
}

TEST_F(IExBaseConversaoTeste, EmpresaSemDiretorio) {
  CIExBaseConversao conversao;
  EXPECT_EQ(conversao.Inicializa("NENHUMA", 1, 1), HR(0x80043F59));
}
