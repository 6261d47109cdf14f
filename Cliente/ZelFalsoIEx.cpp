#include "ZelFalsoIEx.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>

#include "ZelCrc.h"
#include "ZelTempo.h"

namespace {

std::atomic<int> g_nVivos{0};
std::atomic<I4> g_iSaidaAoChegar{0};
std::mutex g_mutexSessao;
_REG_DF_INICIALIZAPS g_ultimaSessao{};

// A success code carrying a checksum of what arrived.
HRESULT Recibo(uint32_t crc) { return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_ITF, (crc ^ (crc >> 16)) & 0xFFFF); }

uint32_t Soma(uint32_t crc, const void* p, size_t n) { return p == nullptr ? crc + 1 : ZelCrc32(p, n, crc); }

template <class T>
T* Aloca(size_t n) {
  if (n == 0) return nullptr;
  auto* p = static_cast<T*>(CoTaskMemAlloc(n * sizeof(T)));
  std::memset(p, 0, n * sizeof(T));
  return p;
}

void Copia(char* sz, size_t n, const std::string& s) { std::snprintf(sz, n, "%s", s.c_str()); }

uint32_t SomaHeader(uint32_t crc, const IE_HDR_PS& h) {
  crc = Soma(crc, &h, offsetof(IE_HDR_PS, pCampos));
  for (UINT j = 0; h.pCampos != nullptr && j < h.nQtdCampos; ++j) {
    const IE_CAMPO_PS& c = h.pCampos[j];
    crc = Soma(crc, &c, offsetof(IE_CAMPO_PS, pUsuarios));
    crc = Soma(crc, c.pUsuarios, sizeof(UI2) * c.iQtdUsuarios);
  }
  return crc;
}

uint32_t SomaVinculo(uint32_t crc, const IE_VINCULO_PS& v) {
  crc = Soma(crc, &v, offsetof(IE_VINCULO_PS, pCampos));
  for (UINT j = 0; v.pCampos != nullptr && j < v.nQtdCampos; ++j) {
    const IE_CAMPO_DATA_PS& c = v.pCampos[j];
    crc = Soma(crc, &c, offsetof(IE_CAMPO_DATA_PS, pcTexto));
    crc = Soma(crc, c.pcTexto, c.ulTamanhoTexto);
  }
  return crc;
}

uint32_t SomaAlteracoes(uint32_t crc, UI4 n, const _REG_CR_ALTERACAOPS* p) {
  for (UI4 i = 0; i < n; ++i) {
    crc = Soma(crc, &p[i].regDados.ulQtdBytes, 4);
    crc = Soma(crc, p[i].regDados.pListaBytes, p[i].regDados.ulQtdBytes);
    crc = Soma(crc, &p[i].ulTipoAlteracao, 4);
  }
  return crc;
}

// Values of one record: texts in even fields, numbers in odd ones. Texts are
// not terminated, as the interface counts them.
void PreencheVinculo(IE_VINCULO_PS* v, UI4 lPosHeader, UI4 lChave, UINT nCampos) {
  std::memset(v, 0, sizeof *v);
  v->origem = {lPosHeader, lChave};
  v->nQtdCampos = nCampos;
  v->pCampos = Aloca<IE_CAMPO_DATA_PS>(nCampos);
  for (UINT k = 0; k < nCampos; ++k) {
    IE_CAMPO_DATA_PS& c = v->pCampos[k];
    if (k % 2 == 0) {
      c.id = static_cast<IE_E_CAMPO>(IE_CAMPO_LIVRE_TEXTO_0 + k);
      std::string s = "Observa\xE7\xE3o " + std::to_string(lChave) + "." + std::to_string(k);
      c.ulTamanhoTexto = static_cast<UI4>(s.size());
      c.pcTexto = Aloca<char>(s.size());
      std::memcpy(c.pcTexto, s.data(), s.size());
    } else {
      c.id = static_cast<IE_E_CAMPO>(IE_CAMPO_LIVRE_V8_0 + k);
      UI8 v8 = UI8{lChave} * 1000 + k;
      std::memcpy(c.BinaryData, &v8, 8);
    }
  }
}

void PreencheCabecalho(_REG_IE_CABECALHO_INTEGRACAO_PS* p, UI4 ulPos) {
  std::memset(p, 0, sizeof *p);
  p->ulPonteiroPrimeiroVinculoIntegracao = ulPos * 2;
  p->ulQtdVinculosIntegracoes = ulPos % 5;
  p->eProcessoOrigem = static_cast<IE_E_PROCESSO>(ulPos % IE_PROCESSO_COUNT);
  p->eProcessoDestino = static_cast<IE_E_PROCESSO>((ulPos + 1) % IE_PROCESSO_COUNT);
  p->cExcluido = static_cast<UI1>(ulPos % 2);
}

bool ProcessoValido(IE_E_PROCESSO e) { return e >= 0 && e < IE_PROCESSO_COUNT; }

// Two rendezvous calls meet here; a lone one gives up after the bound.
bool Encontro() {
  static std::mutex m;
  static std::condition_variable cv;
  static int nEsperando = 0;
  static uint64_t ullGeracao = 0;
  std::unique_lock<std::mutex> trava(m);
  uint64_t ullMinha = ullGeracao;
  if (++nEsperando == 2) {
    nEsperando = 0;
    ++ullGeracao;
    cv.notify_all();
    return true;
  }
  bool bOk = cv.wait_for(trava, std::chrono::milliseconds(ZelTempoMs(ZelTempo::kEsperaChamadaParceira)),
                         [&] { return ullGeracao != ullMinha; });
  if (!bOk) --nEsperando;
  return bOk;
}

}  // namespace

CZelFalsoIEx::CZelFalsoIEx() { ++g_nVivos; }
CZelFalsoIEx::~CZelFalsoIEx() { --g_nVivos; }

int CZelFalsoIEx::Vivos() { return g_nVivos.load(); }

I4 CZelFalsoIEx::SaidaAoChegar() { return g_iSaidaAoChegar.load(); }

_REG_DF_INICIALIZAPS CZelFalsoIEx::UltimaSessao() {
  std::lock_guard<std::mutex> trava(g_mutexSessao);
  return g_ultimaSessao;
}

IClassFactory* CZelFalsoIEx::Fabrica() {
  class CFabrica final : public IClassFactory {
   public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
      *ppv = (riid == IID_IUnknown || riid == IID_IClassFactory) ? this : nullptr;
      return *ppv != nullptr ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown*, REFIID riid, void** ppv) override { return CriaInstancia(riid, ppv); }
    HRESULT LockServer(BOOL) override { return S_OK; }
  };
  static CFabrica fabrica;
  return &fabrica;
}

HRESULT CZelFalsoIEx::CriaInstancia(REFIID riid, void** ppv) {
  auto* p = new CZelFalsoIEx;
  HRESULT hr = p->QueryInterface(riid, ppv);
  p->Release();
  return hr;
}

HRESULT CZelFalsoIEx::Anota(const char* szMetodo, HRESULT hr) {
  std::lock_guard<std::mutex> trava(m_mutex);
  m_sUltimoMetodo = szMetodo;
  m_hrUltimo = hr;
  ++m_nChamadas;
  return hr;
}

HRESULT CZelFalsoIEx::Inicializa_Padrao(_REG_DF_INICIALIZAPS regps) {
  HRESULT hr = S_OK;
  if (regps.usVersaoMorvo != kVersaoMorvo)
    hr = HR(0x81080BFD);
  else if (ZelCrc64(&regps, kBytesCRCInicializacao) != regps.uiCRC)
    hr = HR(0x81080C17);
  else if (regps.cControle != 'B' || regps.szAplicativo[0] == '\0' || regps.ulLinhaFonte == 0)
    hr = HR(0x81080C19);
  if (SUCCEEDED(hr)) {
    std::lock_guard<std::mutex> trava(m_mutex);
    m_sEmpresa.assign(regps.szEmpresa, strnlen(regps.szEmpresa, sizeof regps.szEmpresa));
    std::lock_guard<std::mutex> travaSessao(g_mutexSessao);
    g_ultimaSessao = regps;
  }
  return Anota("Inicializa_Padrao", hr);
}

HRESULT CZelFalsoIEx::KeepAlive(I4* pbOK) {
  if (pbOK == nullptr) return Anota("KeepAlive", E_POINTER);
  g_iSaidaAoChegar = *pbOK;
  *pbOK = 1;
  return Anota("KeepAlive", S_OK);
}

HRESULT CZelFalsoIEx::GetUltimoErro(_REG_DF_ERROPS* p) {
  if (p == nullptr) return E_POINTER;
  std::memset(p, 0, sizeof *p);
  std::lock_guard<std::mutex> trava(m_mutex);
  p->hr = m_hrUltimo;
  p->nCodigoErro = m_nChamadas;
  // Signed fields negative and unsigned ones past the signed range, so a
  // client that reads one with the wrong sign shows it.
  p->lCodigoMensagem = -3;
  p->iRegistro = -4;
  p->iItem = -5;
  p->lCodigoCampo = -6;
  p->nModuloMensagem = 0xFFFE;
  p->nTipoErro = -2;
  p->usNumeroServidor = 0x8007;
  Copia(p->cMensagem, sizeof p->cMensagem, "\xDAltima chamada: " + m_sUltimoMetodo);
  Copia(p->szEmpresa, sizeof p->szEmpresa, m_sEmpresa);
  return S_OK;
}

HRESULT CZelFalsoIEx::FuncaoGenerica(UI4 ulFuncao, _REG_CR_LISTA_BYTESPS regInps, _REG_CR_LISTA_BYTESPS** pp) {
  if (pp == nullptr) return Anota("FuncaoGenerica", E_POINTER);
  *pp = nullptr;
  if (ulFuncao == 0) return Anota("FuncaoGenerica", E_NOTIMPL);
  if (regInps.ulQtdBytes > 0 && regInps.pListaBytes == nullptr) return Anota("FuncaoGenerica", E_POINTER);
  auto* r = Aloca<_REG_CR_LISTA_BYTESPS>(1);
  r->ulQtdBytes = regInps.ulQtdBytes;
  r->pListaBytes = static_cast<UI1*>(CoTaskMemAlloc(regInps.ulQtdBytes));
  for (UI4 i = 0; i < regInps.ulQtdBytes; ++i)
    r->pListaBytes[i] = static_cast<UI1>(regInps.pListaBytes[regInps.ulQtdBytes - 1 - i] ^ ulFuncao);
  *pp = r;
  return Anota("FuncaoGenerica", S_OK);
}

HRESULT CZelFalsoIEx::AlteracaoMultiplaCadastro(UI4 n, UI4* p, UI4 nAlt, _REG_CR_ALTERACAOPS* pregps) {
  if ((n > 0 && p == nullptr) || (nAlt > 0 && pregps == nullptr)) return Anota("AlteracaoMultiplaCadastro", E_POINTER);
  uint32_t crc = Soma(0, p, sizeof(UI4) * n);
  return Anota("AlteracaoMultiplaCadastro", Recibo(SomaAlteracoes(crc, nAlt, pregps)));
}

HRESULT CZelFalsoIEx::AlteracaoMultiplaMovimento(UI4 n, UI8* p, UI4 nAlt, _REG_CR_ALTERACAOPS* pregps) {
  if ((n > 0 && p == nullptr) || (nAlt > 0 && pregps == nullptr))
    return Anota("AlteracaoMultiplaMovimento", E_POINTER);
  uint32_t crc = Soma(7, p, sizeof(UI8) * n);
  return Anota("AlteracaoMultiplaMovimento", Recibo(SomaAlteracoes(crc, nAlt, pregps)));
}

HRESULT CZelFalsoIEx::CadastroTeveMovimentacao(UI4 eTipo, UI4 ulPonteiro, I4* pb) {
  if (pb == nullptr) return Anota("CadastroTeveMovimentacao", E_POINTER);
  g_iSaidaAoChegar = *pb;
  if (eTipo == kZelFalsoEncontro) {
    bool bOk = Encontro();
    *pb = bOk ? 1 : 0;
    return Anota("CadastroTeveMovimentacao", bOk ? S_OK : E_ABORT);
  }
  *pb = static_cast<I4>((eTipo ^ ulPonteiro) & 1);
  return Anota("CadastroTeveMovimentacao", *pb ? S_OK : S_FALSE);
}

HRESULT CZelFalsoIEx::LeIEHeader(UINT qtd, UI4* pPos, IE_HDR_PS* pTipDoc, UI4 dwFlags) {
  if (qtd == 0) return Anota("LeIEHeader", S_FALSE);
  if (pPos == nullptr || pTipDoc == nullptr) return Anota("LeIEHeader", E_POINTER);
  for (UINT i = 0; i < qtd; ++i) {
    if (pPos[i] == 0) return Anota("LeIEHeader", kZelFalsoFalhaParcial);
    IE_HDR_PS& h = pTipDoc[i];
    std::memset(&h, 0, sizeof h);
    h.dwFlags = dwFlags ^ i;
    h.eProcesso = static_cast<IE_E_PROCESSO>(pPos[i] % IE_PROCESSO_COUNT);
    h.nQtdCampos = pPos[i] % 4;
    h.pCampos = Aloca<IE_CAMPO_PS>(h.nQtdCampos);
    for (UINT j = 0; j < h.nQtdCampos; ++j) {
      IE_CAMPO_PS& c = h.pCampos[j];
      c.dwFlags = j;
      c.lPtrExtra = pPos[i] * 10 + j;
      c.id = static_cast<IE_E_CAMPO>(IE_CAMPO_LIVRE_TEXTO_0 + j);
      Copia(c.szNome, sizeof c.szNome, "Descri\xE7\xE3o " + std::to_string(pPos[i]) + "." + std::to_string(j));
      if (pPos[i] > 999) {  // a name with no zero in it or after it
        std::memset(c.szNome, 'N', sizeof c.szNome);
        c.cFiller[0] = 'F';
      }
      c.iQtdUsuarios = static_cast<UI2>(j);
      c.pUsuarios = Aloca<UI2>(j);
      for (UINT k = 0; k < j; ++k) c.pUsuarios[k] = static_cast<UI2>(100 + j + k);
    }
  }
  return Anota("LeIEHeader", S_OK);
}

HRESULT CZelFalsoIEx::GravaIEHeader(UI4* pPos, IE_HDR_PS ps) {
  if (pPos == nullptr) return Anota("GravaIEHeader", E_POINTER);
  if (*pPos == 0) *pPos = (SomaHeader(0, ps) & 0x7FFFFFFF) | 1;
  return Anota("GravaIEHeader", ps.nQtdCampos == 0 ? S_FALSE : S_OK);
}

HRESULT CZelFalsoIEx::BuscaPtrsIEHeader(IE_HEADER_FILTRO_PS filtro, IE_ARRAY_PONTEIROS_PS* p) {
  if (p == nullptr) return Anota("BuscaPtrsIEHeader", E_POINTER);
  std::memset(p, 0, sizeof *p);
  if (!ProcessoValido(filtro.eProc)) return Anota("BuscaPtrsIEHeader", E_INVALIDARG);
  p->qtd = filtro.ulPonteiro % 7;
  p->pPtrs = Aloca<UI4>(p->qtd);
  for (UINT k = 0; k < p->qtd; ++k) p->pPtrs[k] = filtro.ulPonteiro + k * 3;
  return Anota("BuscaPtrsIEHeader", (filtro.dwFlags & 1) != 0 ? kZelFalsoFalhaParcial : S_OK);
}

HRESULT CZelFalsoIEx::ExisteVinculo(UI4 lPosHeader) {
  if (lPosHeader == 0) return Anota("ExisteVinculo", E_INVALIDARG);
  return Anota("ExisteVinculo", lPosHeader % 2 == 0 ? S_OK : S_FALSE);
}

HRESULT CZelFalsoIEx::GravaCamposVinculo(IE_VINCULO_PS vinculo) {
  if (vinculo.nQtdCampos > 0 && vinculo.pCampos == nullptr) return Anota("GravaCamposVinculo", E_POINTER);
  return Anota("GravaCamposVinculo", Recibo(SomaVinculo(3, vinculo)));
}

HRESULT CZelFalsoIEx::BuscaVinculosByOrigem(UI4 lPosHeader, UINT qtd, UI4* pChaves, IE_VINCULO_PS* pVinculos) {
  if (qtd > 0 && (pChaves == nullptr || pVinculos == nullptr)) return Anota("BuscaVinculosByOrigem", E_POINTER);
  for (UINT i = 0; i < qtd; ++i) {
    if (pChaves[i] == 0) return Anota("BuscaVinculosByOrigem", kZelFalsoFalhaParcial);
    PreencheVinculo(&pVinculos[i], lPosHeader, pChaves[i], pChaves[i] % 4);
  }
  return Anota("BuscaVinculosByOrigem", S_OK);
}

HRESULT CZelFalsoIEx::NotificaExclusaoOrigem(IE_ORIGEM_VINCULO_PS origem) {
  if (origem.lPosHeader == 0) return Anota("NotificaExclusaoOrigem", E_INVALIDARG);
  return Anota("NotificaExclusaoOrigem", Recibo(Soma(5, &origem, sizeof origem)));
}

HRESULT CZelFalsoIEx::LeCabecalhoIntegracao(UI4 ulPosicao, _REG_IE_CABECALHO_INTEGRACAO_PS* p) {
  if (p == nullptr) return Anota("LeCabecalhoIntegracao", E_POINTER);
  if (ulPosicao == 0) {
    std::memset(p, 0, sizeof *p);
    return Anota("LeCabecalhoIntegracao", kZelFalsoFalhaParcial);
  }
  PreencheCabecalho(p, ulPosicao);
  return Anota("LeCabecalhoIntegracao", S_OK);
}

HRESULT CZelFalsoIEx::GravaCabecalhoIntegracao(UI4 ulPosicaoIn, _REG_IE_CABECALHO_INTEGRACAO_PS reg, UI4* pOut) {
  if (pOut == nullptr) return Anota("GravaCabecalhoIntegracao", E_POINTER);
  *pOut = ulPosicaoIn != 0 ? ulPosicaoIn : ((Soma(9, &reg, sizeof reg) & 0xFFFF) | 1);
  return Anota("GravaCabecalhoIntegracao", reg.cExcluido != 0 ? S_FALSE : S_OK);
}

HRESULT CZelFalsoIEx::GetPonteirosCabecalhoIntegracaoVoviDadi(IE_ARRAY_PONTEIROS_PS* p) {
  if (p == nullptr) return Anota("GetPonteirosCabecalhoIntegracaoVoviDadi", E_POINTER);
  std::memset(p, 0, sizeof *p);
  p->qtd = 3;
  p->pPtrs = Aloca<UI4>(3);
  p->pPtrs[0] = 3;
  p->pPtrs[1] = 5;
  p->pPtrs[2] = 8;
  return Anota("GetPonteirosCabecalhoIntegracaoVoviDadi", S_OK);
}

HRESULT CZelFalsoIEx::GetListaCabecalhosIntegracao(IE_ARRAY_PONTEIROS_PS* pPtrs,
                                                   _REG_LISTA_IE_CABECALHO_INTEGRACAO_PS* pLista) {
  if (pLista == nullptr) return Anota("GetListaCabecalhosIntegracao", E_POINTER);
  std::memset(pLista, 0, sizeof *pLista);
  if (pPtrs == nullptr || (pPtrs->qtd > 0 && pPtrs->pPtrs == nullptr))
    return Anota("GetListaCabecalhosIntegracao", E_POINTER);
  pLista->pRegListaCabecalhos = Aloca<_REG_IE_CABECALHO_INTEGRACAO_PS>(pPtrs->qtd);
  for (UINT i = 0; i < pPtrs->qtd; ++i) {
    if (pPtrs->pPtrs[i] == 0) return Anota("GetListaCabecalhosIntegracao", kZelFalsoFalhaParcial);
    PreencheCabecalho(&pLista->pRegListaCabecalhos[i], pPtrs->pPtrs[i]);
    pLista->ulQtd = i + 1;
  }
  return Anota("GetListaCabecalhosIntegracao", S_OK);
}

HRESULT CZelFalsoIEx::ExisteCabecalhoIntegracao(IE_HEADER_FILTRO_PS o, IE_HEADER_FILTRO_PS d,
                                                _REG_IE_CABECALHO_INTEGRACAO_PS* p) {
  if (p == nullptr) return Anota("ExisteCabecalhoIntegracao", E_POINTER);
  std::memset(p, 0, sizeof *p);
  if (o.eProc == d.eProc) return Anota("ExisteCabecalhoIntegracao", S_FALSE);
  p->eProcessoOrigem = o.eProc;
  p->eProcessoDestino = d.eProc;
  p->ulPonteiroPrimeiroVinculoIntegracao = o.ulPonteiro + d.ulPonteiro;
  p->cInativo = static_cast<UI1>(o.dwFlags & 1);
  return Anota("ExisteCabecalhoIntegracao", S_OK);
}

HRESULT CZelFalsoIEx::LeVinculosCabecalhoIntegracao(_REG_IE_CABECALHO_INTEGRACAO_PS* pCab,
                                                    _REG_LISTA_IE_VINCULO_INTEGRACAO_PS* pLista) {
  if (pCab == nullptr || pLista == nullptr) return Anota("LeVinculosCabecalhoIntegracao", E_POINTER);
  std::memset(pLista, 0, sizeof *pLista);
  pLista->ulQtd = pCab->ulQtdVinculosIntegracoes % 6;
  pLista->pRegListaVinculos = Aloca<_REG_IE_VINCULO_INTEGRACAO_PS>(pLista->ulQtd);
  for (UI4 k = 0; k < pLista->ulQtd; ++k) {
    _REG_IE_VINCULO_INTEGRACAO_PS& v = pLista->pRegListaVinculos[k];
    v.ulPosicaoCabecalhoIntegracao = pCab->ulPonteiroPrimeiroVinculoIntegracao + k;
    v.ulPosicaoCampoOrigem = k * 2;
    v.ulPosicaoCampoDestino = k * 2 + 1;
    v.cInativo = static_cast<UI1>(k % 2);
  }
  return Anota("LeVinculosCabecalhoIntegracao", S_OK);
}

HRESULT CZelFalsoIEx::GravaVinculosCabecalhosIntegracao(_REG_IE_CABECALHO_INTEGRACAO_PS* pCab,
                                                        _REG_LISTA_IE_VINCULO_INTEGRACAO_PS* pLista) {
  if (pCab == nullptr || pLista == nullptr || (pLista->ulQtd > 0 && pLista->pRegListaVinculos == nullptr))
    return Anota("GravaVinculosCabecalhosIntegracao", E_POINTER);
  pCab->ulQtdVinculosIntegracoes = pLista->ulQtd;
  pCab->ulPonteiroPrimeiroVinculoIntegracao =
      Soma(11, pLista->pRegListaVinculos, sizeof(_REG_IE_VINCULO_INTEGRACAO_PS) * pLista->ulQtd) & 0xFFFFFF;
  return Anota("GravaVinculosCabecalhosIntegracao", S_OK);
}

HRESULT CZelFalsoIEx::GetVinculoByIntegracao(IE_HEADER_FILTRO_PS o, UI4 ulPos, IE_HEADER_FILTRO_PS d,
                                             IE_VINCULO_PS* pVinculo) {
  if (pVinculo == nullptr) return Anota("GetVinculoByIntegracao", E_POINTER);
  if (ulPos == 0) {
    std::memset(pVinculo, 0, sizeof *pVinculo);
    return Anota("GetVinculoByIntegracao", S_FALSE);
  }
  PreencheVinculo(pVinculo, d.ulPonteiro, ulPos, static_cast<UINT>(o.eProc + d.eProc) % 4);
  return Anota("GetVinculoByIntegracao", S_OK);
}

HRESULT CZelFalsoIEx::GetProcessoJaCadastradoNaIntegracao(IE_HEADER_FILTRO_PS header, I4* pb) {
  if (pb == nullptr) return Anota("GetProcessoJaCadastradoNaIntegracao", E_POINTER);
  g_iSaidaAoChegar = *pb;
  *pb = header.eProc % 2;
  return Anota("GetProcessoJaCadastradoNaIntegracao", S_OK);
}

HRESULT CZelFalsoIEx::ExcluiIntegracoesQueUsamEsteProcesso(IE_HEADER_FILTRO_PS header) {
  if (!ProcessoValido(header.eProc)) return Anota("ExcluiIntegracoesQueUsamEsteProcesso", E_INVALIDARG);
  return Anota("ExcluiIntegracoesQueUsamEsteProcesso", Recibo(Soma(13, &header, sizeof header)));
}
