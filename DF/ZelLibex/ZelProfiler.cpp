#include "ZelProfiler.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "ZelArquivo.h"
#include "ZelCatalogoModulos.h"
#include "ZelDados.h"
#include "ZelDescricaoErro.h"
#include "ZelDiretoriosSuite.h"
#include "ZelLogConfig.h"
#include "ZelPath.h"
#include "ZelRegistro.h"
#include "ZelSistema.h"

const char* const kCabecalhoArquivoErros =
    "Data\tHora\tProcesso\tUsuarioLocal\tClasseFuncao\tGuid\tEmpresa\tUsuario\tSessao\tThreadID\tEmpresa\tUsuario\t"
    "NumeroSessao\tUsuarioDominio\tAplicativo\tModuleName\tArquivoFonte\tLinhaFonte\tWTS\tFiller\tFiller\tTipo\t"
    "MemoriaDisponivel\tMemoriaTotal\tMemoriaComponente\tVersaoMorvo\tVersaoSO\tArquivo\tLinha\tLog\tParameter1\t"
    "Parameter2\tParameter3\tParameter4\tParameter5\tParameter6\tParameter7\tParameter8\tParameter9\n";
const char* const kCabecalhoLogChamadas =
    "Data\tHora\tProcesso\tUsuarioLocal\tClasseFuncao\tGuid\tEmpresa\tUsuario\tSessao\tThreadID\tEmpresa\tUsuario\t"
    "NumeroSessao\tUsuarioDominio\tAplicativo\tModuleName\tArquivoFonte\tLinhaFonte\tWTS\tFiller\tFiller\tTipo\t"
    "MemoriaDisponivel\tMemoriaTotal\tMemoriaComponente\tDuracao\tDeltaMemoria\tParameter1\tParameter2\t"
    "Parameter3\tParameter4\tParameter5\tParameter6\tParameter7\tParameter8\tParameter9\n";

namespace {
constexpr int kTentativasGravacao = 19;
thread_local int t_nTentativas = 0;

// Most lines fit the stack buffer and are formatted once.
std::string FormataV(const char* szFormato, va_list args) {
  char buf[512];
  va_list copia;
  va_copy(copia, args);
  int n = std::vsnprintf(buf, sizeof buf, szFormato, copia);
  va_end(copia);
  if (n <= 0) return {};
  if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, static_cast<size_t>(n));
  std::string s(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(s.data(), s.size(), szFormato, args);
  s.resize(static_cast<size_t>(n));
  return s;
}

std::string Formata(const char* szFormato, ...) __attribute__((format(printf, 1, 2)));
std::string Formata(const char* szFormato, ...) {
  va_list args;
  va_start(args, szFormato);
  std::string s = FormataV(szFormato, args);
  va_end(args);
  return s;
}

template <size_t N>
std::string Campo(const char (&sz)[N]) {
  return std::string(sz, strnlen(sz, N));
}

const std::string& NomeProcesso() {
  static const std::string s = [] {
    std::string c = ZelCaminhoPrograma();
    c = c.substr(c.find_last_of('/') + 1);
    for (auto& ch : c) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return c;
  }();
  return s;
}

struct Versoes {
  std::string sPrograma, sSO;
};
const Versoes& GetVersoes() {
  static std::once_flag once;
  static Versoes v;
  std::call_once(once, [] { v = {ZelVersaoPrograma(), ZelVersaoSO()}; });
  return v;
}

std::string NovoGuid() {
  GUID g{};
  CoCreateGuid(&g);
  return GuidParaTexto(g);
}

// Appends serialise in the process, so threads do not exhaust each other's
// attempts; across processes the file's share mode and the retries do it.
std::mutex& MutexGravacao() {
  static std::mutex* p = new std::mutex;
  return *p;
}

struct Linha {
  const IZelDF_Profiler* pIdentidade = nullptr;
  std::string sProcesso, sUsuarioLocal, sClasseFuncao, sGuid;
  const char* szTipo = "";
  int64_t llDisponivel = 0, llTotal = 0, llComponente = 0;
  bool bErro = false;
  std::string sArquivo, sLog;
  int nLinha = 0;
  int64_t llDuracao = 0, llDeltaMemoria = 0;
  ZelPares pares;
};

std::string Compoe(const Linha& l) {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  std::string s = Formata("%02d/%02d/%04d\t%02d:%02d:%02d.%03d\t", st.wDay, st.wMonth, st.wYear, st.wHour, st.wMinute,
                          st.wSecond, st.wMilliseconds);
  for (const std::string* p : {&l.sProcesso, &l.sUsuarioLocal, &l.sClasseFuncao, &l.sGuid})
    if (!p->empty()) s += *p + "\t";

  std::string sEmpresa;
  unsigned usUsuario = 0;
  unsigned long ulSessao = 0;
  _REG_DF_INICIALIZAPS reg{};
  if (l.pIdentidade != nullptr) {
    sEmpresa = l.pIdentidade->GetEmpresa();
    usUsuario = l.pIdentidade->GetUsuario();
    ulSessao = l.pIdentidade->GetNumeroSessao();
    if (auto pReg = dynamic_cast<const IZelDF_ProfilerRegistro*>(l.pIdentidade)) {
      const _REG_DF_INICIALIZAPS* p = pReg->GetRegistroInicializacao();
      if (p != nullptr && p->cControle == 'B') reg = *p;
    }
  }
  // Printed as the suite's 32-bit signed numbers: a session past 2^31 reads negative.
  s += Formata("E%s\tU%03d\tS%08d\tT%08d\t", sEmpresa.c_str(), static_cast<int32_t>(usUsuario),
               static_cast<int32_t>(static_cast<uint32_t>(ulSessao)),
               static_cast<int32_t>(static_cast<uint32_t>(GetCurrentThreadId())));
  s += Formata("%s\t%u\t%u\t%s\t%s\t%s\t%s\t%u\t%d\t%d\t%s\t", Campo(reg.szEmpresa).c_str(), reg.ulUsuario,
               reg.ulNumeroSessao, Campo(reg.szNomeUsuarioDominio).c_str(), Campo(reg.szAplicativo).c_str(),
               Campo(reg.szModuleName).c_str(), Campo(reg.szArquivoFonte).c_str(), reg.ulLinhaFonte, reg.cWTS,
               static_cast<int>(reg.ulFiller), Campo(reg.szFiller).c_str());
  s += Formata("%s\t%" PRId64 "\t%" PRId64 "\t%" PRId64 "\t", l.szTipo, l.llDisponivel, l.llTotal, l.llComponente);
  if (l.bErro) {
    const Versoes& v = GetVersoes();
    s += v.sPrograma + "\t" + v.sSO + "\t" + l.sArquivo + "\t" + std::to_string(l.nLinha) + "\t" + l.sLog + "\t";
  } else {
    s += Formata("%" PRId64 "\t%" PRId64 "\t", l.llDuracao, l.llDeltaMemoria);
    for (const auto& [rotulo, valor] : l.pares)
      if (!rotulo.empty() && !valor.empty()) s += rotulo + " = " + valor + "\t";
  }
  return s;
}

// The profiler directory setting: on when the registry names a directory.
std::string DiretorioProfiler() { return ZelLeTextoZel("DiretorioZelProfiler"); }

// A call-log line with the fields every kind shares.
Linha LinhaChamada(const IZelDF_Profiler* pIdentidade, const std::string& sFuncao, const std::string& sGuid,
                   const char* szTipo, const ZelMemoria& mem) {
  Linha l;
  l.pIdentidade = pIdentidade;
  l.sUsuarioLocal = ZelNomeUsuario();
  l.sClasseFuncao = sFuncao;
  l.sGuid = sGuid;
  l.szTipo = szTipo;
  l.llDisponivel = mem.llDisponivel;
  l.llTotal = mem.llTotal;
  return l;
}

void GravaChamada(Linha& l) {
  l.sProcesso = NomeProcesso();
  ZelAcrescentaLinhaLog(ZelCaminhoLogChamadas(), Compoe(l), kCabecalhoLogChamadas);
}
}  // namespace

std::string ZelCaminhoArquivoErros(const std::string& sEmpresa, int nAno, int nMes) {
  nAno = std::clamp(nAno, 1848, 4717);
  nMes = std::clamp(nMes, 0, 99);
  std::string sDir = DiretorioProfiler();
  if (!sDir.empty()) {
    if (sDir.back() != '/') sDir += '/';
    // The company's subdirectory is one name inside it, whatever the client sent.
    if (!sEmpresa.empty()) {
      std::string sNome = sEmpresa;
      std::replace(sNome.begin(), sNome.end(), '/', '_');
      if (sNome == "." || sNome == "..") sNome = "_";
      sDir += sNome + "/";
    }
    if (!ZelExisteDiretorio(sDir)) ZelCriaDiretorio(sDir, true);
  } else if (!sEmpresa.empty()) {
    sDir = CZelPath::GetDiretorioDadosModulo(CZelCatalogoModulos::kModuloDF, sEmpresa);
  }
  if (sDir.empty()) sDir = ZelDiretorioModulos();
  return sDir + Formata("%s%04d%02d.log", sEmpresa.empty() ? "ZelProfilerErros_Pgms_" : "ZelProfilerErros_Base_", nAno,
                        nMes);
}

std::string ZelCaminhoLogChamadas() {
  std::string sDir = DiretorioProfiler();
  if (!sDir.empty()) {
    if (sDir.back() != '/') sDir += '/';
    if (!ZelExisteDiretorio(sDir)) ZelCriaDiretorio(sDir, true);
  } else {
    sDir = ZelDiretorioModulos();
  }
  return sDir + "ZelProfiler";
}

bool ZelAcrescentaLinhaLog(const std::string& sCaminho, const std::string& sLinha, const char* szCabecalho) {
  std::lock_guard<std::mutex> trava(MutexGravacao());
  t_nTentativas = 0;
  for (int i = 0; i < kTentativasGravacao; ++i) {
    ++t_nTentativas;
    bool bExistia = ZelExisteArquivo(sCaminho);
    CFile arq;
    CFileException erro;
    if (!arq.Open(sCaminho, CFile::modeWrite | CFile::modeCreate | CFile::modeNoTruncate | CFile::shareDenyWrite,
                  &erro)) {
      if (erro.m_cause == CFileException::fileNotFound || erro.m_cause == CFileException::badPath ||
          erro.m_cause == CFileException::invalidFile || erro.m_cause == CFileException::hardIO)
        return false;
      continue;
    }
    try {
      std::string s;
      if (!bExistia && szCabecalho != nullptr) s = szCabecalho;
      s += sLinha;
      s += '\n';
      arq.SeekToEnd();
      arq.Write(s.data(), static_cast<UINT>(s.size()));
      arq.Close();
      return true;
    } catch (CFileException* e) {
      e->Delete();
      arq.Abort();
    }
  }
  return false;
}

int ZelTentativasUltimaGravacao() { return t_nTentativas; }

void ZelGravaLinhaErroV(const IZelDF_Profiler* pIdentidade, const char* szFuncao, const char* szArquivo, int nLinha,
                        const char* szFormato, va_list args) {
  ZelLeLogConfig();
  ZelMemoria mem = ZelLeMemoria();
  Linha l;
  l.pIdentidade = pIdentidade;
  l.bErro = true;
  l.sLog = FormataV(szFormato, args);
  l.sArquivo = szArquivo != nullptr ? szArquivo : "";
  l.nLinha = nLinha;
  l.llDisponivel = mem.llDisponivel;
  l.llTotal = mem.llTotal;
  l.llComponente = mem.llPrivada;
  l.sClasseFuncao = szFuncao != nullptr ? szFuncao : "";
  l.sGuid = NovoGuid();
  l.sProcesso = NomeProcesso();
  l.sUsuarioLocal = ZelNomeUsuario();
  l.szTipo = "ERRO";
  SYSTEMTIME st{};
  GetLocalTime(&st);
  std::string sEmpresa = pIdentidade != nullptr ? pIdentidade->GetEmpresa() : "";
  ZelAcrescentaLinhaLog(ZelCaminhoArquivoErros(sEmpresa, st.wYear, st.wMonth), Compoe(l), kCabecalhoArquivoErros);
}

void ZelGravaLinhaErro(const IZelDF_Profiler* pIdentidade, const char* szFuncao, const char* szArquivo, int nLinha,
                       const char* szFormato, ...) {
  va_list args;
  va_start(args, szFormato);
  ZelGravaLinhaErroV(pIdentidade, szFuncao, szArquivo, nLinha, szFormato, args);
  va_end(args);
}

std::string ZelFormataErroHR(const char* szExpressao, const char* szVariavel, HRESULT hr) {
  return Formata("%s\t%s = %#X %s\tSEVERITY = %d %s\tFACILITY = %d %s\tCODE = %d %s\tDescri\xE7\xE3o = %s",
                 szExpressao, szVariavel, static_cast<unsigned>(hr), GetTexto_HRESULT(hr).c_str(),
                 static_cast<int>(HRESULT_SEVERITY(hr)), GetDescricao_SEVERITY(hr).c_str(),
                 static_cast<int>(HRESULT_FACILITY(hr)), GetDescricao_FACILITY(HRESULT_FACILITY(hr)).c_str(),
                 static_cast<int>(HRESULT_CODE(hr)), GetNome_CODE(hr).c_str(), GetNome_HRESULT(hr).c_str());
}

namespace {
void RegistraUltimoErro(const IZelDF_Profiler* pIdentidade, HRESULT hr, const std::string& sTexto) {
  auto pUltimo = dynamic_cast<CZelUltimoErro*>(const_cast<IZelDF_Profiler*>(pIdentidade));
  if (pUltimo != nullptr) pUltimo->RegistraErro(hr, sTexto, pIdentidade->GetEmpresa());
}
}  // namespace

void ZelTraceHR(const IZelDF_Profiler* pIdentidade, const char* szFuncao, const char* szArquivo, int nLinha,
                const char* szExpressao, const char* szVariavel, HRESULT hr) {
  std::string sLog = ZelFormataErroHR(szExpressao, szVariavel, hr);
  ZelGravaLinhaErro(pIdentidade, szFuncao, szArquivo, nLinha, "%s", sLog.c_str());
  RegistraUltimoErro(pIdentidade, hr, std::string(szFuncao != nullptr ? szFuncao : "") + ": " + sLog);
}

void ZelTraceInt(const IZelDF_Profiler* pIdentidade, const char* szFuncao, const char* szArquivo, int nLinha,
                 const char* szExpressao, const char* szVariavel, int iRetorno) {
  HRESULT hr = static_cast<HRESULT>(static_cast<uint32_t>(iRetorno) | 0x80040000u);
  std::string sLog = Formata("%s\t%s = %d\tHR = %#X\tDescri\xE7\xE3o = %s", szExpressao, szVariavel, iRetorno,
                             static_cast<unsigned>(hr), GetNome_HRESULT(hr).c_str());
  ZelGravaLinhaErro(pIdentidade, szFuncao, szArquivo, nLinha, "%s", sLog.c_str());
  RegistraUltimoErro(pIdentidade, hr, std::string(szFuncao != nullptr ? szFuncao : "") + ": " + sLog);
}

void ZelTracePosicao(const IZelDF_Profiler* pIdentidade, const char* szFuncao, const char* szArquivo, int nLinha,
                     HRESULT hr, const std::string& sArquivoDados, int nPosicao, int nRegistro, int64_t llUltimo,
                     const char* szRotuloUltimo) {
  ZelGravaLinhaErro(pIdentidade, szFuncao, szArquivo, nLinha,
                    "hr = 0x%08X\tDescri\xE7\xE3o = %s\tArquivo = %s\tPosi\xE7\xE3o = %d\tRegistro = %d\t%s = %" PRId64,
                    static_cast<unsigned>(hr), GetTexto_HRESULT(hr).c_str(), sArquivoDados.c_str(), nPosicao, nRegistro,
                    szRotuloUltimo, llUltimo);
}

CZelProfiler::CZelProfiler(const IZelDF_Profiler* pIdentidade) : m_pIdentidade(pIdentidade) {}

bool CZelProfiler::ComecaEntrada(const char* szFuncao) {
  m_bEntrou = true;
  if (!ZelLogChamadasLigadas()) return false;
  auto c = ZelLeLogConfig();
  if (!c->LogChamadas()) return false;
  m_sFuncao = szFuncao != nullptr ? szFuncao : "";
  m_ullInicio = GetTickCount64();
  if (!c->ProgramaSelecionado(NomeProcesso()) || !c->FuncaoSelecionada(m_sFuncao)) return false;
  m_bLogando = true;
  return true;
}

void CZelProfiler::TerminaEntrada(ZelPares pares) {
  if (pares.size() > 9) pares.resize(9);
  m_pares = std::move(pares);
  auto c = ZelLeLogConfig();
  if (c->nEntrada == 1 && c->nSaida == 1) m_sGuid = NovoGuid();
  if (c->nMemory == 1) m_llMemoriaInicio = ZelLeMemoria().llPrivada;
  if (c->nEntrada != 1) return;
  Linha l = LinhaChamada(m_pIdentidade, m_sFuncao, m_sGuid, "ENTROU", ZelLeMemoria());
  l.llComponente = c->nMemory == 1 ? m_llMemoriaInicio : 0;
  l.pares = m_pares;
  GravaChamada(l);
}

CZelProfiler::~CZelProfiler() {
  if (!m_bEntrou || !m_bLogando) return;
  auto c = ZelLeLogConfig();
  if (!c->LogChamadas() || c->nSaida != 1 || !c->ProgramaSelecionado(NomeProcesso()) ||
      !c->FuncaoSelecionada(m_sFuncao))
    return;
  ZelMemoria mem = ZelLeMemoria();
  Linha l = LinhaChamada(m_pIdentidade, m_sFuncao, m_sGuid, "SAIU", mem);
  l.llComponente = c->nMemory == 1 ? mem.llPrivada : 0;
  if (c->nPerformance == 1) {
    uint64_t fim = GetTickCount64();
    l.llDuracao = fim > m_ullInicio ? static_cast<int64_t>(fim - m_ullInicio) : 0;
  }
  if (c->nMemory == 1) l.llDeltaMemoria = mem.llPrivada - m_llMemoriaInicio;
  l.pares = m_pares;
  GravaChamada(l);
}

void CZelProfiler::Ativacao(const IZelDF_Profiler* pIdentidade, const char* szFuncao, const std::string& sProgID,
                            const std::string& sModulo) {
  auto c = ZelLeLogConfig();
  std::string sFuncao = szFuncao != nullptr ? szFuncao : "";
  if (!c->LogChamadas() || c->nCoCreateInstance != 1 || !c->ProgramaSelecionado(NomeProcesso())) return;
  ZelMemoria mem = ZelLeMemoria();
  Linha l = LinhaChamada(pIdentidade, sFuncao, NovoGuid(), "COCREATE", mem);
  l.llComponente = c->nMemory == 1 ? mem.llPrivada : 0;
  l.pares = {{"ProgID", sProgID}, {"Modulo", sModulo}};
  GravaChamada(l);
}
