// A trace compared whole against its expected file under roteiros/, so that
// any change to what it shows is seen. ZEL_ATUALIZA_ESPERADOS=1 rewrites it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ZelTesteAjudante.h"

inline std::vector<std::string> Partes(const std::string& s, char cSeparador) {
  std::vector<std::string> v;
  size_t i = 0;
  for (size_t f; (f = s.find(cSeparador, i)) != std::string::npos; i = f + 1) v.push_back(s.substr(i, f - i));
  v.push_back(s.substr(i));
  return v;
}

// Line by line, so that a difference names its line.
inline void ZelConfereEsperado(const std::string& sNome, const std::string& sRastro) {
  const std::string sArquivo = std::string(ZEL_ROTEIROS) + "/" + sNome + ".esperado";
  if (std::getenv("ZEL_ATUALIZA_ESPERADOS") != nullptr) {
    std::ofstream(sArquivo, std::ios::binary) << sRastro;
    return;
  }
  const auto aEsperadas = Partes(ZelLeArquivoInteiro(sArquivo), '\n');
  const auto aObtidas = Partes(sRastro, '\n');
  for (size_t i = 0; i < aEsperadas.size() && i < aObtidas.size(); ++i)
    if (aEsperadas[i] != aObtidas[i]) {
      EXPECT_EQ(aObtidas[i], aEsperadas[i]) << sArquivo << ":" << i + 1;
      return;
    }
  EXPECT_EQ(aObtidas.size(), aEsperadas.size()) << sArquivo;
}
