#include "IExBaseConversao.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "IExAjuda_test.h"

namespace {
IE_CAMPO_ARQ_V1 CampoV1(I4 id, const char* szNome, UI2 iQtdUsuarios, UI2 usPtr, UI4 ulPtr32) {
  IE_CAMPO_ARQ_V1 r{0x11, 0x22, id, iQtdUsuarios, usPtr, {}, 0, {}};
  std::snprintf(r.szNome, sizeof r.szNome, "%s", szNome);
  std::memcpy(r.ulPtrUsuarios, &ulPtr32, 4);
  return r;
}
IE_CAMPO_ARQ_V2 CampoV2(I4 id, const char* szNome, UI2 iQtdUsuarios, UI4 ulPtr) {
  IE_CAMPO_ARQ_V2 r{0x11, 0x22, ulPtr, id, iQtdUsuarios, {}, {}};
  std::snprintf(r.szNome, sizeof r.szNome, "%s", szNome);
  return r;
}
std::string Usuarios(std::initializer_list<UI2> a) {
  std::string s = IEZeros(8);
  for (UI2 us : a) s += IEBytes(IE_USUARIO_ARQ_V0{us, {}});
  return s;
}

// Old company files: links with record 0 and an empty link, V1 fields whose users lie scattered (one through
// the 16-bit pointer, one through the 32-bit pointer whose 16-bit form is stale).
const std::string kVinculosAntigos =
    IEZeros(24) + IEBytes(Vinculo(5, 1)) + IEBytes(Vinculo(0, 2)) + IEBytes(Vinculo(6, 3, 2, 4, 1));
const std::string kCamposAntigos = IEZeros(72) + IEBytes(CampoV1(100, "Observa\xE7\xE3o", 2, 3, 0)) +
                                   IEBytes(CampoV1(150, "Valor", 0, 0, 0)) + IEBytes(CampoV1(0, "Data", 1, 1, 5));
const std::string kUsuariosAntigos = Usuarios({10, 11, 12, 13, 14});

class IExBaseConversaoTeste : public IExTeste {
 protected:
  // The company's files as given (version -1: no configuration file), then one conversion.
  HRESULT Converte(int nVersao, std::vector<std::pair<const char*, std::string>> aArquivos) {
    if (nVersao >= 0) Escreve("DFIECONFIG.DAT", Configuracao(static_cast<UI4>(nVersao)));
    for (const auto& [szNome, sBytes] : aArquivos) Escreve(szNome, sBytes);
    CIExBaseConversao conversao;
    EXPECT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
    return conversao.FazConversao();
  }
  int Erros(const std::string& sMetodo, const std::string& sExpressao, const std::string& sEmpresa = "EMP1") const {
    return ErrosDe("CIExBaseConversao::" + sMetodo, "IExBaseConversao", sExpressao, sEmpresa);
  }
};
}  // namespace

// A partial record at a file's end (an append cut short) is no record: the whole ones are carried.
TEST_F(IExBaseConversaoTeste, VersaoZeroPassaPelosTresPassosSemOsRegistrosParciais) {
  ASSERT_EQ(Converte(-1, {{"DFIEVINC.DAT", kVinculosAntigos + "xx"},
                          {"DFIECMP.DAT", kCamposAntigos + "rest"},
                          {"DFIEUSU.DAT", kUsuariosAntigos + "u"}}),
            S_OK);
  EXPECT_EQ(Bytes("DFIECONFIG.DAT"), Configuracao(9)) << "a new configuration, read as version 0, then converted";
  EXPECT_EQ(Bytes("DFIEVINC.dat"), IEBytes(Vinculo(5, 1)) + IEBytes(Vinculo(6, 3, 2, 4, 1)))
      << "empty links dropped, flagged ones kept, record 0 gone";
  // Users become one run per field, in field order.
  EXPECT_EQ(Bytes("DFIEUSU.DAT"), Usuarios({12, 13, 14}));
  EXPECT_EQ(Bytes("DFIECMP.DAT"), IEZeros(80) + IEBytes(CampoV2(100, "Observa\xE7\xE3o", 2, 1)) +
                                      IEBytes(CampoV2(150, "Valor", 0, 0)) + IEBytes(CampoV2(0, "Data", 1, 3)));
  EXPECT_TRUE(ArquivosTRA().empty());
  EXPECT_TRUE(Linhas(ArquivoErrosEmpresa()).empty());
}

// A grown configuration keeps its version; a later one is refused, unreported.
TEST_F(IExBaseConversaoTeste, VersaoNoveNaoTocaOutroArquivoEPosteriorOuDanificadaERecusada) {
  const std::string sConfiguracao = Configuracao(9) + IEZeros(10);
  Escreve("DFIECONFIG.DAT", sConfiguracao);
  ASSERT_EQ(Converte(-1, {{"DFIEVINC.DAT", kVinculosAntigos}, {"DFIECMP.DAT", kCamposAntigos}, {"DFIECMP.TRA", "x"}}),
            S_OK);
  EXPECT_EQ(Bytes("DFIEVINC.DAT"), kVinculosAntigos);
  EXPECT_EQ(Bytes("DFIECMP.DAT"), kCamposAntigos);
  EXPECT_EQ(Bytes("DFIECMP.TRA"), "x");
  EXPECT_FALSE(Existe("DFIEUSU.DAT"));
  EXPECT_EQ(Bytes("DFIECONFIG.DAT"), sConfiguracao);
  EXPECT_EQ(Converte(10, {{"DFIEVINC.DAT", kVinculosAntigos}}), HR(0x80040975));
  EXPECT_EQ(Bytes("DFIECONFIG.DAT"), Configuracao(10));
  EXPECT_EQ(Bytes("DFIEVINC.DAT"), kVinculosAntigos);
  EXPECT_TRUE(Linhas(ArquivoErrosEmpresa()).empty()) << "a later version is not reported";
  IEFalhaAoIniciar(HR(0x80040975));
  // A damaged configuration gives a code: an empty file has no record 0 to read.
  Escreve("DFIECONFIG.DAT", "");
  EXPECT_EQ(Converte(-1, {}), HR(0x80043E95));
  EXPECT_EQ(Erros("GetConfiguracao", "iRetorno = arqConfig.Le(0, &regConfig)"), 1);
  EXPECT_EQ(Erros("FazConversao", "hr = GetConfiguracao(&regConfigPS)"), 1);
  EXPECT_EQ(Bytes("DFIECONFIG.DAT"), "");
  // A short one reads zero-padded: here a version from the future.
  Escreve("DFIECONFIG.DAT", "abc");
  EXPECT_EQ(Converte(-1, {}), HR(0x80040975));
  EXPECT_EQ(Bytes("DFIECONFIG.DAT"), "abc");
  // A configuration that cannot be created answers the file's code, not the registry's, and leaves nothing.
  ZelExcluiArquivo(m_sVovi + "DFIECONFIG.DAT");
  std::filesystem::create_symlink("nenhum/DFIECONFIG.DAT", m_sVovi + "DFIECONFIG.DAT");
  CIExBaseConversao semConfiguracao;
  EXPECT_EQ(semConfiguracao.Inicializa("EMP1", 1, 1), HR(0x80043EB7));
  EXPECT_EQ(Erros("VerificaArquivoConfiguracao",
                  "iRetorno = arqConfig.Abre(m_sLocalDados + "
                  "REG_IE_CONFIGURACAO_INFO_PLUS_ARQ::GetFileNameComExtensaoDAT(), 'G', "
                  "sizeof(REG_IE_CONFIGURACAO_INFO_PLUS_ARQ))"),
            1);
  EXPECT_FALSE(std::filesystem::exists(m_sVovi + "nenhum"));
  CIExBaseConversao conversao;
  EXPECT_EQ(conversao.Inicializa("NENHUMA", 1, 1), HR(0x80043F59));
  EXPECT_EQ(Erros("Inicializa", "hr = E_ZELDF_FALHA_ACESSAR_REGISTRY", "NENHUMA"), 1);
}

TEST_F(IExBaseConversaoTeste, VersaoSeteSoRemoveORegistroZeroEPassoQueFalhaGuardaAVersao) {
  // A name without its terminator: its 51 bytes are copied, the old reserve is not.
  IE_CAMPO_ARQ_V1 v1 = CampoV1(5, "", 0, 0, 0);
  std::memset(v1.szNome, 'N', sizeof v1.szNome);
  v1.cReservado = 'X';
  ASSERT_EQ(Converte(7, {{"DFIEVINC.DAT", kVinculosAntigos},
                         {"DFIECMP.DAT", kCamposAntigos + IEBytes(v1)},
                         {"DFIEUSU.DAT", kUsuariosAntigos}}),
            S_OK);
  EXPECT_EQ(VersaoGravada(), 9u);
  EXPECT_EQ(Bytes("DFIEVINC.dat"), kVinculosAntigos.substr(24)) << "the empty link stays: step 7 did not run";
  IE_CAMPO_ARQ_V2 v2 = CampoV2(5, "", 0, 0);
  std::memset(v2.szNome, 'N', sizeof v2.szNome);
  EXPECT_EQ(Bytes("DFIECMP.DAT").substr(4 * 80), IEBytes(v2));
  // A failed step stops the conversion: version and files stay, and no transfer file blocks the next start.
  EXPECT_EQ(Converte(8, {{"DFIECMP.DAT", kCamposAntigos}, {"DFIEUSU.DAT", kUsuariosAntigos}, {"DFIECMP.TRA", "x"}}),
            HR(0x80040979));
  EXPECT_EQ(VersaoGravada(), 8u);
  EXPECT_EQ(Bytes("DFIECMP.DAT"), kCamposAntigos);
  EXPECT_EQ(Bytes("DFIECMP.TRA"), "x");
  // Each level of the failed step says so, under its own name.
  EXPECT_EQ(Erros("VerificaExistenciaTRA", "hr = IES_MAKE_HR(IE_ERRO_CONVERSAO)"), 1);
  EXPECT_EQ(Erros("ConverteIE_CAMPO_ARQ_V1ParaV2", "hr = VerificaExistenciaTRA()"), 1);
  EXPECT_EQ(Erros("FazConversao", "hr = ConverteIE_CAMPO_ARQ_V1ParaV2()"), 1);
  ASSERT_EQ(ZelExcluiArquivo(m_sVovi + "DFIECMP.TRA"), ERROR_SUCCESS);
  // The converted file cannot take the old one's place: the step that made it reports it under its own name.
  const size_t nLinhas = Linhas(ArquivoErrosEmpresa()).size();
  Escreve("DFIEUSU.DAT", kUsuariosAntigos);
  ASSERT_EQ(ZelDefineSomenteLeitura(m_sVovi + "DFIECMP.DAT", true), ERROR_SUCCESS);
  EXPECT_EQ(Converte(8, {}), HR(0x80040979));
  ZelDefineSomenteLeitura(m_sVovi + "DFIECMP.DAT", false);
  EXPECT_EQ(VersaoGravada(), 8u);
  const auto linhas = Linhas(ArquivoErrosEmpresa());
  ASSERT_GT(linhas.size(), nLinhas);
  EXPECT_NE(linhas[nLinhas].find("\tCIExBaseConversao::ConverteIE_CAMPO_ARQ_V1ParaV2\t"), std::string::npos)
      << linhas[nLinhas];
  EXPECT_NE(linhas[nLinhas].find("\thr = IES_MAKE_HR(IE_ERRO_CONVERSAO)\t"), std::string::npos);
  for (const char* sz : {"DFIECMP.TRA", "DFIEUSU.TRA"}) ZelExcluiArquivo(m_sVovi + sz);
  EXPECT_EQ(Bytes("DFIECMP.DAT"), kCamposAntigos);
  // A field whose users lie outside the users' file.
  EXPECT_EQ(Converte(8, {{"DFIECMP.DAT", IEZeros(72) + IEBytes(CampoV1(1, "A", 2, 4, 0))},
                         {"DFIEUSU.DAT", Usuarios({1, 2, 3})}}),
            HR(0x80043E95));
  EXPECT_EQ(
      Erros("ConverteIE_CAMPO_ARQ_V1ParaV2", "iRetorno = arqUsuarioDAT.Le(ulPtrUsuarios + iUsuario, &regUsuarioDat)"),
      1);
  EXPECT_EQ(VersaoGravada(), 8u);
  EXPECT_TRUE(ArquivosTRA().empty());
  EXPECT_EQ(Bytes("DFIEUSU.DAT"), Usuarios({1, 2, 3}));
}

// A link step cut short by a full disk, midway or at its first transfer record, leaves the company as it was.
TEST_F(IExBaseConversaoTeste, PassoDosVinculosInterrompidoNaoDeixaTransferencia) {
  std::string sVinculos = IEZeros(24);
  for (UI4 i = 1; i <= 2000; ++i) sVinculos += IEBytes(Vinculo(5, i));
  Escreve("DFIECONFIG.DAT", Configuracao(6));
  Escreve("DFIEVINC.DAT", sVinculos);
  Escreve("DFIECMP.DAT", kCamposAntigos);
  Escreve("DFIEUSU.DAT", kUsuariosAntigos);
  for (const uint64_t nLimite : {uint64_t{16} << 10, uint64_t{10}}) {
    CIExBaseConversao conversao;
    ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
    const HRESULT hr = [&] {
      ZelLimiteTamanhoArquivos cheio(nLimite);
      return conversao.FazConversao();
    }();
    EXPECT_TRUE(FAILED(hr)) << nLimite;
    EXPECT_EQ(VersaoGravada(), 6u);
    EXPECT_TRUE(Bytes("DFIEVINC.DAT") == sVinculos) << "the links as they were";
    EXPECT_TRUE(ArquivosTRA().empty()) << nLimite;
  }
  EXPECT_EQ(Converte(-2, {}), S_OK);
  EXPECT_TRUE(Bytes("DFIEVINC.dat") == sVinculos.substr(24)) << "converted at the next start";
}

// A step done whose version the disk cannot take fails the conversion, so it is not taken as saved.
TEST_F(IExBaseConversaoTeste, VersaoQueODiscoNaoGuardaFalhaAConversao) {
  Escreve("DFIECONFIG.DAT", Configuracao(6));
  CIExBaseConversao conversao;
  ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
  const HRESULT hr = [&] {
    ZelLimiteTamanhoArquivos cheio(4095);
    return conversao.FazConversao();
  }();
  EXPECT_EQ(hr, HR(0x80043F08));
  EXPECT_EQ(Erros("SetConfiguracao", "iRetorno = arqConfig.GravaZero(&regConfig, sizeof(regConfig))"), 1);
  EXPECT_EQ(Erros("FazConversao", "hr = SetConfiguracao(&regConfigPS)"), 1);
  EXPECT_EQ(Converte(-1, {}), S_OK) << "done again at the next start";
  EXPECT_EQ(VersaoGravada(), 9u);
}

// A configuration that can be read but not written fails the conversion with the file's own code.
TEST_F(IExBaseConversaoTeste, ConfiguracaoSoDeLeituraDaOCodigoDoArquivo) {
  Escreve("DFIECONFIG.DAT", Configuracao(6));
  ASSERT_EQ(chmod((m_sVovi + "DFIECONFIG.DAT").c_str(), 0444), 0);
  CIExBaseConversao conversao;
  ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_EQ(conversao.FazConversao(), HR(0x80043ED1)) << "read-only";
  EXPECT_EQ(Erros("SetConfiguracao",
                  "iRetorno = arqConfig.Abre(m_sLocalDados + "
                  "REG_IE_CONFIGURACAO_INFO_PLUS_ARQ::GetFileNameComExtensaoDAT(), 'G', "
                  "sizeof(REG_IE_CONFIGURACAO_INFO_PLUS_ARQ))"),
            1);
  EXPECT_EQ(VersaoGravada(), 6u);
}

TEST_F(IExBaseConversaoTeste, CadaArquivoDeTransferenciaProcuradoEOQueNaoSeCriaNaoDeixaOsOutros) {
  for (const char* sz : {"DFIEVINC.TRA", "DFIEINTCAB.TRA", "DFIEINTVINC.TRA", "DFIEHDR.TRA", "dfiecmp.tra",
                         "FNIEXCRE.TRA", "FNIEXCRETextTRA", "FTIEXCTRText.TRA", ".TRA", "Text.TRA", "DFIEUSU.TRA"}) {
    Escreve(sz, "x");
    CIExBaseConversao conversao;
    ASSERT_EQ(conversao.Inicializa("EMP1", 1, 1), S_OK);
    const bool bIgnorado = std::string(sz) == "FNIEXCRETextTRA" || std::string(sz) == "DFIEUSU.TRA";
    EXPECT_EQ(conversao.VerificaExistenciaTRA(), bIgnorado ? S_OK : HR(0x80040979)) << sz;
    ZelExcluiArquivo(m_sVovi + sz);
  }
  // A step that cannot make its last transfer file takes back the ones it made, or every later start would stop.
  std::filesystem::create_directory(m_sVovi + "DFIEUSU.TRA");
  EXPECT_EQ(
      Converte(
          -1, {{"DFIEVINC.DAT", kVinculosAntigos}, {"DFIECMP.DAT", kCamposAntigos}, {"DFIEUSU.DAT", kUsuariosAntigos}}),
      HR(0x80043ED0));
  EXPECT_EQ(Erros("ConverteIE_CAMPO_ARQ_V1ParaV2", "hr = arqUsuarioTRA.Abre('C')"), 1);
  EXPECT_EQ(Bytes("DFIECMP.DAT"), kCamposAntigos);
  EXPECT_EQ(Bytes("DFIEUSU.DAT"), kUsuariosAntigos);
  EXPECT_FALSE(std::filesystem::exists(m_sVovi + "DFIECMP.TRA"));
}
