// Exports of the connection library that callers look up by name at run
// time. The stand-in answers from the registry key
// "SOFTWARE\Wow6432Node\Zel Sistemas\ZelSDataBase\Empresas\<empresa>", whose
// values are named by module number.
#pragma once

#include <string>

using PFN_GetDiretorioDadosModulo = int (*)(int nModulo, const char* szEmpresa, std::string& sDiretorio);
using PFN_ZelGetNomeEmpresaLogada = std::string (*)();

// The export of that name, or null (an unknown name, or one switched off).
void* ZelLConxProcuraExportacao(const char* szNome);
// Lets tests take the library away (true) and bring it back.
void ZelLConxDefineAusente(bool bAusente);

int GetDiretorioDadosModulo(int nModulo, const char* szEmpresa, std::string& sDiretorio);
std::string ZelGetNomeEmpresaLogada();
