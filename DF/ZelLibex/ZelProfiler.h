// Error lines, the call log and the profiler scope. Every line of both log
// files is built from one profiler record; texts are Windows-1252 bytes.
// Thread-safe: lines are written from any thread.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ZelCom.h"
#include "ZelInicializador.h"

using ZelPares = std::vector<std::pair<std::string, std::string>>;

// Header line of the error file and of the call log.
extern const char* const kCabecalhoArquivoErros;
extern const char* const kCabecalhoLogChamadas;

// Path of the error file for an identity's company ("" for programs) at the
// given year and month, and of the call log.
std::string ZelCaminhoArquivoErros(const std::string& sEmpresa, int nAno, int nMes);
std::string ZelCaminhoLogChamadas();

// Appends one line (a line break is added), writing the header first when
// the file did not exist. Up to 19 attempts; a line that cannot be written is
// dropped. Returns whether it was written.
bool ZelAcrescentaLinhaLog(const std::string& sCaminho, const std::string& sLinha, const char* szCabecalho);
// Attempts made by the calling thread's last append.
int ZelTentativasUltimaGravacao();

// Writes an error line whatever log.ini says. The format gives the Log column.
void ZelGravaLinhaErro(const IZelDF_Profiler* pIdentidade, const char* szFuncao, const char* szArquivo, int nLinha,
                       const char* szFormato, ...) __attribute__((format(printf, 5, 6)));
void ZelGravaLinhaErroV(const IZelDF_Profiler* pIdentidade, const char* szFuncao, const char* szArquivo, int nLinha,
                        const char* szFormato, va_list args);

// Error line of an HRESULT: szExpressao is the whole failing statement
// ("hr = pfInSEHFuncao()"), szVariavel its variable ("hr"). The failure is
// also kept by the identity's last-error holder when it has one.
void ZelTraceHR(const IZelDF_Profiler* pIdentidade, const char* szFuncao, const char* szArquivo, int nLinha,
                const char* szExpressao, const char* szVariavel, HRESULT hr);
// Error line of a library routine's integer result.
void ZelTraceInt(const IZelDF_Profiler* pIdentidade, const char* szFuncao, const char* szArquivo, int nLinha,
                 const char* szExpressao, const char* szVariavel, int iRetorno);
// Error line of a record-file position failure; the last column is the
// record count ("Qtd. Registros") or, for the data file, its length
// ("GetLength").
void ZelTracePosicao(const IZelDF_Profiler* pIdentidade, const char* szFuncao, const char* szArquivo, int nLinha,
                     HRESULT hr, const std::string& sArquivoDados, int nPosicao, int nRegistro, int64_t llUltimo,
                     const char* szRotuloUltimo = "Qtd. Registros");
// The Log text of an HRESULT error line.
std::string ZelFormataErroHR(const char* szExpressao, const char* szVariavel, HRESULT hr);

// Profiler scope: Entrada writes the entry line when the rules allow; the
// destructor writes the exit line when an entry was recorded.
class CZelProfiler {
 public:
  explicit CZelProfiler(const IZelDF_Profiler* pIdentidade);
  ~CZelProfiler();
  CZelProfiler(const CZelProfiler&) = delete;
  CZelProfiler& operator=(const CZelProfiler&) = delete;

  // Up to nine label/value pairs.
  void Entrada(const char* szFuncao, ZelPares pares = {}) {
    if (ComecaEntrada(szFuncao)) TerminaEntrada(std::move(pares));
  }
  // The same, the pairs made by fnPares only when a line may carry them:
  // with logging off a scope costs one look at the configuration.
  template <class F>
  void EntradaSobDemanda(const char* szFuncao, F fnPares) {
    if (ComecaEntrada(szFuncao)) TerminaEntrada(fnPares());
  }
  // "COCREATE" line of a component activation.
  static void Ativacao(const IZelDF_Profiler* pIdentidade, const char* szFuncao, const std::string& sProgID,
                       const std::string& sModulo);

 private:
  // Records the entry; true when this call is logged.
  bool ComecaEntrada(const char* szFuncao);
  void TerminaEntrada(ZelPares pares);

  const IZelDF_Profiler* m_pIdentidade;
  std::string m_sFuncao;
  ZelPares m_pares;
  std::string m_sGuid;
  bool m_bEntrou = false;
  bool m_bLogando = false;
  uint64_t m_ullInicio = 0;
  int64_t m_llMemoriaInicio = 0;
};
