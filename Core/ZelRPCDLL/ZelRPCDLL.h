// What every service object's call frame shares: the core result codes, the
// yield step, the per-thread invalid-parameter reporter and the mapping of
// machine faults to result codes.
#pragma once

#include <string>

#include "ZelCom.h"

constexpr HRESULT E_ZELCR_OBJETO_NAO_INICIALIZADO = HR(0x81080A04);
constexpr HRESULT E_ZELCR_OBJETO_NAO_CRIADO = HR(0x81080AA8);
constexpr HRESULT E_ZELCR_VERSAO_INCOMPATIVEL = HR(0x81080BFD);
constexpr HRESULT E_ZELCR_CRC_INICIALIZACAO_INVALIDO = HR(0x81080C17);
constexpr HRESULT E_ZELCR_ESTRUTURA_INICIALIZACAO_INVALIDA = HR(0x81080C19);
constexpr HRESULT E_ZELCR_EXCECAO_REPORTADA = HR(0x81080BB1);

// A structured exception code the guard does not know.
constexpr HRESULT ZEL_HR_SEH_DESCONHECIDA = HR(0x8004EE47);

// The code of a machine fault (0x8004EE47 outside the guard's table).
HRESULT ZelSEHParaHresult(DWORD dwExcecao);
// The 23 codes 0x8004EAC5..0x8004EADB and 0x8004EE47.
bool ZelEhCodigoFalhaMaquina(HRESULT hr);

// Yield step shared by all objects of the process: "PrevineErroRPC" is read
// again at most every 300000 ms; while it is non-zero every call yields.
void PrevineErroRPC();
// Forgets the last reading (tests).
void ZelReiniciaPrevineErroRPC();
// How many times the value was read from the registry (tests).
unsigned ZelLeiturasPrevineErroRPC();
// Whether calls yield, as of the last reading (tests).
bool ZelPrevineErroRPCAtivo();

// Installs the reporter for the calling thread: an invalid-parameter event
// then reports through the message library with this source file and line
// and throws the errno's code as a long.
void ZelInstalaReporterParametroInvalido(const char* szArquivo, int nLinha);
