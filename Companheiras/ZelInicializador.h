// Session base of the suite's connection library: the identity every traced
// object answers (company, user, session) and the two-phase lifecycle.
#pragma once

#include <string>

#include "ZelCom.h"
#include "ZelDF_IEx.h"

constexpr unsigned short PSEUDO_USUARIO = 65535;

// Identity asked by the profiler and the error lines.
class IZelDF_Profiler {
 public:
  virtual std::string GetEmpresa() const = 0;
  virtual unsigned short GetUsuario() const = 0;
  virtual unsigned long GetNumeroSessao() const = 0;
  virtual ~IZelDF_Profiler() = default;
};

// Objects that also know the initialisation record of their session; the
// log lines print it.
class IZelDF_ProfilerRegistro {
 public:
  virtual const _REG_DF_INICIALIZAPS* GetRegistroInicializacao() const = 0;

 protected:
  ~IZelDF_ProfilerRegistro() = default;
};

// A bare identity: a company name, a user and a session.
class CZelProfilerEmpresa : public IZelDF_Profiler {
 public:
  explicit CZelProfilerEmpresa(std::string sEmpresa = {}, unsigned short usUsuario = 0, unsigned long ulSessao = 0)
      : m_sEmpresa(std::move(sEmpresa)), m_usUsuario(usUsuario), m_ulSessao(ulSessao) {}
  std::string GetEmpresa() const override { return m_sEmpresa; }
  unsigned short GetUsuario() const override { return m_usUsuario; }
  unsigned long GetNumeroSessao() const override { return m_ulSessao; }

 private:
  std::string m_sEmpresa;
  unsigned short m_usUsuario;
  unsigned long m_ulSessao;
};

class CZelInicializador : public IZelDF_Profiler {
 public:
  CZelInicializador() = default;
  ~CZelInicializador() override = default;

  // Runs OnInicializa once; afterwards the object answers the given identity.
  HRESULT Inicializa(const IZelDF_Profiler* pDono);
  HRESULT Inicializa(const std::string& sEmpresa, unsigned short usUsuario, long lSessao);
  HRESULT Inicializa(const char* szEmpresa, unsigned short usUsuario, long lSessao);
  HRESULT Finaliza();
  bool EstaInicializado() const { return m_bInicializado; }

  std::string GetEmpresa() const override { return m_sEmpresa; }
  unsigned short GetUsuario() const override { return m_usUsuario; }
  unsigned long GetNumeroSessao() const override { return m_ulSessao; }

 protected:
  virtual HRESULT OnInicializa() { return S_OK; }
  virtual HRESULT OnFinaliza() { return S_OK; }

 private:
  std::string m_sEmpresa;
  unsigned short m_usUsuario = 0;
  unsigned long m_ulSessao = 0;
  bool m_bInicializado = false;
};
