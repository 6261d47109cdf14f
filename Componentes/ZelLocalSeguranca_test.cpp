#include "ZelLocalSeguranca.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ZelLocalAtivacao.h"
#include "ZelLocalTeste_test.h"
#include "ZelLocalTesteClasse.h"
#include "ZelRegistro.h"
#include "ZelTesteAjudante.h"

namespace {
// The error lines reported, each as its fields joined by '|'.
std::vector<std::string> g_linhas;

void Grava(const char* szFuncao, const char* szArquivo, int nLinha, const char* szExpressao, const char* szVariavel,
           HRESULT hr) {
  g_linhas.push_back(ZelLinhaErroTeste(szFuncao, szArquivo, szExpressao, szVariavel, hr, nLinha));
}
}  // namespace

// The switches are read once, so each reading is its own process.
ZEL_AJUDANTE(NivelConfigurado) {
  ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "DesabilitaAutenticacaoDCOM", std::stoul(args[0]));
  ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "DesabilitaEncriptacaoDCOM", std::stoul(args[1]));
  DWORD dw = ZelLocalSegurancaConfigurada().dwAuthnLevel;
  ZelRegistro::GravaDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, "DesabilitaAutenticacaoDCOM", 0);
  return ZelLocalSegurancaConfigurada().dwAuthnLevel == dw ? static_cast<int>(dw) : 100;
}

// The level follows the two switches, read from the registry once.
TEST(ZelLocalSeguranca, NivelVemDoRegistroUmaVezPelaTabelaDasChaves) {
  struct {
    DWORD dwAut, dwEnc, dwNivel, dwServico;
  } casos[] = {
      // By number: the values are the platform's, and other programs read them.
      {1, 0, 1, 0},  // RPC_C_AUTHN_LEVEL_NONE, RPC_C_AUTHN_NONE
      {1, 1, 1, 0},  // encryption switch ignored
      {7, 0, 1, 0},
      {0, 1, 0, 10},  // RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_AUTHN_WINNT
      {0, 0, 6, 10},  // RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_AUTHN_WINNT
  };
  for (const auto& c : casos) {
    ZelLocalNivelSeguranca n = ZelLocalDerivaSeguranca(c.dwAut, c.dwEnc);
    EXPECT_EQ(n.dwAuthnLevel, c.dwNivel) << c.dwAut << c.dwEnc;
    EXPECT_EQ(n.dwAuthnService, c.dwServico) << c.dwAut << c.dwEnc;
  }
  setenv("ZEL_REGISTRO_MAQUINA", (ZelNovoDiretorio("nivel") + "maquina.reg").c_str(), 1);
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("NivelConfigurado", {"1", "1"})), 1);
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("NivelConfigurado", {"0", "1"})), 0);
  EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("NivelConfigurado", {"0", "0"})), 6);
}

TEST(ZelLocalSeguranca, SegundaInicializacaoFalhaComLinhaDeErro) {
  ZelLocalDefineRelatorErro(&Grava);
  ZelLocalReiniciaSeguranca();
  EXPECT_EQ(ZelLocalNivelAutenticacao(), RPC_C_AUTHN_LEVEL_CONNECT);
  g_linhas.clear();
  ASSERT_EQ(ZelCoInitializeSecurity(), S_OK);
  EXPECT_TRUE(g_linhas.empty());
  EXPECT_EQ(ZelLocalNivelAutenticacao(), ZelLocalSegurancaConfigurada().dwAuthnLevel);
  EXPECT_EQ(ZelCoInitializeSecurity(), RPC_E_TOO_LATE);
  EXPECT_EQ(g_linhas, std::vector<std::string>{
                          "ZelCoInitializeSecurity|ZelComPtr|69|hr = CoInitializeSecurity(0, -1, nullptr, nullptr, "
                          "g_dwAuthnLevel, g_dwImpLevel, regCoAuthID.User ? &regOleAuthList : nullptr, EOAC_NONE, "
                          "nullptr)|hr|80010119"});
  // Without a reporter the line goes to standard error, its code in capitals like every other error line.
  ZelLocalDefineRelatorErro(nullptr);
  testing::internal::CaptureStderr();
  ZelLocalRelataErro("F", "a.cpp", 7, "hr = f()", "hr", E_OUTOFMEMORY);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "F (a.cpp:7): hr = f() -> hr = 0x8007000E\n");
  ZelLocalReiniciaSeguranca();
}

// Connects as another user and asks for an object: 0 refused, 1 admitted.
ZEL_AJUDANTE(AtivaComoOutroUsuario) {
  if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) return 20;
  CZelLocalSocket s;
  if (ZelLocalConecta(args[0], &s) != S_OK) return 21;
  HRESULT hr = ZelAtivaTeste(s, kClsidTesteLocal, kIidTesteLocal);
  return hr == E_ACCESSDENIED ? 0 : hr == S_OK ? 1 : 24;
}

// Only at level NONE are other users admitted and the endpoint opened to
// them, whatever mode was left. As root the way is opened on purpose, so
// that only the credentials check stands.
TEST(ZelLocalSeguranca, ModosECredenciaisSeguemONivel) {
  ZelRegistraInterfaceTesteLocal();
  static CZelFabricaTesteLocal fabrica;
  const bool bRoot = geteuid() == 0;
  if (bRoot) chmod(ZelDiretorioTeste().c_str(), 0711);
  const int64_t kSemNivel = -1;
  const struct {
    int64_t llNivel;
    mode_t modoAntes, modoDiretorio, modoSocket;
  } casos[] = {{kSemNivel, 0711, 0700, 0600},
               {RPC_C_AUTHN_LEVEL_PKT_PRIVACY, 0711, 0700, 0600},
               {RPC_C_AUTHN_LEVEL_DEFAULT, 0711, 0700, 0600},
               {RPC_C_AUTHN_LEVEL_NONE, 0700, 0711, 0666}};
  for (const auto& c : casos) {
    SCOPED_TRACE(c.llNivel);
    std::string d = ZelNovoDiretorio("modos" + std::to_string(c.llNivel + 1));
    setenv("XDG_RUNTIME_DIR", d.c_str(), 1);
    ASSERT_EQ(mkdir((d + "zelcom").c_str(), c.modoAntes), 0);
    ASSERT_EQ(chmod((d + "zelcom").c_str(), c.modoAntes), 0);
    ZelLocalReiniciaSeguranca();
    if (c.llNivel != kSemNivel) {
      ASSERT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, static_cast<DWORD>(c.llNivel), 3, nullptr, 0, nullptr),
                S_OK);
    }
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(kClsidTesteLocal, &fabrica, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    const std::string sSocket = ZelLocalCaminhoSocket(kClsidTesteLocal);
    struct stat st{};
    EXPECT_EQ(stat((d + "zelcom").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, c.modoDiretorio);
    EXPECT_EQ(stat(sSocket.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, c.modoSocket);
    const bool bNone = c.llNivel == RPC_C_AUTHN_LEVEL_NONE;
    EXPECT_TRUE(ZelLocalParAdmitido(geteuid()));
    EXPECT_EQ(ZelLocalParAdmitido(geteuid() + 1), bNone);
    if (bRoot) {
      chmod(d.c_str(), 0711);
      chmod((d + "zelcom").c_str(), 0711);
      chmod(sSocket.c_str(), 0666);
      EXPECT_EQ(ZelEsperaAjudante(ZelIniciaAjudante("AtivaComoOutroUsuario", {sSocket})), bNone ? 1 : 0);
    }
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  }
  CoUninitialize();
  ZelLocalReiniciaSeguranca();
  if (bRoot) chmod(ZelDiretorioTeste().c_str(), 0700);
}
