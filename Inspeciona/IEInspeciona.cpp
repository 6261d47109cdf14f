#include "IEInspeciona.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <ostream>
#include <utility>

#include "IExBase.h"
#include "Pardak.h"
#include "ZelArqEx.h"
#include "ZelArquivo.h"
#include "ZelCli.h"
#include "ZelPath.h"

namespace {
using ojson = nlohmann::ordered_json;

// The tool's answer to a request it cannot serve.
struct CErroInspecao {
  std::string sMensagem;
};

// The engine's link file: no record 0, its first record is position 1.
constexpr const char* kArquivoVinculos = "DFIEVINC.dat";

std::string NomeDat(const std::string& sBase) { return sBase + kExtensaoIE; }
std::string NomeValores(int eProcesso) { return NomeDat(IEGetNomeBaseProcesso(eProcesso)); }
std::string NomeTextos(int eProcesso) { return NomeDat(std::string(IEGetNomeBaseProcesso(eProcesso)) + "Text"); }

// One file as read: absent, or all its bytes.
struct CArquivo {
  std::string sNome;
  bool bExiste = false;
  std::string sBytes;
};

// A reading open takes no lock, so servers go on writing meanwhile; a record
// being appended at that moment may show as a partial one at the end.
CArquivo LeArquivo(const std::string& sDiretorio, const std::string& sNome, LONG lTamanhoRegistro) {
  CArquivo a{sNome, false, {}};
  CZelArqEx arq;
  int iRetorno = arq.Abre(CZelPath::Junta(sDiretorio, sNome), 'L', lTamanhoRegistro, 0, TRUE);
  if (iRetorno == ZELARQ_NAO_ENCONTRADO) return a;
  ULONGLONG ullTamanho = 0;
  if (iRetorno == ZELARQ_OK) {
    ullTamanho = arq.GetTamanhoArquivo();
    if (ullTamanho > static_cast<ULONGLONG>(LONG_MAX)) throw CErroInspecao{sNome + ": file too large to inspect"};
    a.sBytes.resize(static_cast<size_t>(ullTamanho));
    if (ullTamanho != 0) iRetorno = arq.LeTudo(static_cast<LONG>(ullTamanho), a.sBytes.data(), false);
  }
  if (iRetorno != ZELARQ_OK)
    throw CErroInspecao{sNome + ": cannot be read (data-file code " + std::to_string(iRetorno) + ")"};
  a.bExiste = true;
  return a;
}

// The whole records of a file, record 0 left out where the file has one.
template <class T>
std::vector<T> Registros(const CArquivo& a, bool bRegistroZero) {
  const size_t nPulo = bRegistroZero ? sizeof(T) : 0;
  std::vector<T> aRegs;
  if (a.sBytes.size() <= nPulo) return aRegs;
  aRegs.resize((a.sBytes.size() - nPulo) / sizeof(T));
  std::memcpy(aRegs.data(), a.sBytes.data() + nPulo, aRegs.size() * sizeof(T));
  return aRegs;
}

// A run of nQtd records from position ulPtr (1-based) among nRegistros.
bool RunDentro(UI4 ulPtr, UI4 nQtd, size_t nRegistros) {
  return nQtd == 0 || (ulPtr >= 1 && uint64_t{ulPtr} - 1 + nQtd <= nRegistros);
}

// The records of a run that lie in the file, with their positions.
template <class T>
std::vector<std::pair<UI4, T>> RegistrosDoRun(const std::vector<T>& aRegs, UI4 ulPtr, UI4 nQtd) {
  std::vector<std::pair<UI4, T>> a;
  for (UI4 i = 0; i < nQtd && ulPtr != 0 && uint64_t{ulPtr} + i <= aRegs.size(); ++i)
    a.emplace_back(ulPtr + i, aRegs[ulPtr + i - 1]);
  return a;
}

std::string Run(UI4 ulPtr, UI4 nQtd) {
  return "records " + std::to_string(ulPtr) + " to " + std::to_string(uint64_t{ulPtr} + nQtd - 1);
}

bool CampoTexto(I4 id) {
  IE_E_CAMPO e = static_cast<IE_E_CAMPO>(id);
  return IEAlteraCampoParaPrimeiro(e) && e == IE_CAMPO_LIVRE_TEXTO_0;
}

struct CLugarTexto {
  UI4 ulOffset;
  UI2 usTamanho;
};
CLugarTexto LugarTexto(const IE_CAMPO_DATA_ARQ_V2& reg) {
  CLugarTexto l{};
  std::memcpy(&l.ulOffset, reg.BinaryData, 4);
  std::memcpy(&l.usTamanho, reg.BinaryData + 4, 2);
  return l;
}

std::string NomeProcesso(UI4 eProcesso) {
  return eProcesso < IE_PROCESSO_COUNT ? IEGetNomeProcesso(static_cast<IE_E_PROCESSO>(eProcesso)) : "?";
}

// The stamp's day count starts on 30 December 1899; "" for no stamp.
std::string TextoCarimbo(UI8 ullCarimbo) {
  const int64_t llSegundos = IECarimboComSinal(ullCarimbo);
  if (llSegundos <= 0) return {};
  int64_t z = llSegundos / 86400 - 25569 + 719468;  // days since 1 March of year 0
  const int64_t llDia = llSegundos % 86400;
  const int64_t era = z / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char sz[96];
  std::snprintf(sz, sizeof sz, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(y),
                static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(llDia / 3600),
                static_cast<long long>(llDia / 60 % 60), static_cast<long long>(llDia % 60));
  return sz;
}

std::string Nome(const char* sz, size_t nMax) { return ZelCp1252ParaUtf8(std::string(sz, strnlen(sz, nMax))); }

// A company's Vovi Dadi files, read once; the value files on first need.
class CEmpresaVovi {
 public:
  explicit CEmpresaVovi(std::string sDiretorio) : m_sDiretorio(std::move(sDiretorio)) {
    m_Hdr = LeArquivo(m_sDiretorio, NomeDat(IE_HDR_ARQ_V0::kNomeArquivo), sizeof(IE_HDR_ARQ_V0));
    m_Cmp = LeArquivo(m_sDiretorio, NomeDat(IE_CAMPO_ARQ_V2::kNomeArquivo), sizeof(IE_CAMPO_ARQ_V2));
    m_Usu = LeArquivo(m_sDiretorio, NomeDat(IE_USUARIO_ARQ_V0::kNomeArquivo), sizeof(IE_USUARIO_ARQ_V0));
    m_Vinc = LeArquivo(m_sDiretorio, kArquivoVinculos, sizeof(IE_VINCULO_ARQ_V0));
    m_IntCab = LeArquivo(m_sDiretorio, NomeDat(REG_IE_CABECALHO_INTEGRACAO_ARQ::kNomeArquivo),
                         sizeof(REG_IE_CABECALHO_INTEGRACAO_ARQ));
    m_IntVinc = LeArquivo(m_sDiretorio, NomeDat(REG_IE_VINCULO_INTEGRACAO_ARQ::kNomeArquivo),
                          sizeof(REG_IE_VINCULO_INTEGRACAO_ARQ));
    aHeaders = Registros<IE_HDR_ARQ_V0>(m_Hdr, true);
    aCampos = Registros<IE_CAMPO_ARQ_V2>(m_Cmp, true);
    aUsuarios = Registros<IE_USUARIO_ARQ_V0>(m_Usu, true);
    aVinculos = Registros<IE_VINCULO_ARQ_V0>(m_Vinc, false);
    aIntegracoes = Registros<REG_IE_CABECALHO_INTEGRACAO_ARQ>(m_IntCab, true);
    aVinculosIntegracao = Registros<REG_IE_VINCULO_INTEGRACAO_ARQ>(m_IntVinc, true);
  }

  // None of the company-wide files: likely the wrong directory, or a company never started.
  bool SemArquivos() const {
    return !m_Hdr.bExiste && !m_Cmp.bExiste && !m_Usu.bExiste && !m_Vinc.bExiste && !m_IntCab.bExiste &&
           !m_IntVinc.bExiste;
  }

  struct CValores {
    CArquivo dados;
    CArquivo textos;
    std::vector<IE_CAMPO_DATA_ARQ_V2> aRegs;
  };
  const CValores& Valores(int eProcesso) {
    auto it = m_mValores.find(eProcesso);
    if (it != m_mValores.end()) return it->second;
    CValores v;
    v.dados = LeArquivo(m_sDiretorio, NomeValores(eProcesso), sizeof(IE_CAMPO_DATA_ARQ_V2));
    v.textos = LeArquivo(m_sDiretorio, NomeTextos(eProcesso), 1);
    v.aRegs = Registros<IE_CAMPO_DATA_ARQ_V2>(v.dados, true);
    return m_mValores.emplace(eProcesso, std::move(v)).first->second;
  }

  // The header's fields that lie in the field file.
  std::vector<std::pair<UI4, IE_CAMPO_ARQ_V2>> CamposDe(const IE_HDR_ARQ_V0& h) const {
    return RegistrosDoRun(aCampos, h.iPtrCampos, h.nQtdCampos);
  }

  // The header the service takes for a process: the first live one, else the
  // deleted one written last; 0 when there is none.
  UI4 HeaderDoProcesso(UI4 eProcesso) const {
    UI4 ulExcluido = 0;
    int64_t llCarimbo = 0;
    for (UI4 i = 0; i < aHeaders.size(); ++i) {
      if (aHeaders[i].eProcesso != eProcesso) continue;
      if ((aHeaders[i].dwFlags & 1) == 0) return i + 1;
      const int64_t ll = IECarimboComSinal(aHeaders[i].ullCarimbo);
      if (ll > llCarimbo) llCarimbo = ll, ulExcluido = i + 1;
    }
    return ulExcluido;
  }

  const std::string m_sDiretorio;
  CArquivo m_Hdr, m_Cmp, m_Usu, m_Vinc, m_IntCab, m_IntVinc;
  std::vector<IE_HDR_ARQ_V0> aHeaders;
  std::vector<IE_CAMPO_ARQ_V2> aCampos;
  std::vector<IE_USUARIO_ARQ_V0> aUsuarios;
  std::vector<IE_VINCULO_ARQ_V0> aVinculos;
  std::vector<REG_IE_CABECALHO_INTEGRACAO_ARQ> aIntegracoes;
  std::vector<REG_IE_VINCULO_INTEGRACAO_ARQ> aVinculosIntegracao;

 private:
  std::map<int, CValores> m_mValores;
};

std::vector<ojson> ListaCabecalhos(CEmpresaVovi& e) {
  std::vector<ojson> a;
  for (UI4 i = 0; i < e.aHeaders.size(); ++i) {
    const IE_HDR_ARQ_V0& h = e.aHeaders[i];
    ojson o;
    o["posicao"] = i + 1;
    o["processo"] = h.eProcesso;
    o["nome_processo"] = NomeProcesso(h.eProcesso);
    o["flags"] = h.dwFlags;
    o["excluido"] = (h.dwFlags & 1) != 0;
    o["carimbo"] = TextoCarimbo(h.ullCarimbo);
    o["campos"] = ojson::array();
    for (const auto& [ulPos, c] : e.CamposDe(h)) {
      ojson oc;
      oc["posicao"] = ulPos;
      oc["id"] = c.id;
      oc["nome"] = Nome(c.szNome, sizeof c.szNome);
      oc["flags"] = c.dwFlags;
      oc["extra"] = c.lPtrExtra;
      oc["usuarios"] = ojson::array();
      for (const auto& u : RegistrosDoRun(e.aUsuarios, c.ulPtrUsuarios, c.iQtdUsuarios))
        oc["usuarios"].push_back(u.second.usUsuario);
      o["campos"].push_back(std::move(oc));
    }
    a.push_back(std::move(o));
  }
  return a;
}

int Processo(const std::string& s) {
  char* pFim = nullptr;
  const long l = std::strtol(s.c_str(), &pFim, 10);
  if (!s.empty() && *pFim == '\0') {
    if (l >= 0 && l < IE_PROCESSO_COUNT) return static_cast<int>(l);
  } else {
    for (int i = 0; i < IE_PROCESSO_COUNT; ++i)
      if (ZelNomesIguais(s, IEGetNomeProcesso(static_cast<IE_E_PROCESSO>(i)))) return i;
  }
  throw CErroInspecao{"unknown process: " + s + " (a number from 0 to 68 or a name such as FT_NF)"};
}

UI4 Chave(const std::string& s) {
  char* pFim = nullptr;
  const unsigned long long ull = std::strtoull(s.c_str(), &pFim, 10);
  if (s.empty() || *pFim != '\0' || s[0] == '-' || ull > 0xFFFFFFFFull) throw CErroInspecao{"bad key: " + s};
  return static_cast<UI4>(ull);
}

// Every link record of the process's headers with one of the keys, key by
// key in file order; a key without any gives an entry without values.
std::vector<ojson> ListaValores(CEmpresaVovi& e, int eProcesso, const std::vector<UI4>& aChaves) {
  std::vector<ojson> a;
  const CEmpresaVovi::CValores& val = e.Valores(eProcesso);
  for (UI4 ulChave : aChaves) {
    bool bAchou = false;
    for (UI4 i = 0; i < e.aVinculos.size(); ++i) {
      const IE_VINCULO_ARQ_V0& v = e.aVinculos[i];
      if (v.lChave != ulChave || v.lPosHeader == 0 || v.lPosHeader > e.aHeaders.size() ||
          e.aHeaders[v.lPosHeader - 1].eProcesso != static_cast<UI4>(eProcesso))
        continue;
      bAchou = true;
      ojson o;
      o["posicao"] = i + 1;
      o["header"] = v.lPosHeader;
      o["chave"] = v.lChave;
      o["excluido"] = v.ulExcluido != 0;
      o["valores"] = ojson::array();
      for (const auto& [ulPos, r] : RegistrosDoRun(val.aRegs, v.iPtrCampos, v.nQtdCampos)) {
        ojson ov;
        ov["posicao"] = ulPos;
        ov["id"] = r.id;
        if (CampoTexto(r.id)) {
          const CLugarTexto l = LugarTexto(r);
          const std::string& sTextos = val.textos.sBytes;
          ov["texto"] = uint64_t{l.ulOffset} + l.usTamanho <= sTextos.size()
                            ? ojson(ZelCp1252ParaUtf8(std::string_view(sTextos).substr(l.ulOffset, l.usTamanho)))
                            : ojson(nullptr);
        } else {
          uint64_t ull = 0;
          std::memcpy(&ull, r.BinaryData, 8);
          ov["valor"] = ull;
        }
        o["valores"].push_back(std::move(ov));
      }
      a.push_back(std::move(o));
    }
    if (!bAchou) a.push_back(ojson{{"posicao", 0}, {"header", 0}, {"chave", ulChave}, {"excluido", false},
                                   {"valores", ojson::array()}});
  }
  return a;
}

std::vector<ojson> ListaIntegracoes(CEmpresaVovi& e) {
  std::vector<ojson> a;
  for (UI4 i = 0; i < e.aIntegracoes.size(); ++i) {
    const REG_IE_CABECALHO_INTEGRACAO_ARQ& c = e.aIntegracoes[i];
    ojson o;
    o["posicao"] = i + 1;
    o["origem"] = c.eProcessoOrigem;
    o["nome_origem"] = NomeProcesso(c.eProcessoOrigem);
    o["destino"] = c.eProcessoDestino;
    o["nome_destino"] = NomeProcesso(c.eProcessoDestino);
    o["excluida"] = (c.cFlags & kBitExcluidoIntegracao) != 0;
    o["inativa"] = (c.cFlags & kBitInativoIntegracao) != 0;
    o["vinculos"] = ojson::array();
    for (const auto& [ulPos, v] :
         RegistrosDoRun(e.aVinculosIntegracao, c.ulPonteiroPrimeiroVinculoIntegracao, c.ulQtdVinculosIntegracoes)) {
      o["vinculos"].push_back(ojson{{"posicao", ulPos},
                                    {"campo_origem", v.ulPosicaoCampoOrigem},
                                    {"campo_destino", v.ulPosicaoCampoDestino},
                                    {"excluido", (v.cFlags & kBitExcluidoIntegracao) != 0},
                                    {"inativo", (v.cFlags & kBitInativoIntegracao) != 0}});
    }
    a.push_back(std::move(o));
  }
  return a;
}

constexpr int64_t kArquivoInteiro = -1;

// The problems found, one per file and record.
class CProblemas {
 public:
  // llRegistro kArquivoInteiro: the file as a whole.
  void Anota(const std::string& sArquivo, int64_t llRegistro, std::string sProblema) {
    ojson o;
    o["arquivo"] = sArquivo;
    o["registro"] = llRegistro < 0 ? ojson(nullptr) : ojson(llRegistro);
    o["problema"] = std::move(sProblema);
    m_a.push_back(std::move(o));
  }
  std::vector<ojson> m_a;
};

// Whole records, and a zero record 0 where the file has one.
void VerificaMoldura(const CArquivo& a, size_t nTamanho, bool bRegistroZero, CProblemas& p) {
  if (!a.bExiste) return;
  const size_t n = a.sBytes.size();
  if (n % nTamanho != 0)
    p.Anota(a.sNome, kArquivoInteiro,
            "size " + std::to_string(n) + " is not a whole number of " + std::to_string(nTamanho) + "-byte records");
  if (!bRegistroZero) return;
  if (n < nTamanho) {
    p.Anota(a.sNome, kArquivoInteiro, "record 0 is missing");
  } else if (std::any_of(a.sBytes.begin(), a.sBytes.begin() + static_cast<std::ptrdiff_t>(nTamanho),
                         [](char c) { return c != 0; })) {
    p.Anota(a.sNome, 0, "record 0 is not zero");
  }
}

void VerificaHeadersECampos(CEmpresaVovi& e, CProblemas& p) {
  const std::string sHdr = e.m_Hdr.sNome, sCmp = e.m_Cmp.sNome, sUsu = e.m_Usu.sNome;
  for (UI4 i = 0; i < e.aHeaders.size(); ++i) {
    const IE_HDR_ARQ_V0& h = e.aHeaders[i];
    if (h.eProcesso >= IE_PROCESSO_COUNT) p.Anota(sHdr, i + 1, "unknown process " + std::to_string(h.eProcesso));
    if (!RunDentro(h.iPtrCampos, h.nQtdCampos, e.aCampos.size())) {
      p.Anota(sHdr, i + 1, "its " + std::to_string(h.nQtdCampos) + " fields (" + Run(h.iPtrCampos, h.nQtdCampos) +
                               ") lie beyond " + sCmp + " (" + std::to_string(e.aCampos.size()) + " records)");
      continue;
    }
    for (const auto& [ulPos, c] : e.CamposDe(h))
      if (!RunDentro(c.ulPtrUsuarios, c.iQtdUsuarios, e.aUsuarios.size()))
        p.Anota(sCmp, ulPos, "its " + std::to_string(c.iQtdUsuarios) + " users (" +
                                 Run(c.ulPtrUsuarios, c.iQtdUsuarios) + ") lie beyond " + sUsu + " (" +
                                 std::to_string(e.aUsuarios.size()) + " records)");
  }
}

void VerificaVinculos(CEmpresaVovi& e, CProblemas& p) {
  const std::string& sVinc = e.m_Vinc.sNome;
  std::map<uint64_t, UI4> mOrigens;
  for (UI4 i = 0; i < e.aVinculos.size(); ++i) {
    const IE_VINCULO_ARQ_V0& v = e.aVinculos[i];
    const UI4 ulPos = i + 1;
    const std::string sOrigem = "origin (" + std::to_string(v.lPosHeader) + ", " + std::to_string(v.lChave) + ")";
    if (v.lPosHeader == 0) {
      p.Anota(sVinc, ulPos, "header position 0");
      continue;
    }
    // The origin index answers only the first of a repeated key: later writes of it fail.
    auto [it, bNova] = mOrigens.emplace((uint64_t{v.lPosHeader} << 32) | v.lChave, ulPos);
    if (!bNova) p.Anota(sVinc, ulPos, sOrigem + " is also the origin of record " + std::to_string(it->second));
    if (v.ulExcluido > 1) p.Anota(sVinc, ulPos, "removal mark " + std::to_string(v.ulExcluido) + " is neither 0 nor 1");
    if (v.ulExcluido != 0) continue;
    if (v.lPosHeader > e.aHeaders.size()) {
      p.Anota(sVinc, ulPos, sOrigem + ": header " + std::to_string(v.lPosHeader) + " does not exist");
      continue;
    }
    const IE_HDR_ARQ_V0& h = e.aHeaders[v.lPosHeader - 1];
    if (h.eProcesso >= IE_PROCESSO_COUNT) continue;  // told with the header
    const CEmpresaVovi::CValores& val = e.Valores(static_cast<int>(h.eProcesso));
    if (!RunDentro(v.iPtrCampos, v.nQtdCampos, val.aRegs.size())) {
      p.Anota(sVinc, ulPos, sOrigem + ": its " + std::to_string(v.nQtdCampos) + " values (" +
                                Run(v.iPtrCampos, v.nQtdCampos) + ") lie beyond " + val.dados.sNome + " (" +
                                std::to_string(val.aRegs.size()) + " records)");
      continue;
    }
    // Without its fields (told with the header) a value's field cannot be checked.
    const bool bCamposLidos = RunDentro(h.iPtrCampos, h.nQtdCampos, e.aCampos.size());
    const auto aCampos = e.CamposDe(h);
    for (UI4 j = 0; j < v.nQtdCampos; ++j) {
      const UI4 ulValor = v.iPtrCampos + j;
      const IE_CAMPO_DATA_ARQ_V2& r = val.aRegs[ulValor - 1];
      if (bCamposLidos && std::none_of(aCampos.begin(), aCampos.end(), [&](const auto& c) { return c.second.id == r.id; }))
        p.Anota(val.dados.sNome, ulValor, "value of link " + std::to_string(ulPos) + ": field " + std::to_string(r.id) +
                                              " is not in header " + std::to_string(v.lPosHeader));
      if (!CampoTexto(r.id)) continue;
      const CLugarTexto l = LugarTexto(r);
      if (l.ulOffset == 0 && l.usTamanho == 0) continue;
      if (l.ulOffset == 0 || uint64_t{l.ulOffset} + l.usTamanho > val.textos.sBytes.size())
        p.Anota(val.dados.sNome, ulValor, "value of link " + std::to_string(ulPos) + ": text at offset " +
                                              std::to_string(l.ulOffset) + ", length " + std::to_string(l.usTamanho) +
                                              " lies outside the texts of " + val.textos.sNome + " (" +
                                              std::to_string(val.textos.sBytes.size()) + " bytes)");
    }
  }
}

void VerificaIntegracoes(CEmpresaVovi& e, CProblemas& p) {
  const std::string &sCab = e.m_IntCab.sNome, &sVinc = e.m_IntVinc.sNome;
  for (UI4 i = 0; i < e.aIntegracoes.size(); ++i) {
    const REG_IE_CABECALHO_INTEGRACAO_ARQ& c = e.aIntegracoes[i];
    const UI4 ulPos = i + 1;
    if (c.cFlags & kBitExcluidoIntegracao) continue;
    // The field counts of the two headers; -1 when the process has none.
    auto QtdCampos = [&](UI4 eProcesso, const char* szPapel) -> int64_t {
      const UI4 ulHeader = e.HeaderDoProcesso(eProcesso);
      if (ulHeader != 0) return e.aHeaders[ulHeader - 1].nQtdCampos;
      p.Anota(sCab, ulPos, std::string(szPapel) + " process " + std::to_string(eProcesso) + " has no header");
      return -1;
    };
    const int64_t llOrigem = QtdCampos(c.eProcessoOrigem, "origin");
    const int64_t llDestino = QtdCampos(c.eProcessoDestino, "destination");
    const UI4 ulPtr = c.ulPonteiroPrimeiroVinculoIntegracao, nQtd = c.ulQtdVinculosIntegracoes;
    if (!RunDentro(ulPtr, nQtd, e.aVinculosIntegracao.size())) {
      p.Anota(sCab, ulPos, "its " + std::to_string(nQtd) + " links (" + Run(ulPtr, nQtd) + ") lie beyond " + sVinc +
                               " (" + std::to_string(e.aVinculosIntegracao.size()) + " records)");
      continue;
    }
    for (UI4 j = 0; j < nQtd; ++j) {
      const UI4 ulLink = ulPtr + j;
      const REG_IE_VINCULO_INTEGRACAO_ARQ& v = e.aVinculosIntegracao[ulLink - 1];
      if (v.cFlags & kBitExcluidoIntegracao) continue;
      if (v.ulPosicaoCabecalhoIntegracao != ulPos)
        p.Anota(sVinc, ulLink, "names integration " + std::to_string(v.ulPosicaoCabecalhoIntegracao) +
                                   " but belongs to integration " + std::to_string(ulPos));
      if (llOrigem >= 0 && v.ulPosicaoCampoOrigem >= llOrigem)
        p.Anota(sVinc, ulLink, "origin field " + std::to_string(v.ulPosicaoCampoOrigem) + " is beyond the " +
                                   std::to_string(llOrigem) + " fields of the origin's header");
      if (llDestino >= 0 && v.ulPosicaoCampoDestino >= llDestino)
        p.Anota(sVinc, ulLink, "destination field " + std::to_string(v.ulPosicaoCampoDestino) + " is beyond the " +
                                   std::to_string(llDestino) + " fields of the destination's header");
    }
  }
}

std::vector<ojson> Verifica(CEmpresaVovi& e) {
  CProblemas p;
  VerificaMoldura(e.m_Hdr, sizeof(IE_HDR_ARQ_V0), true, p);
  VerificaMoldura(e.m_Cmp, sizeof(IE_CAMPO_ARQ_V2), true, p);
  VerificaMoldura(e.m_Usu, sizeof(IE_USUARIO_ARQ_V0), true, p);
  VerificaMoldura(e.m_Vinc, sizeof(IE_VINCULO_ARQ_V0), false, p);
  VerificaMoldura(e.m_IntCab, sizeof(REG_IE_CABECALHO_INTEGRACAO_ARQ), true, p);
  VerificaMoldura(e.m_IntVinc, sizeof(REG_IE_VINCULO_INTEGRACAO_ARQ), true, p);
  VerificaMoldura(LeArquivo(e.m_sDiretorio, REG_IE_CONFIGURACAO_INFO_PLUS_ARQ::GetFileNameComExtensaoDAT(),
                            sizeof(REG_IE_CONFIGURACAO_INFO_PLUS_ARQ)),
                  sizeof(REG_IE_CONFIGURACAO_INFO_PLUS_ARQ), false, p);
  for (int eProcesso = 0; eProcesso < kProcessosComArquivo; ++eProcesso) {
    const CEmpresaVovi::CValores& val = e.Valores(eProcesso);
    VerificaMoldura(val.dados, sizeof(IE_CAMPO_DATA_ARQ_V2), true, p);
    VerificaMoldura(val.textos, 1, true, p);
  }
  VerificaHeadersECampos(e, p);
  VerificaVinculos(e, p);
  VerificaIntegracoes(e, p);
  return std::move(p.m_a);
}

std::string TextoCelula(const ojson& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_null()) return "-";
  if (v.is_boolean()) return v.get<bool>() ? "sim" : "nao";
  if (v.is_array()) {
    std::string s;
    for (const ojson& x : v) s += (s.empty() ? "" : ",") + TextoCelula(x);
    return s;
  }
  return v.dump();
}

size_t Largura(const std::string& s) {
  return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// One row per element of an entry's list of objects (or one row when the
// list is empty), the entry's own columns repeated on each, so that every
// row stands alone for grep.
void EscreveTabela(const std::vector<ojson>& aEntradas, std::ostream& saida) {
  using Linha = std::map<std::string, std::string>;
  std::vector<std::string> aColunas;
  std::vector<Linha> aLinhas;
  auto Coluna = [&](const std::string& s) {
    if (std::find(aColunas.begin(), aColunas.end(), s) == aColunas.end()) aColunas.push_back(s);
  };
  for (const ojson& o : aEntradas) {
    Linha base;
    std::string sLista;
    for (const auto& [k, v] : o.items()) {
      if (v.is_array() && !v.empty() && v.front().is_object()) {
        sLista = k;
        continue;
      }
      if (v.is_array() && v.empty()) continue;
      Coluna(k);
      base[k] = TextoCelula(v);
    }
    if (sLista.empty()) {
      aLinhas.push_back(base);
      continue;
    }
    for (const ojson& filho : o[sLista]) {
      Linha l = base;
      for (const auto& [k, v] : filho.items()) {
        Coluna(sLista + "." + k);
        l[sLista + "." + k] = TextoCelula(v);
      }
      aLinhas.push_back(std::move(l));
    }
  }
  if (aLinhas.empty()) return;
  std::vector<size_t> aLarguras;
  for (const std::string& c : aColunas) {
    size_t n = Largura(c);
    for (const Linha& l : aLinhas) {
      auto it = l.find(c);
      if (it != l.end()) n = std::max(n, Largura(it->second));
    }
    aLarguras.push_back(n);
  }
  auto Escreve = [&](auto fCelula) {
    std::string s;
    for (size_t i = 0; i < aColunas.size(); ++i) {
      const std::string c = fCelula(aColunas[i]);
      s += c;
      if (i + 1 < aColunas.size()) s += std::string(aLarguras[i] - Largura(c) + 2, ' ');
    }
    s.erase(s.find_last_not_of(' ') + 1);
    saida << s << '\n';
  };
  Escreve([](const std::string& c) { return c; });
  for (const Linha& l : aLinhas)
    Escreve([&](const std::string& c) {
      auto it = l.find(c);
      return it == l.end() ? std::string() : it->second;
    });
}

std::string DiretorioVovi(const std::string& sAlvo) {
  if (sAlvo.find('/') != std::string::npos) {
    // Every file's path is joined, so a last slash is optional.
    if (!ZelExisteDiretorio(sAlvo)) throw CErroInspecao{"no such directory: " + sAlvo};
    return sAlvo;
  }
  const std::string s = CIExBase::GetDiretorioVoviDadi(sAlvo);
  if (s.empty()) throw CErroInspecao{"no such company: " + sAlvo + " (no data directory registered for it)"};
  if (!ZelExisteDiretorio(s)) throw CErroInspecao{"company " + sAlvo + " has no Vovi Dadi data (" + s + " not found)"};
  return s;
}

constexpr const char* kUso =
    "uso: tolvan-inspeciona [--json] EMPRESA|DIRETORIO cabecalhos|integracoes|verifica\n"
    "     tolvan-inspeciona [--json] EMPRESA|DIRETORIO valores PROCESSO CHAVE...\n";
}  // namespace

int IEInspecionaExecuta(const std::vector<std::string>& aArgs, std::ostream& saida, std::ostream& erros) {
  std::vector<std::string> a = aArgs;
  const auto itJson = std::find(a.begin(), a.end(), "--json");
  const bool bJson = itJson != a.end();
  if (bJson) a.erase(itJson);
  const bool bValores = a.size() >= 4 && a[1] == "valores";
  const bool bOutro = a.size() == 2 && (a[1] == "cabecalhos" || a[1] == "integracoes" || a[1] == "verifica");
  if (!bValores && !bOutro) {
    erros << kUso;
    return kInspecaoErro;
  }
  try {
    std::vector<UI4> aChaves;
    int eProcesso = 0;
    if (bValores) {
      eProcesso = Processo(a[2]);
      for (size_t i = 3; i < a.size(); ++i) aChaves.push_back(Chave(a[i]));
    }
    CEmpresaVovi empresa(DiretorioVovi(a[0]));
    std::vector<ojson> aSaida;
    if (a[1] == "cabecalhos") aSaida = ListaCabecalhos(empresa);
    if (a[1] == "valores") aSaida = ListaValores(empresa, eProcesso, aChaves);
    if (a[1] == "integracoes") aSaida = ListaIntegracoes(empresa);
    if (a[1] == "verifica") aSaida = Verifica(empresa);
    if (bJson) {
      for (const ojson& o : aSaida) saida << o.dump(-1, ' ', false, ojson::error_handler_t::replace) << '\n';
    } else {
      EscreveTabela(aSaida, saida);
      if (a[1] == "verifica" && !aSaida.empty()) saida << aSaida.size() << " problem(s)\n";
      if (a[1] == "verifica" && aSaida.empty())
        saida << (empresa.SemArquivos() ? "no Vovi Dadi files here: nothing to check" : "no problems found") << '\n';
    }
    saida.flush();
    if (a[1] == "verifica" && !aSaida.empty()) return kInspecaoProblemas;
    return kInspecaoOk;
  } catch (const CErroInspecao& e) {
    erros << "tolvan-inspeciona: " << e.sMensagem << '\n';
  } catch (const std::exception& e) {
    erros << "tolvan-inspeciona: " << e.what() << '\n';
  }
  return kInspecaoErro;
}
