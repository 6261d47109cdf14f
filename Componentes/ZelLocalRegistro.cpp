#include "ZelLocalRegistro.h"

#include <cctype>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ZelRegistro.h"

namespace {

bool IguaisSemCaixa(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return i == a.size() && b[i] == '\0';
}

struct Token {
  std::string s;
  bool bAspas = false;
};

struct NoValor {
  std::string sNome;
  bool bDword = false;
  std::string sTexto;
};

struct NoChave {
  enum Marca { Nenhuma, NoRemove, ForceRemove, Delete } eMarca = Nenhuma;
  std::string sNome;
  bool bTemPadrao = false;
  NoValor padrao;
  std::vector<NoValor> valores;
  std::vector<std::unique_ptr<NoChave>> filhas;
};

class Analisador {
 public:
  explicit Analisador(std::vector<Token> t) : m_t(std::move(t)) {}

  // Root blocks: (root, keys).
  bool Analisa(std::vector<std::pair<std::string, std::vector<std::unique_ptr<NoChave>>>>* pRaizes) {
    while (m_i < m_t.size()) {
      std::string sRaiz = m_t[m_i++].s;
      std::vector<std::unique_ptr<NoChave>> chaves;
      if (!Simbolo("{") || !Bloco(&chaves, nullptr)) return false;
      pRaizes->emplace_back(sRaiz, std::move(chaves));
    }
    return true;
  }

 private:
  bool Simbolo(const char* sz) {
    if (m_i < m_t.size() && !m_t[m_i].bAspas && m_t[m_i].s == sz) {
      ++m_i;
      return true;
    }
    return false;
  }
  bool Valor(NoValor* v) {
    if (m_i + 1 >= m_t.size()) return false;
    std::string sTipo = m_t[m_i++].s;
    if (IguaisSemCaixa(sTipo, "s")) {
      v->bDword = false;
    } else if (IguaisSemCaixa(sTipo, "d")) {
      v->bDword = true;
    } else {
      return false;
    }
    v->sTexto = m_t[m_i++].s;
    if (v->bDword) {
      if (v->sTexto.empty()) return false;
      char* fim = nullptr;
      std::strtoul(v->sTexto.c_str(), &fim, 0);
      if (*fim != '\0') return false;
    }
    return true;
  }
  // Until the closing brace; pChave receives "val" entries (null at root).
  bool Bloco(std::vector<std::unique_ptr<NoChave>>* pFilhas, NoChave* pChave) {
    for (;;) {
      if (m_i >= m_t.size()) return false;
      if (Simbolo("}")) return true;
      if (!m_t[m_i].bAspas && IguaisSemCaixa(m_t[m_i].s, "val") && pChave != nullptr) {
        ++m_i;
        if (m_i >= m_t.size()) return false;
        NoValor v;
        v.sNome = m_t[m_i++].s;
        if (!Simbolo("=") || !Valor(&v)) return false;
        pChave->valores.push_back(std::move(v));
        continue;
      }
      auto c = std::make_unique<NoChave>();
      if (!m_t[m_i].bAspas) {
        if (IguaisSemCaixa(m_t[m_i].s, "NoRemove")) c->eMarca = NoChave::NoRemove;
        if (IguaisSemCaixa(m_t[m_i].s, "ForceRemove")) c->eMarca = NoChave::ForceRemove;
        if (IguaisSemCaixa(m_t[m_i].s, "Delete")) c->eMarca = NoChave::Delete;
        if (c->eMarca != NoChave::Nenhuma) ++m_i;
      }
      if (m_i >= m_t.size() || (!m_t[m_i].bAspas && (m_t[m_i].s == "{" || m_t[m_i].s == "}" || m_t[m_i].s == "=")))
        return false;
      c->sNome = m_t[m_i++].s;
      if (Simbolo("=")) {
        c->bTemPadrao = true;
        if (!Valor(&c->padrao)) return false;
      }
      if (Simbolo("{") && !Bloco(&c->filhas, c.get())) return false;
      pFilhas->push_back(std::move(c));
    }
  }

  std::vector<Token> m_t;
  size_t m_i = 0;
};

bool Tokeniza(const std::string& s, const std::map<std::string, std::string>& subst, std::vector<Token>* pTokens) {
  // Replacements first, as the registrar does, so that a replaced value may
  // hold spaces inside its quotes.
  std::string t;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      t += s[i];
      continue;
    }
    size_t f = s.find('%', i + 1);
    if (f == std::string::npos) return false;
    std::string sNome = s.substr(i + 1, f - i - 1);
    if (sNome.empty()) {
      t += '%';
    } else {
      auto it = subst.find(sNome);
      if (it == subst.end()) return false;
      t += it->second;
    }
    i = f;
  }
  for (size_t i = 0; i < t.size();) {
    unsigned char c = static_cast<unsigned char>(t[i]);
    if (std::isspace(c)) {
      ++i;
    } else if (c == '\'') {
      Token tok;
      tok.bAspas = true;
      ++i;
      for (;;) {
        if (i >= t.size()) return false;
        if (t[i] == '\'') {
          if (i + 1 < t.size() && t[i + 1] == '\'') {
            tok.s += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        tok.s += t[i++];
      }
      pTokens->push_back(std::move(tok));
    } else {
      Token tok;
      while (i < t.size() && !std::isspace(static_cast<unsigned char>(t[i])) && t[i] != '\'') {
        // '=' stands alone even when written against a name.
        if (t[i] == '=' && !tok.s.empty()) break;
        tok.s += t[i++];
        if (tok.s == "=") break;
      }
      pTokens->push_back(std::move(tok));
    }
  }
  return true;
}

HRESULT DeRegistro(LONG l) { return l == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(l); }

struct Destino {
  HKEY raiz;
  std::string sBase;  // key prefix under the root, ending in '\' or empty
};

class Executor {
 public:
  explicit Executor(Destino d) : m_d(std::move(d)) {}

  HRESULT Registra(const NoChave& c, const std::string& sPai) {
    std::string sChave = sPai + c.sNome;
    if (c.eMarca == NoChave::Delete) return Apaga(sChave);
    if (c.eMarca == NoChave::ForceRemove) {
      HRESULT hr = Apaga(sChave);
      if (FAILED(hr)) return hr;
    }
    HRESULT hr = DeRegistro(ZelRegistro::CriaChave(m_d.raiz, Caminho(sChave)));
    if (SUCCEEDED(hr) && c.bTemPadrao) hr = GravaValor(sChave, "", c.padrao);
    for (size_t i = 0; SUCCEEDED(hr) && i < c.valores.size(); ++i) hr = GravaValor(sChave, c.valores[i].sNome, c.valores[i]);
    for (size_t i = 0; SUCCEEDED(hr) && i < c.filhas.size(); ++i) hr = Registra(*c.filhas[i], sChave + "\\");
    return hr;
  }

  HRESULT Desregistra(const NoChave& c, const std::string& sPai) {
    std::string sChave = sPai + c.sNome;
    if (ZelRegistro::ExisteChave(m_d.raiz, Caminho(sChave)) != ERROR_SUCCESS) return S_OK;
    if (c.eMarca == NoChave::ForceRemove || c.eMarca == NoChave::Delete) return Apaga(sChave);
    for (const auto& f : c.filhas) {
      HRESULT hr = Desregistra(*f, sChave + "\\");
      if (FAILED(hr)) return hr;
    }
    if (c.eMarca == NoChave::NoRemove) {
      for (const auto& v : c.valores) {
        LONG l = ZelRegistro::ExcluiValor(m_d.raiz, Caminho(sChave), v.sNome);
        if (l != ERROR_SUCCESS && l != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(l);
      }
      return S_OK;
    }
    // Keys that others added under it keep it alive.
    if (!ZelRegistro::ListaSubchaves(m_d.raiz, Caminho(sChave)).empty()) return S_OK;
    return Apaga(sChave);
  }

 private:
  std::string Caminho(const std::string& sChave) const { return m_d.sBase + sChave; }
  HRESULT Apaga(const std::string& sChave) {
    LONG l = ZelRegistro::ExcluiChave(m_d.raiz, Caminho(sChave));
    return l == ERROR_FILE_NOT_FOUND ? S_OK : DeRegistro(l);
  }
  HRESULT GravaValor(const std::string& sChave, const std::string& sNome, const NoValor& v) {
    if (v.bDword)
      return DeRegistro(ZelRegistro::GravaDWORD(m_d.raiz, Caminho(sChave), sNome,
                                                static_cast<DWORD>(std::strtoul(v.sTexto.c_str(), nullptr, 0))));
    return DeRegistro(ZelRegistro::GravaTexto(m_d.raiz, Caminho(sChave), sNome, v.sTexto));
  }

  Destino m_d;
};

bool DestinoDaRaiz(const std::string& sRaiz, bool bPorUsuario, Destino* pDestino) {
  if (IguaisSemCaixa(sRaiz, "HKCR") || IguaisSemCaixa(sRaiz, "HKEY_CLASSES_ROOT")) {
    // The registering file's own view, not the merged one, decides what is left.
    *pDestino = bPorUsuario ? Destino{HKEY_CURRENT_USER, "Software\\Classes\\"}
                            : Destino{HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\"};
    return true;
  }
  if (IguaisSemCaixa(sRaiz, "HKCU") || IguaisSemCaixa(sRaiz, "HKEY_CURRENT_USER")) {
    *pDestino = {HKEY_CURRENT_USER, ""};
    return true;
  }
  if (IguaisSemCaixa(sRaiz, "HKLM") || IguaisSemCaixa(sRaiz, "HKEY_LOCAL_MACHINE")) {
    *pDestino = {HKEY_LOCAL_MACHINE, ""};
    return true;
  }
  return false;
}

}  // namespace

HRESULT CZelLocalRegistrador::Executa(const std::string& sScript, bool bRegistra) const {
  std::vector<Token> tokens;
  if (!Tokeniza(sScript, m_substituicoes, &tokens)) return E_INVALIDARG;
  std::vector<std::pair<std::string, std::vector<std::unique_ptr<NoChave>>>> raizes;
  if (!Analisador(std::move(tokens)).Analisa(&raizes)) return E_INVALIDARG;
  std::vector<Destino> destinos;
  for (const auto& [sRaiz, chaves] : raizes) {
    Destino d;
    if (!DestinoDaRaiz(sRaiz, m_bPorUsuario, &d)) return E_INVALIDARG;
    destinos.push_back(d);
  }
  for (size_t i = 0; i < raizes.size(); ++i) {
    Executor ex(destinos[i]);
    for (const auto& c : raizes[i].second) {
      HRESULT hr = bRegistra ? ex.Registra(*c, "") : ex.Desregistra(*c, "");
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

ZelLocalComando ZelLocalPalavraComando(const std::string& s) {
  static const std::pair<const char*, ZelLocalComando> kPalavras[] = {
      {"RegServer", ZelLocalComando::RegServer},
      {"UnregServer", ZelLocalComando::UnregServer},
      {"RegServerPerUser", ZelLocalComando::RegServerPerUser},
      {"UnregServerPerUser", ZelLocalComando::UnregServerPerUser},
  };
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '-' && s[i] != '/') continue;
    size_t f = i + 1;
    while (f < s.size() && !std::isspace(static_cast<unsigned char>(s[f]))) ++f;
    std::string sPalavra = s.substr(i + 1, f - i - 1);
    for (const auto& [sz, e] : kPalavras)
      if (IguaisSemCaixa(sPalavra, sz)) return e;
  }
  return ZelLocalComando::Nenhum;
}

ZelLocalComando ZelLocalPalavraComando(int argc, const char* const* argv) {
  std::string s;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) s += ' ';
    s += argv[i];
  }
  return ZelLocalPalavraComando(s);
}
