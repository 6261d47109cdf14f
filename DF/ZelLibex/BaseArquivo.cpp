#include "BaseArquivo.h"

#include <cinttypes>
#include <vector>

#include "ZelDescricaoErro.h"
#include "ZelProfiler.h"

namespace {
constexpr const char* kFuncao = "CBaseArquivo::ValidaPosicaoGravacao";
}  // namespace

int CBaseArquivo::CodigoFalha(int nCausa) {
  switch (nCausa) {
    case CFileException::endOfFile: return ZELARQ_FIM_DE_ARQUIVO;
    case CFileException::badSeek: return ZELARQ_POSICIONAMENTO;
    case CFileException::hardIO: return ZELARQ_ERRO_ES;
    case CFileException::fileNotFound: return ZELARQ_NAO_ENCONTRADO;
    case CFileException::badPath: return ZELARQ_CAMINHO_INVALIDO;
    case CFileException::invalidFile: return ZELARQ_ARQUIVO_INVALIDO;
    case CFileException::accessDenied: return ZELARQ_ACESSO_NEGADO;
    case CFileException::sharingViolation: return ZELARQ_COMPARTILHAMENTO;
    case CFileException::lockViolation: return ZELARQ_BLOQUEIO;
    case CFileException::diskFull: return ZELARQ_DISCO_CHEIO;
    default: return 0;
  }
}

bool CBaseArquivo::FalhaPassageira(int iCodigo) {
  return iCodigo == ZELARQ_ACESSO_NEGADO || iCodigo == ZELARQ_COMPARTILHAMENTO || iCodigo == ZELARQ_BLOQUEIO ||
         iCodigo == ZELARQ_DISCO_CHEIO;
}

HRESULT CBaseArquivo::ValidaPosicaoGravacao(LONGLONG llPosicao, LONGLONG llTamanhoRegistro) {
  if (llPosicao < 0) {
    ZelGravaLinhaErro(nullptr, kFuncao, "BaseArquivo", __LINE__,
                      "hr = %d\tDescri\xE7\xE3o = %s\tArquivo = %s\tPosi\xE7\xE3o Grava\xE7\xE3o = %" PRId64,
                      ZEL_E_POSICAO_NEGATIVA, GetTexto_HRESULT(ZEL_E_POSICAO_NEGATIVA).c_str(),
                      GetPathLog().c_str(), static_cast<int64_t>(llPosicao));
    return ZEL_E_POSICAO_NEGATIVA;
  }
  // An append is never past the end: no need to ask the length.
  if (llPosicao == 0) return S_OK;
  const LONGLONG llUnidade = m_bValidaPorByte ? 1 : llTamanhoRegistro;
  try {
    const LONGLONG llQtd = llUnidade > 0 ? static_cast<LONGLONG>(GetLength()) / llUnidade : 0;
    if (llQtd == 0 && llPosicao == 1 && llTamanhoRegistro > 0) {
      // The header of an empty file, so that record 1 has something before it.
      std::vector<char> zeros(static_cast<size_t>(llTamanhoRegistro), 0);
      SeekToBegin();
      Write(zeros.data(), static_cast<UINT>(zeros.size()));
      return S_OK;
    }
    if (llPosicao <= llQtd) return S_OK;
    ZelGravaLinhaErro(nullptr, kFuncao, "BaseArquivo", __LINE__,
                      "hr = %d\tDescri\xE7\xE3o = %s\tArquivo = %s\tQtdRegistros = %" PRId64
                      "\tPosi\xE7\xE3o Grava\xE7\xE3o = %" PRId64,
                      ZEL_E_POSICAO_ALEM_DO_FIM, GetTexto_HRESULT(ZEL_E_POSICAO_ALEM_DO_FIM).c_str(),
                      GetPathLog().c_str(), static_cast<int64_t>(llQtd), static_cast<int64_t>(llPosicao));
    return ZEL_E_POSICAO_ALEM_DO_FIM;
  } catch (CFileException* e) {
    int iCodigo = CodigoFalha(e->m_cause);
    e->Delete();
    return static_cast<HRESULT>(0x80040000u | static_cast<uint32_t>(iCodigo != 0 ? iCodigo : ZELARQ_TENTATIVAS_ESGOTADAS));
  }
}
