#include "ZelPath.h"

#include <atomic>
#include <cctype>
#include <cstring>

#include "ZelCatalogoModulos.h"
#include "ZelLConx.h"
#include "ZelRegistro.h"

namespace {
constexpr char kSeparador = '/';

// -1: not read yet.
std::atomic<int> g_iUtilizarZelSDataBase{-1};

bool UtilizarZelSDataBase() {
  int i = g_iUtilizarZelSDataBase.load();
  if (i < 0) {
    i = ZelLeChaveZel("UtilizarZelSDataBase") != 0 ? 1 : 0;
    g_iUtilizarZelSDataBase.store(i);
  }
  return i == 1;
}

std::string ComSeparador(std::string s) {
  if (!s.empty() && s.back() != kSeparador) s += kSeparador;
  return s;
}

std::string ChaveEmpresa(const std::string& sEmpresa) {
  return std::string(kChaveZelSistemas) + "\\Empresas\\" + sEmpresa;
}

// A value that cannot be read gives an empty text.
std::string LeValor(const std::string& sChave, const std::string& sNome) {
  std::string s;
  if (ZelRegistro::LeTexto(HKEY_LOCAL_MACHINE, sChave, sNome, &s) != ERROR_SUCCESS) s.clear();
  return s;
}

std::string DoRegistro(int nModulo, const std::string& sEmpresa, const std::string& sMaquina) {
  // Another machine's registry is never reachable here, and a key for no
  // company would be the list of companies itself.
  if (!sMaquina.empty() || sEmpresa.empty()) return {};
  const std::string sChave = ChaveEmpresa(sEmpresa);
  if (ZelRegistro::ExisteChave(HKEY_LOCAL_MACHINE, sChave) != ERROR_SUCCESS) return {};

  std::string s;
  switch (nModulo) {
    case ZEL_ZELDATABASE_INFO_PLUS:
      s = DoRegistro(CZelCatalogoModulos::kModuloDF, sEmpresa, sMaquina);
      if (!s.empty()) s += "VOVIDADI/";
      return s;
    case CZelCatalogoModulos::kModuloNFe:
      s = LeValor(sChave, "DF");
      if (!s.empty()) s = ComSeparador(s) + "NFe";
      break;
    case CZelCatalogoModulos::kModuloLivrosFiscais:
      s = LeValor(sChave, "DF");
      break;
    default:
      // An unknown number names the key's default value, as the original does.
      s = LeValor(sChave, CZelCatalogoModulos::GetCodigo(nModulo));
      break;
  }
  return ComSeparador(s);
}

bool EhLetra(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
}  // namespace

std::string CZelPath::GetDiretorioDadosModulo(int nModulo, const std::string& sEmpresa, const std::string& sMaquina) {
  if (!UtilizarZelSDataBase()) return DoRegistro(nModulo, sEmpresa, sMaquina);
  auto pfn = reinterpret_cast<PFN_GetDiretorioDadosModulo>(ZelLConxProcuraExportacao("GetDiretorioDadosModulo"));
  if (pfn == nullptr) return {};
  std::string s;
  if (pfn(nModulo, sEmpresa.c_str(), s) != 0) return {};
  return s;
}

std::string CZelPath::GetDiretorioDadosModulo(const std::string& sCodigoModulo, const std::string& sEmpresa) {
  int nModulo = CZelCatalogoModulos::GetNumero(sCodigoModulo);
  if (nModulo == 0) return {};
  return GetDiretorioDadosModulo(nModulo, sEmpresa);
}

std::string CZelPath::GetNomeEmpresaLogada() {
  auto pfn = reinterpret_cast<PFN_ZelGetNomeEmpresaLogada>(ZelLConxProcuraExportacao("ZelGetNomeEmpresaLogada"));
  return pfn != nullptr ? pfn() : std::string();
}

void CZelPath::ReleConfiguracao() { g_iUtilizarZelSDataBase.store(-1); }

std::string CZelPath::Junta(const char* szPrimeira, const char* szSegunda) {
  if (szPrimeira == nullptr || *szPrimeira == '\0') return szSegunda != nullptr ? szSegunda : "";
  if (szSegunda == nullptr) return szPrimeira;
  std::string s = szPrimeira;
  const bool bFimSeparador = s.back() == kSeparador;
  const bool bInicioSeparador = *szSegunda == kSeparador;
  if (bFimSeparador && bInicioSeparador) {
    s += szSegunda + 1;
  } else {
    if (!bFimSeparador && !bInicioSeparador) s += kSeparador;
    s += szSegunda;
  }
  return s;
}

std::string CZelPath::GetNome(const std::string& sCaminho) {
  size_t p = sCaminho.rfind(kSeparador);
  return p == std::string::npos ? sCaminho : sCaminho.substr(p + 1);
}

std::string CZelPath::GetDiretorio(const std::string& sCaminho) {
  size_t p = sCaminho.rfind(kSeparador);
  return p == std::string::npos ? std::string() : sCaminho.substr(0, p + 1);
}

std::string CZelPath::GetTitulo(const std::string& sCaminho) {
  std::string s = GetNome(sCaminho);
  size_t p = s.rfind('.');
  return p == std::string::npos ? s : s.substr(0, p);
}

std::string CZelPath::GetRaiz(const std::string& sCaminho) {
  if (sCaminho.size() >= 2 && sCaminho[0] == kSeparador && sCaminho[1] == kSeparador) {
    size_t p = sCaminho.find(kSeparador, 2);
    return p == std::string::npos ? sCaminho : sCaminho.substr(0, p + 1);
  }
  if (!sCaminho.empty() && sCaminho[0] == kSeparador) return std::string(1, kSeparador);
  if (sCaminho.size() >= 2 && EhLetra(sCaminho[0]) && sCaminho[1] == ':')
    return sCaminho.substr(0, sCaminho.size() >= 3 && sCaminho[2] == kSeparador ? 3 : 2);
  return {};
}

std::string CZelPath::GetPai(const std::string& sCaminho) {
  const std::string sRaiz = GetRaiz(sCaminho);
  std::string s = sCaminho;
  if (s.size() > sRaiz.size() && s.back() == kSeparador) s.pop_back();
  if (s.size() <= sRaiz.size()) return {};
  size_t p = s.rfind(kSeparador);
  if (p == std::string::npos || p + 1 < sRaiz.size()) return sRaiz;
  return s.substr(0, p + 1);
}
