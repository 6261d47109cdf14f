// The registry, kept in two text files in the ".reg" format: the machine file
// (HKEY_LOCAL_MACHINE, path from ZEL_REGISTRO_MAQUINA, default
// /etc/zel/maquina.reg) and the user file (HKEY_CURRENT_USER, path from
// ZEL_REGISTRO_USUARIO, default $XDG_CONFIG_HOME/zel/usuario.reg).
// HKEY_CLASSES_ROOT reads the user's "Software\Classes" first, then the
// machine's "SOFTWARE\Classes"; it writes to the machine's.
//
// Keys and value names compare without regard to case; a value name of ""
// is the key's default value ("@" in the file). Every call is thread-safe and
// sees changes another process wrote to the files since the last call.
#pragma once

#include <string>
#include <vector>

#include "ZelCom.h"

enum class HKEY { ClassesRoot, CurrentUser, LocalMachine };
constexpr HKEY HKEY_CLASSES_ROOT = HKEY::ClassesRoot;
constexpr HKEY HKEY_CURRENT_USER = HKEY::CurrentUser;
constexpr HKEY HKEY_LOCAL_MACHINE = HKEY::LocalMachine;

// Paths of the two files as the environment gives them now; for
// HKEY_CLASSES_ROOT the machine file, which its writes change.
std::string ZelArquivoRegistro(HKEY raiz);

// Results are Windows error codes: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (key or
// value missing), ERROR_INVALID_DATA (value of another type),
// ERROR_ACCESS_DENIED or ERROR_WRITE_FAULT (the file could not be written).
namespace ZelRegistro {
LONG ExisteChave(HKEY raiz, const std::string& chave);
LONG LeDWORD(HKEY raiz, const std::string& chave, const std::string& nome, DWORD* pValor);
LONG LeTexto(HKEY raiz, const std::string& chave, const std::string& nome, std::string* pValor);
// Write operations create missing keys.
LONG CriaChave(HKEY raiz, const std::string& chave);
LONG GravaDWORD(HKEY raiz, const std::string& chave, const std::string& nome, DWORD valor);
LONG GravaTexto(HKEY raiz, const std::string& chave, const std::string& nome, const std::string& valor);
LONG ExcluiValor(HKEY raiz, const std::string& chave, const std::string& nome);
// Removes the key with all its subkeys.
LONG ExcluiChave(HKEY raiz, const std::string& chave);
// Names of the direct subkeys and of the values, as written in the file.
std::vector<std::string> ListaSubchaves(HKEY raiz, const std::string& chave);
std::vector<std::string> ListaValores(HKEY raiz, const std::string& chave);
}  // namespace ZelRegistro

// A DWORD under HKEY_LOCAL_MACHINE "SOFTWARE\Wow6432Node\Zel Sistemas\";
// a missing key or value reads as 0.
DWORD ZelLeChaveZel(const std::string& nome);
// A string under the same key; empty when missing.
std::string ZelLeTextoZel(const std::string& nome);
// A wide text in Windows-1252, '?' for what the code page lacks.
std::string ZelTextoCp1252(const wchar_t* wsz);
constexpr const char* kChaveZelSistemas = "SOFTWARE\\Wow6432Node\\Zel Sistemas";
