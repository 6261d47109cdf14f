#include "ZelRegistro.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "ZelArquivo.h"
#include "ZelCp1252.h"

namespace {

constexpr const char* kCabecalho = "Windows Registry Editor Version 5.00";
constexpr const char* kRaizMaquina = "HKEY_LOCAL_MACHINE";
constexpr const char* kRaizUsuario = "HKEY_CURRENT_USER";

// ---------------------------------------------------------------- model

enum class Tipo { Dword, Texto, Bruto };

struct Valor {
  std::string sNome;  // "" is the default value
  Tipo tipo = Tipo::Bruto;
  DWORD dw = 0;
  std::string sDados;  // the text, or for other types the data as written after '='
};

struct Chave {
  std::string sCaminho;  // with its root: "HKEY_LOCAL_MACHINE\SOFTWARE\..."
  std::vector<Valor> valores;

  Valor* AchaValor(std::string_view sNome) {
    for (Valor& v : valores)
      if (ZelNomesIguais(v.sNome, sNome)) return &v;
    return nullptr;
  }
  const Valor* AchaValor(std::string_view sNome) const { return const_cast<Chave*>(this)->AchaValor(sNome); }
};

// One parsed file. Keys keep the order of the file; the index maps the
// upper-cased path to the position.
struct ArquivoReg {
  std::vector<Chave> chaves;
  std::unordered_map<std::string, size_t> indice;

  const Chave* Acha(const std::string& sCaminho) const {
    auto it = indice.find(ZelMaiusculasNome(sCaminho));
    return it == indice.end() ? nullptr : &chaves[it->second];
  }
  Chave* Acha(const std::string& sCaminho) { return const_cast<Chave*>(std::as_const(*this).Acha(sCaminho)); }
  Chave& Obtem(const std::string& sCaminho) {
    auto [it, bNova] = indice.emplace(ZelMaiusculasNome(sCaminho), chaves.size());
    if (bNova) chaves.push_back(Chave{sCaminho, {}});
    return chaves[it->second];
  }
  // Keys below sCaminho exist even without a section of their own, as a file
  // imported on the original platform creates every parent.
  bool Existe(const std::string& sCaminho) const {
    if (Acha(sCaminho) != nullptr) return true;
    std::string prefixo = ZelMaiusculasNome(sCaminho) + "\\";
    for (const auto& [sChave, i] : indice)
      if (sChave.compare(0, prefixo.size(), prefixo) == 0) return true;
    return false;
  }
  // Removes the key and its subkeys; false when there was none.
  bool Remove(const std::string& sCaminho) {
    std::string sAlvo = ZelMaiusculasNome(sCaminho), sPrefixo = sAlvo + "\\";
    size_t nAntes = chaves.size();
    std::erase_if(chaves, [&](const Chave& c) {
      std::string s = ZelMaiusculasNome(c.sCaminho);
      return s == sAlvo || s.compare(0, sPrefixo.size(), sPrefixo) == 0;
    });
    Reindexa();
    return chaves.size() != nAntes;
  }
  void Reindexa() {
    indice.clear();
    for (size_t i = 0; i < chaves.size(); ++i) indice.emplace(ZelMaiusculasNome(chaves[i].sCaminho), i);
  }
};

// ---------------------------------------------------------------- text

std::string NormalizaChave(std::string_view s) {
  std::string r;
  size_t i = 0;
  while (i < s.size()) {
    size_t j = s.find('\\', i);
    if (j == std::string_view::npos) j = s.size();
    if (j > i) {
      if (!r.empty()) r += '\\';
      r.append(s.substr(i, j - i));
    }
    i = j + 1;
  }
  return r;
}

std::string Junta(const std::string& a, const std::string& b) { return b.empty() ? a : a + "\\" + b; }

// Section names as other tools write them: short roots, and HKEY_CLASSES_ROOT
// as the machine's classes it stands for.
std::string CanonizaSecao(std::string_view sNome) {
  std::string s = NormalizaChave(sNome);
  size_t p = s.find('\\');
  std::string raiz = s.substr(0, p), resto = p == std::string::npos ? "" : s.substr(p + 1);
  if (ZelNomesIguais(raiz, "HKLM") || ZelNomesIguais(raiz, kRaizMaquina)) return Junta(kRaizMaquina, resto);
  if (ZelNomesIguais(raiz, "HKCU") || ZelNomesIguais(raiz, kRaizUsuario)) return Junta(kRaizUsuario, resto);
  if (ZelNomesIguais(raiz, "HKCR") || ZelNomesIguais(raiz, "HKEY_CLASSES_ROOT"))
    return Junta(std::string(kRaizMaquina) + "\\SOFTWARE\\Classes", resto);
  return s;
}

// Code points of Windows-1252 0x80-0x9F (0 where the code page has none).
constexpr uint16_t kCp1252Alto[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char UnicodeParaCp1252(uint32_t u) {
  const int b = ZelUnicodeParaCp1252(u);
  return b < 0 ? '?' : static_cast<char>(b);
}

// Files saved by the original editor are UTF-16; ours are Windows-1252.
std::string DecodificaArquivo(std::string s) {
  if (s.size() >= 3 && s.compare(0, 3, "\xEF\xBB\xBF") == 0) return s.substr(3);
  if (s.size() < 2 || s.compare(0, 2, "\xFF\xFE") != 0) return s;
  std::string r;
  for (size_t i = 2; i + 1 < s.size(); i += 2)
    r += UnicodeParaCp1252(static_cast<uint16_t>(static_cast<unsigned char>(s[i]) |
                                                 (static_cast<unsigned char>(s[i + 1]) << 8)));
  return r;
}

bool ComecaSemCaixa(std::string_view s, std::string_view prefixo) {
  return s.size() >= prefixo.size() && ZelNomesIguais(s.substr(0, prefixo.size()), prefixo);
}

int ValorHex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes of "hex(n):xx,xx,\<newline>  xx"; false on anything else.
bool BytesHex(std::string_view s, std::vector<uint8_t>* pBytes) {
  for (size_t i = 0; i < s.size();) {
    char c = s[i];
    if (c == ',' || c == '\\' || c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++i;
      continue;
    }
    if (i + 1 >= s.size() || ValorHex(c) < 0 || ValorHex(s[i + 1]) < 0) return false;
    pBytes->push_back(static_cast<uint8_t>(ValorHex(c) * 16 + ValorHex(s[i + 1])));
    i += 2;
  }
  return true;
}

// Reads "..." at s[pos] with the \\ and \" escapes; a lone backslash stays.
bool LeAspas(std::string_view s, size_t& pos, std::string* pSaida) {
  if (pos >= s.size() || s[pos] != '"') return false;
  for (++pos; pos < s.size(); ++pos) {
    char c = s[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"')) c = s[++pos];
    *pSaida += c;
  }
  return false;
}

std::string Escapa(std::string_view s) {
  std::string r;
  for (char c : s) {
    if (c == '\\' || c == '"') r += '\\';
    r += c;
  }
  return r;
}

std::string RemoveCR(std::string_view s) {
  return std::string(!s.empty() && s.back() == '\r' ? s.substr(0, s.size() - 1) : s);
}

std::string_view AparaDireita(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

void AnalisaDados(std::string_view sDados, Valor* pValor) {
  if (!sDados.empty() && sDados[0] == '"') {
    size_t pos = 0;
    std::string s;
    if (LeAspas(sDados, pos, &s)) {
      pValor->tipo = Tipo::Texto;
      pValor->sDados = std::move(s);
      return;
    }
  } else if (ComecaSemCaixa(sDados, "dword:")) {
    std::string_view hex = AparaDireita(sDados.substr(6));
    bool bValido = !hex.empty() && hex.size() <= 8;
    DWORD dw = 0;
    for (char c : hex) {
      bValido = bValido && ValorHex(c) >= 0;
      dw = (dw << 4) | static_cast<DWORD>(std::max(ValorHex(c), 0));
    }
    if (bValido) {
      pValor->tipo = Tipo::Dword;
      pValor->dw = dw;
      return;
    }
  }
  pValor->tipo = Tipo::Bruto;
  pValor->sDados = std::string(sDados);
}

ArquivoReg Analisa(const std::string& sBruto) {
  std::string sTexto = DecodificaArquivo(sBruto);
  std::vector<std::string> linhas;
  for (size_t i = 0; i <= sTexto.size();) {
    size_t j = sTexto.find('\n', i);
    if (j == std::string::npos) j = sTexto.size();
    linhas.push_back(RemoveCR(std::string_view(sTexto).substr(i, j - i)));
    i = j + 1;
  }

  ArquivoReg a;
  size_t nAtual = SIZE_MAX;  // the section being read; none before the first
  for (size_t n = 0; n < linhas.size(); ++n) {
    std::string_view l = linhas[n];
    while (!l.empty() && (l[0] == ' ' || l[0] == '\t')) l.remove_prefix(1);
    if (l.empty() || l[0] == ';') continue;
    if (l[0] == '[') {
      size_t fim = l.rfind(']');
      std::string_view sNome = l.substr(1, fim == std::string_view::npos || fim == 0 ? std::string_view::npos : fim - 1);
      if (!sNome.empty() && sNome[0] == '-') {
        // A deletion section, as an import runs it: the key and its subkeys
        // read so far are gone, and what follows it belongs to no key.
        a.Remove(CanonizaSecao(sNome.substr(1)));
        nAtual = SIZE_MAX;
        continue;
      }
      nAtual = static_cast<size_t>(&a.Obtem(CanonizaSecao(sNome)) - a.chaves.data());
      continue;
    }
    if (nAtual == SIZE_MAX || (l[0] != '"' && l[0] != '@')) continue;

    Valor v;
    size_t pos = 0;
    if (l[0] == '@') {
      pos = 1;
    } else if (!LeAspas(l, pos, &v.sNome)) {
      continue;
    }
    while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t')) ++pos;
    if (pos >= l.size() || l[pos] != '=') continue;
    ++pos;
    while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t')) ++pos;
    std::string sDados(l.substr(pos));
    if (sDados.empty() || sDados[0] != '"') {
      // Binary data goes on over lines ending in a backslash.
      while (!AparaDireita(sDados).empty() && AparaDireita(sDados).back() == '\\' && n + 1 < linhas.size())
        sDados += "\n" + linhas[++n];
    }
    AnalisaDados(sDados, &v);
    Chave& c = a.chaves[nAtual];
    if (Valor* pExistente = c.AchaValor(v.sNome)) {
      *pExistente = std::move(v);
    } else {
      c.valores.push_back(std::move(v));
    }
  }
  return a;
}

std::string FormataValor(const Valor& v) {
  std::string s;
  if (v.sNome.empty()) {
    s = "@=";
  } else {
    s = "\"";
    s += Escapa(v.sNome);
    s += "\"=";
  }
  char sz[24];
  switch (v.tipo) {
    case Tipo::Dword:
      std::snprintf(sz, sizeof sz, "dword:%08x", v.dw);
      return s + sz;
    case Tipo::Texto:
      // Line ends cannot stand inside quotes; the editor's own form for them
      // is the string's UTF-16 bytes.
      if (v.sDados.find_first_of("\r\n") != std::string::npos) {
        s += "hex(1):";
        for (char c : v.sDados) {
          uint16_t u = ZelCp1252ParaUnicode(static_cast<unsigned char>(c));
          std::snprintf(sz, sizeof sz, "%02x,%02x,", u & 0xFF, u >> 8);
          s += sz;
        }
        return s + "00,00";
      }
      return s + "\"" + Escapa(v.sDados) + "\"";
    case Tipo::Bruto:
      break;
  }
  return s + v.sDados;
}

std::string Serializa(const ArquivoReg& a) {
  std::string s = std::string(kCabecalho) + "\n\n";
  for (const Chave& c : a.chaves) {
    s += "[" + c.sCaminho + "]\n";
    for (const Valor& v : c.valores) s += FormataValor(v) + "\n";
    s += "\n";
  }
  return s;
}

// Texts and DWORDs the editor wrote in hex form.
bool TextoDeBruto(const std::string& sDados, std::string* pTexto) {
  if (!ComecaSemCaixa(sDados, "hex(1):") && !ComecaSemCaixa(sDados, "hex(2):")) return false;
  std::vector<uint8_t> b;
  if (!BytesHex(std::string_view(sDados).substr(7), &b)) return false;
  pTexto->clear();
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    uint16_t u = static_cast<uint16_t>(b[i] | (b[i + 1] << 8));
    if (u == 0) break;
    *pTexto += UnicodeParaCp1252(u);
  }
  return true;
}

bool DwordDeBruto(const std::string& sDados, DWORD* pValor) {
  std::vector<uint8_t> b;
  if (!ComecaSemCaixa(sDados, "hex(4):") || !BytesHex(std::string_view(sDados).substr(7), &b) || b.size() != 4)
    return false;
  *pValor = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<DWORD>(b[3]) << 24);
  return true;
}

// ---------------------------------------------------------------- files

class Descritor {
 public:
  explicit Descritor(int fd = -1) : m_fd(fd) {}
  ~Descritor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Descritor(Descritor&& o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
  Descritor& operator=(Descritor&& o) noexcept {
    std::swap(m_fd, o.m_fd);
    return *this;
  }
  int get() const { return m_fd; }

 private:
  int m_fd;
};

// A parsed file and the identity of what was parsed. Holding the descriptor
// keeps the inode from being reused by a later rewrite, so an unchanged
// (device, inode, size, times) really is the same contents.
struct Cache {
  Descritor fd;
  struct stat st {};
  std::shared_ptr<const ArquivoReg> dados;
};

bool MesmoArquivo(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

std::mutex& MutexCache() {
  static std::mutex m;
  return m;
}
std::map<std::string, Cache>& Caches() {
  static std::map<std::string, Cache> m;
  return m;
}

const std::shared_ptr<const ArquivoReg>& Vazio() {
  static const std::shared_ptr<const ArquivoReg> p = std::make_shared<ArquivoReg>();
  return p;
}

void GuardaCache(const std::string& sArquivo, Cache c) {
  auto& caches = Caches();
  // Tests point the registry at many files; keep few descriptors.
  if (caches.size() >= 8 && caches.find(sArquivo) == caches.end()) caches.clear();
  caches[sArquivo] = std::move(c);
}

// The file as it stands now: one stat when nothing changed. *pErro gets
// ERROR_ACCESS_DENIED for a file that exists but cannot be read.
std::shared_ptr<const ArquivoReg> Carrega(const std::string& sArquivo, LONG* pErro = nullptr) {
  if (pErro != nullptr) *pErro = ERROR_SUCCESS;
  std::lock_guard<std::mutex> trava(MutexCache());
  auto& caches = Caches();
  struct stat st;
  if (::stat(sArquivo.c_str(), &st) != 0) {
    caches.erase(sArquivo);
    return Vazio();
  }
  auto it = caches.find(sArquivo);
  if (it != caches.end() && MesmoArquivo(it->second.st, st)) return it->second.dados;

  Cache c;
  c.fd = Descritor(::open(sArquivo.c_str(), O_RDONLY | O_CLOEXEC));
  if (c.fd.get() < 0 || ::fstat(c.fd.get(), &c.st) != 0) {
    if (pErro != nullptr && errno != ENOENT) *pErro = ERROR_ACCESS_DENIED;
    return Vazio();
  }
  std::string sBruto;
  char buf[8192];
  for (off_t pos = 0;;) {
    ssize_t n = ::pread(c.fd.get(), buf, sizeof buf, pos);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (pErro != nullptr) *pErro = ERROR_ACCESS_DENIED;
      return Vazio();
    }
    if (n == 0) break;
    sBruto.append(buf, static_cast<size_t>(n));
    pos += n;
  }
  c.dados = std::make_shared<const ArquivoReg>(Analisa(sBruto));
  auto dados = c.dados;
  GuardaCache(sArquivo, std::move(c));
  return dados;
}

LONG ErroGravacao(int nErrno) {
  return nErrno == EACCES || nErrno == EPERM || nErrno == EROFS ? ERROR_ACCESS_DENIED : ERROR_WRITE_FAULT;
}

LONG CriaDiretorios(const std::string& sArquivo) {
  for (size_t p = sArquivo.find('/', 1); p != std::string::npos; p = sArquivo.find('/', p + 1)) {
    std::string d = sArquivo.substr(0, p);
    if (d.back() != '/' && ::mkdir(d.c_str(), 0755) != 0 && errno != EEXIST) return ErroGravacao(errno);
  }
  return ERROR_SUCCESS;
}

// Changes the file under its side lock. The file is read again inside the
// lock, so a write another process or thread made meanwhile is kept; the new
// contents go to a temporary file renamed over the old one, so a reader sees
// the whole old file or the whole new one. fnAltera returns ERROR_SUCCESS
// and sets bMudou when there is something to write.
template <typename F>
LONG Altera(const std::string& sArquivo, F fnAltera) {
  LONG lErro = CriaDiretorios(sArquivo);
  if (lErro != ERROR_SUCCESS) return lErro;
  Descritor trava(::open((sArquivo + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (trava.get() < 0) return ErroGravacao(errno);
  int r;
  do r = ::flock(trava.get(), LOCK_EX);
  while (r != 0 && errno == EINTR);
  if (r != 0) return ERROR_WRITE_FAULT;

  auto atual = Carrega(sArquivo, &lErro);
  if (lErro != ERROR_SUCCESS) return lErro;
  auto novo = std::make_shared<ArquivoReg>(*atual);
  bool bMudou = false;
  lErro = fnAltera(*novo, bMudou);
  if (lErro != ERROR_SUCCESS || !bMudou) return lErro;

  std::string sTexto = Serializa(*novo);
  std::string sTemp = sArquivo + ".XXXXXX";
  Cache c;
  c.fd = Descritor(::mkostemp(sTemp.data(), O_CLOEXEC));
  if (c.fd.get() < 0) return ErroGravacao(errno);
  struct stat stVelho;
  mode_t modo = ::stat(sArquivo.c_str(), &stVelho) == 0 ? (stVelho.st_mode & 0777) : 0644;
  bool bOk = ::fchmod(c.fd.get(), modo) == 0;
  for (size_t feito = 0; bOk && feito < sTexto.size();) {
    ssize_t n = ::write(c.fd.get(), sTexto.data() + feito, sTexto.size() - feito);
    if (n < 0 && errno == EINTR) continue;
    bOk = n > 0;
    if (bOk) feito += static_cast<size_t>(n);
  }
  bOk = bOk && ::fsync(c.fd.get()) == 0 && ::rename(sTemp.c_str(), sArquivo.c_str()) == 0;
  if (!bOk) {
    lErro = ErroGravacao(errno);
    ::unlink(sTemp.c_str());
    return lErro;
  }
  // What we wrote is what the next read would parse: keep it, with the
  // file's state after the rename, which changed its ctime.
  if (::fstat(c.fd.get(), &c.st) != 0) return ERROR_SUCCESS;
  c.dados = std::move(novo);
  std::lock_guard<std::mutex> travaCache(MutexCache());
  GuardaCache(sArquivo, std::move(c));
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- roots

struct Local {
  std::string sArquivo;
  std::string sCaminho;  // the key's section name in that file
};

std::string Ambiente(const char* sNome) {
  const char* sz = std::getenv(sNome);
  return sz != nullptr ? sz : "";
}

std::string DiretorioPessoal() {
  std::string s = Ambiente("HOME");
  if (!s.empty()) return s;
  struct passwd pw, *p = nullptr;
  char buf[4096];
  if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &p) == 0 && p != nullptr && p->pw_dir != nullptr) return p->pw_dir;
  return "/";
}

// HKEY_CLASSES_ROOT in lookup order: the user's classes, then the machine's.
std::vector<Local> LocaisLeitura(HKEY raiz, const std::string& sChave) {
  std::string c = NormalizaChave(sChave);
  switch (raiz) {
    case HKEY::LocalMachine: return {{ZelArquivoRegistro(raiz), Junta(kRaizMaquina, c)}};
    case HKEY::CurrentUser: return {{ZelArquivoRegistro(raiz), Junta(kRaizUsuario, c)}};
    case HKEY::ClassesRoot: break;
  }
  return {{ZelArquivoRegistro(HKEY_CURRENT_USER), Junta(std::string(kRaizUsuario) + "\\Software\\Classes", c)},
          {ZelArquivoRegistro(HKEY_LOCAL_MACHINE), Junta(std::string(kRaizMaquina) + "\\SOFTWARE\\Classes", c)}};
}

Local LocalGravacao(HKEY raiz, const std::string& sChave) { return LocaisLeitura(raiz, sChave).back(); }

// The value as the first root that holds it has it.
const Valor* AchaValor(HKEY raiz, const std::string& sChave, const std::string& sNome,
                       std::shared_ptr<const ArquivoReg>* pGuarda) {
  for (const Local& l : LocaisLeitura(raiz, sChave)) {
    *pGuarda = Carrega(l.sArquivo);
    const Chave* c = (*pGuarda)->Acha(l.sCaminho);
    if (const Valor* v = c != nullptr ? c->AchaValor(sNome) : nullptr) return v;
  }
  return nullptr;
}

void AcrescentaSemRepetir(std::vector<std::string>* pLista, const std::string& s) {
  for (const std::string& x : *pLista)
    if (ZelNomesIguais(x, s)) return;
  pLista->push_back(s);
}

LONG GravaValor(HKEY raiz, const std::string& sChave, Valor v) {
  Local l = LocalGravacao(raiz, sChave);
  return Altera(l.sArquivo, [&](ArquivoReg& a, bool& bMudou) {
    Chave& c = a.Obtem(l.sCaminho);
    bMudou = true;
    if (Valor* p = c.AchaValor(v.sNome)) {
      bMudou = p->tipo != v.tipo || p->dw != v.dw || p->sDados != v.sDados;
      v.sNome = p->sNome;  // the name keeps the spelling it has
      *p = std::move(v);
    } else {
      c.valores.push_back(std::move(v));
    }
    return ERROR_SUCCESS;
  });
}

}  // namespace

uint16_t ZelCp1252ParaUnicode(unsigned char c) {
  if (c >= 0x80 && c < 0xA0 && kCp1252Alto[c - 0x80] != 0) return kCp1252Alto[c - 0x80];
  return c;
}

int ZelUnicodeParaCp1252(uint32_t u) {
  for (unsigned i = 0; i < 32; ++i)
    if (kCp1252Alto[i] == u && u != 0) return static_cast<int>(0x80 + i);
  // The C1 controls have bytes of their own only where the code page leaves a hole.
  if (u >= 0x80 && u < 0xA0) return kCp1252Alto[u - 0x80] == 0 ? static_cast<int>(u) : -1;
  return u < 0x100 ? static_cast<int>(u) : -1;
}

std::string ZelArquivoRegistro(HKEY raiz) {
  if (raiz == HKEY::CurrentUser) {
    std::string s = Ambiente("ZEL_REGISTRO_USUARIO");
    if (!s.empty()) return s;
    std::string sConfig = Ambiente("XDG_CONFIG_HOME");
    if (sConfig.empty()) sConfig = DiretorioPessoal() + "/.config";
    return sConfig + "/zel/usuario.reg";
  }
  std::string s = Ambiente("ZEL_REGISTRO_MAQUINA");
  return s.empty() ? "/etc/zel/maquina.reg" : s;
}

namespace ZelRegistro {

LONG ExisteChave(HKEY raiz, const std::string& chave) {
  for (const Local& l : LocaisLeitura(raiz, chave))
    if (Carrega(l.sArquivo)->Existe(l.sCaminho)) return ERROR_SUCCESS;
  return NormalizaChave(chave).empty() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG LeDWORD(HKEY raiz, const std::string& chave, const std::string& nome, DWORD* pValor) {
  if (pValor == nullptr) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<const ArquivoReg> guarda;
  const Valor* v = AchaValor(raiz, chave, nome, &guarda);
  if (v == nullptr) return ERROR_FILE_NOT_FOUND;
  if (v->tipo == Tipo::Dword) {
    *pValor = v->dw;
    return ERROR_SUCCESS;
  }
  return v->tipo == Tipo::Bruto && DwordDeBruto(v->sDados, pValor) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

LONG LeTexto(HKEY raiz, const std::string& chave, const std::string& nome, std::string* pValor) {
  if (pValor == nullptr) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<const ArquivoReg> guarda;
  const Valor* v = AchaValor(raiz, chave, nome, &guarda);
  if (v == nullptr) return ERROR_FILE_NOT_FOUND;
  if (v->tipo == Tipo::Texto) {
    *pValor = v->sDados;
    return ERROR_SUCCESS;
  }
  return v->tipo == Tipo::Bruto && TextoDeBruto(v->sDados, pValor) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

LONG CriaChave(HKEY raiz, const std::string& chave) {
  Local l = LocalGravacao(raiz, chave);
  return Altera(l.sArquivo, [&](ArquivoReg& a, bool& bMudou) {
    bMudou = !a.Existe(l.sCaminho);
    if (bMudou) a.Obtem(l.sCaminho);
    return ERROR_SUCCESS;
  });
}

LONG GravaDWORD(HKEY raiz, const std::string& chave, const std::string& nome, DWORD valor) {
  return GravaValor(raiz, chave, Valor{nome, Tipo::Dword, valor, {}});
}

LONG GravaTexto(HKEY raiz, const std::string& chave, const std::string& nome, const std::string& valor) {
  return GravaValor(raiz, chave, Valor{nome, Tipo::Texto, 0, valor});
}

LONG ExcluiValor(HKEY raiz, const std::string& chave, const std::string& nome) {
  Local l = LocalGravacao(raiz, chave);
  return Altera(l.sArquivo, [&](ArquivoReg& a, bool& bMudou) {
    Chave* c = a.Acha(l.sCaminho);
    const Valor* v = c != nullptr ? c->AchaValor(nome) : nullptr;
    if (v == nullptr) return ERROR_FILE_NOT_FOUND;
    c->valores.erase(c->valores.begin() + (v - c->valores.data()));
    bMudou = true;
    return ERROR_SUCCESS;
  });
}

LONG ExcluiChave(HKEY raiz, const std::string& chave) {
  if (NormalizaChave(chave).empty()) return ERROR_ACCESS_DENIED;  // never a whole root
  Local l = LocalGravacao(raiz, chave);
  return Altera(l.sArquivo, [&](ArquivoReg& a, bool& bMudou) {
    bMudou = a.Remove(l.sCaminho);
    return bMudou ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

std::vector<std::string> ListaSubchaves(HKEY raiz, const std::string& chave) {
  std::vector<std::string> nomes;
  for (const Local& l : LocaisLeitura(raiz, chave)) {
    auto a = Carrega(l.sArquivo);
    std::string sPrefixo = ZelMaiusculasNome(l.sCaminho) + "\\";
    for (const Chave& c : a->chaves) {
      // Upper-casing keeps byte positions, so the spelling is cut where the match ends.
      if (ZelMaiusculasNome(c.sCaminho).compare(0, sPrefixo.size(), sPrefixo) != 0) continue;
      std::string sResto = c.sCaminho.substr(sPrefixo.size());
      AcrescentaSemRepetir(&nomes, sResto.substr(0, sResto.find('\\')));
    }
  }
  std::sort(nomes.begin(), nomes.end(), [](const std::string& x, const std::string& y) {
    return ZelMaiusculasNome(x) < ZelMaiusculasNome(y);
  });
  return nomes;
}

std::vector<std::string> ListaValores(HKEY raiz, const std::string& chave) {
  std::vector<std::string> nomes;
  for (const Local& l : LocaisLeitura(raiz, chave)) {
    auto a = Carrega(l.sArquivo);
    if (const Chave* c = a->Acha(l.sCaminho))
      for (const Valor& v : c->valores) AcrescentaSemRepetir(&nomes, v.sNome);
  }
  return nomes;
}

}  // namespace ZelRegistro

DWORD ZelLeChaveZel(const std::string& nome) {
  DWORD dw = 0;
  return ZelRegistro::LeDWORD(HKEY_LOCAL_MACHINE, kChaveZelSistemas, nome, &dw) == ERROR_SUCCESS ? dw : 0;
}

std::string ZelLeTextoZel(const std::string& nome) {
  std::string s;
  return ZelRegistro::LeTexto(HKEY_LOCAL_MACHINE, kChaveZelSistemas, nome, &s) == ERROR_SUCCESS ? s : std::string();
}

std::string ZelTextoCp1252(const wchar_t* wsz) {
  std::string s;
  if (wsz == nullptr) return s;
  for (; *wsz != L'\0'; ++wsz) s += UnicodeParaCp1252(static_cast<uint32_t>(*wsz));
  return s;
}
