#include "ZelFileBase.h"

#include <gtest/gtest.h>

#include "ZelCrc.h"
#include "ZelTempo.h"
#include "ZelDataBaseTeste.h"
#include "ZelFileSingleReg.h"
#include "ZelTextFile.h"

namespace {
using ZelFileBaseTeste = ZelDataBaseTeste;

// A 24-byte header image with the given version and checksums.
std::string Cabecalho(uint16_t usVersao, bool bCrcCerto) {
  std::string s(24, '\0');
  s[0] = static_cast<char>(usVersao);
  s[1] = static_cast<char>(usVersao >> 8);
  uint64_t crc1 = ZelCrc64(s.data(), 2);
  std::memcpy(s.data() + 8, &crc1, 8);
  uint64_t crc2 = ZelCrc64(s.data() + 8, 8) ^ (bCrcCerto ? 0 : 1);
  std::memcpy(s.data() + 16, &crc2, 8);
  return s;
}
}  // namespace

TEST_F(ZelFileBaseTeste, ModosDeAberturaENomeNoDiscoComAGrafiaFormatadaESemBloqueioVenceOPedido) {
  Escreve("dfievinc.DAT", std::string(24, 'v'));
  CBaseTeste db;
  CZelFileBase arq("novo.dat", &db), vinc("DFIEVINC.dat", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  ASSERT_EQ(vinc.AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacao), S_OK);
  EXPECT_TRUE(vinc.ExisteArquivo());
  EXPECT_EQ(ZelListaArquivos(m_sEmpresa, "dfievinc.*"), std::vector<std::string>{"DFIEVINC.dat"});
  EXPECT_EQ(arq.GetNomeArquivo(), "NOVO.dat");
  EXPECT_EQ(arq.AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacao), S_OK);
  EXPECT_FALSE(arq.ExisteArquivo());
  EXPECT_FALSE(Existe("NOVO.dat"));
  EXPECT_EQ(arq.AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacaoCriacao), S_OK);
  EXPECT_TRUE(arq.ExisteArquivo());
  EXPECT_EQ(Bytes("NOVO.dat"), "");
  EXPECT_EQ(arq.GetModoAbertura(), EZelDataBase_ModoAbertura::eModoLeituraGravacaoCriacao);
  // The same mode again is kept; another one reopens, without the writer's share lock.
  EXPECT_EQ(arq.AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacaoCriacao), S_OK);
  CFile outro;
  EXPECT_FALSE(outro.Open(Caminho("NOVO.dat"), CFile::modeReadWrite | CFile::shareDenyWrite));
  EXPECT_EQ(arq.AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraSemBloqueio), S_OK);
  EXPECT_EQ(arq.GetModoAbertura(), EZelDataBase_ModoAbertura::eModoLeituraSemBloqueio);
  EXPECT_TRUE(outro.Open(Caminho("NOVO.dat"), CFile::modeReadWrite | CFile::shareDenyWrite));
  // A database that reads without locks does so whatever mode is asked.
  Escreve({{"X.dat", std::string(24, 'a')}, {"SOLEITURA.dat", std::string(24, 'b')}});
  ASSERT_EQ(ZelDefineSomenteLeitura(Caminho("SOLEITURA.dat"), true), ERROR_SUCCESS);
  CBaseTeste semBloqueio;
  semBloqueio.HabilitaLeituraSemBloqueio();
  CZelFileBase x("X.dat", &semBloqueio), soLeitura("SOLEITURA.dat", &semBloqueio);
  ASSERT_EQ(semBloqueio.Inicializa("EMP1", 1, 1), S_OK);
  ASSERT_EQ(x.AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacaoCriacao), S_OK);
  EXPECT_EQ(x.GetModoAbertura(), EZelDataBase_ModoAbertura::eModoLeituraSemBloqueio);
  CFile escritor;
  EXPECT_TRUE(escritor.Open(Caminho("X.dat"), CFile::modeReadWrite | CFile::shareDenyWrite));
  // Nor does it ask for writing: a read-only file opens too.
  EXPECT_EQ(soLeitura.AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacao), S_OK);
  EXPECT_TRUE(soLeitura.ExisteArquivo());
  ZelDefineSomenteLeitura(Caminho("SOLEITURA.dat"), false);
}

TEST_F(ZelFileBaseTeste, CabecalhoReconhecidoPelosCrcsSoNosDadosEGravacoesDepoisDele) {
  const std::string sCabecalho = Cabecalho(1, true) + std::string(216, '\0');
  Escreve("COM.dat", sCabecalho + std::string(24, 'r') + BytesDe({Reg(2, 2)}));
  Escreve("RUIM.dat", Cabecalho(1, false) + std::string(216 + 24, '\0'));
  Escreve("OUTRA.dat", Cabecalho(2, true) + std::string(216 + 24, '\0'));
  Escreve("UNICO.dat", sCabecalho + BytesDe({Reg(4, 4)}));
  CBaseTeste db;
  CZelFile<REG_TESTE> com("COM.dat", &db), ruim("RUIM.dat", &db), outra("OUTRA.dat", &db);
  CZelFileSingleReg<REG_TESTE> unico("UNICO.dat", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  EXPECT_TRUE(com.PossuiCabecalho());
  EXPECT_EQ(com.GetSeekCabecalho(), 240u);
  ASSERT_EQ(com.GetQtdRegistros(), 2u);
  REG_TESTE r{};
  ASSERT_EQ(com.Le(1, &r), S_OK);
  EXPECT_EQ(r.ulChave, 0x72727272u);
  EXPECT_EQ(ruim.GetSeekCabecalho(), 0u);
  EXPECT_EQ(ruim.GetQtdRegistros(), 11u) << "bytes with a bad checksum are records";
  EXPECT_EQ(outra.GetSeekCabecalho(), 0u);
  EXPECT_EQ(outra.GetQtdRegistros(), 11u) << "and so are those of a header of another version";

  ZelUInt uiPos = 2;
  ASSERT_EQ(com.Grava(uiPos, Reg(2, 9)), S_OK);
  uiPos = 0;
  ASSERT_EQ(com.Grava(uiPos, Reg(3, 3)), S_OK);
  EXPECT_EQ(uiPos, 3u);
  EXPECT_EQ(Bytes("COM.dat"), sCabecalho + std::string(24, 'r') + BytesDe({Reg(2, 9), Reg(3, 3)}));
  // A file of one record holds it after the header too.
  ASSERT_EQ(unico.Le(&r), S_OK);
  EXPECT_EQ(r.ulChave, 4u);
  ASSERT_EQ(unico.Grava(Reg(5, 5)), S_OK);
  EXPECT_EQ(Bytes("UNICO.dat"), sCabecalho + BytesDe({Reg(5, 5)}));
  // Index, rewrite, transfer and list files never have one.
  CBaseTeste semControle;
  CZelFileBase cab("H.cab", &semControle), srk("H.srk", &semControle), tra("H.tra", &semControle),
      maiusculas("I.CAB", &semControle), dat("H.dat", &semControle);
  CZelTextFile lista(ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS, &semControle);
  semControle.DesabilitaControleCriacaoArquivos();
  CZelFileBase depois("J.dat", &semControle);  // joins after the switch, and keeps it
  // Started while the siblings are absent, which would stop the start.
  ASSERT_EQ(semControle.Inicializa("EMP1", 1, 1), S_OK);
  for (CZelFileBase* p : std::initializer_list<CZelFileBase*>{&cab, &srk, &tra, &maiusculas, &lista, &dat, &depois}) {
    Escreve(p->GetNomeArquivo(), sCabecalho + std::string(24, 'r'));
    ASSERT_EQ(p->AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacao), S_OK) << p->GetNomeArquivo();
    ASSERT_TRUE(p->ExisteArquivo());
  }
  EXPECT_EQ(Bytes(lista.GetNomeArquivo()), sCabecalho + std::string(24, 'r')) << "no file entered in the list";
  for (CZelFileBase* p : std::initializer_list<CZelFileBase*>{&cab, &srk, &tra, &maiusculas, &lista}) {
    EXPECT_FALSE(p->PossuiCabecalho()) << p->GetNomeArquivo();
    EXPECT_EQ(p->GetSeekCabecalho(), 0u) << p->GetNomeArquivo();
  }
  EXPECT_EQ(dat.GetSeekCabecalho(), 240u) << "the same bytes under another name are a header";
}

TEST_F(ZelFileBaseTeste, IrmaosDeReescritaImpedemOInicio) {
  Escreve({{"A.dat", ""}, {"A.tra", ""}, {"B.dat", ""}, {"B.srk", ""}});
  for (const auto& [szNome, u] : {std::pair{"A.dat", 0x810809CBu}, {"B.dat", 0x81080D05u}}) {
    CBaseTeste db;
    CZelFile<REG_TESTE> arq(szNome, &db);
    EXPECT_EQ(db.Inicializa("EMP1", 1, 1), HR(u)) << szNome;
  }
  // Logged at every level it passed, from where it began.
  std::string sCadeia;
  for (const std::string& l : Linhas(ArquivoErrosEmpresa())) {
    const size_t i = l.find("\tCZel");
    if (i != std::string::npos && l.find("0X81080D05") != std::string::npos)
      sCadeia += l.substr(i + 1, l.find('\t', i + 1) - i - 1) + ";";
  }
  EXPECT_EQ(sCadeia, "CZelFileBase::OnInicializa;CZelFile::OnInicializa;CZelDataBase::OnInicializa;");
}

// A directory that is gone is not waited for: the open fails at once with its own code.
TEST_F(ZelFileBaseTeste, AberturaSemODiretorioFalhaLogoComCaminhoInvalido) {
  CBaseTeste db;
  CZelFileBase arq("NOVO.dat", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  const std::string sLonge = m_sEmpresa.substr(0, m_sEmpresa.size() - 1) + "_longe";
  ASSERT_EQ(std::rename(m_sEmpresa.c_str(), sLonge.c_str()), 0);
  EXPECT_EQ(arq.AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacaoCriacao), HR(0x80043EBF));
  EXPECT_FALSE(ZelExisteArquivo(m_sEmpresa));
  ASSERT_EQ(std::rename(sLonge.c_str(), m_sEmpresa.c_str()), 0);
  EXPECT_EQ(ZelListaArquivos(m_sEmpresa, "NOVO.*").size(), 0u);
}

namespace {
class CArquivoRepetido : public CZelFileBase {
 public:
  using CZelFileBase::CZelFileBase;
  using CZelFileBase::GravaComRetentativas;
};
}  // namespace

// A write is tried 50 times while it fails for a passing cause, once when the cause is fatal.
TEST_F(ZelFileBaseTeste, GravacaoTentaCinquentaVezesSoAsFalhasPassageiras) {
  CBaseTeste db;
  CArquivoRepetido arq("R.dat", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  for (const auto& [hr, nEsperadas] : {std::pair{HR(0x80043EEE), 50}, {HR(0x81080AAD), 1}}) {
    int n = 0;
    EXPECT_EQ(arq.GravaComRetentativas("f", "hr = g()", [&] { return ++n, hr; }), hr);
    EXPECT_EQ(n, nEsperadas) << std::hex << hr;
  }
  int n = 0;
  EXPECT_EQ(arq.GravaComRetentativas("f", "hr = g()", [&] { return ++n < 50 ? HR(0x80043EEE) : S_OK; }), S_OK);
  EXPECT_EQ(n, 50);
}

TEST_F(ZelFileBaseTeste, MapaDasExcecoesDeArquivo) {
  CBaseTeste db;
  CZelFileBase arq("M.dat", &db);
  using E = CFileException;
  const std::tuple<int, uint32_t, const char*> aCausas[] = {
      {E::endOfFile, 0x80043E95u, "eEndOfFile"}, {E::badSeek, 0x80043E8Cu, "eBadSeek"},
      {E::hardIO, 0x80043EA7u, "eHardIO"}, {E::fileNotFound, 0x80043EB7u, "eFileNotFound"},
      {E::badPath, 0x80043EBFu, "eBadPath"}, {E::accessDenied, 0x80043ED0u, "eAccessDenied"},
      {E::invalidFile, 0x80043EE2u, "eInvalidFile"}, {E::sharingViolation, 0x80043EEEu, "eSharingViolation"},
      {E::lockViolation, 0x80043F00u, "eLockViolation"}, {E::diskFull, 0x80043F08u, "eDiskFull"},
      {E::removeCurrentDir, 0x80043F10u, "eZelGenericError"}};
  for (const auto& [nCausa, u, szNome] : aCausas) {
    SCOPED_TRACE(szNome);
    CFileException ex(nCausa);
    EXPECT_EQ(arq.CatchGravacao(&ex), HR(u));
    EXPECT_EQ(arq.CatchInicializacao(&ex), HR(u));
    // Each logs under its own name, with the mnemonic as the expression.
    char szHr[16];
    std::snprintf(szHr, sizeof szHr, "%X", u);
    const std::string sTraco = std::string("\thr = ") + szNome + "\thr = 0X" + szHr + " ";
    const auto linhas = Linhas(ArquivoErrosProgramas());
    ASSERT_GE(linhas.size(), 2u);
    EXPECT_NE(linhas[linhas.size() - 2].find("\tCZelFileBase::CatchGravacao\t"), std::string::npos);
    EXPECT_NE(linhas[linhas.size() - 2].find(sTraco), std::string::npos) << linhas[linhas.size() - 2];
    EXPECT_NE(linhas.back().find("\tCZelFileBase::CatchInicializacao\t"), std::string::npos);
    EXPECT_NE(linhas.back().find(sTraco), std::string::npos) << linhas.back();
  }
  // The write loop stops at these and retries every other code.
  for (uint32_t u : {0x80043E8Cu, 0x80043E95u, 0x80043EA7u, 0x80043EB7u, 0x80043EBFu, 0x81080AACu, 0x81080AADu})
    EXPECT_TRUE(CZelFileBase::EhUmaExcecaoFatal(HR(u))) << std::hex << u;
  for (uint32_t u : {0x80043EC7u, 0x80043ED0u, 0x80043ED1u, 0x80043EE2u, 0x80043EE5u, 0x80043EEEu, 0x80043F00u,
                     0x80043F08u, 0x80043F10u, 0x810809DBu, 0x80004005u, 0u})
    EXPECT_FALSE(CZelFileBase::EhUmaExcecaoFatal(HR(u))) << std::hex << u;
}

// 0 when opening a file another process holds gave up after exactly 500 attempts and their waits.
ZEL_AJUDANTE(AbreArquivoSegurado) {
  CBaseTeste db;
  CZelFileBase arq("PRESO.dat", &db);
  db.DesabilitaControleCriacaoArquivos();
  if (db.Inicializa("EMP1", 1, 1) != S_OK) return 3;
  const uint64_t ullInicio = GetTickCount64();
  const uint64_t nAntes = ZelViolacoesDeCompartilhamento();
  HRESULT hr = arq.AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacaoCriacao);
  const uint64_t nTentativas = ZelViolacoesDeCompartilhamento() - nAntes;
  const uint64_t ullDecorrido = GetTickCount64() - ullInicio;
  if (static_cast<uint32_t>(hr) != 0x80043EEEu) return 1;
  if (nTentativas != 500) return 4;
  // Each of the 499 waits between the 500 attempts lasts at least one interval.
  return ullDecorrido >= 499u * ZelTempoMs(ZelTempo::kIntervaloRetentativaZelDataBase) ? 0 : 2;
}

TEST_F(ZelFileBaseTeste, AberturaTentaQuinhentasVezesAntesDaViolacaoDeCompartilhamento) {
  Escreve("PRESO.dat", std::string(24, 'p'));
  CFile dono;
  ASSERT_TRUE(dono.Open(Caminho("PRESO.dat"), CFile::modeReadWrite | CFile::shareDenyWrite));
  // At a tenth of real time the 500 waits still add up to half a second; fewer attempts end sooner.
  pid_t pid = ZelIniciaAjudanteEmEscala("AbreArquivoSegurado", "0.1");
  EXPECT_EQ(ZelEsperaAjudante(pid, 60000), 0);
}
