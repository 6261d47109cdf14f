// The typed Vovi Dadi files: one fixed-record data file per record type,
// named after the record in the directory its owner gives, and for field
// values a second file holding the texts. An object is used by one thread.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "IExRegistros.h"
#include "ZelArqEx.h"
#include "ZelPath.h"

class IIEArqBind {
 public:
  virtual std::string GetDiretorioDados() const = 0;

 protected:
  ~IIEArqBind() = default;
};

class CIEArqBase {
 public:
  virtual ~CIEArqBase() = default;
  // Closes both files.
  virtual int Fecha() = 0;
  virtual int LeTexto(const IE_CAMPO_DATA_ARQ_V2& reg, std::string* psTexto) = 0;
  virtual int GravaTexto(const std::string& sTexto, IE_CAMPO_DATA_ARQ_V2* pReg) = 0;
  // Appends texts in order, as GravaTexto would one by one, but in few
  // writes; each record (its id kept) receives its text's place.
  virtual int AcrescentaTextos(const std::vector<std::pair<std::string_view, IE_CAMPO_DATA_ARQ_V2*>>& aTextos) = 0;
  virtual bool EstaAberto() const = 0;
  virtual bool ArquivoNaoAlterado() = 0;
  virtual int Posiciona(char cOrigem, LONGLONG llOffset, ULONG* pulPosicao) = 0;
};

template <class T>
class CIEArqT : public CIEArqBase {
 public:
  explicit CIEArqT(IIEArqBind* pBind, std::string sExtensao = kExtensaoIE)
      : m_pBind(pBind), m_sExtensao(std::move(sExtensao)) {}
  ~CIEArqT() override { CIEArqT::Fecha(); }
  CIEArqT(const CIEArqT&) = delete;
  CIEArqT& operator=(const CIEArqT&) = delete;

  std::string GetNomeArquivo() const {
    return CZelPath::Junta(m_pBind->GetDiretorioDados(), std::string(T::kNomeArquivo) + m_sExtensao);
  }

  // A missing file is created unless told otherwise; the whole file is
  // read ahead only when asked. 'C' leaves a zero record 0.
  HRESULT Abre(char cModo, BOOL bCriaSeNaoExistir = TRUE, bool bCarregaTudo = false) {
    int iRetorno = m_Arq.Abre(GetNomeArquivo(), cModo, sizeof(T), bCriaSeNaoExistir, FALSE);
    if (iRetorno != ZELARQ_OK) return IES_MAKE_HR(iRetorno);
    if (cModo == 'C') {
      const T zero{};
      iRetorno = m_Arq.GravaZero(&zero, sizeof(T));
      if (iRetorno != ZELARQ_OK) return IES_MAKE_HR(iRetorno);
    }
    if (bCarregaTudo) m_Arq.CarregaArquivoInteiro();
    return S_OK;
  }

  int Le(LONG lPosicao, T* pReg) { return m_Arq.Le(lPosicao, pReg, sizeof(T)); }
  // nQtd records from lPosicao in one read, when all of them are in the file
  // (see CZelArqEx::LeDireto).
  bool LeRun(LONG lPosicao, UINT nQtd, T* pRegs) {
    return nQtd <= kMaximoRun &&
           m_Arq.LeDireto(static_cast<int64_t>(lPosicao) * static_cast<int64_t>(sizeof(T)),
                          static_cast<LONG>(nQtd * sizeof(T)), pRegs);
  }
  // Longer runs are read record by record, so that a damaged count never
  // sizes a buffer beyond the records that exist.
  static constexpr UINT kMaximoRun = 4096;
  // Position 0 appends; the position written comes back.
  int Grava(const T* pReg, LONG* plPosicao) { return m_Arq.Grava(pReg, plPosicao, sizeof(T)); }
  int Grava(const T* pReg, ULONG* pulPosicao) {
    LONG lPosicao = static_cast<LONG>(*pulPosicao);
    int iRetorno = m_Arq.Grava(pReg, &lPosicao, sizeof(T));
    if (iRetorno == ZELARQ_OK) *pulPosicao = static_cast<ULONG>(lPosicao);
    return iRetorno;
  }
  // nQtd consecutive records in one write; position 0 appends, and the first
  // position written comes back.
  int GravaRun(const T* pRegs, UINT nQtd, ULONG* pulPosicao) {
    LONG lPosicao = static_cast<LONG>(*pulPosicao);
    int iRetorno = m_Arq.GravaRegistros(pRegs, static_cast<LONG>(nQtd), &lPosicao);
    if (iRetorno == ZELARQ_OK) *pulPosicao = static_cast<ULONG>(lPosicao);
    return iRetorno;
  }
  int GravaZero(const T* pReg) { return m_Arq.GravaZero(pReg, sizeof(T)); }
  ULONGLONG GetQtdRegistros(bool bSemCabecalho = false) { return m_Arq.GetQtdRegistros(bSemCabecalho); }
  // Every data record (record 0 left out).
  int LeTudo(std::vector<T>& aRegistros) {
    aRegistros.clear();
    // A partial record at the end is no record (a crash during an append).
    ULONGLONG nQtd = m_Arq.GetTamanhoArquivo() / sizeof(T);
    if (nQtd < 2) return ZELARQ_OK;
    aRegistros.resize(nQtd - 1);
    int iRetorno =
        m_Arq.LeTudo(static_cast<LONG>(aRegistros.size() * sizeof(T)), aRegistros.data(), /*bPulaCabecalho=*/true);
    if (iRetorno != ZELARQ_OK) aRegistros.clear();
    return iRetorno;
  }

  int Fecha() override {
    m_ArqTexto.Fecha();
    return m_Arq.Fecha();
  }
  int LeTexto(const IE_CAMPO_DATA_ARQ_V2&, std::string*) override { return 0; }
  int GravaTexto(const std::string&, IE_CAMPO_DATA_ARQ_V2*) override { return 0; }
  int AcrescentaTextos(const std::vector<std::pair<std::string_view, IE_CAMPO_DATA_ARQ_V2*>>&) override { return 0; }
  bool EstaAberto() const override { return m_Arq.EstaAberto(); }
  bool ArquivoNaoAlterado() override { return m_Arq.ArquivoNaoAlterado(); }
  int Posiciona(char cOrigem, LONGLONG llOffset, ULONG* pulPosicao) override {
    return m_Arq.Posiciona(cOrigem, llOffset, pulPosicao);
  }
  CZelArqEx& GetArquivo() { return m_Arq; }

 protected:
  IIEArqBind* m_pBind;
  std::string m_sExtensao;
  CZelArqEx m_Arq;
  CZelArqEx m_ArqTexto;
};

// The value file of one process and its text file. Remembers the place of
// the text last read or written, so that a text no longer than it is
// rewritten in place.
template <class T>
class CIEArqTDados;

template <>
class CIEArqTDados<IE_CAMPO_DATA_ARQ_V2> : public CIEArqT<IE_CAMPO_DATA_ARQ_V2> {
 public:
  explicit CIEArqTDados(IIEArqBind* pBind, std::string sExtensao = kExtensaoIE)
      : CIEArqT<IE_CAMPO_DATA_ARQ_V2>(pBind, std::move(sExtensao)) {}

  HRESULT Abre(char cModo, int eProcesso, BOOL bCriaSeNaoExistir = TRUE);

  int LeTexto(const IE_CAMPO_DATA_ARQ_V2& reg, std::string* psTexto) override;
  int GravaTexto(const std::string& sTexto, IE_CAMPO_DATA_ARQ_V2* pReg) override;
  int AcrescentaTextos(const std::vector<std::pair<std::string_view, IE_CAMPO_DATA_ARQ_V2*>>& aTextos) override;

  virtual std::string GetNomeArquivoDados(int eProcesso) const;
  virtual std::string GetNomeArquivoTexto(int eProcesso) const;

  // Reads ahead the runs (first record, count), then the texts of their
  // records whose field bTexto names, so that reading one run after the
  // other costs no system call each (see CZelArqEx::AdiantaLeitura).
  void AdiantaRuns(const std::vector<std::pair<UI4, UINT>>& aRuns, bool (*bTexto)(I4 id));

  ULONG GetOffsetTexto() const { return m_ulOffsetTexto; }
  UI2 GetTamanhoTexto() const { return m_usTamanhoTexto; }

 private:
  ULONG m_ulOffsetTexto = 0;
  UI2 m_usTamanhoTexto = 0;
};
