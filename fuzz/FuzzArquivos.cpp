// A file of a company's Vovi Dadi directory, as a damaged disk or another
// program may leave it: the first byte chooses which file, the rest is its
// content. The company (one with some of everything, built once through the
// service) is copied, that file replaced, and the service started on it and
// asked every read; whatever the bytes, it answers codes, never more.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "IExRoteiros.h"
#include "ZelCli.h"
#include "ZelDF_IExServico.h"
#include "ZelLocalAtivacao.h"
#include "ZelRegistro.h"
#include "ZelSistema.h"

namespace fs = std::filesystem;

namespace {
const char* const kArquivos[] = {"DFIEHDR.DAT",     "DFIECMP.DAT",    "DFIEUSU.DAT",   "DFIEVINC.dat",
                                 "FTIEXNF.DAT",     "FTIEXNFText.DAT", "DFIEINTCAB.DAT", "DFIEINTVINC.DAT",
                                 "DFIECONFIG.DAT",  "ZELCTLARQ.dat",  "ZELDATABASE_FILE_CTRL.dat"};
std::string g_sRaiz;

void Roda(const char* const* aLinhas, size_t n) {
  CZelCli cli(CLSCTX_INPROC_SERVER);
  std::string s;
  for (size_t i = 0; i < n; ++i)
    if (!cli.Processa(aLinhas[i], &s)) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char szModelo[] = "/tmp/zelfuzz-XXXXXX";
  if (mkdtemp(szModelo) == nullptr) std::abort();
  g_sRaiz = std::string(szModelo) + "/";
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(g_sRaiz, ec);
  });
  setenv("ZEL_REGISTRO_MAQUINA", (g_sRaiz + "maquina.reg").c_str(), 1);
  setenv("ZEL_REGISTRO_USUARIO", (g_sRaiz + "usuario.reg").c_str(), 1);
  setenv("ZEL_ESCALA_TEMPO", "0.01", 1);
  fs::create_directories(g_sRaiz + "emp/VOVIDADI");
  ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "DiretorioModulos", g_sRaiz);
  ZelRegistro::GravaTexto(HKEY_LOCAL_MACHINE, std::string(kChaveZelSistemas) + "\\Empresas\\EMP1", "DF", g_sRaiz + "emp/");
  DWORD dwCookie = 0;
  CoRegisterClassObject(CLSID_ZelDF_IEx, CZelDF_IEx::Fabrica(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &dwCookie);
  Roda(kMontagem, std::size(kMontagem));
  fs::copy(g_sRaiz + "emp/VOVIDADI", g_sRaiz + "modelo");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pDados, size_t nDados) {
  if (nDados < 1 || nDados > 200000) return 0;
  const std::string sVovi = g_sRaiz + "emp/VOVIDADI";
  fs::remove_all(sVovi);
  fs::copy(g_sRaiz + "modelo", sVovi);
  std::ofstream(sVovi + "/" + kArquivos[pDados[0] % std::size(kArquivos)], std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(pDados + 1), static_cast<std::streamsize>(nDados - 1));
  const char* aLinhas[1 + std::size(kLeituras) + std::size(kOutros)] = {kInicia};
  size_t n = 1;
  for (const char* sz : kLeituras) aLinhas[n++] = sz;
  for (const char* sz : kOutros) aLinhas[n++] = sz;
  Roda(aLinhas, n);
  return 0;
}
