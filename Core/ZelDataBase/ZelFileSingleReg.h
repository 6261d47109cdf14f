// A file of exactly one record T (the database version file): held in
// memory, written only when it changes.
#pragma once

#include <cstring>
#include <shared_mutex>
#include <type_traits>

#include "ZelArqMarcaFila.h"
#include "ZelFile.h"

template <class T>
class CZelFileSingleReg : public CZelFileBase {
  static_assert(std::is_trivially_copyable_v<T>, "the record is copied to and from the file as bytes");

 public:
  CZelFileSingleReg(const std::string& sNomeArquivo, CZelDataBase* pDataBase) : CZelFileBase(sNomeArquivo, pDataBase) {
    std::memset(&m_Reg, 0, sizeof m_Reg);
  }
  ~CZelFileSingleReg() override { Finaliza(); }

  ZelUInt GetQtdRegistros() override { return m_File.EstaAberto() ? 1 : 0; }
  const void* GetPtrArray() override { return &m_Reg; }
  const void* GetPtrRegistro(ZelUInt) override { return &m_Reg; }
  std::string GetNomeEstrutura() const override { return ZelNomeEstrutura<T>(); }
  HRESULT SetArrayData(ZelUInt, const void* pData) override { return SetRegData(0, pData); }
  HRESULT SetRegData(ZelUInt, const void* pData) override {
    T reg;
    std::memcpy(&reg, pData, sizeof(T));
    return Grava(reg);
  }

  HRESULT Le(T* pReg) {
    CZelProfiler prof(this);
    Entrada(prof, "CZelFileSingleReg::Le");
    std::shared_lock<std::shared_mutex> trava(m_lockArquivo);
    if (!m_File.EstaAberto()) return E_ZELCR_ARQUIVO_NAO_EXISTE;
    *pReg = m_Reg;
    return S_OK;
  }
  bool PrecisaGravar(const T& reg) const {
    return !m_File.EstaAberto() || std::memcmp(&reg, &m_Reg, sizeof(T)) != 0;
  }
  HRESULT Grava(const T& reg) {
    CZelProfiler prof(this);
    Entrada(prof, "CZelFileSingleReg::Grava");
    std::unique_lock<std::shared_mutex> trava(m_lockArquivo);
    CZelArqMarcaFila marca(this);
    HRESULT hr = MarcaMudanca(marca);
    if (FAILED(hr)) {
      ZelTraceHR(this, "CZelFileSingleReg::Grava", "ZelFileSingleReg", __LINE__, "hr = MarcaMudanca(marcaFila)", "hr",
                 hr);
      return hr;
    }
    if (!PrecisaGravar(reg)) return S_OK;
    return GravaComRetentativas("CZelFileSingleReg::Grava", "hr = GravaRegistro(reg)",
                                [&] { return GravaRegistro(reg); });
  }

 protected:
  HRESULT OnInicializa() override {
    HRESULT hr = CZelFileBase::OnInicializa();
    if (FAILED(hr)) return hr;
    std::memset(&m_Reg, 0, sizeof m_Reg);
    hr = AbreArquivo(EZelDataBase_ModoAbertura::eModoLeituraGravacao);
    if (FAILED(hr) || !m_File.EstaAberto()) return hr;
    ULONGLONG nCabecalho = GetSeekCabecalho();
    ULONGLONG nTamanho = 0;
    try {
      nTamanho = m_File.GetLength();
    } catch (CFileException* pEx) {
      hr = CatchInicializacao(pEx);
      pEx->Delete();
      return hr;
    }
    if (nTamanho < nCabecalho || nTamanho - nCabecalho != sizeof(T)) {
      ZelTraceHR(this, "CZelFileSingleReg::OnInicializa", "ZelFileSingleReg", __LINE__,
                 "hr = E_ZELCR_ARQUIVO_SINGLE_REG_NAO_TEM_TAMANHO_ESTRUTURA", "hr",
                 E_ZELCR_ARQUIVO_SINGLE_REG_NAO_TEM_TAMANHO_ESTRUTURA);
      return E_ZELCR_ARQUIVO_SINGLE_REG_NAO_TEM_TAMANHO_ESTRUTURA;
    }
    UINT nLidos = 0;
    LONG lErro = m_File.LeEm(nCabecalho, &m_Reg, sizeof(T), &nLidos);
    if (lErro == ERROR_SUCCESS && nLidos != sizeof(T)) lErro = ERROR_HANDLE_EOF;
    if (lErro != ERROR_SUCCESS) {
      CFileException ex(CFileException::ErroSOParaCausa(lErro), lErro, m_sNomeArquivo);
      return CatchInicializacao(&ex);
    }
    return S_OK;
  }

 private:
  HRESULT GravaRegistro(const T& reg) {
    LONG lErro = m_File.GravaEm(GetSeekCabecalho(), &reg, sizeof(T));
    if (lErro != ERROR_SUCCESS) {
      CFileException ex(CFileException::ErroSOParaCausa(lErro), lErro, m_sNomeArquivo);
      return CatchGravacao(&ex);
    }
    m_Reg = reg;
    return S_OK;
  }

  T m_Reg;
};
