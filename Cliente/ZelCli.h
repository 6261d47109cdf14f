// tolvan-cli: drives any method of IZelDF_IEx from JSON lines, one object a
// line in, one answer a line out, reading and writing records through the
// interface's description (the format is in Cliente/README.md).
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

#include "ZelDF_IEx.h"

class CZelCli {
 public:
  // Creates the object at once with this class context.
  explicit CZelCli(DWORD dwClsContext);
  ~CZelCli();
  CZelCli(const CZelCli&) = delete;
  CZelCli& operator=(const CZelCli&) = delete;

  // One input line and its answer; false when the line was malformed (the
  // answer is then {"erro": ...}).
  bool Processa(const std::string& sLinha, std::string* pResposta);

 private:
  void Cria();
  void Libera();

  DWORD m_dwClsContext;
  IZelDF_IEx* m_pObjeto = nullptr;
  HRESULT m_hrCriacao = S_OK;
};

// The tool's loop: 0, or 2 when some line was malformed. Blank lines are
// skipped.
int ZelCliExecuta(std::istream& entrada, std::ostream& saida, DWORD dwClsContext);

// Windows-1252 and UTF-8. Bytes the code page leaves undefined map to the
// control characters of the same number, both ways; a character the code
// page lacks fails the conversion.
std::string ZelCp1252ParaUtf8(std::string_view s);
bool ZelUtf8ParaCp1252(std::string_view s, std::string* pSaida);
