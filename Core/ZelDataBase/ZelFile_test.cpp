#include "ZelFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "ZelDataBaseTeste.h"
#include "ZelTempo.h"
#include "ZelTextFile.h"

namespace {
class ZelFileTeste : public ZelDataBaseTeste {
 protected:
  // A database over "DADOS.dat" with its key index, started with the code expected.
  struct Aberto {
    CBaseTeste db;
    CZelFile<REG_TESTE> arq{"dados.DAT", &db};
    explicit Aberto(bool bIndice = true, HRESULT hrEsperado = S_OK) {
      HRESULT hr = db.Inicializa("EMP1", 3, 4);
      if (SUCCEEDED(hr) && bIndice) hr = arq.IncluiIndex(&db, 0);
      EXPECT_EQ(hr, hrEsperado);
    }
  };
  // A write at a position (0 appends), for the tests that look only at its code.
  static HRESULT Grava(CZelFile<REG_TESTE>& arq, ZelUInt uiPos, const REG_TESTE& r) { return arq.Grava(uiPos, r); }
  static HRESULT GravaColecao(CZelFile<REG_TESTE>& arq, ZelUInt uiPos, const std::vector<REG_TESTE>& a) {
    return arq.GravaColecao(uiPos, a);
  }
  // The first position of a key in column 0; uiSem when the key has none.
  static ZelUInt Posicao(CZelFile<REG_TESTE>& arq, ZelUInt uiChave, ZelUInt uiSem = 0) {
    EXPECT_EQ(arq.ExisteIndex(uiChave, &uiSem, 0), S_OK);
    return uiSem;
  }
  static std::vector<ZelUInt> Posicoes(CZelFile<REG_TESTE>& arq, ZelUInt uiChave, ZelUInt uiColuna = 0) {
    std::vector<ZelUInt> a;
    EXPECT_EQ(arq.ExisteIndex(uiChave, &a, uiColuna), S_OK);
    return a;
  }
};
}  // namespace

TEST_F(ZelFileTeste, LerPosicaoZeroFalhaMesmoSemArquivoECargaDeArquivoVazioOuForaDoTamanho) {
  {
    Aberto a;
    REG_TESTE r = Reg(1, 1);
    EXPECT_EQ(a.arq.Le(0, &r), HR(0x810809D9));
    EXPECT_EQ(r.ulChave, 0u) << "the record is cleared first";
    EXPECT_EQ(a.arq.Le(1, &r), HR(0x810809E3));
    EXPECT_FALSE(Existe("DADOS.dat"));
  }
  Escreve("DADOS.dat", "");
  {
    Aberto a;
    EXPECT_EQ(a.arq.GetQtdRegistros(), 0u);
    EXPECT_TRUE(a.arq.ExisteArquivo());
  }
  Escreve("DADOS.dat", std::string(25, 'x'));
  Aberto b(false, HR(0x810809D8));
}

// A directory in the file's place is no file: the table loads empty, and only the creating write meets it.
TEST_F(ZelFileTeste, DiretorioNoLugarDoArquivoCarregaVazioEFalhaAGravacao) {
  ASSERT_EQ(ZelCriaDiretorio(Caminho("DADOS.dat")), ERROR_SUCCESS);
  Aberto a;
  EXPECT_EQ(a.arq.GetQtdRegistros(), 0u);
  EXPECT_FALSE(a.arq.ExisteArquivo());
  REG_TESTE r{};
  EXPECT_EQ(a.arq.Le(1, &r), HR(0x810809E3));
  EXPECT_TRUE(FAILED(Grava(a.arq, 0, Reg(1, 1))));
  EXPECT_EQ(a.arq.GetQtdRegistros(), 0u);
  // Nor can a sibling take its place: the rename fails, and both stay.
  Escreve("dados.TRA", BytesDe({Reg(7, 7)}));
  EXPECT_EQ(a.arq.RenomeiaArquivoEXT("tra"), HR(0x810809D6));
  EXPECT_EQ(Bytes("dados.TRA"), BytesDe({Reg(7, 7)}));
  EXPECT_TRUE(ZelExisteDiretorio(Caminho("DADOS.dat")));
}

TEST_F(ZelFileTeste, AnexarCriaOArquivoNaPosicao1EGravaByteAByte) {
  Aberto a;
  ZelUInt uiPos = 0;
  ASSERT_EQ(a.arq.Grava(uiPos, Reg(10, 1)), S_OK);
  EXPECT_EQ(uiPos, 1u);
  uiPos = 0;
  ASSERT_EQ(a.arq.GravaColecao(uiPos, {Reg(20, 2), Reg(30, 3)}), S_OK);
  EXPECT_EQ(uiPos, 2u);
  EXPECT_EQ(Bytes("DADOS.dat"), BytesDe({Reg(10, 1), Reg(20, 2), Reg(30, 3)}));
  // Position count + 1 is refused; two records at count overwrite one and append one.
  EXPECT_EQ(Grava(a.arq, 4, Reg(40, 4)), HR(0x810809DB));
  uiPos = 3;
  ASSERT_EQ(a.arq.GravaColecao(uiPos, {Reg(31, 5), Reg(40, 6)}), S_OK);
  EXPECT_EQ(uiPos, 3u);
  EXPECT_EQ(Bytes("DADOS.dat"), BytesDe({Reg(10, 1), Reg(20, 2), Reg(31, 5), Reg(40, 6)}));
  EXPECT_EQ(Posicao(a.arq, 30), 0u) << "the overwritten key left the index";
  EXPECT_EQ(Posicao(a.arq, 31), 3u);
  // The next user loads what was written, once this one lets go (two writers exclude each other).
  Aberto b(true, HR(0x80043EEE));
  a.db.Finaliza();
  b.arq.Finaliza();
  ASSERT_EQ(b.arq.Inicializa(&b.db), S_OK);
  std::vector<REG_TESTE> aLidos;
  ASSERT_EQ(b.arq.LeColecao(1, 4, aLidos), S_OK);
  EXPECT_EQ(BytesDe(aLidos), Bytes("DADOS.dat"));
}

TEST_F(ZelFileTeste, RegrasDoIndice) {
  Aberto a;
  ASSERT_EQ(GravaColecao(a.arq, 0, {Reg(1, 1), Reg(2, 2)}), S_OK);
  std::string antes = Bytes("DADOS.dat");

  EXPECT_EQ(Grava(a.arq, 0, Reg(2, 9)), HR(0x81080AAD)) << "the key belongs to position 2";
  EXPECT_EQ(Grava(a.arq, 1, Reg(2, 9)), HR(0x81080AAD));
  EXPECT_EQ(Grava(a.arq, 0, Reg(0, 9)), HR(0x81080AAC));
  EXPECT_EQ(Bytes("DADOS.dat"), antes) << "refused writes leave the file";
  EXPECT_EQ(a.arq.GetQtdRegistros(), 2u) << "and memory unchanged";
  REG_TESTE r{};
  ASSERT_EQ(a.arq.Le(2, &r), S_OK);
  EXPECT_EQ(r.ulValor, 2u);

  EXPECT_EQ(Grava(a.arq, 2, Reg(2, 22)), S_OK) << "its own position, same key";
  ASSERT_EQ(a.arq.Le(2, &r), S_OK);
  EXPECT_EQ(r.ulValor, 22u);

  EXPECT_EQ(Posicao(a.arq, 999, 77), 77u) << "a missing key leaves the caller's position";
  std::vector<ZelUInt> aLista{5};
  EXPECT_EQ(a.arq.ExisteIndex(ZelUInt{999}, &aLista, 0), S_OK);
  EXPECT_EQ(aLista, std::vector<ZelUInt>{5});
  // Record j of an append at 0 carries the key of position j; an overwrite in place keeps each record's key.
  EXPECT_EQ(GravaColecao(a.arq, 0, {Reg(3, 3), Reg(1, 4)}), HR(0x81080AAD));
  EXPECT_EQ(GravaColecao(a.arq, 1, {Reg(1, 4), Reg(2, 5)}), S_OK);
  EXPECT_EQ(Bytes("DADOS.dat"), BytesDe({Reg(1, 4), Reg(2, 5)}));
  // A text key is looked up by its CRC-64.
  ASSERT_EQ(a.arq.IncluiIndex(+[](const REG_TESTE* p, ZelUInt) -> ZelUInt { return p->ullB; }, 1, false, true), S_OK);
  REG_TESTE r3 = Reg(3, 3);
  r3.ullB = ZelCrc64("123456789");
  ASSERT_EQ(Grava(a.arq, 0, r3), S_OK);
  ZelUInt uiAchada = 0;
  EXPECT_EQ(a.arq.ExisteIndex(std::string("123456789"), &uiAchada, 1), S_OK);
  EXPECT_EQ(uiAchada, 3u);
}

TEST_F(ZelFileTeste, IndiceComChavesRepetidasEZeradasPermitidas) {
  Aberto a(false);
  ASSERT_EQ(a.arq.IncluiIndex(&CBaseTeste::GetChaveIndex, 0, true, true), S_OK);
  ASSERT_EQ(GravaColecao(a.arq, 0, {Reg(5, 1), Reg(0, 2), Reg(5, 3)}), S_OK);
  ASSERT_EQ(Grava(a.arq, 0, Reg(5, 4)), S_OK);
  EXPECT_EQ(Posicoes(a.arq, 5), (std::vector<ZelUInt>{1, 3, 4}));
  EXPECT_EQ(Posicoes(a.arq, 0), std::vector<ZelUInt>{2});
  // Overwriting position 1 with key 0 moves it between the lists, sorted.
  ASSERT_EQ(Grava(a.arq, 1, Reg(0, 5)), S_OK);
  EXPECT_EQ(Posicoes(a.arq, 0), (std::vector<ZelUInt>{1, 2}));
  EXPECT_EQ(Posicao(a.arq, 5), 3u);
  // Fetching ahead for listed, missing and unindexed keys changes no answer.
  for (ZelUInt uiColuna : {0, 7}) {
    a.arq.AntecipaIndex({5, 0, 999}, uiColuna);
    a.arq.AntecipaRegistros({5, 0, 999}, uiColuna);
  }
  EXPECT_EQ(Posicoes(a.arq, 5), (std::vector<ZelUInt>{3, 4}));
  EXPECT_EQ(Posicao(a.arq, 999, 77), 77u);
}

// A unique index that admits key 0 lists every written 0: only other keys are kept unique.
TEST_F(ZelFileTeste, IndiceUnicoComChaveZeradaAcompanhaAsGravacoes) {
  Aberto a(false);
  ASSERT_EQ(a.arq.IncluiIndex(&CBaseTeste::GetChaveIndex, 0, true, false), S_OK);
  ASSERT_EQ(GravaColecao(a.arq, 0, {Reg(0, 1), Reg(5, 2)}), S_OK);
  ASSERT_EQ(Grava(a.arq, 0, Reg(0, 3)), S_OK);
  EXPECT_EQ(Posicoes(a.arq, 0), (std::vector<ZelUInt>{1, 3}));
  EXPECT_EQ(Grava(a.arq, 0, Reg(5, 4)), HR(0x81080AAD));
}

TEST_F(ZelFileTeste, IndiceMontadoApartePassaAColunaSeguinteEAcompanhaAsGravacoes) {
  Escreve("DADOS.dat", BytesDe({Reg(5, 1), Reg(0, 2), Reg(7, 3), Reg(5, 4)}));
  Aberto a(false);
  ASSERT_EQ(a.arq.IncluiIndex(&CBaseTeste::GetChaveIndex, 0, true, true), S_OK);
  CZelIndiceChaves mapa = a.arq.MontaIndiceRepetido(&CBaseTeste::GetChaveIndex, 1);
  EXPECT_EQ(mapa.Posicoes(5), (std::vector<ZelUInt>{1, 4}));
  EXPECT_EQ(mapa.Posicoes(0), std::vector<ZelUInt>{2});
  // Only the next column is taken; a refused one adds nothing.
  EXPECT_EQ(a.arq.IncluiIndexMontado(&CBaseTeste::GetChaveIndex, 2, mapa), HR(0x81080AA9));
  EXPECT_EQ(a.arq.IncluiIndexMontado(&CBaseTeste::GetChaveIndex, 0, mapa), HR(0x81080AA9));
  std::vector<ZelUInt> aLista;
  EXPECT_EQ(a.arq.ExisteIndex(ZelUInt{5}, &aLista, 1), HR(0x81080AA9));
  EXPECT_EQ(LinhasCom("\tCZelFile::ExisteIndex\t", "\thr = E_ZELCR_COLUNA_INDEXACAO_INVALIDA\thr = 0X81080AA9 "), 1)
      << "a column with no index is a failure like any other";
  ASSERT_EQ(a.arq.IncluiIndexMontado(&CBaseTeste::GetChaveIndex, 1, std::move(mapa)), S_OK);
  EXPECT_EQ(Posicoes(a.arq, 5, 1), (std::vector<ZelUInt>{1, 4}));
  // Later writes keep it up, as a repeatable index that takes key 0.
  ASSERT_EQ(Grava(a.arq, 1, Reg(0, 8)), S_OK);
  ASSERT_EQ(Grava(a.arq, 0, Reg(7, 9)), S_OK);
  EXPECT_EQ(Posicoes(a.arq, 5, 1), std::vector<ZelUInt>{4});
  EXPECT_EQ(Posicoes(a.arq, 7, 1), (std::vector<ZelUInt>{3, 5}));
  EXPECT_EQ(Posicoes(a.arq, 0, 1), (std::vector<ZelUInt>{1, 2}));
}

TEST_F(ZelFileTeste, LeituraDeColecaoSetConteudoQueRenumeraSemIndicePonteirosERegistrosIguais) {
  Aberto a;
  std::vector<REG_TESTE> aLidos{Reg(9, 9)};
  EXPECT_EQ(a.arq.LeColecao(0, 0, aLidos), S_OK);
  EXPECT_TRUE(aLidos.empty());
  EXPECT_EQ(a.arq.LeColecao(3, 0, aLidos), HR(0x810809CA));
  ASSERT_EQ(GravaColecao(a.arq, 0, {Reg(1, 1), Reg(2, 2), Reg(3, 3)}), S_OK);
  EXPECT_EQ(a.arq.LeColecao(2, 3, aLidos), HR(0x810809DA));
  ASSERT_EQ(a.arq.LeColecao(2, 2, aLidos), S_OK);
  ASSERT_EQ(aLidos.size(), 2u);
  EXPECT_EQ(aLidos[1].ulChave, 3u);
  REG_TESTE r{};
  EXPECT_EQ(a.arq.Le(4, &r), HR(0x810809DA));
  EXPECT_EQ(LinhasCom("\tPosi\xE7\xE3o = 4\tRegistro = 24\tQtd. Registros = 3\t"), 1);

  ASSERT_EQ(a.arq.SetConteudo({Reg(3, 3), Reg(1, 1)}), S_OK);
  EXPECT_EQ(Bytes("DADOS.dat"), BytesDe({Reg(3, 3), Reg(1, 1)}));
  EXPECT_EQ(a.arq.GetQtdRegistros(), 2u);
  ZelUInt uiAchada = 0;
  EXPECT_EQ(a.arq.ExisteIndex(ZelUInt{3}, &uiAchada, 0), HR(0x81080AA9)) << "indexes are gone";
  ASSERT_EQ(a.arq.IncluiIndex(&a.db, 0), S_OK);
  EXPECT_EQ(Posicao(a.arq, 3), 1u);
  // Pointers only once the database allows them.
  EXPECT_EQ(a.arq.GetPtrRegistros(), nullptr);
  a.db.HabilitaAcessoPonteiros();
  ASSERT_NE(a.arq.GetPtrRegistros(), nullptr);
  EXPECT_EQ((*a.arq.GetPtrRegistros())[1].ulChave, 1u);
  EXPECT_EQ(static_cast<const REG_TESTE*>(a.arq.GetPtrRegistro(0))->ulChave, 3u);
  EXPECT_EQ(static_cast<const REG_TESTE*>(a.arq.GetPtrRegistro(2))->ulChave, 1u);
  EXPECT_EQ(a.arq.GetPtrRegistro(3), nullptr);
  EXPECT_EQ(a.arq.GetNomeEstrutura(), "REG_TESTE");
  REG_TESTE novo = Reg(5, 5);
  EXPECT_EQ(a.arq.SetRegData(1, &novo), S_OK);
  EXPECT_EQ(Bytes("DADOS.dat"), BytesDe({Reg(5, 5), Reg(1, 1)}));
  // Raw contents keep whole records only, and their rewrite is not audited as a removal.
  const std::string sAuditoria = ZelLeArquivoInteiro(Caminho("ZelLogAuditoria.log"));
  const std::string sCru = BytesDe({Reg(8, 8), Reg(9, 9), Reg(5, 5), Reg(1, 1)});
  EXPECT_EQ(a.arq.SetArrayData(2 * sizeof(REG_TESTE) + 5, sCru.data()), S_OK);
  EXPECT_EQ(Bytes("DADOS.dat"), sCru.substr(0, 2 * sizeof(REG_TESTE)));
  EXPECT_EQ(a.arq.SetArrayData(2 * sizeof(REG_TESTE), sCru.data() + 2 * sizeof(REG_TESTE)), S_OK);
  EXPECT_EQ(Bytes("DADOS.dat"), BytesDe({Reg(5, 5), Reg(1, 1)}));
  EXPECT_EQ(ZelLeArquivoInteiro(Caminho("ZelLogAuditoria.log")), sAuditoria);
  // As many records, differing only in the last one's last field, is a change (and so is going back).
  REG_TESTE fim = Reg(1, 1);
  fim.ullB = 8;
  ASSERT_EQ(a.arq.SetConteudo({Reg(5, 5), fim}), S_OK);
  EXPECT_EQ(Bytes("DADOS.dat"), BytesDe({Reg(5, 5), fim}));
  ASSERT_EQ(a.arq.SetConteudo({Reg(5, 5), Reg(1, 1)}), S_OK);
  EXPECT_EQ(Bytes("DADOS.dat"), BytesDe({Reg(5, 5), Reg(1, 1)}));
  // Records equal to those kept never reach the disk.
  a.arq.FechaArquivo();
  ASSERT_EQ(ZelDefineSomenteLeitura(Caminho("DADOS.dat"), true), ERROR_SUCCESS);
  EXPECT_EQ(GravaColecao(a.arq, 1, {Reg(5, 5), Reg(1, 1)}), S_OK);
  EXPECT_EQ(Grava(a.arq, 2, Reg(1, 3)), HR(0x80043ED1)) << "a real change needs the read-only file";
  EXPECT_NE(ZelLeArquivoInteiro(ArquivoErrosEmpresa()).find("\thr = eZelReadOnly\t"), std::string::npos);
  ZelDefineSomenteLeitura(Caminho("DADOS.dat"), false);

  ASSERT_EQ(a.arq.SetConteudo({}), S_OK);
  EXPECT_TRUE(Existe("DADOS.dat"));
  EXPECT_EQ(Bytes("DADOS.dat"), "");

  CBaseTeste db;
  CZelFile<REG_TESTE> outro("OUTRO.dat", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  ASSERT_EQ(outro.SetConteudo({}), S_OK);
  EXPECT_FALSE(Existe("OUTRO.dat"));
}

namespace {
struct REG_BACKUP {
  uint64_t ull;
};
}  // namespace

// An open file takes its sibling's place and reloads it; no sibling, no file.
// A reader on another thread sees a record or a text whole, never part of the one being written over it.
TEST_F(ZelFileTeste, LeituraNuncaVeParteDeUmaGravacao) {
  struct REG_GRANDE {
    char a[4096];
  };
  CBaseTeste db;
  CZelFile<REG_GRANDE> arq("GRANDE.dat", &db);
  CZelTextFile txt("LISTA.txt", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  REG_GRANDE rA, rB;
  std::memset(rA.a, 'a', sizeof rA.a);
  std::memset(rB.a, 'b', sizeof rB.a);
  const std::string sA(rA.a, sizeof rA.a), sB(rB.a, sizeof rB.a);
  // Writes over the first record 2000 times, the other letter each time, while a thread reads it: the reads
  // that did not see one letter throughout.
  auto partidos = [](auto grava, auto inteiro) {
    std::atomic<bool> bFim{false};
    int nLidos = 0, nPartidos = 0;
    std::thread leitor([&] {
      for (; !bFim.load(); ++nLidos) nPartidos += !inteiro();
    });
    bool bGravou = true;
    for (int i = 0; i < 2000 && bGravou; ++i) bGravou = grava(i % 2 == 0);
    bFim = true;
    leitor.join();
    EXPECT_TRUE(bGravou);
    EXPECT_GT(nLidos, 0);
    return nPartidos;
  };
  ZelUInt uiPos = 0;
  ASSERT_EQ(arq.Grava(uiPos, rA), S_OK);
  EXPECT_EQ(partidos([&](bool b) { return arq.Grava(uiPos = 1, b ? rB : rA) == S_OK; },
                     [&] {
                       REG_GRANDE r;
                       return arq.Le(1, &r) == S_OK && (std::memcmp(&r, &rA, sizeof r) == 0 ||
                                                        std::memcmp(&r, &rB, sizeof r) == 0);
                     }),
            0);
  uiPos = 0;
  ASSERT_EQ(txt.Grava(uiPos, sA.c_str()), S_OK);
  EXPECT_EQ(partidos([&](bool b) { return txt.Grava(uiPos = 1, (b ? sB : sA).c_str()) == S_OK; },
                     [&] {
                       std::string s;
                       return txt.Le(1, &s) == S_OK && (s == sA || s == sB);
                     }),
            0);
}

// A rewrite whose directory goes away after the old file is removed tells the caller, not success.
TEST_F(ZelFileTeste, ReescritaQueNaoReabreOArquivoFalha) {
  struct CDiretorioSai : CZelFile<REG_TESTE> {
    using CZelFile<REG_TESTE>::CZelFile;
    std::string sDe, sPara;  // the company directory and where it goes on the next start
    HRESULT OnInicializa() override {
      const HRESULT hr = CZelFile<REG_TESTE>::OnInicializa();
      if (!sDe.empty()) std::rename(sDe.c_str(), sPara.c_str());
      return hr;
    }
  };
  CBaseTeste db;
  CDiretorioSai arq("dados.DAT", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 3, 4), S_OK);
  ASSERT_EQ(Grava(arq, 0, Reg(1, 1)), S_OK);
  arq.sDe = m_sEmpresa.substr(0, m_sEmpresa.size() - 1);
  arq.sPara = arq.sDe + "_longe";
  EXPECT_EQ(arq.SetConteudo({Reg(2, 2)}), HR(0x80043EBF));
  ASSERT_EQ(std::rename(arq.sPara.c_str(), arq.sDe.c_str()), 0);
  EXPECT_FALSE(Existe("DADOS.dat"));
}

TEST_F(ZelFileTeste, CopiaIrmaTomaOLugarDoArquivoAbertoQueARecarrega) {
  Aberto a;
  ASSERT_EQ(GravaColecao(a.arq, 0, {Reg(1, 1), Reg(2, 2)}), S_OK);
  Escreve("dados.TRA", BytesDe({Reg(7, 7)}));
  ASSERT_EQ(a.arq.RenomeiaArquivoEXT("tra"), S_OK);
  EXPECT_EQ(Bytes("DADOS.dat"), BytesDe({Reg(7, 7)}));
  EXPECT_FALSE(Existe("DADOS.tra"));
  EXPECT_EQ(a.arq.GetQtdRegistros(), 1u);
  REG_TESTE r{};
  ASSERT_EQ(a.arq.Le(1, &r), S_OK);
  EXPECT_EQ(r.ulValor, 7u);
  const std::string sLista = ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS;
  EXPECT_TRUE(Existe(sLista));
  ASSERT_EQ(a.arq.RenomeiaArquivoEXT("tra"), S_OK);
  EXPECT_FALSE(Existe("DADOS.dat"));
  EXPECT_FALSE(Existe(sLista)) << "its entry in the list of created files goes with it";
  EXPECT_EQ(a.arq.GetQtdRegistros(), 0u);
  // A sibling of no whole record still takes the place: the rename is done, and only the reload's failure is logged.
  Escreve("dados.TRA", "12345");
  EXPECT_EQ(a.arq.RenomeiaArquivoEXT("tra"), S_OK);
  EXPECT_EQ(Bytes("DADOS.dat"), "12345");
  EXPECT_EQ(LinhasCom("\tCZelFileBase::RenomeiaArquivoEXT\t", "\thr = Inicializa(&zelProfiler)\t"), 1);
}

TEST_F(ZelFileTeste, MarcaDeBackupEHoraDaUltimaGravacao) {
  ChaveTexto("", "EmpresaLogada", "EMP1");
  for (const char* sz : {"HabilitaArquivoCRBackup", "HabilitaLastWriteRefresh"}) ChaveDword(sz, 1);
  CBaseTeste db;
  CZelFile<REG_BACKUP> arq("BKP.dat", &db);
  ASSERT_EQ(db.Inicializa("EMP1", 1, 1), S_OK);
  ZelUInt uiPos = 0;
  ASSERT_EQ(arq.Grava(uiPos, REG_BACKUP{42}), S_OK);
  std::string sMarca = CZelPath::Junta(CZelPath::GetPai(m_sEmpresa), "BackupCRZel/BKP.crbkp");
  EXPECT_TRUE(ZelExisteArquivo(sMarca)) << sMarca;
  EXPECT_EQ(ZelLeArquivoInteiro(sMarca), "");
}

TEST(ZelListaPosicoes, FicaEmOrdemSobInclusoesERemocoesComoUmMultiset) {
  // Against a sorted model: appends, inserts in the middle, removals of present and absent positions.
  CZelListaPosicoes vazia;
  EXPECT_TRUE(vazia.empty());
  EXPECT_TRUE(vazia.Vetor().empty());
  std::mt19937 gerador(12345);
  for (int nRodada = 0; nRodada < 20; ++nRodada) {
    CZelListaPosicoes l;
    std::multiset<ZelUInt> modelo;
    const ZelUInt uiMaximo = nRodada % 2 == 0 ? 8 : 200;
    for (int i = 0; i < 2000; ++i) {
      const ZelUInt ui = 1 + gerador() % uiMaximo;
      if (gerador() % 3 == 0) {
        l.push_back(ui);
        modelo.insert(ui);
      } else {
        l.Remove(ui);
        auto it = modelo.find(ui);
        if (it != modelo.end()) modelo.erase(it);
      }
      ASSERT_EQ(l.size(), modelo.size());
      if (!modelo.empty()) {
        ASSERT_EQ(l.front(), *modelo.begin());
      }
    }
    EXPECT_EQ(l.Vetor(), std::vector<ZelUInt>(modelo.begin(), modelo.end()));
  }
}

TEST_F(ZelFileTeste, IndiceRecusadoFicaNaColunaEValeParaAsGravacoes) {
  Aberto a(false);
  ASSERT_EQ(GravaColecao(a.arq, 0, {Reg(1, 1), Reg(0, 2)}), S_OK);
  EXPECT_EQ(a.arq.IncluiIndex(&a.db, 0), HR(0x81080AAC)) << "a loaded record has key 0";
  EXPECT_EQ(a.arq.IncluiIndex(&a.db, 0), HR(0x81080AA9)) << "the refused index holds column 0";
  EXPECT_EQ(Posicao(a.arq, 1, 99), 99u) << "it holds no key";
  EXPECT_EQ(Grava(a.arq, 0, Reg(0, 3)), HR(0x81080AAC)) << "later writes keep its rules";
  EXPECT_EQ(a.arq.IncluiIndex(&a.db, 1, true), S_OK);
}

// 0 when an append on a full disk failed with eDiskFull after 50 attempts' waits, memory unchanged.
ZEL_AJUDANTE(GravaComDiscoCheio) {
  CBaseTeste db;
  CZelFile<REG_TESTE> arq("dados.DAT", &db);
  if (db.Inicializa("EMP1", 3, 4) != S_OK || arq.GetQtdRegistros() != 1) return 3;
  ZelLimiteTamanhoArquivos limite(sizeof(REG_TESTE));
  const uint64_t ullInicio = GetTickCount64();
  ZelUInt uiPos = 0;
  if (static_cast<uint32_t>(arq.Grava(uiPos, Reg(2, 2))) != 0x80043F08u) return 1;
  const uint64_t ullDecorrido = GetTickCount64() - ullInicio;
  if (arq.GetQtdRegistros() != 1) return 4;
  return ullDecorrido >= 49u * ZelTempoMs(ZelTempo::kIntervaloRetentativaZelDataBase) ? 0 : 2;
}

TEST_F(ZelFileTeste, LacoDeGravacaoTentaCinquentaVezesEParaNaFatal) {
  Aberto a;
  ASSERT_EQ(Grava(a.arq, 0, Reg(1, 1)), S_OK);
  EXPECT_EQ(Grava(a.arq, 0, Reg(1, 2)), HR(0x81080AAD));
  EXPECT_EQ(LinhasCom("\thr = GravaRegistros(uiPosicao, aRegistros)\t"), 1) << "a fatal error is not retried";
  // A full disk is retried; with no log line then, a helper at a tenth of real time times the 49 waits.
  a.arq.FechaArquivo();
  pid_t pid = ZelIniciaAjudanteEmEscala("GravaComDiscoCheio", "0.1");
  EXPECT_EQ(ZelEsperaAjudante(pid, 60000), 0);
  EXPECT_EQ(Bytes("DADOS.dat"), BytesDe({Reg(1, 1)}));
}

TEST_F(ZelFileTeste, CadaOperacaoPublicaRastreiaSeusArgumentosNaEntradaOuSoNaSaida) {
  EscreveLogIni("[Log]\r\nEntrada=1\r\nZelDataBase=todos\r\n");
  Aberto a;
  ASSERT_EQ(Grava(a.arq, 0, Reg(1, 1)), S_OK);
  REG_TESTE r{};
  ASSERT_EQ(a.arq.Le(1, &r), S_OK);
  std::vector<REG_TESTE> v;
  ASSERT_EQ(a.arq.LeColecao(1, 1, v), S_OK);
  EXPECT_EQ(Posicao(a.arq, 1), 1u);
  ASSERT_EQ(a.arq.SetConteudo({Reg(2, 2)}, false), S_OK);
  std::string sOutra = ZelNovoDiretorio("emp-copia");
  RegistraEmpresa("EMP9", sOutra);
  // Copies to another company replace what was there, longer or not.
  std::ofstream(sOutra + "DADOS.dat", std::ios::binary) << "velho conteudo mais longo que o novo registro...";
  // The target's creation list is left as it was.
  const std::string sLista = sOutra + ZELDATABASE_NOME_ARQUIVO_CONTROLE_CRIACAO_ARQUIVOS;
  std::ofstream(sLista, std::ios::binary) << std::string("\x09\0\0\0DADOS.dat", 13);
  ASSERT_EQ(a.arq.CopiaArquivoPara("EMP9", kModuloTeste), S_OK);
  EXPECT_EQ(ZelLeArquivoInteiro(sOutra + "DADOS.dat"), BytesDe({Reg(2, 2)}));
  EXPECT_EQ(ZelLeArquivoInteiro(sLista), std::string("\x09\0\0\0DADOS.dat", 13));
  EXPECT_EQ(ZelLeArquivoInteiro(sOutra + "ZelLogAuditoria.log"),
            "1\t1\t0\tU65535\tArquivo \"" + sOutra + "DADOS.dat\" removido durante a convers\xE3o da base de dados\n")
      << "what the copy replaced is audited, once";
  ASSERT_EQ(a.arq.CopiaArquivoParaEXT("EMP9", kModuloTeste, "tra", true), S_OK);
  EXPECT_EQ(ZelLeArquivoInteiro(sOutra + "DADOS.tra"), BytesDe({Reg(2, 2)}));
  EXPECT_FALSE(ZelExisteArquivo(sOutra + "DADOS.dat")) << "a copy under another extension takes the file's place";
  // A pending .tra beside the target refuses the copy before anything of the target goes.
  std::ofstream(sOutra + "DADOS.dat", std::ios::binary) << "anterior";
  EXPECT_EQ(a.arq.CopiaArquivoPara("EMP9", kModuloTeste), E_ZELCR_ARQUIVO_TRA_ENCONTRADO);
  EXPECT_EQ(ZelLeArquivoInteiro(sOutra + "DADOS.dat"), "anterior");
  const std::string sLog = ZelLeArquivoInteiro(LogChamadas());
  for (const char* szEsperado : {
           "\tCZelFile::IncluiIndex\t",
           "m_sNomeArquivo = DADOS.dat\tuiColunaIndexacao = 0\tbPermiteChaveZerada = 0\tbPermiteChaveRepetida = 0\t",
           "\tCZelFile::Grava\t", "m_sNomeArquivo = DADOS.dat\tuiPosicao = 0\t",
           "\tCZelFile::GravaColecao\t", "m_sNomeArquivo = DADOS.dat\tuiPosicao = 0\tuiQuantidade = 1\t",
           "\tCZelFile::Le\t", "m_sNomeArquivo = DADOS.dat\tuiPosicao = 1\t",
           "\tCZelFile::LeColecao\t", "m_sNomeArquivo = DADOS.dat\tuiPosicao = 1\tuiQuantidade = 1\t",
           "\tCZelFile::ExisteIndex\t", "m_sNomeArquivo = DADOS.dat\tuiChave = 1\tuiColunaIndexacao = 0\t",
           "\tCZelFile::SetConteudo\t", "m_sNomeArquivo = DADOS.dat\tuiQuantidade = 1\tbGerarLog = 0\t",
           "\tCZelFileBase::AbreArquivo\t", "m_sNomeArquivo = DADOS.dat\teModoAbertura = LeituraGravacao\t",
           "\tCZelFileBase::CopiaArquivoParaEXT\t",
           "m_sNomeArquivo = DADOS.dat\tsEmpresa = EMP9\tzelModulo = 1\tsExtensao = tra\tbSubstitui = 1\t"})
    EXPECT_NE(sLog.find(szEsperado), std::string::npos) << szEsperado;

  std::remove(LogChamadas().c_str());
  EscreveLogIni("[Log]\r\nSaida=1\r\nZelDataBase=CZelFile::Le\r\n");
  ASSERT_EQ(a.arq.Le(1, &r), S_OK);
  const std::vector<std::string> linhas = Linhas(LogChamadas());
  ASSERT_EQ(linhas.size(), 1u);
  for (const char* sz : {"\tCZelFile::Le\t", "\tSAIU\t", "\tm_sNomeArquivo = DADOS.dat\tuiPosicao = 1\t"})
    EXPECT_NE(linhas[0].find(sz), std::string::npos) << linhas[0];
}

// Against a map of sets, through inserts, removals (probe runs shifted back across the table's end)
// and growth; keys crowd into few slots and include 0.
TEST(ZelIndiceChaves, MesmasPosicoesQueUmMapaDeConjuntos) {
  CZelIndiceChaves indice;
  std::map<ZelUInt, std::set<ZelUInt>> modelo;
  std::mt19937_64 gerador(7);
  auto confere = [&](int nPasso) {
    for (ZelUInt k = 0; k < 70; ++k) {
      auto it = modelo.find(k);
      std::vector<ZelUInt> esperado;
      if (it != modelo.end()) esperado.assign(it->second.begin(), it->second.end());
      ASSERT_EQ(indice.Posicoes(k), esperado) << "key " << k << " step " << nPasso;
      ASSERT_EQ(indice.Primeira(k), esperado.empty() ? 0 : esperado.front()) << "key " << k << " step " << nPasso;
    }
    ASSERT_EQ(indice.empty(), modelo.empty());
  };
  for (int nPasso = 0; nPasso < 4000; ++nPasso) {
    const ZelUInt k = gerador() % 64;
    const ZelUInt p = gerador() % 12 + 1;
    if (gerador() % 3 != 0) {
      if (modelo[k].insert(p).second) indice.Inclui(k, p);
    } else {
      indice.Remove(k, p);
      auto it = modelo.find(k);
      if (it != modelo.end()) {
        it->second.erase(p);
        if (it->second.empty()) modelo.erase(it);
      }
    }
    if (nPasso % 97 == 0) confere(nPasso);
    if (modelo.size() > 40) {
      // Empty it, key by key, down to nothing.
      for (auto& [kk, posicoes] : modelo)
        for (ZelUInt pp : posicoes) indice.Remove(kk, pp);
      modelo.clear();
      confere(nPasso);
    }
  }
  confere(-1);
  indice.Remove(99, 1);
  indice.Inclui(0, 5);
  EXPECT_EQ(indice.Primeira(0), 5u) << "key 0 is a key like any other";
  indice.Remove(0, 6);
  EXPECT_EQ(indice.Primeira(0), 5u) << "another position of the key leaves it";
}
