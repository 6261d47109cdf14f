#include "ZelCrc.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "ZelCom.h"
#include "ZelTesteAjudante.h"

TEST(ZelCrc, VetoresPublicadosEEncadeamento) {
  EXPECT_EQ(ZelCrc64("123456789"), 0x2B9C7EE4E2780C8Aull);
  EXPECT_EQ(ZelCrc64("abc"), 0xC621568C6AFEAD61ull);
  EXPECT_EQ(ZelCrc32("123456789"), 0x2DFD2D88u);
  EXPECT_EQ(ZelCrc64(""), 0u);
  EXPECT_EQ(ZelCrc64("6789", 4, ZelCrc64("12345")), ZelCrc64("123456789"));
  EXPECT_EQ(ZelCrc32("789", 3, ZelCrc32("123456")), ZelCrc32("123456789"));
}

TEST(ZelCom, GuidIdaEVoltaENuncaRepetidoEntreProcessos) {
  GUID g{};
  ASSERT_TRUE(TextoParaGuid("{aedcc5ac-c54a-410a-ac6d-b6b7b7bafd6a}", &g));
  EXPECT_EQ(g.Data1, 0xAEDCC5ACu);
  EXPECT_EQ(g.Data2, 0xC54A);
  EXPECT_EQ(g.Data4[7], 0x6A);
  EXPECT_EQ(GuidParaTexto(g), "{AEDCC5AC-C54A-410A-AC6D-B6B7B7BAFD6A}");
  GUID sem{};
  ASSERT_TRUE(TextoParaGuid("AEDCC5AC-C54A-410A-AC6D-B6B7B7BAFD6A", &sem));
  EXPECT_EQ(sem, g);
  ASSERT_TRUE(TextoParaGuid("01234567-89ab-cdef-0123-456789ABCDEF", &g));  // every hex digit
  EXPECT_EQ(GuidParaTexto(g), "{01234567-89AB-CDEF-0123-456789ABCDEF}");
  for (const char* sz : {"{AEDCC5AC-C54A-410A-AC6D-B6B7B7BAFD6}", "{AEDCC5AC+C54A-410A-AC6D-B6B7B7BAFD6A}",
                         "{AEDCC5AC-C54A-410A-AC6D-B6B7B7BAFDZA}",
                         "{AEDCC5AC-C54A-410A-AC6D-B6B7B7BAFD6A)"})
    EXPECT_FALSE(TextoParaGuid(sz, &g)) << sz;
  // Without an output the text is only checked.
  EXPECT_TRUE(TextoParaGuid("{aedcc5ac-c54a-410a-ac6d-b6b7b7bafd6a}", nullptr));
  EXPECT_FALSE(TextoParaGuid("{aedcc5ac-c54a-410a-ac6d-b6b7b7bafd6a)", nullptr));

  // A child forked without exec shares its parent's memory: GUIDs must come from the system.
  GUID antes{};
  ASSERT_EQ(CoCreateGuid(&antes), S_OK);
  EXPECT_EQ(CoCreateGuid(nullptr), E_INVALIDARG);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  if (pid == 0) {
    GUID g{};
    CoCreateGuid(&g);
    _exit(write(fds[1], &g, sizeof g) == static_cast<ssize_t>(sizeof g) ? 0 : 1);
  }
  ASSERT_GT(pid, 0);
  GUID doFilho{}, meu{};
  ASSERT_EQ(read(fds[0], &doFilho, sizeof doFilho), static_cast<ssize_t>(sizeof doFilho));
  waitpid(pid, nullptr, 0);
  close(fds[0]);
  close(fds[1]);
  ASSERT_EQ(CoCreateGuid(&meu), S_OK);
  EXPECT_FALSE(doFilho == meu);
  EXPECT_FALSE(antes == meu);
  EXPECT_EQ(doFilho.Data3 >> 12, 4);
  EXPECT_EQ(doFilho.Data4[0] & 0xC0, 0x80) << "the RFC 4122 variant";
}

namespace {
// Frees its block when its thread ends, after the thread's own counts may be gone.
struct LiberaNoFim {
  void* pv = nullptr;
  ~LiberaNoFim() { CoTaskMemFree(pv); }
};
}  // namespace

TEST(ZelCom, BlocosEBytesContamEmQualquerThreadMesmoDepoisDelaEEmFilhoDeFork) {
  const int64_t nBlocos = CoTaskMemBlocosVivos();
  const uint64_t nBytes = CoTaskMemBytesPedidos();
  void* a[3] = {};
  std::thread([&] {
    a[0] = CoTaskMemAlloc(10);
    a[1] = CoTaskMemAlloc(20);
    a[2] = CoTaskMemAlloc(0);
  }).join();
  EXPECT_EQ(CoTaskMemBlocosVivos(), nBlocos + 3) << "an ended thread's blocks still count";
  EXPECT_EQ(CoTaskMemBytesPedidos(), nBytes + 30);

  // A thread still running counts too, freeing blocks it never allocated.
  std::promise<void> contou, segue;
  void* pDoVivo = nullptr;
  std::thread vivo([&, fSegue = segue.get_future()] {
    CoTaskMemFree(a[0]);
    CoTaskMemFree(a[1]);
    pDoVivo = CoTaskMemAlloc(5);
    contou.set_value();
    fSegue.wait();
  });
  contou.get_future().wait();
  EXPECT_EQ(CoTaskMemBlocosVivos(), nBlocos + 2);
  EXPECT_EQ(CoTaskMemBytesPedidos(), nBytes + 35);
  segue.set_value();
  vivo.join();
  CoTaskMemFree(pDoVivo);
  EXPECT_EQ(CoTaskMemBlocosVivos(), nBlocos + 1);

  // Freed by another thread-local's destructor as the thread ends.
  std::thread([&] {
    thread_local LiberaNoFim libera;
    libera.pv = a[2];
    CoTaskMemFree(CoTaskMemAlloc(1));
  }).join();
  EXPECT_EQ(CoTaskMemBlocosVivos(), nBlocos);
  EXPECT_EQ(CoTaskMemBytesPedidos(), nBytes + 36);

  // A child forked while another thread adds up the counts still reads them: it never inherits their lock held.
  std::atomic<bool> bFim{false};
  std::thread somador([&] {
    while (!bFim) CoTaskMemBlocosVivos();
  });
  int nTravados = 0;
  for (int i = 0; i < 100 && nTravados == 0; ++i) {
    const pid_t pid = fork();
    if (pid == 0) _exit(CoTaskMemBlocosVivos() >= 0 ? 0 : 1);
    nTravados += pid < 0 || ZelEsperaAjudante(pid, 2000) != 0;
  }
  bFim = true;
  somador.join();
  EXPECT_EQ(nTravados, 0);
}
