// The utilities that work through a temporary database over typed files.
#pragma once

#include <vector>

#include "ZelDataBase.h"
#include "ZelDataBaseUtil.h"
#include "ZelFile.h"
#include "ZelFileSingleReg.h"

// Reads the record of a one-record file; an absent file leaves *pReg as the
// caller set it.
template <class T>
HRESULT CZelDataBaseUtil::LeSingleReg(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo, T* pReg, const std::string& sArquivo) {
  CZelDataBase zelDB(eModulo);
  zelDB.SetUsaConexaoDefault(true);
  CZelFileSingleReg<T> arq(sArquivo, &zelDB);
  HRESULT hr = zelDB.Inicializa(pProfiler);
  if (SUCCEEDED(hr) && arq.ExisteArquivo()) hr = arq.Le(pReg);
  HRESULT hrFim = zelDB.Finaliza();
  return FAILED(hr) ? hr : hrFim;
}

template <class T>
HRESULT CZelDataBaseUtil::GravaSingleReg(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo, const T& reg, const std::string& sArquivo) {
  CZelDataBase zelDB(eModulo);
  zelDB.SetUsaConexaoDefault(true);
  CZelFileSingleReg<T> arq(sArquivo, &zelDB);
  HRESULT hr = zelDB.Inicializa(pProfiler);
  if (SUCCEEDED(hr)) hr = arq.Grava(reg);
  HRESULT hrFim = zelDB.Finaliza();
  return FAILED(hr) ? hr : hrFim;
}

// A file written by the fixed-record library keeps a header in its first
// record; the engine's files do not. Files of 0 or 1 records are deleted.
template <class T>
HRESULT CZelDataBaseUtil::RemoveRegistroZero(const IZelDF_Profiler* pProfiler, _ZelModulo eModulo, const std::string& sNomeArquivo) {
  HRESULT hr = S_OK;
  {
    CZelDataBase zelDB(eModulo);
    zelDB.SetUsaConexaoDefault(true);
    zelDB.HabilitaAcessoPonteiros();
    CZelFile<T> arqDat(sNomeArquivo, &zelDB);
    CZelFile<T> arqTra(CZelDataBaseUtil::TrocaExtensao(sNomeArquivo, "tra"), &zelDB);
    hr = zelDB.Inicializa(pProfiler);
    if (SUCCEEDED(hr) && arqDat.GetQtdRegistros() >= 2) {
      const std::vector<T>* pRegistros = arqDat.GetPtrRegistros();
      std::vector<T> aResto(pRegistros->begin() + 1, pRegistros->end());
      hr = arqTra.SetConteudo(aResto, false);
    }
    HRESULT hrFim = zelDB.Finaliza();
    if (SUCCEEDED(hr)) hr = hrFim;
  }
  if (FAILED(hr)) return hr;
  return RenomeiaArquivoTRA(pProfiler, eModulo, sNomeArquivo, 1);
}
