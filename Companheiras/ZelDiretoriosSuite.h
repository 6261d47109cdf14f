// Where the suite keeps things: its module directory (home of log.ini, the
// call log and the program error file) and a company's data directory.
#pragma once

#include <string>

// Registry string "DiretorioModulos" under the suite key, else the directory
// of the running program; always ending in '/'.
std::string ZelDiretorioModulos();
// The company's directory of module 1 ("DF"): the value "DF" under the
// suite key's "Empresas\<empresa>", ending in '/'; empty when not registered.
std::string ZelDiretorioDadosEmpresa(const std::string& sEmpresa);
// Registry string "EmpresaLogada" under the suite key.
std::string ZelEmpresaLogada();
