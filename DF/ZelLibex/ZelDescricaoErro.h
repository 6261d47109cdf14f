// Names and texts of result codes, for the error lines.
#pragma once

#include <string>

#include "ZelCom.h"

std::string GetDescricao_SEVERITY(HRESULT hr);
std::string GetDescricao_FACILITY(unsigned facility);
// The system-error name of the low 16 bits; empty for FACILITY_ITF codes and
// for facilities the message library claims.
std::string GetNome_CODE(HRESULT hr);
// The symbolic name of the whole code; empty outside the table.
std::string GetNome_HRESULT(HRESULT hr);
std::string GetTexto_HRESULT(HRESULT hr);
