// The message library's error report: one line to standard error and one
// error line in the program error file.
#pragma once

#include "ZelCom.h"

void ZelTrataErroExported(HRESULT hrRelatorio, HRESULT hr, LONG lMensagem, const char* szIdentificacao,
                          const char* szArquivo, int nLinha, int nFlag, int nReservado, const char* szModulo,
                          const char* szMensagem);
