// Message-text library: descriptions of result codes and which facilities
// are its own.
#pragma once

#include <string>

#include "ZelCom.h"

// Fills the text of a code (empty when the library has none).
void ZelGetDescricaoHRESULT(std::string& sTexto, HRESULT hr);
// True for the suite's own facilities (236 to 270), whose code names the
// system-error table does not give.
BYTE EhFacilityMT(unsigned facility);

constexpr unsigned kPrimeiraFacilityZel = 236;
constexpr unsigned kUltimaFacilityZel = 270;
