// The catalogue of Vovi Dadi processes and field kinds.
#pragma once

#include "ZelDF_IEx.h"

// The enumerator's name without "IE_PROCESSO_"; "?" outside the enumeration.
const char* IEGetNomeProcesso(IE_E_PROCESSO eProcesso);
// Replaces a field identity by the first identity of its range; false for an
// identity outside the enumeration (left unchanged).
bool IEAlteraCampoParaPrimeiro(IE_E_CAMPO& eCampo);
// Calls of IEGetNomeProcesso in this process (the catalogue is costly in the
// suite; callers ask for names only when they write them).
int IEConsultasNomeProcesso();
