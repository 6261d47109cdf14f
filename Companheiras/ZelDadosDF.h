// Audit-log and user records of the fiscal module.
#pragma once

#include <string>

class CZelDadosDF_Log {
 public:
  void SetTipoRegistro(int nTipo) { m_nTipoRegistro = nTipo; }
  void SetServico(int nServico) { m_nServico = nServico; }
  void SetChave(const unsigned long& ulChave) { m_ulChave = ulChave; }
  void SetLog(const std::string& sLog) { m_sLog = sLog; }
  int GetTipoRegistro() const { return m_nTipoRegistro; }
  int GetServico() const { return m_nServico; }
  unsigned long GetChave() const { return m_ulChave; }
  const std::string& GetLog() const { return m_sLog; }

 private:
  int m_nTipoRegistro = 0;
  int m_nServico = 0;
  unsigned long m_ulChave = 0;
  std::string m_sLog;
};

class CZelDadosDF_Usuario {
 public:
  void SetNome(const std::string& s) { m_sNome = s; }
  std::string GetNome() const { return m_sNome; }

 private:
  std::string m_sNome;
};
