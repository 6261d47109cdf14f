// tolvan-inspeciona: what a company's Vovi Dadi files hold and whether they
// are sound, read without the service and without blocking its writers.
//
//   tolvan-inspeciona [--json] EMPRESA|DIRETORIO COMANDO [ARGUMENTOS]
//     cabecalhos                 headers, their fields and users
//     valores PROCESSO CHAVE...  the values of those origins
//     integracoes                integrations and their links
//     verifica                   one line per problem found
//
// A first argument holding a '/' is the Vovi Dadi directory itself; otherwise
// it is a company, whose directory comes from the registry.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

constexpr int kInspecaoOk = 0;
constexpr int kInspecaoProblemas = 1;  // verifica found damage
constexpr int kInspecaoErro = 2;       // bad arguments, no such company, unreadable file

int IEInspecionaExecuta(const std::vector<std::string>& aArgs, std::ostream& saida, std::ostream& erros);
