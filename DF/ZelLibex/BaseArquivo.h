// The framework file with what the library's fixed-record files share: the
// write-position check and the codes that file failures come back as. Used by
// one thread at a time.
#pragma once

#include "ZelArquivo.h"

// Results of the data-file operations: 0 or one of these.
enum EZelArqCodigo : int {
  ZELARQ_OK = 0,
  ZELARQ_MODO_INVALIDO = 3716,  // mode or seek letter
  ZELARQ_POSICIONAMENTO = 16012,
  ZELARQ_FIM_DE_ARQUIVO = 16021,
  ZELARQ_ERRO_ES = 16039,
  ZELARQ_NAO_ENCONTRADO = 16055,
  ZELARQ_CAMINHO_INVALIDO = 16063,
  ZELARQ_ARQUIVOS_DEMAIS = 16071,
  ZELARQ_ACESSO_NEGADO = 16080,
  ZELARQ_SOMENTE_LEITURA = 16081,
  ZELARQ_ARQUIVO_INVALIDO = 16098,
  ZELARQ_DIRETORIO_CHEIO = 16101,
  ZELARQ_COMPARTILHAMENTO = 16110,
  ZELARQ_BLOQUEIO = 16128,
  ZELARQ_DISCO_CHEIO = 16136,
  ZELARQ_TENTATIVAS_ESGOTADAS = 16144,  // also: a failure without a class
  ZELARQ_SEM_NOME = 16179,
  ZELARQ_POSICAO_ALEM_DO_FIM = 2675,  // low half of ZEL_E_POSICAO_ALEM_DO_FIM
  ZELARQ_POSICAO_NEGATIVA = 2676,     // low half of ZEL_E_POSICAO_NEGATIVA
};

// Results of ValidaPosicaoGravacao.
constexpr HRESULT ZEL_E_POSICAO_ALEM_DO_FIM = HR(0x80040A73);
constexpr HRESULT ZEL_E_POSICAO_NEGATIVA = HR(0x80040A74);

class CBaseArquivo : public CFile {
 public:
  // S_OK when a record may be written at the position: any record up to the
  // next free one. Position 1 of an empty file first gets the file its zero
  // header record. Failures are logged and come back as the HRESULTs above,
  // or 0x80040000 | the code of a failure to read the length.
  HRESULT ValidaPosicaoGravacao(LONGLONG llPosicao, LONGLONG llTamanhoRegistro);

 protected:
  // The path as log lines spell it: the caller's spelling where the file
  // class keeps one, else the name found on disk.
  virtual std::string GetPathLog() const { return GetFilePath(); }
  // The code of a failed transfer or seek, or 0 for a cause outside the
  // table (which the retry loops retry).
  static int CodigoFalha(int nCausa);
  // Codes that another process's hold on the file explains: the retry loops
  // return them only when their attempts run out.
  static bool FalhaPassageira(int iCodigo);

  // Counts single bytes instead of records.
  bool m_bValidaPorByte = false;
};
