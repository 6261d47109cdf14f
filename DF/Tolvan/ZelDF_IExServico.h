// The service's one creatable class: the seventeen Vovi Dadi methods as thin
// entry points, each one guarded call of the business object's method of the
// same name, with its entry line and its source line. (Its file name keeps
// clear of the interface's own ZelDF_IEx.h.) Thread-safe: calls of
// one object may run on several threads at once.
#pragma once

#include <atomic>

#include "IExBase.h"
#include "T_ZelUnknown.h"
#include "ZelLocalModulo.h"

class CZelDF_IEx final : public T_ZelUnknown<IZelDF_IEx, CIExBase> {
 public:
  CZelDF_IEx() = default;
  // The class-map entry: a new object answering riid.
  static HRESULT CriaInstancia(REFIID riid, void** ppv) { return Cria(nullptr, riid, ppv); }
  // The same inside an outer object (pExterno not null), which may ask only
  // for IID_IUnknown and gets the new object's own inner unknown.
  static HRESULT Cria(IUnknown* pExterno, REFIID riid, void** ppv);
  // A class factory of process lifetime, for serving the class in process.
  static IClassFactory* Fabrica();

  // Within an outer object these go to it.
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return m_pExterno != nullptr ? m_pExterno->AddRef() : m_interno.AddRef(); }
  ULONG Release() override { return m_pExterno != nullptr ? m_pExterno->Release() : m_interno.Release(); }

  HRESULT LeIEHeader(UINT qtd, UI4* pPos, IE_HDR_PS* pTipDoc, UI4 dwFlags) override;
  HRESULT GravaIEHeader(UI4* pPos, IE_HDR_PS ps) override;
  HRESULT BuscaPtrsIEHeader(IE_HEADER_FILTRO_PS filtro, IE_ARRAY_PONTEIROS_PS* pRegPtrs) override;
  HRESULT ExisteVinculo(UI4 lPosHeader) override;
  HRESULT GravaCamposVinculo(IE_VINCULO_PS vinculo) override;
  HRESULT BuscaVinculosByOrigem(UI4 lPosHeader, UINT qtd, UI4* pChaves, IE_VINCULO_PS* pVinculos) override;
  HRESULT NotificaExclusaoOrigem(IE_ORIGEM_VINCULO_PS origem) override;
  HRESULT LeCabecalhoIntegracao(UI4 ulPosicao, _REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho) override;
  HRESULT GravaCabecalhoIntegracao(UI4 ulPosicaoIn, _REG_IE_CABECALHO_INTEGRACAO_PS reg, UI4* pulPosicaoOut) override;
  HRESULT GetPonteirosCabecalhoIntegracaoVoviDadi(IE_ARRAY_PONTEIROS_PS* pregPonteiros) override;
  HRESULT GetListaCabecalhosIntegracao(IE_ARRAY_PONTEIROS_PS* pregPonteiros,
                                       _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS* pRegLista) override;
  HRESULT ExisteCabecalhoIntegracao(IE_HEADER_FILTRO_PS regHeaderOrigem, IE_HEADER_FILTRO_PS regHeaderDestino,
                                    _REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho) override;
  HRESULT LeVinculosCabecalhoIntegracao(_REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho,
                                        _REG_LISTA_IE_VINCULO_INTEGRACAO_PS* pRegLista) override;
  HRESULT GravaVinculosCabecalhosIntegracao(_REG_IE_CABECALHO_INTEGRACAO_PS* pRegCabecalho,
                                            _REG_LISTA_IE_VINCULO_INTEGRACAO_PS* pRegLista) override;
  HRESULT GetVinculoByIntegracao(IE_HEADER_FILTRO_PS headerOrigem, UI4 ulPosRegistroOrigem,
                                 IE_HEADER_FILTRO_PS headerDestino, IE_VINCULO_PS* pVinculo) override;
  HRESULT GetProcessoJaCadastradoNaIntegracao(IE_HEADER_FILTRO_PS header, I4* bProcessoJaCadastrado) override;
  HRESULT ExcluiIntegracoesQueUsamEsteProcesso(IE_HEADER_FILTRO_PS header) override;

 private:
  ~CZelDF_IEx() override = default;
  template <class FnPares, class Corpo>
  HRESULT Chama(const char* szMetodo, int nLinha, FnPares fnPares, Corpo corpo) {
    return ChamaGuardado(std::string("CZelDF_IEx::") + szMetodo, "ZelDF_IEx", nLinha, true, fnPares, corpo);
  }

  // The object's own unknown, which holds its life: the outer object keeps
  // it, and reaches the interface through it.
  class CInterno final : public IUnknown {
   public:
    explicit CInterno(CZelDF_IEx& dono) : m_dono(dono) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return ++m_cRef; }
    ULONG Release() override;

   private:
    CZelDF_IEx& m_dono;
    std::atomic<ULONG> m_cRef{1};
  };

  CZelLocalTravaModulo m_travaModulo;
  IUnknown* m_pExterno = nullptr;
  CInterno m_interno{*this};
};

// Makes the component runtime's own failures error lines of the program
// error file (the server installs it before serving).
void ZelInstalaRelatorErroServico();
