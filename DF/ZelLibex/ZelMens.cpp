#include "ZelMens.h"

#include <cstdio>
#include <string>

#include "ZelProfiler.h"

void ZelTrataErroExported(HRESULT hrRelatorio, HRESULT hr, LONG lMensagem, const char* szIdentificacao,
                          const char* szArquivo, int nLinha, int nFlag, int, const char* szModulo,
                          const char* szMensagem) {
  auto t = [](const char* sz) { return sz != nullptr ? sz : ""; };
  std::fprintf(stderr, "ZelMens: 0x%08X 0x%08X %s(%d) %s\n", static_cast<unsigned>(hrRelatorio),
               static_cast<unsigned>(hr), t(szArquivo), nLinha, t(szMensagem));
  // A stack text spans lines; the error file keeps one line per report.
  std::string sMensagem = t(szMensagem);
  for (size_t i = 0; (i = sMensagem.find_first_of("\r\n", i)) != std::string::npos;)
    sMensagem.replace(i, 1, " | ");
  ZelGravaLinhaErro(nullptr, "ZelTrataErroExported", szArquivo, nLinha,
                    "Relatorio = %#X\tHR = %#X\tMensagem = %d\tIdentificacao = %s\tFlag = %d\tModulo = %s\t%s",
                    static_cast<unsigned>(hrRelatorio), static_cast<unsigned>(hr), lMensagem, t(szIdentificacao), nFlag,
                    t(szModulo), sMensagem.c_str());
}
