// Test support: helper processes started from the test binary itself, and a
// temporary directory per test process (which also holds the two registry
// files, so tests never touch the real ones).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

using ZelRotinaAjudante = int (*)(const std::vector<std::string>& args);

struct ZelRegistraAjudante {
  ZelRegistraAjudante(const char* sNome, ZelRotinaAjudante pRotina);
};

// Defines a helper routine that a test can start as a separate process; its
// return value is the process's exit code.
#define ZEL_AJUDANTE(nome)                                                  \
  static int nome(const std::vector<std::string>& args);                    \
  static const ZelRegistraAjudante zel_registro_##nome(#nome, &nome);       \
  static int nome([[maybe_unused]] const std::vector<std::string>& args)

// Starts this test binary as helper `sNome` with the arguments.
pid_t ZelIniciaAjudante(const std::string& sNome, const std::vector<std::string>& args = {});
// The same, with the helper's time scale (ZEL_ESCALA_TEMPO) set to szEscala:
// a test that counts retries by the waits between them runs the retrying
// side slower than the tests' own scale, whose short waits round to 0.
pid_t ZelIniciaAjudanteEmEscala(const std::string& sNome, const char* szEscala,
                                const std::vector<std::string>& args = {});
// Waits at most the given real milliseconds: the exit code, 128 + signal for
// a killed helper, or -1 after a time-out (the helper is then killed).
int ZelEsperaAjudante(pid_t pid, uint32_t msLimite = 20000);
void ZelMataAjudante(pid_t pid);
// Polls for a file to appear (helpers signal readiness this way). With a helper's
// pid, gives up as soon as that helper has ended without it.
bool ZelEsperaArquivo(const std::string& sCaminho, uint32_t msLimite = 20000, pid_t pidAjudante = 0);
// Creates an empty file.
void ZelCriaMarcador(const std::string& sCaminho);
// As root, becomes the unprivileged account 65534 for good, so that a helper
// meets what another user would; without root, changes nothing. False when
// the change failed.
bool ZelDeixaDeSerRoot();

// While it lives, files the process writes are capped at nBytes: a write
// beyond fails (as a full disk does) instead of raising a signal.
class ZelLimiteTamanhoArquivos {
 public:
  explicit ZelLimiteTamanhoArquivos(uint64_t nBytes);
  ~ZelLimiteTamanhoArquivos();
  ZelLimiteTamanhoArquivos(const ZelLimiteTamanhoArquivos&) = delete;
  ZelLimiteTamanhoArquivos& operator=(const ZelLimiteTamanhoArquivos&) = delete;

 private:
  uint64_t m_nAnterior;
};

// While it lives, the process's current directory is sDiretorio.
class ZelDiretorioAtual {
 public:
  explicit ZelDiretorioAtual(const std::string& sDiretorio);
  ~ZelDiretorioAtual();
  ZelDiretorioAtual(const ZelDiretorioAtual&) = delete;
  ZelDiretorioAtual& operator=(const ZelDiretorioAtual&) = delete;

 private:
  std::string m_sAnterior;
};

// Sets a file's last-write time to the given second of the epoch.
bool ZelDefineUltimaGravacaoTeste(const std::string& sCaminho, int64_t llSegundos);

// The test process's own temporary directory, ending in '/'.
const std::string& ZelDiretorioTeste();
// A fresh subdirectory of it, ending in '/'.
std::string ZelNovoDiretorio(const std::string& sNome);
// Whole contents of a file ("" when missing).
std::string ZelLeArquivoInteiro(const std::string& sCaminho);
