// Keeps, in each data directory, the list "ZELDATABASE_FILE_CTRL.dat" of the
// files that the engine opened there for reading and writing. Changes of one
// directory's list are serialised across processes by its directory mark.
#pragma once

#include <string>

#include "ZelDataBaseDefs.h"
#include "ZelInicializador.h"

class CZelArqMarcaFila;

class CZelDataBaseControleCriacaoArquivos : public CZelInicializador {
 public:
  CZelDataBaseControleCriacaoArquivos(_ZelModulo eModulo, std::string sNomeArquivo)
      : m_eModulo(eModulo), m_sNomeArquivo(std::move(sNomeArquivo)) {}

  // Registers the file when it is opened for reading and writing.
  HRESULT GerenciaControleCriacaoArquivos(EZelDataBase_ModoAbertura eModoAbertura);
  HRESULT CriaControleCriacaoArquivos();
  HRESULT PossuiControleCriacaoArquivos(bool* pbPossui);
  HRESULT RemoveControleCriacaoArquivos();
  HRESULT ExecutaMarcaDiretorio(CZelArqMarcaFila& marca);

  bool GetControleCriacaoArquivosHabilitado() const { return !m_bDesabilitado; }
  void DesabilitaControleCriacaoArquivos() { m_bDesabilitado = true; }
  void SetModulo(_ZelModulo eModulo) { m_eModulo = eModulo; }

  // Names never listed: the list itself and rewrite siblings.
  static bool NomeSemControle(const std::string& sNomeArquivo);

 private:
  _ZelModulo m_eModulo;
  std::string m_sNomeArquivo;
  bool m_bDesabilitado = false;
};
