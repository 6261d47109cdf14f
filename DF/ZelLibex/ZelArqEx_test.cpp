#include "ZelArqEx.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "ZelAmbienteTeste.h"
#include "ZelLeituraLote.h"
#include "ZelPath.h"
#include "ZelTempo.h"

namespace {
constexpr LONG kTamanho = 48;

std::string Reg(char c) { return std::string(kTamanho, c); }
std::string Zeros(size_t n) { return std::string(n, '\0'); }
// A record of the control file: the name, zero-padded to 32 bytes.
std::string Controle(const std::string& sNome) { return (sNome.substr(0, 31) + Zeros(32)).substr(0, 32); }
// Writes the bytes through the platform, as another program would.
std::string Escreve(const std::string& sCaminho, const std::string& sBytes) {
  CFile f;
  EXPECT_TRUE(f.Open(sCaminho, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyNone)) << sCaminho;
  f.Write(sBytes.data(), static_cast<UINT>(sBytes.size()));
  f.Close();
  return sCaminho;
}
// Heap bytes in use, large blocks included.
size_t EmUso() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}
// Writes one record in place, as another program would.
void TrocaEm(const std::string& sCaminho, LONG lPos, char c) {
  CFile f;
  ASSERT_TRUE(f.Open(sCaminho, CFile::modeReadWrite | CFile::shareDenyNone));
  ASSERT_EQ(f.GravaEm(static_cast<ULONGLONG>(lPos) * kTamanho, Reg(c).data(), kTamanho), ERROR_SUCCESS);
}
// The bytes of a direct read, or "falhou".
std::string Direto(CZelArqEx& arq, int64_t llInicio, LONG lBytes) {
  std::string s(static_cast<size_t>(lBytes), '?');
  return arq.LeDireto(llInicio, lBytes, s.data()) ? s : std::string("falhou");
}

// args: path, signal directory. Holds a 'G' open from "pronto" until "solta".
ZEL_AJUDANTE(SeguraArquivoG) {
  CZelArqEx arq;
  if (arq.Abre(args.at(0), 'G', kTamanho, 0, TRUE) != 0) return 2;
  ZelCriaMarcador(args.at(1) + "pronto");
  if (!ZelEsperaArquivo(args.at(1) + "solta")) return 3;
  return arq.Fecha();
}

// A data file opened at once.
struct Aberto : CZelArqEx {
  explicit Aberto(const std::string& sPath, char cModo = 'L', LONG lTamanho = kTamanho, int iCria = 0) {
    EXPECT_EQ(Abre(sPath, cModo, lTamanho, iCria, TRUE), 0) << sPath;
  }
};

class ZelArqExTeste : public ZelAmbienteTeste {
 protected:
  void SetUp() override {
    ZelAmbienteTeste::SetUp();
    CZelArqEx::ReleChavesGravacao();
    CZelPath::ReleConfiguracao();
    static int nSerie = 0;
    m_sDir = ZelNovoDiretorio("arq" + std::to_string(++nSerie));
  }
  int LinhasErroCom(const std::string& sTexto) const {
    int n = 0;
    for (const auto& l : Linhas(ArquivoErrosProgramas())) n += l.find(sTexto) != std::string::npos;
    return n;
  }
  static int Grava(CZelArqEx& arq, char c, LONG* plPosicao) { return arq.Grava(Reg(c).data(), plPosicao); }
  // The position written at lPos (0 appends), or minus the code.
  static LONG GravaEm(CZelArqEx& arq, char c, LONG lPos) {
    const int r = Grava(arq, c, &lPos);
    return r == 0 ? lPos : -r;
  }
  static int GravaZero(CZelArqEx& arq, char c) { return arq.GravaZero(Reg(c).data(), kTamanho); }
  // The record (of the size opened) at the position, or the code of the failure.
  static std::string Le(CZelArqEx& arq, LONG lPosicao, LONG lTamanho = kTamanho) {
    std::string s(lTamanho, '?');
    const int r = arq.Le(lPosicao, s.data());
    return r == 0 ? s : "erro " + std::to_string(r);
  }

  std::string m_sDir;
};
}  // namespace

TEST_F(ZelArqExTeste, GravarNaPosicaoZeroAcrescentaEDevolveONumero) {
  const std::string sPath = m_sDir + "DADOS.DAT";
  Aberto arq(sPath, 'C');
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), "");

  EXPECT_EQ(GravaEm(arq, 'a', 0), 0) << "an empty file's first append is record 0";
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Reg('a'));

  EXPECT_EQ(GravaEm(arq, 'b', 0), 1);
  ULONG ulPos = 0;
  ASSERT_EQ(arq.Grava(Reg('c').data(), &ulPos), 0);
  EXPECT_EQ(ulPos, 2u);
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Reg('a') + Reg('b') + Reg('c'));

  EXPECT_EQ(GravaEm(arq, 'x', 1), 1);
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Reg('a') + Reg('x') + Reg('c'));
  EXPECT_EQ(GravaEm(arq, 'd', 3), 3) << "the next free record";
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Reg('a') + Reg('x') + Reg('c') + Reg('d'));
  EXPECT_EQ(arq.GetQtdRegistros(), 4u);
  EXPECT_EQ(arq.GetQtdRegistros(true), 3u);
  EXPECT_EQ(arq.GetTamanhoArquivo(), 4u * kTamanho);
  EXPECT_EQ(Le(arq, 1), Reg('x'));
  const std::string sSerie = Reg('e') + Reg('f');
  LONG lPos = 0;
  ASSERT_EQ(arq.GravaRegistros(sSerie.data(), 2, &lPos), 0);
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Reg('a') + Reg('x') + Reg('c') + Reg('d') + sSerie) << "every record of a run";
  // A count whose bytes pass 2 GiB (here wrapping to one record) is refused.
  lPos = 0;
  EXPECT_EQ(arq.GravaRegistros(sSerie.data(), (LONG{1} << 28) + 1, &lPos), ZELARQ_TENTATIVAS_ESGOTADAS);
  for (LONG lQtd : {LONG{0}, LONG{-1}}) {
    lPos = 0;
    EXPECT_EQ(arq.GravaRegistros(sSerie.data(), lQtd, &lPos), ZELARQ_TENTATIVAS_ESGOTADAS) << "a run of " << lQtd;
    EXPECT_EQ(lPos, 0);
  }
  EXPECT_EQ(arq.GetQtdRegistros(), 6u);
  // A record of a size of its own lies at its position times that size.
  const std::string sMeio(kTamanho / 2, 'm');
  lPos = 2;
  ASSERT_EQ(arq.Grava(sMeio.data(), &lPos, kTamanho / 2), 0);
  EXPECT_EQ(lPos, 1);
  EXPECT_EQ(Le(arq, 1), sMeio + std::string(kTamanho / 2, 'x'));
  EXPECT_EQ(Le(arq, 2), Reg('c'));
}

TEST_F(ZelArqExTeste, ArquivoVazioGanhaCabecalhoEGravarAlemDoFimFalha) {
  const std::string sPath = m_sDir + "VAZIO.DAT";
  ZelCriaMarcador(sPath);
  {
    Aberto leitura(sPath);
    EXPECT_EQ(ZelLeArquivoInteiro(sPath), "") << "a reading open writes nothing";
  }
  // Another spelling finds the file, and the log names it as the caller does.
  const std::string sGrafia = m_sDir + "vazio.dat";
  Aberto arq(sGrafia, 'G');
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Zeros(kTamanho));
  EXPECT_EQ(arq.GetQtdRegistros(true), 0u) << "the header alone is no record";
  LONG lPos = 3;
  EXPECT_EQ(Grava(arq, 'z', &lPos), 2675);
  EXPECT_EQ(LinhasErroCom("\tArquivo = " + sGrafia + "\tQtdRegistros = 1\t"), 1);
  EXPECT_EQ(GravaEm(arq, 'a', 0), 1);
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Zeros(kTamanho) + Reg('a'));
  ASSERT_EQ(arq.Fecha(), 0);

  ASSERT_EQ(arq.Abre(sPath, 'C', kTamanho, 0, TRUE), 0);
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), "");
  EXPECT_EQ(arq.GetQtdRegistros(true), 0u);
  EXPECT_EQ(GravaEm(arq, 'a', 1), 1) << "position 1 of an empty file: the header comes first";
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Zeros(kTamanho) + Reg('a'));
  lPos = 3;  // count + 1
  EXPECT_EQ(Grava(arq, 'z', &lPos), 2675);
  EXPECT_EQ(lPos, 3);
  EXPECT_EQ(LinhasErroCom("\tCBaseArquivo::ValidaPosicaoGravacao\t"), 2);
  const std::string sPosicao = "\tDescri\xE7\xE3o = Posi\xE7\xE3o de grava\xE7\xE3o ";
  const std::string sGravacao = "\tPosi\xE7\xE3o Grava\xE7\xE3o = ";
  EXPECT_EQ(1, LinhasErroCom("\thr = -2147218829" + sPosicao + "al\xE9m do fim do arquivo\tArquivo = " + sPath +
                             "\tQtdRegistros = 2" + sGravacao + "3\t"));
  EXPECT_EQ(LinhasErroCom("\thr = ValidaPosicaoGravacao(*plPosicao, lTamanhoDoRegistro)\thr = 0X80040A73 "), 2);
  lPos = -1;
  EXPECT_EQ(Grava(arq, 'z', &lPos), 2676);
  EXPECT_EQ(1, LinhasErroCom("\thr = -2147218828" + sPosicao + "negativa\tArquivo = " + sPath + sGravacao + "-1\t"));
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Zeros(kTamanho) + Reg('a')) << "failed writes leave the file alone";
  // A file that holds only its header keeps what the header holds.
  const std::string sCabecalho = Escreve(m_sDir + "CABECALHO.DAT", Reg('h'));
  Aberto cabecalho(sCabecalho, 'G');
  EXPECT_EQ(GravaEm(cabecalho, 'a', 1), 1);
  EXPECT_EQ(ZelLeArquivoInteiro(sCabecalho), Reg('h') + Reg('a'));
}

TEST_F(ZelArqExTeste, LerAProximaLivreNaoLogaMasDuasAlemLoga) {
  const std::string sPath = Escreve(m_sDir + "LEITURA.DAT", Zeros(kTamanho) + Reg('a'));
  Aberto arq(sPath);
  EXPECT_EQ(Le(arq, 1), Reg('a'));
  EXPECT_EQ(Le(arq, 2), "erro 16021");
  EXPECT_EQ(Le(arq, 3), "erro 16021");
  EXPECT_EQ(LinhasErroCom("CZelArqEx::Le"), 0) << "up to one record past the end is not logged";
  EXPECT_EQ(Le(arq, 4), "erro 16021");
  EXPECT_EQ(LinhasErroCom("\tCZelArqEx::Le\t"), 1);
  EXPECT_EQ(1, LinhasErroCom("\thr = 0x80043E95\tDescri\xE7\xE3o = Posi\xE7\xE3o al\xE9m do fim do arquivo\tArquivo = "
                             + sPath + "\tPosi\xE7\xE3o = 4\tRegistro = 48\tGetLength = 96\t"));
  // A record cut short at the end reads zero-padded.
  Aberto curto(Escreve(m_sDir + "CURTO.DAT", Zeros(kTamanho) + Reg('a') + "bc"));
  EXPECT_EQ(Le(curto, 2), "bc" + Zeros(kTamanho - 2));
  // A record larger than the read cache comes back whole, not cut to the cache.
  constexpr LONG kGrande = CZelArqEx::kTamanhoCachePadrao + 100;
  std::string sRegistro(kGrande, '\0');
  for (size_t i = 0; i < sRegistro.size(); ++i) sRegistro[i] = static_cast<char>('a' + i % 26);
  Aberto grande(Escreve(m_sDir + "GRANDE.DAT", Zeros(kGrande) + sRegistro), 'L', kGrande);
  EXPECT_EQ(Le(grande, 1, kGrande), sRegistro);
}

TEST_F(ZelArqExTeste, ArquivoSoECriadoSeNuncaListadoNoControle) {
  const std::string sPath = m_sDir + "DFIEHDR.DAT", sControle = m_sDir + "ZELCTLARQ.dat";
  CZelArqEx sem, arq;
  EXPECT_EQ(sem.Abre(sPath, 'G', kTamanho, 0, TRUE), 16055) << "no creation without the flag";
  EXPECT_FALSE(ZelExisteArquivo(sControle));
  ASSERT_EQ(arq.Abre(sPath, 'G', kTamanho, 1, TRUE), 0);
  EXPECT_TRUE(arq.EstaAberto());
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Zeros(kTamanho));
  EXPECT_EQ(ZelLeArquivoInteiro(sControle), Zeros(32) + Controle("DFIEHDR.DAT"));
  EXPECT_EQ(GravaEm(arq, 'a', 0), 1) << "opened in the caller's mode";

  const std::string sLongo = "UM_NOME_DE_ARQUIVO_BEM_COMPRIDO_DEMAIS.DAT";
  Aberto longo(m_sDir + sLongo, 'L', 16, 1);
  EXPECT_EQ(ZelLeArquivoInteiro(m_sDir + sLongo), Zeros(16));
  // A text file (one-byte records) made for reading starts with its zero byte too: no text lies at offset 0.
  Aberto texto(m_sDir + "DFIETEXT.DAT", 'L', 1, 1);
  EXPECT_EQ(ZelLeArquivoInteiro(m_sDir + "DFIETEXT.DAT"), Zeros(1));
  const std::string sListados = Zeros(32) + Controle("DFIEHDR.DAT") + Controle(sLongo) + Controle("DFIETEXT.DAT");
  EXPECT_EQ(ZelLeArquivoInteiro(sControle), sListados);
  // Listed once, deleted since: never created again.
  ASSERT_EQ(arq.Fecha(), 0);
  ASSERT_EQ(ZelExcluiArquivo(sPath), ERROR_SUCCESS);
  CZelArqEx outro;
  EXPECT_EQ(outro.Abre(sPath, 'G', kTamanho, 1, TRUE), 16055);
  EXPECT_FALSE(outro.EstaAberto());
  EXPECT_EQ(outro.Abre(m_sDir + "dfiehdr.dat", 'L', kTamanho, 1, TRUE), 16055) << "names compare without case";
  EXPECT_FALSE(ZelExisteArquivo(sPath));
  EXPECT_EQ(ZelLeArquivoInteiro(sControle), sListados);
  EXPECT_EQ(Le(outro, 1), "erro 16055") << "every operation retries the open";
}

TEST_F(ZelArqExTeste, CriacaoSimultaneaListaOArquivoUmaVez) {
  const std::string sPath = m_sDir + "CORRIDA.DAT";
  std::atomic<int> nFalhas{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 6; ++i) {
    threads.emplace_back([&] {
      CZelArqEx arq;
      if (arq.Abre(sPath, 'L', kTamanho, 1, TRUE) != 0) ++nFalhas;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(nFalhas.load(), 0);
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Zeros(kTamanho));
  EXPECT_EQ(ZelLeArquivoInteiro(m_sDir + "ZELCTLARQ.dat"), Zeros(32) + Controle("CORRIDA.DAT"));
}

TEST_F(ZelArqExTeste, LeituraDepoisDeFechaVemDoCacheQueCarregaArquivoInteiroEnche) {
  const std::string sPath = m_sDir + "INTEIRO.DAT";
  std::string sBytes = Zeros(kTamanho);
  for (int i = 1; i < 2000; ++i) sBytes += Reg(static_cast<char>('A' + i % 26));
  Escreve(sPath, sBytes);
  Aberto arq(sPath);
  ASSERT_EQ(Le(arq, 1), Reg('B'));
  ASSERT_EQ(arq.Fecha(), 0);
  ASSERT_EQ(ZelExcluiArquivo(sPath), ERROR_SUCCESS);
  EXPECT_EQ(Le(arq, 2), Reg('C')) << "answered without reopening";
  EXPECT_FALSE(arq.EstaAberto());
  EXPECT_EQ(arq.GetTamanhoArquivo(), 0u) << "any other operation reopens, and fails";
  ULONG ul = 7;
  EXPECT_EQ(arq.Posiciona('I', 0, &ul), 16055);

  Escreve(sPath, sBytes);
  Aberto inteiro(sPath);
  ASSERT_EQ(Le(inteiro, 1), Reg('B'));
  inteiro.CarregaArquivoInteiro();
  ASSERT_EQ(Le(inteiro, 1), Reg('B')) << "the larger cache starts empty";
  ASSERT_EQ(inteiro.Fecha(), 0);
  ASSERT_EQ(ZelExcluiArquivo(sPath), ERROR_SUCCESS);
  EXPECT_EQ(Le(inteiro, 1999), Reg(static_cast<char>('A' + 1999 % 26))) << "far beyond a 32 KB read-ahead";
}

TEST_F(ZelArqExTeste, PosicionaLeituraEEscritaSequenciais) {
  const std::string sPath = Escreve(m_sDir + "SEQ.DAT", Zeros(kTamanho) + Reg('a') + Reg('b'));
  Aberto arq(sPath, 'G');
  ULONG ul = 99;
  ASSERT_EQ(arq.Posiciona('F', 0, &ul), 0);
  EXPECT_EQ(ul, 3u * kTamanho);
  ASSERT_EQ(arq.Posiciona('P', kTamanho, &ul), 0);
  EXPECT_EQ(ul, 0u);
  std::string s(kTamanho, '?');
  ASSERT_EQ(arq.LeSequencial(kTamanho, s.data()), 0);
  EXPECT_EQ(s, Reg('a'));
  Aberto outro(sPath);  // its cache too must drop what the write replaced
  EXPECT_EQ(Le(outro, 2), Reg('b'));
  EXPECT_EQ(Le(arq, 2), Reg('b'));
  ASSERT_EQ(arq.GravaSequencial(kTamanho, Reg('y').data()), 0);
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Zeros(kTamanho) + Reg('a') + Reg('y'));
  EXPECT_EQ(Le(outro, 2), Reg('y'));
  EXPECT_EQ(arq.LeSequencial(kTamanho, s.data()), 16021);

  EXPECT_EQ(arq.Posiciona('P', 3 * kTamanho, &ul), 16021);
  EXPECT_EQ(arq.Posiciona('X', 0, &ul), 3716);
  ASSERT_EQ(arq.Posiciona('I', 0, &ul), 0);
  EXPECT_EQ(ul, 0u);

  std::string sTudo(3 * kTamanho, '?');
  ASSERT_EQ(arq.LeTudo(3 * kTamanho, sTudo.data(), false), 0);
  EXPECT_EQ(sTudo, ZelLeArquivoInteiro(sPath));
  std::string sDados(2 * kTamanho, '?');
  ASSERT_EQ(arq.LeTudo(2 * kTamanho, sDados.data(), true), 0);
  EXPECT_EQ(sDados, Reg('a') + Reg('y'));
  EXPECT_EQ(arq.LeTudo(3 * kTamanho, sTudo.data(), true), 16021);
  EXPECT_EQ(Le(arq, 2), Reg('y')) << "the sequential write reached the cache too";
}

// A direct read answers only for bytes wholly in an open file, sees later writes and leaves the file position alone.
TEST_F(ZelArqExTeste, LeituraDiretaSoComBytesInteirosNoArquivo) {
  for (bool bVista : {false, true}) {
    SCOPED_TRACE(bVista ? "through a view" : "without a view");
    const std::string sPath = Escreve(m_sDir + (bVista ? "VISTA.DAT" : "D.DAT"), Zeros(kTamanho) + Reg('a') + Reg('b'));
    CZelArqEx arq;
    arq.LePorVista(bVista);
    EXPECT_EQ(Direto(arq, kTamanho, kTamanho), "falhou") << "never opened";
    ASSERT_EQ(arq.Abre(sPath, 'L', kTamanho, 0, TRUE), 0);
    EXPECT_EQ(Le(arq, 1), Reg('a'));
    EXPECT_EQ(Direto(arq, 2 * kTamanho, kTamanho), Reg('b'));
    // One byte past the end, wholly past it, before the start, and nothing.
    const std::pair<int64_t, LONG> fora[] = {{2 * kTamanho, kTamanho + 1}, {3 * kTamanho, 1}, {-1, 1}, {0, 0}};
    for (auto [llInicio, lBytes] : fora) EXPECT_EQ(Direto(arq, llInicio, lBytes), "falhou") << llInicio;
    TrocaEm(sPath, 1, 'c');
    TrocaEm(sPath, 3, 'd');
    EXPECT_EQ(Direto(arq, kTamanho, 3 * kTamanho), Reg('c') + Reg('b') + Reg('d')) << "past the length at the opening";
    EXPECT_EQ(Direto(arq, 4 * kTamanho - 1, 2), "falhou");
    ASSERT_EQ(arq.Posiciona('P', 2 * kTamanho, nullptr), 0);
    EXPECT_EQ(Direto(arq, 0, kTamanho), Zeros(kTamanho));
    std::string sSeq(kTamanho, '?');
    ASSERT_EQ(arq.LeSequencial(kTamanho, sSeq.data()), 0);
    EXPECT_EQ(sSeq, Reg('b'));
    arq.Fecha();
    EXPECT_EQ(Direto(arq, kTamanho, kTamanho), "falhou") << "closed";
  }
}

// An object kept until its thread ends is closed after the thread's buffer pool: its buffer is freed, not pooled.
TEST_F(ZelArqExTeste, ObjetoFechadoNoFimDaThreadDepoisDoPoolDeBuffers) {
  const std::string sPath = Escreve(m_sDir + "FIMTHREAD.DAT", std::string(2 * CZelVistaArquivo::kBloco, 'f'));
  CZelVistaArquivo::Esquece();
  int nAdiantados = 0;
  std::thread([&] {
    thread_local std::unique_ptr<CZelArqEx> pArq;  // made before the pool, so destroyed after it
    pArq = std::make_unique<CZelArqEx>();
    CZelArqEx antes;  // closed before the thread ends, so its buffer is in the pool when the pool goes
    for (CZelArqEx* p : {&antes, pArq.get()}) {
      p->LePorVista(true);
      if (p->Abre(sPath, 'L', kTamanho, 0, TRUE) != 0) return;
      const uint64_t n = ZelLeTrechosChamadas();
      // Blocks apart.
      p->AdiantaLeitura({{p == &antes ? kTamanho : static_cast<int64_t>(CZelVistaArquivo::kBloco), kTamanho}});
      nAdiantados += ZelLeTrechosChamadas() > n;
    }
    antes.Fecha();
  }).join();
  EXPECT_EQ(nAdiantados, 2);
}

// A thread keeps a read-ahead buffer only up to a size, so a large one does not stay with every connection's thread.
TEST_F(ZelArqExTeste, BufferGrandeDeLeituraAdiantadaNaoFicaComAThread) {
  constexpr LONG kBytes = 3 << 20, kMedio = 900 << 10;
  const std::string sPath = Escreve(m_sDir + "GRANDEADIANTA.DAT", std::string(kBytes + kTamanho, 'g'));
  CZelVistaArquivo::Esquece();
  size_t nAntes = 0, nDepois = 0, nLido = 0, nGuardado = 0;
  std::thread([&] {
    nAntes = EmUso();
    CZelArqEx arq;
    arq.LePorVista(true);
    if (arq.Abre(sPath, 'L', kTamanho, 0, TRUE) != 0) return;
    arq.AdiantaLeitura({{kTamanho, kMedio}});
    arq.Fecha();
    nGuardado = EmUso() - nAntes;
    if (arq.Abre(sPath, 'L', kTamanho, 0, TRUE) != 0) return;
    arq.AdiantaLeitura({{kTamanho, kBytes}});
    nLido = EmUso() - nAntes;
    arq.Fecha();
    nDepois = EmUso();
  }).join();
#if !defined(__SANITIZE_ADDRESS__)  // its allocator is not the one counted
  EXPECT_GE(nGuardado, size_t{kMedio});
  ASSERT_GE(nLido, size_t{kBytes});
#endif
  EXPECT_LT(nDepois, nAntes + (size_t{1} << 20));
}

// A call reads two files ahead (values and texts): the thread keeps a buffer for each until its next call, no third.
TEST_F(ZelArqExTeste, ThreadGuardaUmBufferPorArquivoDeUmaChamadaENaoMais) {
  constexpr LONG kMedio = 900 << 10;
  constexpr int64_t B = CZelVistaArquivo::kBloco;
  const std::string sPath = Escreve(m_sDir + "TRESADIANTA.DAT", std::string(3 * (kMedio + 2 * B), 't'));
  CZelVistaArquivo::Esquece();
  size_t nAntes = 0, nGuardado = 0;
  bool bAbertos = false;
  std::thread([&] {
    nAntes = EmUso();
    {
      CZelArqEx a[3];
      for (int i = 0; i < 3; ++i) {
        a[i].LePorVista(true);
        if (a[i].Abre(sPath, 'L', kTamanho, 0, TRUE) != 0) return;
        // Blocks no other object asked for, so each reads its own.
        a[i].AdiantaLeitura({{kTamanho + i * (kMedio + 2 * B), kMedio}});
      }
      bAbertos = true;
    }
    nGuardado = EmUso() - nAntes;
  }).join();
  ASSERT_TRUE(bAbertos);
#if !defined(__SANITIZE_ADDRESS__)  // its allocator is not the one counted
  EXPECT_GE(nGuardado, size_t{2} * kMedio);
  EXPECT_LT(nGuardado, size_t{3} * kMedio);
#endif
}

// Pieces read ahead answer the direct reads, as they stood, until the file is closed; pieces that
// meet are read as one, those past the length or the limit not at all, blocks asked before from the view.
TEST_F(ZelArqExTeste, LeituraAdiantadaServeAteFecharEBlocosPedidosVemDaVista) {
  // Record k of block b of the view.
  const auto Em = [](LONG lBloco, LONG k) {
    return static_cast<LONG>((lBloco * CZelVistaArquivo::kBloco + kTamanho - 1) / kTamanho) + k;
  };
  const LONG nRegistros = Em(24, 0);
  std::string sConteudo;
  for (LONG i = 0; i < nRegistros; ++i) sConteudo += Reg(static_cast<char>('a' + i % 26));
  const auto Antigo = [](LONG lPos) { return Reg(static_cast<char>('a' + lPos % 26)); };
  const std::string sPath = Escreve(m_sDir + "ADIANTA.DAT", sConteudo);
  const auto K = [](LONG lPos) { return int64_t{lPos} * kTamanho; };
  auto Registro = [&](CZelArqEx& arq, LONG lPos, LONG nRegs = 1) { return Direto(arq, K(lPos), nRegs * kTamanho); };
  // The system reads that reading the pieces ahead took.
  auto Adianta = [](CZelArqEx& arq, std::vector<std::pair<int64_t, LONG>> aTrechos) {
    const uint64_t n = ZelLeTrechosChamadas();
    arq.AdiantaLeitura(std::move(aTrechos));
    return ZelLeTrechosChamadas() - n;
  };
  const LONG a = Em(1, 10), b = Em(11, 5), c = Em(17, 3), d = Em(18, 0), u = nRegistros - 1;
  CZelVistaArquivo::Esquece();
  ZelLeTrechosPorAnel(false);  // one pread per piece read
  CZelArqEx arq;
  arq.LePorVista(true);
  ASSERT_EQ(arq.Abre(sPath, 'L', kTamanho, 0, TRUE), 0);
  EXPECT_EQ(2u, Adianta(arq, {{K(a + 1), 2 * kTamanho}, {K(a), kTamanho}, {K(b), 10 * kTamanho}, {K(b + 5), kTamanho},
                              {K(u), 2 * kTamanho}, {-5, 10}, {K(c), 0}}));
  for (LONG lPos : {a, b + 9, c}) TrocaEm(sPath, lPos, 'Z');
  EXPECT_EQ(Registro(arq, a, 3), Antigo(a) + Antigo(a + 1) + Antigo(a + 2)) << "as read ahead";
  EXPECT_EQ(Registro(arq, b + 9), Antigo(b + 9));
  EXPECT_EQ(Registro(arq, b + 9, 2), Reg('Z') + Antigo(b + 10)) << "past the piece: the view";
  EXPECT_EQ(Registro(arq, c), Reg('Z')) << "not read ahead: the view";
  EXPECT_EQ(Registro(arq, u), Antigo(u));
  arq.Fecha();
  ASSERT_EQ(arq.Abre(sPath, 'L', kTamanho, 0, TRUE), 0);
  EXPECT_EQ(Registro(arq, a), Reg('Z')) << "closing dropped what was read ahead";
  EXPECT_EQ(Adianta(arq, {{K(a), kTamanho}, {K(b + 9), kTamanho}, {K(c), kTamanho}}), 0u)
      << "asked for before, or read through the view";
  EXPECT_EQ(Adianta(arq, {{K(a + 200), kTamanho}, {K(Em(15, 7)), kTamanho}}), 1u)
      << "only the new block: the rest of a block asked for comes from the view";
  EXPECT_EQ(Registro(arq, b + 9), Reg('Z'));
  // Two pieces of one new block, apart, asked for together: both read ahead.
  EXPECT_EQ(Adianta(arq, {{K(d + 2), kTamanho}, {K(d), kTamanho}}), 2u);
  for (LONG lPos : {d, d + 2}) TrocaEm(sPath, lPos, 'Z');
  EXPECT_EQ(Registro(arq, d), Antigo(d));
  EXPECT_EQ(Registro(arq, d + 2), Antigo(d + 2));
  EXPECT_EQ(Adianta(arq, {{K(d + 1), kTamanho}, {K(d + 900), kTamanho}}), 0u)
      << "a block read ahead counts as asked for";
  EXPECT_EQ(Registro(arq, d + 1), Antigo(d + 1));
  arq.Fecha();
  // Replaced while closed, and opened again for writing: read as it is now.
  const std::string sNovo = Escreve(m_sDir + "NOVO.TMP", std::string(size_t{1} * nRegistros * kTamanho, 'n'));
  ASSERT_EQ(std::rename(sNovo.c_str(), sPath.c_str()), 0);
  ASSERT_EQ(arq.Abre(sPath, 'G', kTamanho, 0, TRUE), 0);
  EXPECT_EQ(Registro(arq, d + 1), Reg('n'));
  arq.Fecha();
  // Without a view, nothing is read ahead.
  Aberto semVista(sPath);
  EXPECT_EQ(Adianta(semVista, {{K(Em(19, 0)), kTamanho}}), 0u);
  // The limit: 8 MB in all.
  const std::string sGrande = Escreve(m_sDir + "GRANDE.DAT", std::string(10u << 20, 'g'));
  CZelArqEx grande;
  grande.LePorVista(true);
  ASSERT_EQ(grande.Abre(sGrande, 'L', kTamanho, 0, TRUE), 0);
  EXPECT_EQ(Adianta(grande, {{0, 4 << 20}, {5 << 20, 4 << 20}, {(int64_t{9} << 20) + 8192, 1}}), 2u);
  // What overlapping pieces share counts once toward it: 7 MB here, so the last piece still fits.
  CZelArqEx sobrepostos;
  sobrepostos.LePorVista(true);
  const std::string sSobrepostos = Escreve(m_sDir + "SOBREPOSTOS.DAT", std::string(8u << 20, 's'));
  ASSERT_EQ(sobrepostos.Abre(sSobrepostos, 'L', kTamanho, 0, TRUE), 0);
  EXPECT_EQ(Adianta(sobrepostos, {{0, 4 << 20}, {2 << 20, 4 << 20}, {7 << 20, 1 << 20}}), 2u);
  ZelLeTrechosPorAnel(true);
}

TEST_F(ZelArqExTeste, ParametrosInvalidosDaoSeusCodigos) {
  CZelArqEx arq;
  const std::tuple<std::string, char, int, int> invalidos[] = {
      {"", 'L', 1, 16179}, {m_sDir + "X.DAT", 'X', 1, 3716}, {m_sDir + "nao/existe/X.DAT", 'G', 1, 16063},
      {m_sDir, 'L', 0, 16080}, {m_sDir + "sem/", 'L', 1, 16063}};
  for (const auto& [s, c, iCria, iCodigo] : invalidos) EXPECT_EQ(arq.Abre(s, c, kTamanho, iCria, TRUE), iCodigo) << s;

  const std::string sSomenteLeitura = Escreve(m_sDir + "RO.DAT", Reg('r'));
  ASSERT_EQ(ZelDefineSomenteLeitura(sSomenteLeitura, true), ERROR_SUCCESS);
  EXPECT_EQ(arq.Abre(sSomenteLeitura, 'G', kTamanho, 0, TRUE), 16081);
  EXPECT_EQ(arq.Abre(sSomenteLeitura, 'L', kTamanho, 0, TRUE), 0);
  EXPECT_EQ(Le(arq, 0), Reg('r'));
  ZelDefineSomenteLeitura(sSomenteLeitura, false);
  // A position before the start and a refused read (this process's memory at 0) are failures, not a file's end.
  EXPECT_EQ(Le(arq, -1), "erro 16012");
  Aberto memoria("/proc/self/mem");
  EXPECT_EQ(Le(memoria, 0), "erro 16039");
  // A path longer than the platform's limit is cut at 259 characters.
  const std::string sLongo = m_sDir + std::string(300, 'n');
  EXPECT_EQ(arq.Abre(sLongo, 'L', kTamanho, 0, FALSE), 16055);
  EXPECT_EQ(std::string(arq.GetPath()), sLongo.substr(0, 259));
}

TEST_F(ZelArqExTeste, OutroProcessoSegurandoGEsgotaAsTentativas) {
  const std::string sPath = Escreve(m_sDir + "DISPUTADO.DAT", Zeros(kTamanho) + Reg('a'));
  const std::string sSinal = ZelNovoDiretorio("disputa-sinal");
  pid_t pid = ZelIniciaAjudante("SeguraArquivoG", {sPath, sSinal});
  ASSERT_TRUE(ZelEsperaArquivo(sSinal + "pronto"));

  CZelArqEx escritor;
  EXPECT_EQ(escritor.Abre(sPath, 'G', kTamanho, 0, TRUE), 16110);
  EXPECT_FALSE(escritor.EstaAberto());
  EXPECT_EQ(escritor.Abre(sPath, 'C', kTamanho, 0, TRUE), 16110);
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Zeros(kTamanho) + Reg('a')) << "a refused 'C' truncates nothing";

  Aberto leitor(sPath);  // readers are never refused
  EXPECT_EQ(Le(leitor, 1), Reg('a'));
  EXPECT_EQ(GravaEm(leitor, 'z', 0), -16080) << "a reading open cannot write, after every attempt";

  ZelCriaMarcador(sSinal + "solta");
  EXPECT_EQ(ZelEsperaAjudante(pid), 0);
  EXPECT_EQ(escritor.Abre(sPath, 'G', kTamanho, 0, TRUE), 0);
  EXPECT_EQ(GravaEm(escritor, 'b', 0), 2);
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Zeros(kTamanho) + Reg('a') + Reg('b'));
}

TEST_F(ZelArqExTeste, AbreAdiaNoMesmoCaminhoEFechaOAntigoEAbreLogoEmOutro) {
  const std::string sUm = Escreve(m_sDir + "UM.DAT", Zeros(kTamanho) + Reg('u')), sOutro = m_sDir + "OUTRO.DAT";
  CZelArqEx arq;
  EXPECT_EQ(arq.Abre(sUm, 'L', kTamanho), 0) << "the first Abre always opens";
  EXPECT_TRUE(arq.EstaAberto());
  ASSERT_EQ(arq.Fecha(), 0);
  EXPECT_EQ(arq.Abre(m_sDir + "um.dat", 'G', kTamanho), 0);
  EXPECT_FALSE(arq.EstaAberto()) << "same file, deferred";
  EXPECT_EQ(arq.Abre(sOutro, 'L', kTamanho), 16055) << "another file opens at once";

  Escreve(sOutro, Zeros(kTamanho) + Reg('o'));
  EXPECT_EQ(Le(arq, 1), Reg('o'));
  EXPECT_TRUE(arq.EstaAberto());

  ASSERT_EQ(arq.Abre(sUm, 'G', kTamanho, 0, TRUE), 0);
  ASSERT_EQ(Le(arq, 1), Reg('u'));
  ASSERT_EQ(arq.Abre(sOutro, 'L', kTamanho), 0);
  EXPECT_TRUE(arq.EstaAberto());
  EXPECT_EQ(Le(arq, 1), Reg('o'));
  Aberto outro(sUm, 'G');  // the old file was closed
  Aberto escritor(sOutro, 'G');
  ASSERT_EQ(GravaEm(escritor, 'n', 1), 1);
  EXPECT_EQ(Le(arq, 1), Reg('n')) << "the object follows the new file's generation";
  // Leaving a file is no write to it: another reader's young cache of it stays.
  Aberto leitor(sUm);
  ASSERT_EQ(Le(leitor, 1), Reg('u'));
  ASSERT_EQ(arq.Abre(sUm, 'L', kTamanho, 0, TRUE), 0);
  ASSERT_EQ(arq.Abre(sOutro, 'L', kTamanho), 0);
  Escreve(sUm, Zeros(kTamanho) + Reg('v'));
  // Another file's read, so only the old file's generation could tell the reader.
  ASSERT_EQ(Le(arq, 1), Reg('n'));
  EXPECT_EQ(Le(leitor, 1), Reg('u')) << "trusted while young";
}

class ZelArqExBackup : public ZelArqExTeste {
 protected:
  void SetUp() override {
    ZelArqExTeste::SetUp();
    // The company's DF directory is <base>/dados/, so markers go to <base>/BackupCRZel/.
    m_sBase = ZelNovoDiretorio("base" + m_sDir.substr(m_sDir.size() - 3, 2));
    ZelCriaDiretorio(m_sBase + "dados");
    ChaveTexto("\\Empresas\\EMPB", "DF", m_sBase + "dados");
    ChaveTexto("", "EmpresaLogada", "EMPB");
  }
  static void Liga(DWORD dwValor) { ChaveDword("HabilitaArquivoCRBackup", dwValor); }
  // A data file of the company, written with the bytes and opened for writing.
  std::string AbreDados(CZelArqEx& arq, const std::string& sNome, const std::string& sBytes = Zeros(kTamanho)) {
    const std::string sPath = Escreve(m_sBase + "dados/" + sNome, sBytes);
    EXPECT_EQ(arq.Abre(sPath, 'G', kTamanho, 0, TRUE), 0);
    return sPath;
  }
  std::string m_sBase;
};

TEST_F(ZelArqExBackup, GravarORegistroZeroDeixaMarcaVaziaSeNaoHaOutra) {
  Liga(1);
  const std::string sPath = m_sBase + "dados/VOVIDADI.X/DFIEHDR.DAT";
  ZelCriaDiretorio(m_sBase + "dados/VOVIDADI.X");
  Aberto arq(sPath, 'G', kTamanho, 1);
  const std::string sMarcas = m_sBase + "BackupCRZel/";
  EXPECT_TRUE(ZelExisteArquivo(sMarcas + "DFIEHDR.crbkp"));
  EXPECT_EQ(ZelLeArquivoInteiro(sMarcas + "DFIEHDR.crbkp"), "");
  EXPECT_TRUE(ZelExisteArquivo(sMarcas + "ZELCTLARQ.crbkp")) << "the control file's header is record 0 too";
  // Only record 0 leaves a marker.
  CZelArqEx outro;
  const std::string sOutro = AbreDados(outro, "DFIECMP.DAT");
  ASSERT_EQ(GravaEm(outro, 'a', 0), 1);
  EXPECT_FALSE(ZelExisteArquivo(sMarcas + "DFIECMP.crbkp"));
  ASSERT_EQ(GravaZero(outro, 'z'), 0);
  EXPECT_TRUE(ZelExisteArquivo(sMarcas + "DFIECMP.crbkp"));
  EXPECT_EQ(ZelLeArquivoInteiro(sOutro), Reg('z') + Reg('a'));
  ASSERT_EQ(GravaZero(outro, 'z'), 0) << "an existing marker is left as it is";
  // One already there in any case stays as it is.
  Escreve(sMarcas + "existe.CRBKP", "guardado");
  CZelArqEx existe;
  AbreDados(existe, "EXISTE.DAT");
  ASSERT_EQ(GravaZero(existe, 'z'), 0);
  EXPECT_EQ(ZelLeArquivoInteiro(sMarcas + "existe.CRBKP"), "guardado");
  EXPECT_EQ(ZelListaArquivos(sMarcas, "*").size(), 4u);
  EXPECT_EQ(LinhasErroCom("CZelArqEx::GravaZero"), 0);
}

// args: a data file. At a short re-read period, a switch turned on is seen only once the period has passed.
ZEL_AJUDANTE(ReleChavesNoPrazo) {
  CZelArqEx arq;
  if (arq.Abre(args.at(0), 'G', kTamanho, 0, TRUE) != 0) return 2;
  const std::string z = Zeros(kTamanho);
  const std::string sMarca = CZelPath::GetPai(CZelPath::GetDiretorio(args.at(0))) + "BackupCRZel/PRAZO.crbkp";
  if (arq.GravaZero(z.data(), kTamanho) != 0 || ZelExisteArquivo(sMarca)) return 3;
  ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "HabilitaArquivoCRBackup", 1);
  if (arq.GravaZero(z.data(), kTamanho) != 0 || ZelExisteArquivo(sMarca)) return 4;
  // Halfway through the documented 600 s the old reading still holds.
  Sleep(ZelTempoMs(300'000));
  if (arq.GravaZero(z.data(), kTamanho) != 0 || ZelExisteArquivo(sMarca)) return 7;
  Sleep(ZelTempoMs(300'000) + 50);
  if (arq.GravaZero(z.data(), kTamanho) != 0) return 5;
  return ZelExisteArquivo(sMarca) ? 0 : 6;
}

TEST_F(ZelArqExBackup, ChavesSaoRelidasQuandoOPrazoPassa) {
  Liga(0);
  const std::string sPath = Escreve(m_sBase + "dados/PRAZO.DAT", Zeros(kTamanho));
  // 600 s become 300 ms.
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudanteEmEscala("ReleChavesNoPrazo", "0.0005", {sPath})), 0);
}

TEST_F(ZelArqExBackup, MarcaQueNaoPodeSerCriadaSoLogaEDiretorioSoUmNivel) {
  Liga(1);
  Escreve(m_sBase + "BackupCRZel", "");  // a file where the directory should be
  CZelArqEx arq;
  const std::string sPath = AbreDados(arq, "FALHA.DAT");
  EXPECT_EQ(GravaZero(arq, 'z'), 0) << "the write still counts";
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Reg('z'));
  EXPECT_EQ(LinhasErroCom("\tCZelArqEx::GravaZero\t"), 1);
  const std::string sLog = "\tErro ao gravar arquivo " + sPath + " backup para o CR. Erro: 3\t";
  EXPECT_EQ(LinhasErroCom(sLog), 1);
  // A company directory whose parent is missing: only the last level is created.
  ChaveTexto("\\Empresas\\EMPB", "DF", m_sBase + "falta/dados");
  CZelPath::ReleConfiguracao();
  ASSERT_EQ(GravaZero(arq, 'z'), 0);
  EXPECT_FALSE(ZelExisteDiretorio(m_sBase + "falta"));
  EXPECT_EQ(LinhasErroCom(sLog), 2);
}

namespace {
constexpr int64_t kHoraAntiga = 946684800;  // 2000-01-01

// A data file whose opens and writes fail on cue, counting the attempts.
class CZelArqExFalho : public CZelArqEx {
 public:
  BOOL Open(const std::string& sNome, UINT nFlags, CFileException* pErro) override {
    if (++m_nAberturas <= m_abertura.nVezes) {
      if (pErro != nullptr) *pErro = CFileException(m_abertura.nCausa, 0, sNome);
      return FALSE;
    }
    return CZelArqEx::Open(sNome, nFlags, pErro);
  }
  void Write(const void* pBuf, UINT nCount) override {
    if (++m_nEscritas <= m_escrita.nVezes) throw new CFileException(m_escrita.nCausa);
    CZelArqEx::Write(pBuf, nCount);
    // As where a write does not touch the file time: only the refresh does.
    if (m_bAtrasaHora) ZelDefineUltimaGravacaoTeste(GetFilePath(), kHoraAntiga);
  }

  struct Falhas {
    int nVezes = 0, nCausa = CFileException::none;
  };
  Falhas m_abertura, m_escrita;  // the next so many attempts fail for the cause
  int m_nAberturas = 0, m_nEscritas = 0;
  bool m_bAtrasaHora = false;
};

int64_t SegundosUltimaGravacao(const std::string& sPath) {
  timespec ts{};
  return ZelUltimaGravacao(sPath, &ts) == ERROR_SUCCESS ? static_cast<int64_t>(ts.tv_sec) : -1;
}
}  // namespace

// Passing causes are tried 200 times, the 200th still counting; others stop at the first. Failed writes change nothing.
TEST_F(ZelArqExTeste, AberturaEGravacaoRepetemAsCausasPassageirasDuzentasVezes) {
  const std::string sPath = Escreve(m_sDir + "REPETE.DAT", Zeros(kTamanho) + Reg('a'));
  using E = CFileException;
  const std::tuple<int, int, int> aberturas[] = {
      {E::sharingViolation, 16110, 200}, {E::lockViolation, 16128, 200}, {E::diskFull, 16136, 200},
      {E::tooManyOpenFiles, 16071, 200}, {E::accessDenied, 16080, 200}, {E::genericException, 16144, 200},
      {E::badPath, 16063, 1}, {E::invalidFile, 16098, 1}, {E::directoryFull, 16101, 1}, {E::fileNotFound, 16055, 1}};
  for (const auto& [nCausa, iCodigo, nTentativas] : aberturas) {
    SCOPED_TRACE("open, cause " + std::to_string(nCausa));
    CZelArqExFalho arq;
    arq.m_abertura = {1000, nCausa};
    EXPECT_EQ(arq.Abre(sPath, 'G', kTamanho, 0, TRUE), iCodigo);
    EXPECT_EQ(arq.m_nAberturas, nTentativas);
    EXPECT_FALSE(arq.EstaAberto());
  }
  const std::tuple<int, int, int> gravacoes[] = {
      {E::sharingViolation, 16110, 200}, {E::lockViolation, 16128, 200}, {E::diskFull, 16136, 200},
      {E::accessDenied, 16080, 200}, {E::genericException, 16144, 200}, {E::hardIO, 16039, 1}, {E::badPath, 16063, 1},
      {E::endOfFile, 16021, 1}, {E::badSeek, 16012, 1}, {E::fileNotFound, 16055, 1}, {E::invalidFile, 16098, 1}};
  for (const auto& [nCausa, iCodigo, nTentativas] : gravacoes) {
    for (bool bZero : {false, true}) {
      SCOPED_TRACE(std::string(bZero ? "GravaZero" : "Grava") + ", cause " + std::to_string(nCausa));
      CZelArqExFalho arq;
      ASSERT_EQ(arq.Abre(sPath, 'G', kTamanho, 0, TRUE), 0);
      arq.m_escrita = {1000, nCausa};
      LONG lPos = 1;
      EXPECT_EQ(bZero ? GravaZero(arq, 'z') : Grava(arq, 'z', &lPos), iCodigo);
      EXPECT_EQ(arq.m_nEscritas, nTentativas);
    }
  }
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Zeros(kTamanho) + Reg('a'));

  CZelArqExFalho arq;
  arq.m_abertura = {199, CFileException::sharingViolation};
  EXPECT_EQ(arq.Abre(sPath, 'G', kTamanho, 0, TRUE), 0);
  EXPECT_EQ(arq.m_nAberturas, 200);
  EXPECT_EQ(Le(arq, 1), Reg('a'));
  arq.m_escrita = {199, CFileException::lockViolation};
  EXPECT_EQ(GravaEm(arq, 'b', 0), 2);
  EXPECT_EQ(arq.m_nEscritas, 200);
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Zeros(kTamanho) + Reg('a') + Reg('b'));
}

// Behind the process's back a young cache still answers; a write that happened in any object of the process, or the
// cache's age, makes a reader look again. Failed writes leave every cache alone.
TEST_F(ZelArqExTeste, CacheEnvelheceComGravacaoFeitaNoProcessoOuComAIdade) {
  const std::string sPath = Escreve(m_sDir + "CACHE.DAT", Zeros(kTamanho) + Reg('a') + Reg('b'));
  CZelArqExFalho escritor;
  ASSERT_EQ(escritor.Abre(sPath, 'G', kTamanho, 0, TRUE), 0);
  Aberto leitor(sPath);
  ASSERT_EQ(Le(leitor, 1), Reg('a'));
  Escreve(sPath, Zeros(kTamanho) + Reg('p') + Reg('b'));
  EXPECT_EQ(Le(leitor, 1), Reg('a'));
  EXPECT_TRUE(leitor.ArquivoNaoAlterado());

  EXPECT_EQ(GravaEm(escritor, 'x', 5), -2675);
  escritor.m_escrita = {1, CFileException::hardIO};
  EXPECT_EQ(GravaEm(escritor, 'x', 1), -16039);
  escritor.m_nEscritas = 0;
  EXPECT_EQ(GravaZero(escritor, 'x'), 16039);
  EXPECT_EQ(Le(leitor, 1), Reg('a'));

  ASSERT_EQ(GravaEm(escritor, 'n', 2), 2);
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), Zeros(kTamanho) + Reg('p') + Reg('n'));
  EXPECT_EQ(Le(leitor, 1), Reg('p'));
  EXPECT_EQ(Le(leitor, 2), Reg('n'));
  ASSERT_EQ(GravaEm(escritor, 'm', 2), 2);
  EXPECT_FALSE(leitor.ArquivoNaoAlterado());
  EXPECT_TRUE(leitor.ArquivoNaoAlterado()) << "the look is recorded";

  Aberto novo(sPath);
  ASSERT_EQ(Le(novo, 1), Reg('p'));
  Escreve(sPath, Zeros(kTamanho) + Reg('q'));
  EXPECT_EQ(Le(novo, 1), Reg('p')) << "trusted while young";
  Sleep(ZelTempoMs(30'000));
  EXPECT_EQ(Le(novo, 1), Reg('p')) << "still young halfway through the documented 60 s";
  Sleep(ZelTempoMs(30'000) + 50);
  EXPECT_EQ(Le(novo, 1), Reg('q')) << "read again once it expired";
}

TEST_F(ZelArqExTeste, CriacaoQueFalhaDeixaModoEParametrosComoEstavam) {
  const std::string sPath = m_sDir + "LIMITE.DAT";
  constexpr LONG kGrande = 100;
  CZelArqEx arq;
  {
    // The control file fits; the 100-byte header record does not.
    ZelLimiteTamanhoArquivos limite(99);
    EXPECT_EQ(arq.Abre(sPath, 'G', kGrande, 1, TRUE), 16136);
  }
  EXPECT_FALSE(arq.EstaAberto());
  const std::string sOutro = std::string(kGrande, '\0') + std::string(kGrande, 'o') + std::string(kGrande, 'p');
  Escreve(sPath, sOutro);

  EXPECT_EQ(Le(arq, 1, kGrande), std::string(kGrande, 'o'));
  EXPECT_EQ(ZelLeArquivoInteiro(sPath), sOutro) << "still mode 'G': nothing truncated";
}

// args: data directory, signal directory. Creates NOVO.DAT while the control file is held: 0 created, 1 refused.
ZEL_AJUDANTE(CriaComControlePreso) {
  ZelCriaMarcador(args.at(1) + "comecou");
  CZelArqEx arq;
  const int r = arq.Abre(args.at(0) + "NOVO.DAT", 'G', kTamanho, 1, TRUE);
  return r == 0 ? 0 : r == 16110 ? 1 : 2;
}

TEST_F(ZelArqExTeste, ControleSeguradoDaCompartilhamentoEETentadoDeNovoDepoisDeUmaEspera) {
  Aberto criador(m_sDir + "PRIMEIRO.DAT", 'G', kTamanho, 1);
  const std::string sControle = ZelLeArquivoInteiro(m_sDir + "ZELCTLARQ.dat");
  Aberto controle(m_sDir + "ZELCTLARQ.dat", 'G', 32);
  const std::string sRecusado = m_sDir + "RECUSADO.DAT";
  CZelArqEx arq;
  EXPECT_EQ(arq.Abre(sRecusado, 'G', kTamanho, 1, TRUE), 16110);
  EXPECT_FALSE(ZelExisteArquivo(sRecusado));
  EXPECT_EQ(ZelLeArquivoInteiro(m_sDir + "ZELCTLARQ.dat"), sControle);
  // In real time the first 200 attempts take two seconds and the second round ends two seconds after the pause; the
  // control file is let go in between, so only the second round can get it.
  const std::string sSinal = ZelNovoDiretorio("controle-preso");
  pid_t pid = ZelIniciaAjudanteEmEscala("CriaComControlePreso", "1", {m_sDir, sSinal});
  ASSERT_TRUE(ZelEsperaArquivo(sSinal + "comecou"));
  Sleep(3000);
  ASSERT_EQ(controle.Fecha(), 0);
  EXPECT_EQ(ZelEsperaAjudante(pid, 30000), 0);
  EXPECT_EQ(ZelLeArquivoInteiro(m_sDir + "NOVO.DAT"), Zeros(kTamanho));

  EXPECT_EQ(GravaEm(arq, 'a', 0), 1) << "the next operation creates it with the stored parameters";
  EXPECT_EQ(ZelLeArquivoInteiro(sRecusado), Zeros(kTamanho) + Reg('a'));
  EXPECT_EQ(ZelLeArquivoInteiro(m_sDir + "ZELCTLARQ.dat"),
            Zeros(32) + Controle("PRIMEIRO.DAT") + Controle("NOVO.DAT") + Controle("RECUSADO.DAT"));
}

TEST_F(ZelArqExBackup, RefrescoDaHoraSoNoRegistroZeroEComAChave) {
  CZelArqExFalho arq;
  const std::string sPath = AbreDados(arq, "HORA.DAT", Zeros(kTamanho) + Reg('a'));
  arq.m_bAtrasaHora = true;
  ChaveDword("HabilitaLastWriteRefresh", 2);
  ASSERT_EQ(GravaZero(arq, 'z'), 0);
  EXPECT_EQ(SegundosUltimaGravacao(sPath), kHoraAntiga) << "only 1 switches it on";

  ChaveDword("HabilitaLastWriteRefresh", 1);
  CZelArqEx::ReleChavesGravacao();
  ASSERT_EQ(GravaEm(arq, 'z', 1), 1);
  EXPECT_EQ(SegundosUltimaGravacao(sPath), kHoraAntiga) << "only record 0 refreshes";
  ASSERT_EQ(GravaZero(arq, 'z'), 0);
  EXPECT_GT(SegundosUltimaGravacao(sPath), kHoraAntiga + 86400) << "record 0 sets the time to now";
}

TEST_F(ZelArqExBackup, SemDiretorioDaEmpresaAMarcaVaiParaODiretorioAtual) {
  Liga(1);
  ChaveTexto("", "EmpresaLogada", "NINGUEM");
  const std::string sAtual = ZelNovoDiretorio("atual" + m_sDir.substr(m_sDir.size() - 3, 2));
  CZelArqEx arq;
  AbreDados(arq, "RELATIVO.DAT");
  {
    ZelDiretorioAtual atual(sAtual);
    ASSERT_EQ(GravaZero(arq, 'z'), 0);
  }
  EXPECT_TRUE(ZelExisteArquivo(sAtual + "BackupCRZel/RELATIVO.crbkp"));
  EXPECT_FALSE(ZelExisteDiretorio(m_sBase + "BackupCRZel"));
}

TEST_F(ZelArqExTeste, ObjetoSegueAGeracaoDoArquivoEmOutraGrafiaDoNome) {
  // Code-page letters too: "\x8A" and "\x9A" are one letter, as are "\xC9" and "\xE9".
  const std::string sPath = Escreve(m_sDir + "\x8A\xC9RIE.DAT", Zeros(kTamanho) + Reg('a'));
  Aberto leitor(m_sDir + "\x9A\xE9rie.dat");
  ASSERT_EQ(Le(leitor, 1), Reg('a'));
  Aberto escritor(sPath, 'G');
  ASSERT_EQ(GravaEm(escritor, 'b', 1), 1);
  // Another file's read after the write, so only the file's own generation tells the reader.
  Aberto outro(Escreve(m_sDir + "OUTRO.DAT", Zeros(kTamanho) + Reg('o')));
  ASSERT_EQ(Le(outro, 1), Reg('o'));
  EXPECT_EQ(Le(leitor, 1), Reg('b')) << "a write under one spelling is seen under the other";
  // An open after a write leaves the generation where the write put it.
  ASSERT_EQ(GravaEm(escritor, 'c', 1), 1);
  Aberto terceiro(sPath);
  ASSERT_EQ(Le(outro, 1), Reg('o'));
  EXPECT_EQ(Le(leitor, 1), Reg('c'));
}
