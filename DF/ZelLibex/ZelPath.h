// Where a company's data of a module lives, and the path primitives every
// path of the library is built with. The separator is '/'; the root of an
// absolute path is "/", of a network path "//server/".
//
// Every failure gives an empty directory; the callers decide what that means.
// Thread-safe.
#pragma once

#include <string>

class CZelPath {
 public:
  // The module's data directory for the company, ending in '/', or empty.
  // With "UtilizarZelSDataBase" on it is the connection library's answer;
  // otherwise the registry's "Empresas\<empresa>" key of the machine named
  // (empty: this one; no other machine's registry is reachable).
  static std::string GetDiretorioDadosModulo(int nModulo, const std::string& sEmpresa,
                                             const std::string& sMaquina = {});
  // The company's data directory for a module code of the catalogue.
  static std::string GetDiretorioDadosModulo(const std::string& sCodigoModulo, const std::string& sEmpresa);
  // The company logged in on the workstation, from the connection library.
  static std::string GetNomeEmpresaLogada();

  // "UtilizarZelSDataBase" is read once per process; this reads it again on
  // the next call (tests change it).
  static void ReleConfiguracao();

  // Joins a directory and a name. A null part gives the other one, and so
  // does an empty first part; one separator stands between the two.
  static std::string Junta(const char* szPrimeira, const char* szSegunda);
  static std::string Junta(const std::string& sPrimeira, const std::string& sSegunda) {
    return Junta(sPrimeira.c_str(), sSegunda.c_str());
  }
  // The text after the last separator, or the whole path.
  static std::string GetNome(const std::string& sCaminho);
  // The text up to and including the last separator, or empty.
  static std::string GetDiretorio(const std::string& sCaminho);
  // The name without the text from its last dot ("" for ".profile").
  static std::string GetTitulo(const std::string& sCaminho);
  // "/", "//server/", "C:/" or "C:", else empty.
  static std::string GetRaiz(const std::string& sCaminho);
  // The path up to the separator before its last component (a trailing
  // separator is ignored); the root when there is none; empty when the path
  // is not longer than its root.
  static std::string GetPai(const std::string& sCaminho);
};
