// A stand-in object of the service class for tests and the test server. It
// answers every method from its arguments alone (results that carry a
// checksum of what arrived, [out] records and arrays built from the inputs,
// failures after part of an output was filled, S_FALSE where an input asks
// for it), so that a call made in process and the same call made through a
// server must give byte-identical answers. Thread-safe.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "ZelDF_IEx.h"
#include "ZelLocalModulo.h"

// eTipoCadastro of the rendezvous call: CadastroTeveMovimentacao waits for a
// second such call to arrive and answers S_OK only when it did.
constexpr UI4 kZelFalsoEncontro = 0xE4C0;
// The failure the fake answers after filling part of an output.
constexpr HRESULT kZelFalsoFalhaParcial = HR(0x80040101);

class CZelFalsoIEx final : public T_ZelObjetoCom<IZelDF_IEx, IID_IZelDF_IEx> {
 public:
  CZelFalsoIEx();
  // The class-map entry.
  static HRESULT CriaInstancia(REFIID riid, void** ppv);
  // A class factory of process lifetime, for registering the fake in a
  // process of its own (tests and benchmarks).
  static IClassFactory* Fabrica();
  // Objects alive in this process.
  static int Vivos();
  // The last session record an object of this process accepted.
  static _REG_DF_INICIALIZAPS UltimaSessao();
  // What the last call with an I4 answer found in it on arrival.
  static I4 SaidaAoChegar();


  HRESULT Inicializa_Padrao(_REG_DF_INICIALIZAPS regps) override;
  HRESULT KeepAlive(I4* pbOK) override;
  HRESULT GetUltimoErro(_REG_DF_ERROPS* pregErrops) override;
  HRESULT FuncaoGenerica(UI4 ulFuncao, _REG_CR_LISTA_BYTESPS regInps, _REG_CR_LISTA_BYTESPS** ppregOutps) override;
  HRESULT AlteracaoMultiplaCadastro(UI4 ulQuantidade, UI4* pulPonteiros, UI4 ulQuantidadeAlteracoes,
                                    _REG_CR_ALTERACAOPS* pregps) override;
  HRESULT AlteracaoMultiplaMovimento(UI4 ulQuantidade, UI8* pregPonteiros, UI4 ulQuantidadeAlteracoes,
                                     _REG_CR_ALTERACAOPS* pregps) override;
  HRESULT CadastroTeveMovimentacao(UI4 eTipoCadastro, UI4 ulPonteiroCadastro, I4* pbTeveMovimentacao) override;
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
  ~CZelFalsoIEx() override;
  // Records the call and passes its result through.
  HRESULT Anota(const char* szMetodo, HRESULT hr);

  CZelLocalTravaModulo m_travaModulo;
  std::mutex m_mutex;
  std::string m_sUltimoMetodo;
  HRESULT m_hrUltimo = S_OK;
  int m_nChamadas = 0;
  std::string m_sEmpresa;
};
