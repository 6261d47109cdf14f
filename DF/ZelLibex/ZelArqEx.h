// The library's file of fixed-size records. Record n lies at n times the
// record size; record 0 is the header record, whose contents belong to the
// file's user. A write at position 0 appends. Reads go through a read-ahead
// cache that any write to the same file by any object of the process makes
// stale, and that is trusted for at most a minute against other processes.
// Missing files are created only when the directory's control file
// ("ZELCTLARQ.dat") does not list them, so a file that was lost is never
// silently replaced by an empty one.
//
// Every operation answers 0 or a code of EZelArqCodigo and never throws.
// Opens are retried against other processes (200 attempts 10 ms apart), and
// so are writes (200 attempts). Every operation that needs the handle opens
// the file first with the parameters Abre stored; Fecha keeps them.
//
// An object is used by one thread at a time. Across objects of the process,
// the generation table, the last-fill marker and the creation lock are
// shared; across processes, protection rests on the share modes ('G' and 'C'
// let others only read, 'L' lets them read and write) and the retries.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "BaseArquivo.h"
#include "ZelArqMarcaEnum.h"
#include "ZelVistaArquivo.h"

class CZelArqEx : public CBaseArquivo, public IZelArqMarcaEnum {
 public:
  static constexpr int kTamanhoCachePadrao = 32768;
  static constexpr int kTentativas = 200;
  static constexpr int kTamanhoMaximoPath = 260;

  CZelArqEx();
  ~CZelArqEx() override;

  // Stores the parameters; opens now when bAbreAgora is set or the object
  // has never opened (otherwise on first use). cModo: 'L' read, 'G' read and
  // write, 'C' create (truncating). A missing file is created only with
  // iCriaSeNaoExistir. An object still open is not reopened: Fecha before
  // Abre on another path.
  virtual int Abre(const std::string& sPath, char cModo, LONG lTamanhoRegistro, int iCriaSeNaoExistir = 0,
                   BOOL bAbreAgora = FALSE);
  // Closes the handle; keeps the cache and the parameters.
  virtual int Fecha();
  bool EstaAberto() const { return m_bAberto; }

  int Le(LONG lPosicao, void* pBuffer) { return Le(lPosicao, pBuffer, m_lTamanhoRegistro); }
  int Le(LONG lPosicao, void* pBuffer, LONG lTamanho);
  // Position 0 appends; *plPosicao receives the position written.
  int Grava(const void* pBuffer, LONG* plPosicao) { return Grava(pBuffer, plPosicao, m_lTamanhoRegistro); }
  int Grava(const void* pBuffer, LONG* plPosicao, LONG lTamanhoDoRegistro);
  int Grava(const void* pBuffer, ULONG* pulPosicao);
  // lQtd consecutive records in one write, from *plPosicao (0 appends);
  // *plPosicao receives the first position written.
  int GravaRegistros(const void* pBuffer, LONG lQtd, LONG* plPosicao);
  // Writes record 0 (the first lTamanho bytes of the file).
  int GravaZero(const void* pBuffer, LONG lTamanho);
  int LeSequencial(LONG lTamanho, void* pBuffer);
  int GravaSequencial(LONG lTamanho, const void* pBuffer);
  // 'I' beginning, 'F' end (*pulPosicao gets the length), 'P' the offset,
  // which must lie inside the file.
  int Posiciona(char cOrigem, LONGLONG llOffset, ULONG* pulPosicao);
  // lTamanho bytes from offset 0, or from record 1 with bPulaCabecalho.
  int LeTudo(LONG lTamanho, void* pBuffer, bool bPulaCabecalho);
  // lTamanho bytes at llOffset in one read of an open file, past the cache
  // and without moving the file position. False, with pBuffer undefined,
  // when the file is closed or holds fewer bytes there: the caller then
  // takes the cached or positioned way, whose codes and traces it keeps.
  // Made for runs read at random places, where a cache refill per run
  // would read 32 KB for a few hundred bytes.
  bool LeDireto(int64_t llOffset, LONG lTamanho, void* pBuffer);
  // For an object that lives one call: once opened to read ('L'), LeDireto
  // copies from a view of the file (CZelVistaArquivo) up to the length
  // the file had at the opening, and reads past it as before. A file cut
  // shorter by another program while open would fault such a copy.
  void LePorVista(bool bUsa) { m_bUsaVista = bUsa; }
  // With a view: reads ahead, in few system calls, the pieces (offset,
  // length) inside that length whose blocks the view was not asked for
  // before; until the file is closed, LeDireto copies them from memory.
  // For a call that reads many runs at random places of a large file.
  void AdiantaLeitura(std::vector<std::pair<int64_t, LONG>> aTrechos);
  // Most of a read ahead, in bytes; pieces past it are read as before.
  static constexpr uint64_t kMaximoAdiantado = uint64_t{8} << 20;

  LONG GetTamanhoRegistro() const { return m_lTamanhoRegistro; }
  // 0 when the file cannot be opened.
  ULONGLONG GetTamanhoArquivo();
  ULONGLONG GetQtdRegistros(bool bSemCabecalho = false);
  // Sizes the cache to the whole file, so the next Le reads it at once.
  void CarregaArquivoInteiro();
  // True when no object of the process wrote the file since this one last
  // looked; records the look.
  bool ArquivoNaoAlterado();
  const char* GetPath() const { return m_szPath; }

  // The two registry switches of record-0 writes are read at most every ten
  // minutes; this makes the next write read them (tests change them).
  static void ReleChavesGravacao();

 protected:
  std::string GetPathLog() const override { return m_szPath; }

 private:
  int AbreArquivo();
  int NovoArquivo(LONG lTamanhoRegistro);
  bool CacheValido();
  void EsvaziaCache();
  void DefineTamanhoCache(LONG lTamanho);
  void RegistraAbertura();
  void RegistraFechamento();
  void RegistraGravacao();
  // The retry loop of the writes: transient causes are tried again up to
  // kTentativas times; the cache is dropped after every attempt.
  int TentaGravar(const std::function<void()>& grava);
  int GravaBloco(const void* pBuffer, LONG* plPosicao, LONG lTamanhoDoRegistro, LONG lBytes);
  void AvancaGeracao();
  void DepoisDeGravarZero();

  bool m_bLogLeituraAposFim = true;
  std::unique_ptr<char[]> m_pCache;
  int32_t m_lTamanhoCache = 0;
  int64_t m_llOffsetCache = 0;
  int32_t m_lQtdCache = -1;
  int32_t m_lTamanhoRegistro = 0;
  bool m_bAberto = false;
  int32_t m_iUsaControleArquivo = 1;
  bool m_bAcessoCompartilhado = true;
  uint32_t m_ulTickCache = 0;
  char m_szPath[kTamanhoMaximoPath] = {};
  char m_cModo = 0;
  int32_t m_iCriaSeNaoExistir = 0;
  bool m_bControlaGeracao = true;
  uint64_t m_ullGeracaoVista = 0;
  uint64_t m_ullChavePath = 0;
  bool m_bUsaVista = false;
  std::shared_ptr<const CZelVistaArquivo> m_pVista;
  uint64_t m_ullTamanhoVista = 0;
  struct Adiantado {
    int64_t llOffset;
    LONG lTamanho;
    size_t nPosicao;
  };
  std::vector<Adiantado> m_aAdiantados;  // by offset
  std::vector<char> m_aAdiantado;
  void DescartaAdiantado();
};
