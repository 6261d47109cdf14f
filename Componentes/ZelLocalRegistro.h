// Registration of a local server: the registrar scripts that write and remove
// its keys, and the command words that ask for it.
//
// Script syntax, as the framework's registrar reads it:
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {GUID} = s 'Description'
//       {
//         LocalServer32 = s '%MODULE%'
//         val AppID = s '%APPID%'
//       }
//     }
//   }
// Roots HKCR, HKCU and HKLM (or their long names); a key may carry a default
// value ("= s 'text'" or "= d 'number'") and a block of named values ("val")
// and subkeys. %NAME% is replaced from the replacement map, %% is a '%'.
// Names with spaces are quoted with ' (a doubled '' is one quote).
//
// Registering creates every key and value, first removing a ForceRemove key
// with everything under it. Unregistering removes a ForceRemove key whole,
// a plain key once its listed subkeys are gone and nothing else is left
// under it, and never a NoRemove key (only what its block lists).
#pragma once

#include <map>
#include <string>

#include "ZelCom.h"

class CZelLocalRegistrador {
 public:
  // bPorUsuario sends HKCR to the current user's "Software\Classes".
  explicit CZelLocalRegistrador(bool bPorUsuario = false) : m_bPorUsuario(bPorUsuario) {}

  void AdicionaSubstituicao(const std::string& sNome, const std::string& sValor) { m_substituicoes[sNome] = sValor; }
  // E_INVALIDARG for a script that does not parse or names an unknown
  // replacement (nothing is then written); a registry failure comes back as
  // HRESULT_FROM_WIN32 of its code, steps after it not run.
  HRESULT Registra(const std::string& sScript) const { return Executa(sScript, true); }
  HRESULT Desregistra(const std::string& sScript) const { return Executa(sScript, false); }

 private:
  HRESULT Executa(const std::string& sScript, bool bRegistra) const;

  bool m_bPorUsuario;
  std::map<std::string, std::string> m_substituicoes;
};

enum class ZelLocalComando { Nenhum, RegServer, UnregServer, RegServerPerUser, UnregServerPerUser };

// The first registration word introduced by '-' or '/' anywhere in the
// command line, compared without regard to case; a word ends at white space.
ZelLocalComando ZelLocalPalavraComando(const std::string& sLinhaComando);
// The same over a program's arguments (the program name excluded).
ZelLocalComando ZelLocalPalavraComando(int argc, const char* const* argv);
