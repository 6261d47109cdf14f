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
// Waits at most the given real milliseconds: the exit code, 128 + signal for
// a killed helper, or -1 after a time-out (the helper is then killed).
int ZelEsperaAjudante(pid_t pid, uint32_t msLimite = 20000);
void ZelMataAjudante(pid_t pid);
// Polls for a file to appear (helpers signal readiness this way).
bool ZelEsperaArquivo(const std::string& sCaminho, uint32_t msLimite = 20000);
// Creates an empty file.
void ZelCriaMarcador(const std::string& sCaminho);

// The test process's own temporary directory, ending in '/'.
const std::string& ZelDiretorioTeste();
// A fresh subdirectory of it, ending in '/'.
std::string ZelNovoDiretorio(const std::string& sNome);
// Whole contents of a file ("" when missing).
std::string ZelLeArquivoInteiro(const std::string& sCaminho);
