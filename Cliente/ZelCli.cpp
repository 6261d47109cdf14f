#include "ZelCli.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "ZelClienteIEx.h"
#include "ZelCp1252.h"
#include "ZelCrc.h"
#include "ZelLocalAtivacao.h"

using json = nlohmann::json;
using ojson = nlohmann::ordered_json;

namespace {

void AcrescentaUtf8(std::string& s, uint32_t cp) {
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string ZelCp1252ParaUtf8(std::string_view s) {
  std::string r;
  for (char c : s) {
    auto b = static_cast<unsigned char>(c);
    AcrescentaUtf8(r, ZelCp1252ParaUnicode(b));
  }
  return r;
}

bool ZelUtf8ParaCp1252(std::string_view s, std::string* pSaida) {
  std::string r;
  for (size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    size_t n;
    if (b < 0x80) {
      cp = b;
      n = 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      n = 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      n = 3;
    } else {
      return false;  // beyond the code page anyway, or not UTF-8
    }
    if (i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    i += n;
    const int iByte = ZelUnicodeParaCp1252(cp);
    if (iByte < 0) return false;
    r += static_cast<char>(iByte);
  }
  *pSaida = std::move(r);
  return true;
}

namespace {

using V = ZelLocalTipoValor;

struct ErroEntrada : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A count is checked before anything is allocated for it.
void VerificaTamanho(uint64_t n, const ZelLocalTipo& elem, uint64_t ullLimite, const std::string& sOnde) {
  if (n * elem.ulTamanho > ullLimite)
    throw ErroEntrada(sOnde + ": contagem " + std::to_string(n) + " acima do limite de " + std::to_string(ullLimite / elem.ulTamanho) +
                      " elementos");
}

// Blocks of the [in] side, owned by the tool for one call.
class Memoria {
 public:
  uint8_t* Aloca(size_t n) {
    m_blocos.push_back(std::make_unique<uint8_t[]>(n == 0 ? 1 : n));
    return m_blocos.back().get();
  }
  bool Possui(const void* p) const {
    for (const auto& b : m_blocos)
      if (b.get() == p) return true;
    return false;
  }

 private:
  std::vector<std::unique_ptr<uint8_t[]>> m_blocos;
};

uint8_t* LePonteiro(const uint8_t* p) {
  uint8_t* q;
  std::memcpy(&q, p, sizeof q);
  return q;
}
void GravaPonteiro(uint8_t* p, const void* q) { std::memcpy(p, &q, sizeof q); }

std::string Hex(const uint8_t* p, size_t n) {
  static const char* kDigitos = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigitos[p[i] >> 4];
    s += kDigitos[p[i] & 15];
  }
  return s;
}

std::string TextoHr(HRESULT hr) {
  char sz[16];
  std::snprintf(sz, sizeof sz, "0x%08X", static_cast<unsigned>(hr));
  return sz;
}

std::string ParaCp1252(const json& v, const std::string& sOnde) {
  if (!v.is_string()) throw ErroEntrada(sOnde + ": esperado um texto");
  std::string s;
  if (!ZelUtf8ParaCp1252(v.get_ref<const std::string&>(), &s))
    throw ErroEntrada(sOnde + ": caractere fora da p\xC3\xA1gina de c\xC3\xB3" "digos 1252");
  return s;
}

int64_t Inteiro(const json& v, int64_t llMin, int64_t llMax, const std::string& sOnde) {
  if (!v.is_number_integer()) throw ErroEntrada(sOnde + ": esperado um n\xC3\xBAmero inteiro");
  if (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(llMax))
    throw ErroEntrada(sOnde + ": fora do intervalo");
  int64_t ll = v.is_number_unsigned() ? static_cast<int64_t>(v.get<uint64_t>()) : v.get<int64_t>();
  if (ll < llMin || ll > llMax) throw ErroEntrada(sOnde + ": fora do intervalo");
  return ll;
}

void GravaEscalar(V e, const ZelLocalTipo* pEnum, uint8_t* p, const json& v, const std::string& sOnde) {
  switch (e) {
    case V::U8: {
      uint8_t b;
      if (v.is_string()) {
        std::string s = ParaCp1252(v, sOnde);
        if (s.size() != 1) throw ErroEntrada(sOnde + ": esperado um caractere");
        b = static_cast<uint8_t>(s[0]);
      } else {
        b = static_cast<uint8_t>(Inteiro(v, 0, 255, sOnde));
      }
      *p = b;
      break;
    }
    case V::U16: {
      auto x = static_cast<uint16_t>(Inteiro(v, 0, 65535, sOnde));
      std::memcpy(p, &x, 2);
      break;
    }
    case V::I16: {
      auto x = static_cast<int16_t>(Inteiro(v, -32768, 32767, sOnde));
      std::memcpy(p, &x, 2);
      break;
    }
    case V::U32: {
      auto x = static_cast<uint32_t>(Inteiro(v, 0, 0xFFFFFFFFll, sOnde));
      std::memcpy(p, &x, 4);
      break;
    }
    case V::I32: {
      auto x = static_cast<int32_t>(Inteiro(v, INT32_MIN, INT32_MAX, sOnde));
      std::memcpy(p, &x, 4);
      break;
    }
    case V::U64: {
      if (!v.is_number_unsigned() && !(v.is_number_integer() && v.get<int64_t>() >= 0))
        throw ErroEntrada(sOnde + ": esperado um n\xC3\xBAmero n\xC3\xA3o negativo");
      uint64_t x = v.get<uint64_t>();
      std::memcpy(p, &x, 8);
      break;
    }
    case V::Enum: {
      int32_t x = 0;
      if (v.is_string()) {
        bool bAchou = false;
        for (const auto& [sz, valor] : pEnum->enumeradores)
          if (v.get_ref<const std::string&>() == sz) {
            x = valor;
            bAchou = true;
          }
        if (!bAchou) throw ErroEntrada(sOnde + ": enumerador desconhecido");
      } else {
        x = static_cast<int32_t>(Inteiro(v, INT32_MIN, INT32_MAX, sOnde));
      }
      std::memcpy(p, &x, 4);
      break;
    }
    default:
      throw ErroEntrada(sOnde + ": tipo sem valor escalar");
  }
}

void LeValor(const ZelLocalTipo& t, uint8_t* p, const json& v, Memoria& mem, const std::string& sOnde);

void LeRegistro(const ZelLocalTipo& t, uint8_t* p, const json& v, Memoria& mem, const std::string& sOnde) {
  if (!v.is_object()) throw ErroEntrada(sOnde + ": esperado um objeto " + t.szNome);
  for (const auto& item : v.items()) {
    const ZelLocalCampo* c = t.Campo(item.key().c_str());
    if (c == nullptr || c->eTipo == V::Reservado)
      throw ErroEntrada(sOnde + ": campo desconhecido \"" + item.key() + "\" em " + t.szNome);
  }
  for (const auto& c : t.campos) {
    if (c.eTipo == V::Reservado || c.eTipo == V::Array || !v.contains(c.szNome)) continue;
    const json& x = v[c.szNome];
    std::string sCampo = sOnde + "." + c.szNome;
    uint8_t* q = p + c.ulOffset;
    if (c.eTipo == V::Texto) {
      std::string s = ParaCp1252(x, sCampo);
      if (s.size() >= c.ulTamanho) throw ErroEntrada(sCampo + ": texto maior que o campo");
      std::memset(q, 0, c.ulTamanho);
      std::memcpy(q, s.data(), s.size());
    } else if (c.eTipo == V::Bytes) {
      if (!x.is_string() || x.get_ref<const std::string&>().size() != 2 * c.ulTamanho)
        throw ErroEntrada(sCampo + ": esperados " + std::to_string(2 * c.ulTamanho) + " d\xC3\xADgitos hexadecimais");
      const std::string& s = x.get_ref<const std::string&>();
      for (uint32_t i = 0; i < c.ulTamanho; ++i) {
        unsigned v8 = 0;
        if (std::sscanf(s.substr(2 * i, 2).c_str(), "%2x", &v8) != 1 || !std::isxdigit(static_cast<unsigned char>(s[2 * i])) ||
            !std::isxdigit(static_cast<unsigned char>(s[2 * i + 1])))
          throw ErroEntrada(sCampo + ": d\xC3\xADgito hexadecimal inv\xC3\xA1lido");
        q[i] = static_cast<uint8_t>(v8);
      }
    } else if (c.eTipo == V::Registro) {
      LeRegistro(*c.pTipo, q, x, mem, sCampo);
    } else {
      GravaEscalar(c.eTipo, c.pTipo, q, x, sCampo);
    }
  }
  // Arrays last: a count left out takes the array's length.
  for (const auto& c : t.campos) {
    if (c.eTipo != V::Array) continue;
    if (!v.contains(c.szNome) || v[c.szNome].is_null()) {
      GravaPonteiro(p + c.ulOffset, nullptr);
      continue;
    }
    const json& x = v[c.szNome];
    std::string sCampo = sOnde + "." + c.szNome;
    const ZelLocalTipo& elem = *c.pTipo;
    bool bTexto = elem.eEscalar == V::Caractere;
    std::string sTexto;
    size_t n;
    if (bTexto) {
      sTexto = ParaCp1252(x, sCampo);
      n = sTexto.size();
    } else {
      if (!x.is_array()) throw ErroEntrada(sCampo + ": esperada uma lista");
      n = x.size();
    }
    if (n > 0xFFFFFFFFu) throw ErroEntrada(sCampo + ": lista longa demais");
    if (!v.contains(c.szContagem)) ZelLocalGravaContagem(t, p, c, static_cast<uint32_t>(n));
    size_t nAloca = std::max<size_t>(n, ZelLocalContagem(t, p, c));
    VerificaTamanho(nAloca, elem, kZelLocalMaxQuadro, sCampo);
    uint8_t* q = mem.Aloca(nAloca * elem.ulTamanho + (bTexto ? 1 : 0));
    GravaPonteiro(p + c.ulOffset, q);
    if (bTexto) {
      std::memcpy(q, sTexto.data(), n);
      continue;
    }
    for (size_t k = 0; k < n; ++k)
      LeValor(elem, q + k * elem.ulTamanho, x[k], mem, sCampo + "[" + std::to_string(k) + "]");
  }
}

void LeValor(const ZelLocalTipo& t, uint8_t* p, const json& v, Memoria& mem, const std::string& sOnde) {
  if (t.EhRegistro())
    LeRegistro(t, p, v, mem, sOnde);
  else
    GravaEscalar(t.eEscalar, &t, p, v, sOnde);
}

ojson EscreveValor(const ZelLocalTipo& t, const uint8_t* p);

ojson EscreveEscalar(V e, const uint8_t* p) {
  switch (e) {
    case V::U8: return *p;
    case V::U16: {
      uint16_t x;
      std::memcpy(&x, p, 2);
      return x;
    }
    case V::I16: {
      int16_t x;
      std::memcpy(&x, p, 2);
      return x;
    }
    case V::U32: {
      uint32_t x;
      std::memcpy(&x, p, 4);
      return x;
    }
    case V::I32:
    case V::Enum: {
      int32_t x;
      std::memcpy(&x, p, 4);
      return x;
    }
    case V::U64: {
      uint64_t x;
      std::memcpy(&x, p, 8);
      return x;
    }
    default: return nullptr;
  }
}

ojson EscreveRegistro(const ZelLocalTipo& t, const uint8_t* p) {
  ojson o = ojson::object();
  for (const auto& c : t.campos) {
    const uint8_t* q = p + c.ulOffset;
    switch (c.eTipo) {
      case V::Reservado: break;
      case V::Texto:
        o[c.szNome] = ZelCp1252ParaUtf8(std::string_view(reinterpret_cast<const char*>(q), strnlen(reinterpret_cast<const char*>(q), c.ulTamanho)));
        break;
      case V::Bytes: o[c.szNome] = Hex(q, c.ulTamanho); break;
      case V::Registro: o[c.szNome] = EscreveRegistro(*c.pTipo, q); break;
      case V::Array: {
        const uint8_t* a = LePonteiro(q);
        uint32_t n = ZelLocalContagem(t, p, c);
        if (a == nullptr) {
          o[c.szNome] = nullptr;
        } else if (c.pTipo->eEscalar == V::Caractere) {
          o[c.szNome] = ZelCp1252ParaUtf8(std::string_view(reinterpret_cast<const char*>(a), n));
        } else {
          ojson l = ojson::array();
          for (uint32_t k = 0; k < n; ++k) l.push_back(EscreveValor(*c.pTipo, a + size_t{k} * c.pTipo->ulTamanho));
          o[c.szNome] = std::move(l);
        }
        break;
      }
      default: o[c.szNome] = EscreveEscalar(c.eTipo, q); break;
    }
  }
  return o;
}

ojson EscreveValor(const ZelLocalTipo& t, const uint8_t* p) {
  return t.EhRegistro() ? EscreveRegistro(t, p) : EscreveEscalar(t.eEscalar, p);
}

// Frees what the object allocated in an [out] value.
void LiberaArrays(const ZelLocalTipo& t, uint8_t* p, const Memoria& mem) {
  for (const auto& c : t.campos) {
    if (c.eTipo == V::Registro) {
      LiberaArrays(*c.pTipo, p + c.ulOffset, mem);
    } else if (c.eTipo == V::Array) {
      uint8_t* a = LePonteiro(p + c.ulOffset);
      if (a == nullptr || mem.Possui(a)) continue;
      if (c.pTipo->EhRegistro()) {
        uint32_t n = ZelLocalContagem(t, p, c);
        for (uint32_t k = 0; k < n; ++k) LiberaArrays(*c.pTipo, a + size_t{k} * c.pTipo->ulTamanho, mem);
      }
      CoTaskMemFree(a);
      GravaPonteiro(p + c.ulOffset, nullptr);
    }
  }
}

uint32_t Valor32(const std::vector<void*>& ap, int i) {
  uint32_t v;
  std::memcpy(&v, ap[static_cast<size_t>(i)], 4);
  return v;
}

// Working values of the initialisation record for the fields left out.
void CompletaInicializacao(uint8_t* p, const json& v) {
  auto* r = reinterpret_cast<_REG_DF_INICIALIZAPS*>(p);
  auto falta = [&](const char* sz) { return !v.is_object() || !v.contains(sz); };
  if (falta("usVersaoMorvo")) r->usVersaoMorvo = kVersaoMorvo;
  if (falta("cControle")) r->cControle = 'B';
  if (falta("ulLinhaFonte")) r->ulLinhaFonte = 1;
  if (falta("szAplicativo")) std::snprintf(r->szAplicativo, sizeof r->szAplicativo, "tolvan-cli");
  if (falta("szModuleName")) std::snprintf(r->szModuleName, sizeof r->szModuleName, "tolvan-cli");
  if (falta("szArquivoFonte")) std::snprintf(r->szArquivoFonte, sizeof r->szArquivoFonte, "ZelCli.cpp");
  if (falta("uiCRC")) r->uiCRC = ZelCrc64(r, kBytesCRCInicializacao);
}

}  // namespace

CZelCli::CZelCli(DWORD dwClsContext) : m_dwClsContext(dwClsContext) { Cria(); }

CZelCli::~CZelCli() { Libera(); }

void CZelCli::Cria() {
  Libera();
  m_hrCriacao = CoCreateInstance(CLSID_ZelDF_IEx, nullptr, m_dwClsContext, IID_IZelDF_IEx,
                                 reinterpret_cast<void**>(&m_pObjeto));
}

void CZelCli::Libera() {
  if (m_pObjeto != nullptr) m_pObjeto->Release();
  m_pObjeto = nullptr;
  m_hrCriacao = CO_E_OBJNOTCONNECTED;
}

bool CZelCli::Processa(const std::string& sLinha, std::string* pResposta) {
  try {
    json linha;
    try {
      linha = json::parse(sLinha);
    } catch (const json::exception& e) {
      throw ErroEntrada(std::string("JSON inv\xC3\xA1lido: ") + e.what());
    }
    if (!linha.is_object() || !linha.contains("metodo") || !linha["metodo"].is_string())
      throw ErroEntrada("falta \"metodo\"");
    const std::string& sMetodo = linha["metodo"].get_ref<const std::string&>();
    ojson saida = ojson::object();
    if (sMetodo == "Release" || sMetodo == "CoCreateInstance") {
      if (linha.size() != 1) throw ErroEntrada(sMetodo + " n\xC3\xA3o recebe par\xC3\xA2metros");
      if (sMetodo == "Release") {
        Libera();
        saida["hr"] = TextoHr(S_OK);
      } else {
        Cria();
        saida["hr"] = TextoHr(m_hrCriacao);
      }
      *pResposta = saida.dump();
      return true;
    }
    const ZelLocalInterface& d = ZelDescricaoIZelDF_IEx();
    const ZelLocalMetodo* m = d.Metodo(sMetodo);
    if (m == nullptr) throw ErroEntrada("m\xC3\xA9todo desconhecido \"" + sMetodo + "\"");
    for (const auto& item : linha.items()) {
      if (item.key() == "metodo") continue;
      bool bConhecido = false;
      for (const auto& par : m->parametros) bConhecido = bConhecido || item.key() == par.szNome;
      if (!bConhecido) throw ErroEntrada("par\xC3\xA2metro desconhecido \"" + item.key() + "\" de " + sMetodo);
    }

    Memoria mem;
    const auto& pars = m->parametros;
    std::vector<void*> ap(pars.size(), nullptr);
    // Values first (counts among them), then what points.
    for (size_t i = 0; i < pars.size(); ++i) {
      const ZelLocalParametro& par = pars[i];
      if (par.eForma != ZelLocalForma::Valor) continue;
      uint8_t* p = mem.Aloca(par.pTipo->ulTamanho);
      if (linha.contains(par.szNome)) LeValor(*par.pTipo, p, linha[par.szNome], mem, par.szNome);
      if (sMetodo == "Inicializa_Padrao") CompletaInicializacao(p, linha.contains(par.szNome) ? linha[par.szNome] : json());
      ap[i] = p;
    }
    for (size_t i = 0; i < pars.size(); ++i) {
      const ZelLocalParametro& par = pars[i];
      if (par.eForma == ZelLocalForma::Valor) continue;
      auto** pp = reinterpret_cast<uint8_t**>(mem.Aloca(sizeof(void*)));
      ap[i] = pp;
      bool bDado = linha.contains(par.szNome);
      const json* pv = bDado ? &linha[par.szNome] : nullptr;
      if (bDado && pv->is_null()) continue;  // a null pointer, as asked
      const ZelLocalTipo& t = *par.pTipo;
      switch (par.eForma) {
        case ZelLocalForma::Ponteiro:
          *pp = mem.Aloca(t.ulTamanho);
          if (bDado && par.Entra()) LeValor(t, *pp, *pv, mem, par.szNome);
          break;
        case ZelLocalForma::Array: {
          const ZelLocalParametro& cont = pars[static_cast<size_t>(par.iContagem)];
          if (par.Entra()) {
            if (!bDado) break;
            if (!pv->is_array()) throw ErroEntrada(std::string(par.szNome) + ": esperada uma lista");
            if (!linha.contains(cont.szNome)) {
              auto n = static_cast<uint32_t>(pv->size());
              std::memcpy(ap[static_cast<size_t>(par.iContagem)], &n, 4);
            }
            size_t n = std::max<size_t>(pv->size(), Valor32(ap, par.iContagem));
            VerificaTamanho(n, t, kZelLocalMaxQuadro, par.szNome);
            *pp = mem.Aloca(n * t.ulTamanho);
            for (size_t k = 0; k < pv->size(); ++k)
              LeValor(t, *pp + k * t.ulTamanho, (*pv)[k], mem, std::string(par.szNome) + "[" + std::to_string(k) + "]");
          } else {
            VerificaTamanho(Valor32(ap, par.iContagem), t, kZelLocalMaxSaidaChamada, par.szNome);
            *pp = mem.Aloca(size_t{Valor32(ap, par.iContagem)} * t.ulTamanho);
          }
          break;
        }
        case ZelLocalForma::PonteiroDuplo:
          break;  // the pointer variable itself, null until the call
        case ZelLocalForma::Valor:
          break;
      }
    }
    // PonteiroDuplo: ap[i] must address a pointer to the pointer variable.
    std::vector<uint8_t*> duplos(pars.size(), nullptr);
    for (size_t i = 0; i < pars.size(); ++i) {
      if (pars[i].eForma != ZelLocalForma::PonteiroDuplo) continue;
      bool bNulo = linha.contains(pars[i].szNome) && linha[pars[i].szNome].is_null();
      *static_cast<uint8_t***>(ap[i]) = bNulo ? nullptr : &duplos[i];
    }

    HRESULT hr = m_pObjeto == nullptr ? m_hrCriacao : d.pfInvoca(static_cast<IZelDF_IEx*>(m_pObjeto), m->usSlot, ap.data());
    saida["hr"] = TextoHr(hr);
    for (size_t i = 0; i < pars.size(); ++i) {
      const ZelLocalParametro& par = pars[i];
      if (!par.Sai()) continue;
      const ZelLocalTipo& t = *par.pTipo;
      uint8_t* p = *static_cast<uint8_t**>(ap[i]);
      if (par.eForma == ZelLocalForma::PonteiroDuplo) {
        uint8_t* q = p == nullptr ? nullptr : duplos[i];
        saida[par.szNome] = q == nullptr ? ojson(nullptr) : EscreveValor(t, q);
        if (q != nullptr) {
          LiberaArrays(t, q, mem);
          CoTaskMemFree(q);
        }
        continue;
      }
      if (p == nullptr) {
        saida[par.szNome] = nullptr;
        continue;
      }
      size_t n = par.eForma == ZelLocalForma::Array ? Valor32(ap, par.iContagem) : 1;
      if (par.eForma == ZelLocalForma::Array) {
        ojson l = ojson::array();
        for (size_t k = 0; k < n; ++k) l.push_back(EscreveValor(t, p + k * t.ulTamanho));
        saida[par.szNome] = std::move(l);
      } else {
        saida[par.szNome] = EscreveValor(t, p);
      }
      if (t.EhRegistro())
        for (size_t k = 0; k < n; ++k) LiberaArrays(t, p + k * t.ulTamanho, mem);
    }
    *pResposta = saida.dump();
    return true;
  } catch (const std::exception& e) {
    // Whatever went wrong stays with this line; the next ones are served.
    ojson o;
    o["erro"] = e.what();
    *pResposta = o.dump(-1, ' ', false, json::error_handler_t::replace);
    return false;
  }
}

int ZelCliExecuta(std::istream& entrada, std::ostream& saida, DWORD dwClsContext) {
  CZelCli cli(dwClsContext);
  bool bMalformada = false;
  std::string sLinha, sResposta;
  while (std::getline(entrada, sLinha)) {
    if (sLinha.find_first_not_of(" \t\r") == std::string::npos) continue;
    if (!cli.Processa(sLinha, &sResposta)) bMalformada = true;
    saida << sResposta << '\n' << std::flush;
  }
  return bMalformada ? 2 : 0;
}
