#include "ZelLogConfig.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <set>

#include "ZelArquivo.h"
#include "ZelDiretoriosSuite.h"
#include "ZelSistema.h"
#include "ZelTempo.h"

namespace {
std::string Minusculas(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Apara(const std::string& s) {
  size_t i = s.find_first_not_of(" \t\r");
  if (i == std::string::npos) return {};
  size_t f = s.find_last_not_of(" \t\r");
  return s.substr(i, f - i + 1);
}

// Items separated by ';', ',' or blanks; true when one occurs in the name.
bool AlgumItemOcorre(const std::string& sLista, const std::string& sNome) {
  size_t i = 0;
  while (i < sLista.size()) {
    size_t f = sLista.find_first_of(";, \t", i);
    if (f == std::string::npos) f = sLista.size();
    if (f > i && sNome.find(sLista.substr(i, f - i)) != std::string::npos) return true;
    i = f + 1;
  }
  return false;
}

int Inteiro(const std::string& s, int nPadrao) {
  if (s.empty()) return nPadrao;
  char* fim = nullptr;
  long v = std::strtol(s.c_str(), &fim, 10);
  return fim == s.c_str() ? 0 : static_cast<int>(v);
}

struct Estado {
  std::mutex mutex;
  std::shared_ptr<const ZelLogConfig> pConfig = std::make_shared<ZelLogConfig>();
  std::atomic<bool> bLido{false};
  std::atomic<uint64_t> ullUltimaLeitura{0};
  std::atomic<uint64_t> ullLimite{0};
  std::atomic<bool> bLogChamadas{false};  // LogChamadas() of pConfig
};
Estado& GetEstado() {
  static Estado* p = new Estado;  // lives until exit: log lines may be written from static destructors
  return *p;
}
}  // namespace

bool ZelLogConfig::LogChamadas() const {
  bool bAlguma = nEntrada == 1 || nSaida == 1 || nCoCreateInstance == 1;
  bool bSoMedidas = (nPerformance == 1 || nMemory == 1) && nEntrada != 1 && nSaida != 1;
  return bAlguma && !bSoMedidas;
}

bool ZelLogConfig::ProgramaSelecionado(const std::string& sProcesso) const {
  if (sProcessos.find("todos") != std::string::npos) return true;
  return AlgumItemOcorre(sProcessos, sProcesso);
}

bool ZelLogConfig::FuncaoSelecionada(const std::string& sClasseFuncao) const {
  if (sZelDataBase == "0") return false;
  std::string s = Minusculas(sZelDataBase);
  if (s == "1" || s == "todos") return true;
  return AlgumItemOcorre(sZelDataBase, sClasseFuncao);
}

ZelLogConfig ZelInterpretaLogIni(const std::string& sTexto) {
  ZelLogConfig c;
  std::set<std::string> vistas;
  bool bSecaoLog = false;
  size_t i = 0;
  while (i <= sTexto.size()) {
    size_t f = sTexto.find('\n', i);
    if (f == std::string::npos) f = sTexto.size();
    std::string sLinha = Apara(sTexto.substr(i, f - i));
    i = f + 1;
    if (sLinha.empty() || sLinha[0] == ';') continue;
    if (sLinha[0] == '[') {
      size_t g = sLinha.find(']');
      bSecaoLog = g != std::string::npos && Minusculas(Apara(sLinha.substr(1, g - 1))) == "log";
      continue;
    }
    size_t igual = sLinha.find('=');
    if (!bSecaoLog || igual == std::string::npos) continue;
    std::string sChave = Minusculas(Apara(sLinha.substr(0, igual)));
    std::string sValor = Apara(sLinha.substr(igual + 1));
    if (sValor.size() >= 2 && sValor.front() == '"' && sValor.back() == '"') sValor = sValor.substr(1, sValor.size() - 2);
    if (sValor.size() > 259) sValor.resize(259);
    // The first of a repeated key counts, as the profile readers find it.
    if (!vistas.insert(sChave).second) continue;
    if (sChave == "entrada") c.nEntrada = Inteiro(sValor, 0);
    else if (sChave == "saida") c.nSaida = Inteiro(sValor, 0);
    else if (sChave == "cocreateinstance") c.nCoCreateInstance = Inteiro(sValor, 0);
    else if (sChave == "performance") c.nPerformance = Inteiro(sValor, 0);
    else if (sChave == "memory") c.nMemory = Inteiro(sValor, 0);
    else if (sChave == "timeoutconfig") c.nTimeoutConfig = Inteiro(sValor, kZelTimeoutConfigPadrao);
    else if (sChave == "processos") c.sProcessos = Minusculas(sValor);
    else if (sChave == "zeldatabase") c.sZelDataBase = sValor.empty() ? "0" : sValor;
  }
  return c;
}

std::shared_ptr<const ZelLogConfig> ZelLeLogConfig() {
  Estado& e = GetEstado();
  uint64_t agora = GetTickCount64();
  if (!e.bLido || agora - e.ullUltimaLeitura > e.ullLimite) {
    std::string sTexto;
    CFile arq;
    if (arq.Open(ZelDiretorioModulos() + "log.ini", CFile::modeRead | CFile::shareDenyNone)) {
      char buf[4096];
      try {
        for (UINT n; (n = arq.Read(buf, sizeof buf)) > 0;) sTexto.append(buf, n);
      } catch (CFileException* ex) {
        ex->Delete();
      }
    }
    auto pNova = std::make_shared<const ZelLogConfig>(ZelInterpretaLogIni(sTexto));
    std::lock_guard<std::mutex> trava(e.mutex);
    uint64_t ullMs = static_cast<uint64_t>(std::clamp(pNova->nTimeoutConfig, 0, 4000000)) * 1000u;
    e.ullLimite = ZelTempoMs(static_cast<uint32_t>(std::min<uint64_t>(ullMs, 0xFFFFFFFEu)));
    e.bLogChamadas = pNova->LogChamadas();
    e.pConfig = std::move(pNova);
    e.ullUltimaLeitura = agora;
    e.bLido = true;
    return e.pConfig;
  }
  std::lock_guard<std::mutex> trava(e.mutex);
  return e.pConfig;
}

bool ZelLogChamadasLigadas() {
  Estado& e = GetEstado();
  if (!e.bLido || GetTickCount64() - e.ullUltimaLeitura > e.ullLimite) return ZelLeLogConfig()->LogChamadas();
  return e.bLogChamadas;
}

void ZelInvalidaLogConfig() { GetEstado().bLido = false; }
