#include "ZelArqMarcaFila.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ZelAmbienteTeste.h"
#include "ZelMutexNomeado.h"

namespace {
constexpr unsigned long kVoviDadi = IZelArqMarcaEnum::VoviDadi;
constexpr int kTimeOutVoviDadi = static_cast<int>(0x800400FDu);

// args: directory, kind, signal directory. Holds the marker, announced by "pronto", until "solta" appears.
ZEL_AJUDANTE(SeguraMarca) {
  CZelArqMarcaFila marca;
  if (marca.Marca(args.at(0), std::stoul(args.at(1)), "DF") != 0) return 2;
  ZelCriaMarcador(args.at(2) + "pronto");
  if (!ZelEsperaArquivo(args.at(2) + "solta")) return 3;
  return marca.Desmarca();
}

// args: directory, kind, signal directory. After "tentando", marks and leaves "obteve"; exits with 0 only then.
ZEL_AJUDANTE(TentaMarca) {
  CZelArqMarcaFila marca;
  ZelCriaMarcador(args.at(2) + "tentando");
  if (marca.Marca(args.at(0), std::stoul(args.at(1)), "DF") != 0) return 2;
  ZelCriaMarcador(args.at(2) + "obteve");
  return marca.Desmarca();
}

class ZelArqMarcaFilaTeste : public ZelAmbienteTeste {
 protected:
  void TearDown() override {
    for (const auto& s : m_nomes) ZelExcluiMutexNomeado(s);
  }
  // A directory of this test process, and the signal directory of a helper.
  std::string Diretorio(const std::string& sNome) {
    std::string s = ZelNovoDiretorio(sNome);
    for (unsigned long ul : {0ul, 188ul, 253ul}) m_nomes.push_back(CZelArqMarcaFila::NomeMutex(s, ul));
    return s;
  }
  int LinhasCom(const std::string& sTexto) const {
    int n = 0;
    for (const auto& l : Linhas(ArquivoErrosEmpresa())) n += l.find(sTexto) != std::string::npos;
    return n;
  }
  CZelProfilerEmpresa m_dono{"EMP1"};
  std::vector<std::string> m_nomes;
};

// Another thread's view of a mutex held by the test thread.
DWORD EsperaEmOutraThread(const std::string& sNome) {
  DWORD r = WAIT_FAILED;
  std::thread([&] {
    CZelMutexNomeado m(sNome);
    r = m.Espera(0);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) m.Libera();
  }).join();
  return r;
}
}  // namespace

TEST(ZelArqMarcaFilaNome, CrcDosBytesDoCaminhoEOTipoECodigosDeTempoEsgotado) {
  EXPECT_EQ(CZelArqMarcaFila::NomeMutex("/dados/EMP1/VOVIDADI/", kVoviDadi),
            "{1E80C536-B97F-4642-AC9D-E11BD3E07233} 3410662971 253");
  // No case folding: another spelling is another marker.
  EXPECT_EQ(CZelArqMarcaFila::NomeMutex("/dados/emp1/VOVIDADI/", 188),
            "{1E80C536-B97F-4642-AC9D-E11BD3E07233} 2908847854 188");
  // 0 too has a code of failure: a time-out never reads as success.
  const std::pair<unsigned long, int> codigos[] = {{kVoviDadi, 253}, {188, 188}, {310, 310}, {311, 3651}, {0, 3651}};
  for (const auto& [ul, n] : codigos) EXPECT_EQ(IZelArqMarcaEnum::CodeFailed(ul), n) << ul;
}

TEST_F(ZelArqMarcaFilaTeste, TempoEsgotadoDaOCodigoDoTipoERastreiaMasOutroTipoOuGrafiaNaoEspera) {
  std::string sDir = Diretorio("esgota"), sSinal = ZelNovoDiretorio("esgota-sinal");
  std::string sSemBarra = sDir.substr(0, sDir.size() - 1);
  m_nomes.push_back(CZelArqMarcaFila::NomeMutex(sSemBarra, kVoviDadi));
  pid_t pid = ZelIniciaAjudante("SeguraMarca", {sDir, std::to_string(kVoviDadi), sSinal});
  ASSERT_TRUE(ZelEsperaArquivo(sSinal + "pronto"));

  CZelArqMarcaFila outroTipo(&m_dono), outraGrafia(&m_dono);
  EXPECT_EQ(outroTipo.Marca(sDir, 188), 0);
  EXPECT_EQ(outraGrafia.Marca(sSemBarra, kVoviDadi, "DF"), 0);
  EXPECT_EQ(LinhasCom("CZelArqMarcaFila::Marca"), 0);

  CZelArqMarcaFila marca(&m_dono);
  EXPECT_EQ(marca.GetTimeOut(), 60000u);
  int r = marca.Marca(sDir, kVoviDadi, "DF");
  EXPECT_EQ(r, kTimeOutVoviDadi);
  EXPECT_EQ(static_cast<uint32_t>(r) | 0x80040000u, 0x800400FDu) << "what a Vovi Dadi caller returns";
  EXPECT_EQ(1, LinhasCom("\tIZelArqMarcaEnum::CodeFailed(ulProcesso)\tiRetorno = 253\tHR = 0X800400FD\t"
                         "Descri\xE7\xE3o = "));
  EXPECT_EQ(LinhasCom("\tCZelArqMarcaFila::Marca\t"), 1);

  ZelCriaMarcador(sSinal + "solta");
  EXPECT_EQ(ZelEsperaAjudante(pid), 0);
  EXPECT_EQ(marca.Marca(sDir, kVoviDadi, "DF"), 0) << "the object gave up its mutex and starts again";
}

TEST_F(ZelArqMarcaFilaTeste, EsperaLongaDevolveOCodigoSemRastro) {
  std::string sDir = Diretorio("longa"), sSinal = ZelNovoDiretorio("longa-sinal");
  ASSERT_EQ(ERROR_SUCCESS, ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChaveZelSistemas, kChaveEsperaLongaMarcaFila,
                                                   "6f1d2b9a-3c47-4e85-a0b1-7d2e9c4f5a63"));
  EXPECT_EQ(CZelArqMarcaFila(&m_dono).GetTimeOut(), 60000u) << "the text must match exactly";
  // Spelled out: it is the name a site sets by hand.
  ASSERT_EQ(ERROR_SUCCESS, ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "MarcaFilaEsperaLonga",
                                                   kEsperaLongaMarcaFila));

  pid_t pid = ZelIniciaAjudante("SeguraMarca", {sDir, "188", sSinal});
  ASSERT_TRUE(ZelEsperaArquivo(sSinal + "pronto"));
  CZelArqMarcaFila marca(&m_dono);
  EXPECT_EQ(marca.GetTimeOut(), 120000u);
  EXPECT_EQ(marca.Marca(sDir, 188), 188);
  EXPECT_EQ(LinhasCom("CZelArqMarcaFila::Marca"), 0);
  ZelCriaMarcador(sSinal + "solta");
  EXPECT_EQ(ZelEsperaAjudante(pid), 0);
}

TEST_F(ZelArqMarcaFilaTeste, DonoMortoDaUmErroDeSistemaEDepoisOutroProcessoEsperaODonoDesmarcar) {
  std::string sDir = Diretorio("morto"), sSinal = ZelNovoDiretorio("morto-sinal");
  pid_t pid = ZelIniciaAjudante("SeguraMarca", {sDir, std::to_string(kVoviDadi), sSinal});
  ASSERT_TRUE(ZelEsperaArquivo(sSinal + "pronto"));
  ZelMataAjudante(pid);

  CZelArqMarcaFila marca(&m_dono);
  int r = marca.Marca(sDir, kVoviDadi, "DF");
  EXPECT_EQ(static_cast<uint32_t>(r), 0x80070000u) << "an abandoned mutex sets no system error";
  EXPECT_EQ(HRESULT_FACILITY(r), FACILITY_WIN32);
  EXPECT_EQ(LinhasCom("\thr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, dwErro)\thr = 0X80070000 "), 1);
  EXPECT_EQ(EsperaEmOutraThread(CZelArqMarcaFila::NomeMutex(sDir, kVoviDadi)), WAIT_OBJECT_0)
      << "the report hands the marker on: nobody holds it";
  ASSERT_EQ(marca.Marca(sDir, kVoviDadi, "DF"), 0) << "reported once, then free";

  std::string sSinal2 = ZelNovoDiretorio("morto-sinal2");
  pid_t pid2 = ZelIniciaAjudante("TentaMarca", {sDir, std::to_string(kVoviDadi), sSinal2});
  ASSERT_TRUE(ZelEsperaArquivo(sSinal2 + "tentando"));
  Sleep(20);
  EXPECT_FALSE(ZelExisteArquivo(sSinal2 + "obteve")) << "the marker is held here";
  EXPECT_EQ(marca.Desmarca(), 0);
  EXPECT_EQ(ZelEsperaAjudante(pid2), 0);
  EXPECT_TRUE(ZelExisteArquivo(sSinal2 + "obteve"));
  EXPECT_EQ(LinhasCom("CZelArqMarcaFila::Marca"), 1);
}

// A marker whose mutex cannot be made (a directory takes its name) answers the system's code, and logs it.
TEST_F(ZelArqMarcaFilaTeste, MutexQueNaoPodeSerCriadoDaCodigoELinha) {
  const std::string sDir = Diretorio("semmutex");
  const std::string sSegmento = "/dev/shm" + ZelObjetoMutexNomeado(CZelArqMarcaFila::NomeMutex(sDir, kVoviDadi));
  ASSERT_EQ(mkdir(sSegmento.c_str(), 0700), 0);
  CZelArqMarcaFila marca(&m_dono);
  const int r = marca.Marca(sDir, kVoviDadi, "DF");
  rmdir(sSegmento.c_str());
  EXPECT_EQ(HRESULT_FACILITY(r), FACILITY_WIN32);
  EXPECT_NE(HRESULT_CODE(r), 0);
  EXPECT_EQ(LinhasCom("\thr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, dwErro)\thr = "), 1);
}

TEST_F(ZelArqMarcaFilaTeste, MarcaAninhadaEDesfeitaPorUmDesmarcaOuPeloDestrutor) {
  std::string sDir = Diretorio("aninha");
  const std::string sNome = CZelArqMarcaFila::NomeMutex(sDir, kVoviDadi);
  {
    CZelArqMarcaFila marca(&m_dono);
    ASSERT_EQ(marca.Marca(sDir, kVoviDadi, "DF"), 0);
    ASSERT_EQ(marca.Marca(sDir, kVoviDadi, "DF"), 0) << "the holding thread marks again at once";
    EXPECT_EQ(EsperaEmOutraThread(sNome), WAIT_TIMEOUT);
    EXPECT_EQ(marca.Desmarca(), 0);
    EXPECT_EQ(EsperaEmOutraThread(sNome), WAIT_OBJECT_0) << "one Desmarca gives up every level";
    EXPECT_EQ(marca.Desmarca(), 0) << "a second Desmarca has nothing to do";

    ASSERT_EQ(marca.Marca(sDir, kVoviDadi, "DF"), 0);
    EXPECT_EQ(EsperaEmOutraThread(sNome), WAIT_TIMEOUT);
  }
  EXPECT_EQ(EsperaEmOutraThread(sNome), WAIT_OBJECT_0) << "destruction releases";
}

TEST_F(ZelArqMarcaFilaTeste, ThreadsDoMesmoProcessoSeExcluem) {
  std::string sDir = Diretorio("threads");
  int nDentro = 0, nMaximo = 0;
  std::atomic<int> nFalhas{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        CZelArqMarcaFila marca(&m_dono);
        if (marca.Marca(sDir, kVoviDadi, "DF") != 0) {
          ++nFalhas;
          continue;
        }
        int n = ++nDentro;
        if (n > nMaximo) nMaximo = n;
        --nDentro;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(nFalhas, 0);
  EXPECT_EQ(nMaximo, 1);
}
