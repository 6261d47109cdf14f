// tolvan-comparacao: the service against its peer, in one run, on one
// machine and one data model (per origin one link and 10 values, 2 of them
// 20-byte texts; one write transaction per origin). The peer is SQLite in
// WAL mode with synchronous=NORMAL, the durability class of our write-through
// without flush. Prints one table: measure, ours, peer, ratio, goal, met.
//
//   tolvan-comparacao [--origens PEQUENO,GRANDE] [--lotes N] [--rapido]
//
// Each figure is the median of N batches (5 by default). --rapido runs few
// operations per batch: a smoke run, not a measure.
#include <sched.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "IExBase.h"
#include "ZelBench.h"
#include "ZelBenchEco.h"
#include "ZelBenchVinculos.h"
#include "ZelLocalAtivacao.h"

namespace {
std::string g_sDiretorio;

struct Opcoes {
  int64_t nPequeno = 10000;
  int64_t nGrande = 1000000;
  int nLotes = 5;
  bool bRapido = false;
  // -1: round trips run where the scheduler puts them; 0: client and server
  // on CPU 0; 1: the client on CPU 0 and the server on CPU 1.
  int iNucleoServidor = -1;
};

using Relogio = std::chrono::steady_clock;

double Segundos(Relogio::time_point t0) { return std::chrono::duration<double>(Relogio::now() - t0).count(); }

// The time of one operation in one batch, in seconds; negative when an
// operation failed.
double Lote(int nPorLote, const std::function<bool()>& op) {
  const auto t0 = Relogio::now();
  for (int i = 0; i < nPorLote; ++i)
    if (!op()) return -1;
  return Segundos(t0) / nPorLote;
}

double Mediana(std::vector<double> a) {
  std::sort(a.begin(), a.end());
  return a.front() < 0 ? -1 : a[a.size() / 2];
}

// Median over the batches of the time of one operation, in seconds; a
// failed operation makes it negative.
double Mede(int nLotes, int nPorLote, const std::function<bool()>& op) {
  std::vector<double> a;
  for (int l = 0; l < nLotes; ++l) a.push_back(Lote(nPorLote, op));
  return Mediana(std::move(a));
}

// Two sides' medians over nLotes measures taken in turn: a slow spell of the
// machine then falls on both sides alike instead of on one.
std::pair<double, double> EmTurnos(int nLotes, const std::function<double()>& medeA,
                                   const std::function<double()>& medeB) {
  std::vector<double> a, b;
  for (int l = 0; l < nLotes; ++l) {
    a.push_back(medeA());
    b.push_back(medeB());
  }
  return {Mediana(std::move(a)), Mediana(std::move(b))};
}

// The same for the time of one operation, a batch of each side at a time.
std::pair<double, double> MedeEmTurnos(int nLotes, int nPorLote, const std::function<bool()>& opA,
                                       const std::function<bool()>& opB) {
  return EmTurnos(nLotes, [&] { return Lote(nPorLote, opA); }, [&] { return Lote(nPorLote, opB); });
}

// The keys of one read: nChaves origins spread over 1..n, a different set
// at each call.
class CChaves {
 public:
  CChaves(int64_t n, size_t nChaves) : m_n(n), m_a(nChaves) {}
  std::vector<UI4>& Proximas() {
    for (size_t i = 0; i < m_a.size(); ++i) m_a[i] = static_cast<UI4>((m_ulInicio + i * 7919) % m_n + 1);
    m_ulInicio += 13;
    return m_a;
  }

 private:
  int64_t m_n;
  std::vector<UI4> m_a;
  uint64_t m_ulInicio = 0;
};

void LiberaVinculos(std::vector<IE_VINCULO_PS>& a) {
  for (auto& v : a) {
    for (UINT i = 0; i < v.nQtdCampos; ++i) CoTaskMemFree(v.pCampos[i].pcTexto);
    CoTaskMemFree(v.pCampos);
  }
}

bool Busca(IZelDF_IEx* p, CChaves& chaves, std::vector<IE_VINCULO_PS>& aVinculos) {
  std::vector<UI4>& a = chaves.Proximas();
  if (p->BuscaVinculosByOrigem(1, static_cast<UINT>(a.size()), a.data(), aVinculos.data()) != S_OK) return false;
  const bool bCompleto = aVinculos[0].nQtdCampos == kZelBenchCampos && aVinculos[0].pCampos[0].pcTexto != nullptr;
  LiberaVinculos(aVinculos);
  return bCompleto;
}

// ------------------------------------------------------------------ the peer

class CSQLite {
 public:
  ~CSQLite() {
    for (sqlite3_stmt* s : {m_pGravaVinculo, m_pApagaValores, m_pGravaValor, m_pLeValores, m_pInicio, m_pFim})
      sqlite3_finalize(s);
    sqlite3_close(m_pDb);
  }

  // A database of n origins, as the service's company holds them.
  bool Abre(const std::string& sPath, int64_t n) {
    if (sqlite3_open(sPath.c_str(), &m_pDb) != SQLITE_OK) return false;
    if (!Executa("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                 "CREATE TABLE vinculo(cabecalho INTEGER, chave INTEGER, qtd INTEGER, excluido INTEGER,"
                 " PRIMARY KEY(cabecalho, chave)) WITHOUT ROWID;"
                 "CREATE TABLE valor(cabecalho INTEGER, chave INTEGER, ordem INTEGER, campo INTEGER, dado BLOB,"
                 " texto TEXT, PRIMARY KEY(cabecalho, chave, ordem)) WITHOUT ROWID;"))
      return false;
    if (!Prepara("INSERT OR REPLACE INTO vinculo VALUES(?1, ?2, ?3, 0)", &m_pGravaVinculo) ||
        !Prepara("DELETE FROM valor WHERE cabecalho = ?1 AND chave = ?2", &m_pApagaValores) ||
        !Prepara("INSERT INTO valor VALUES(?1, ?2, ?3, ?4, ?5, ?6)", &m_pGravaValor) ||
        !Prepara("SELECT campo, dado, texto FROM valor WHERE cabecalho = ?1 AND chave = ?2 ORDER BY ordem",
                 &m_pLeValores) ||
        !Prepara("BEGIN", &m_pInicio) || !Prepara("COMMIT", &m_pFim))
      return false;
    if (!Executa("BEGIN")) return false;
    CZelBenchValores valores;
    for (int64_t k = 1; k <= n; ++k)
      if (!GravaLinhas(valores.Vinculo(static_cast<UI4>(k)))) return false;
    return Executa("COMMIT");
  }

  // One origin's link and values, in a transaction of its own.
  bool Grava(const IE_VINCULO_PS& v) {
    if (!Passo(m_pInicio)) return false;
    if (!GravaLinhas(v)) {
      Executa("ROLLBACK");
      return false;
    }
    return Passo(m_pFim);
  }

  // The values of each key, copied out as the service hands them to a
  // client: one allocated array per origin, one allocation per text.
  bool Busca(const std::vector<UI4>& aChaves, std::vector<IE_VINCULO_PS>& aVinculos) {
    for (size_t i = 0; i < aChaves.size(); ++i) {
      IE_VINCULO_PS& v = aVinculos[i];
      v = IE_VINCULO_PS{{1, aChaves[i]}, 0, {}, nullptr, nullptr};
      sqlite3_bind_int64(m_pLeValores, 1, 1);
      sqlite3_bind_int64(m_pLeValores, 2, aChaves[i]);
      std::vector<IE_CAMPO_DATA_PS> a;
      int rc;
      while ((rc = sqlite3_step(m_pLeValores)) == SQLITE_ROW) {
        IE_CAMPO_DATA_PS c{};
        c.id = static_cast<IE_E_CAMPO>(sqlite3_column_int(m_pLeValores, 0));
        const int nDado = std::min<int>(sqlite3_column_bytes(m_pLeValores, 1), sizeof c.BinaryData);
        if (nDado > 0) std::memcpy(c.BinaryData, sqlite3_column_blob(m_pLeValores, 1), static_cast<size_t>(nDado));
        const int nTexto = sqlite3_column_bytes(m_pLeValores, 2);
        if (nTexto > 0) {
          c.pcTexto = static_cast<char*>(CoTaskMemAlloc(static_cast<size_t>(nTexto) + 1));
          std::memcpy(c.pcTexto, sqlite3_column_text(m_pLeValores, 2), static_cast<size_t>(nTexto) + 1);
          c.ulTamanhoTexto = static_cast<UI4>(nTexto + 1);
        }
        a.push_back(c);
      }
      sqlite3_reset(m_pLeValores);
      if (rc != SQLITE_DONE) return false;
      v.nQtdCampos = static_cast<UINT>(a.size());
      v.pCampos = static_cast<IE_CAMPO_DATA_PS*>(CoTaskMemAlloc(a.size() * sizeof(IE_CAMPO_DATA_PS)));
      std::copy(a.begin(), a.end(), v.pCampos);
    }
    return true;
  }

 private:
  bool Executa(const char* sz) { return sqlite3_exec(m_pDb, sz, nullptr, nullptr, nullptr) == SQLITE_OK; }
  bool Prepara(const char* sz, sqlite3_stmt** pp) { return sqlite3_prepare_v2(m_pDb, sz, -1, pp, nullptr) == SQLITE_OK; }
  static bool Passo(sqlite3_stmt* s) {
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    return rc == SQLITE_DONE;
  }
  bool GravaLinhas(const IE_VINCULO_PS& v) {
    sqlite3_bind_int64(m_pGravaVinculo, 1, v.origem.lPosHeader);
    sqlite3_bind_int64(m_pGravaVinculo, 2, v.origem.lChave);
    sqlite3_bind_int64(m_pGravaVinculo, 3, v.nQtdCampos);
    sqlite3_bind_int64(m_pApagaValores, 1, v.origem.lPosHeader);
    sqlite3_bind_int64(m_pApagaValores, 2, v.origem.lChave);
    if (!Passo(m_pGravaVinculo) || !Passo(m_pApagaValores)) return false;
    for (UINT i = 0; i < v.nQtdCampos; ++i) {
      const IE_CAMPO_DATA_PS& c = v.pCampos[i];
      sqlite3_bind_int64(m_pGravaValor, 1, v.origem.lPosHeader);
      sqlite3_bind_int64(m_pGravaValor, 2, v.origem.lChave);
      sqlite3_bind_int64(m_pGravaValor, 3, i);
      sqlite3_bind_int64(m_pGravaValor, 4, c.id);
      if (c.pcTexto != nullptr) {
        sqlite3_bind_null(m_pGravaValor, 5);
        sqlite3_bind_text(m_pGravaValor, 6, c.pcTexto, -1, SQLITE_STATIC);
      } else {
        sqlite3_bind_blob(m_pGravaValor, 5, c.BinaryData, sizeof c.BinaryData, SQLITE_STATIC);
        sqlite3_bind_null(m_pGravaValor, 6);
      }
      if (!Passo(m_pGravaValor)) return false;
    }
    return true;
  }

  sqlite3* m_pDb = nullptr;
  sqlite3_stmt* m_pGravaVinculo = nullptr;
  sqlite3_stmt* m_pApagaValores = nullptr;
  sqlite3_stmt* m_pGravaValor = nullptr;
  sqlite3_stmt* m_pLeValores = nullptr;
  sqlite3_stmt* m_pInicio = nullptr;
  sqlite3_stmt* m_pFim = nullptr;
};

// ------------------------------------------------------------------ helpers

// The server of this run: the Tolvan process whose runtime directory is ours.
long PidDoServidor() {
  for (long pid : ZelProcessosComAmbiente("XDG_RUNTIME_DIR=" + ZelDiretorioBench())) {
    std::error_code ec;
    if (std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).filename() == "Tolvan") return pid;
  }
  return -1;
}

// Every thread of a process (0: the calling thread) on the given CPUs;
// threads it makes later inherit the place.
bool Fixa(long pid, const cpu_set_t& cpus) {
  if (pid == 0) return sched_setaffinity(0, sizeof cpus, &cpus) == 0;
  std::error_code ec;
  bool bAlguma = false;
  for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec))
    bAlguma |= sched_setaffinity(static_cast<pid_t>(std::stol(e.path().filename().string())), sizeof cpus, &cpus) == 0;
  return bAlguma;
}

cpu_set_t Cpu(int i) {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  CPU_SET(i, &cpus);
  return cpus;
}

// Resident bytes of a process, -1 when unknown.
int64_t Residente(long pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  for (std::string s; std::getline(f, s);)
    if (s.rfind("VmRSS:", 0) == 0) return std::stoll(s.substr(6)) * 1024;
  return -1;
}

// A client process of the scaling measure: opens its object, says so, waits
// for the start, makes its calls and reports their time.
int Filho(const std::string& sEmpresa, int64_t n, int nChamadas, size_t nChaves) {
  IZelDF_IEx* p = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ZelDF_IEx, nullptr, CLSCTX_LOCAL_SERVER, IID_IZelDF_IEx,
                              reinterpret_cast<void**>(&p))) ||
      p->Inicializa_Padrao(ZelBenchSessao(sEmpresa)) != S_OK)
    return 1;
  CChaves chaves(n, nChaves);
  std::vector<IE_VINCULO_PS> aVinculos(nChaves);
  if (!Busca(p, chaves, aVinculos)) return 1;
  std::printf("pronto\n");
  std::fflush(stdout);
  char c;
  if (read(0, &c, 1) != 1) return 1;
  const auto t0 = Relogio::now();
  for (int i = 0; i < nChamadas; ++i)
    if (!Busca(p, chaves, aVinculos)) return 1;
  std::printf("%.9f\n", Segundos(t0));
  p->Release();
  return 0;
}

// Calls per second of k client processes at once.
double ChamadasPorSegundo(int k, const std::string& sEmpresa, int64_t n, int nChamadas, size_t nChaves) {
  struct Cliente {
    pid_t pid;
    FILE* pSaida;
    int fdEntrada;
  };
  std::vector<Cliente> a;
  for (int i = 0; i < k; ++i) {
    int ida[2], volta[2];
    if (pipe(ida) != 0 || pipe(volta) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
      dup2(ida[0], 0);
      dup2(volta[1], 1);
      const std::string sN = std::to_string(n), sC = std::to_string(nChamadas), sK = std::to_string(nChaves);
      execl("/proc/self/exe", "tolvan-comparacao", "--filho", sEmpresa.c_str(), sN.c_str(), sC.c_str(), sK.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(ida[0]);
    close(volta[1]);
    a.push_back({pid, fdopen(volta[0], "r"), ida[1]});
  }
  bool bOk = true;
  char sz[64];
  for (auto& c : a) bOk = bOk && std::fgets(sz, sizeof sz, c.pSaida) != nullptr && std::strcmp(sz, "pronto\n") == 0;
  for (auto& c : a) bOk = write(c.fdEntrada, "x", 1) == 1 && bOk;
  double dMaior = 0;
  for (auto& c : a) {
    if (bOk && std::fgets(sz, sizeof sz, c.pSaida) != nullptr)
      dMaior = std::max(dMaior, std::atof(sz));
    else
      bOk = false;
    close(c.fdEntrada);
    std::fclose(c.pSaida);
    int status = 0;
    waitpid(c.pid, &status, 0);
    bOk = bOk && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return bOk && dMaior > 0 ? k * nChamadas / dMaior : -1;
}

// ------------------------------------------------------------------ the table

struct Linha {
  std::string sMedida, sNossa, sPar, sRazao, sMeta, sAtingida;
};

std::string Num(double d, const char* szFormato = "%.3g") {
  if (d < 0) return "falhou";
  char sz[32];
  std::snprintf(sz, sizeof sz, d >= 1000 ? "%.0f" : szFormato, d);
  return sz;
}

// A ratio with its goal; bMaior says the goal is a floor.
Linha Razao(std::string sMedida, double dNossa, double dPar, const char* szUnidade, double dRazao, bool bMaior,
            double dMeta) {
  const bool bValida = dNossa >= 0 && dPar >= 0 && dRazao >= 0;
  const bool bAtingida = bValida && (bMaior ? dRazao >= dMeta : dRazao <= dMeta);
  return {std::move(sMedida), Num(dNossa) + szUnidade, dPar == 0 ? "-" : Num(dPar) + szUnidade,
          bValida ? Num(dRazao, "%.2f") : "-", (bMaior ? ">= " : "<= ") + Num(dMeta), bAtingida ? "sim" : "nao"};
}

void Imprime(const std::vector<Linha>& a) {
  const Linha cab{"Medida", "Nossa", "Par", "Razao", "Meta", "Atingida"};
  size_t w[6] = {};
  auto mede = [&](const Linha& l) {
    const std::string* c[6] = {&l.sMedida, &l.sNossa, &l.sPar, &l.sRazao, &l.sMeta, &l.sAtingida};
    for (int i = 0; i < 6; ++i) w[i] = std::max(w[i], c[i]->size());
  };
  mede(cab);
  for (const auto& l : a) mede(l);
  auto imprime = [&](const Linha& l) {
    const std::string* c[6] = {&l.sMedida, &l.sNossa, &l.sPar, &l.sRazao, &l.sMeta, &l.sAtingida};
    std::printf("|");
    for (int i = 0; i < 6; ++i) std::printf(" %-*s |", static_cast<int>(w[i]), c[i]->c_str());
    std::printf("\n");
  };
  imprime(cab);
  std::printf("|");
  for (size_t x : w) std::printf("%s|", std::string(x + 2, '-').c_str());
  std::printf("\n");
  for (const auto& l : a) imprime(l);
}

std::string Mil(int64_t n) { return n % 1000000 == 0 ? std::to_string(n / 1000000) + "M" : n % 1000 == 0 ? std::to_string(n / 1000) + "k" : std::to_string(n); }

int Compara(const Opcoes& o) {
  const int nLotes = o.nLotes;
  const int nGravacoes = o.bRapido ? 5 : 200, nBuscas = o.bRapido ? 1 : 5, nKeepAlive = o.bRapido ? 20 : 5000;
  const int nAberturas = o.bRapido ? 1 : 3;
  const int64_t aTamanhos[2] = {o.nPequeno, o.nGrande};
  const size_t nChaves = static_cast<size_t>(std::min<int64_t>(1000, o.nPequeno));
  std::vector<Linha> aLinhas;

  // Our data and the peer's, the same origins.
  std::string aEmpresas[2];
  CSQLite aPar[2];
  for (int t = 0; t < 2; ++t) {
    std::fprintf(stderr, "preparando %lld origens...\n", static_cast<long long>(aTamanhos[t]));
    aEmpresas[t] = ZelBenchEmpresaVinculos(aTamanhos[t]);
    if (!aPar[t].Abre(ZelDiretorioBench() + "par" + std::to_string(t) + ".db", aTamanhos[t])) {
      std::fprintf(stderr, "SQLite: a base de %lld origens falhou\n", static_cast<long long>(aTamanhos[t]));
      return 1;
    }
  }

  // The peer's writes, in process; its reads are timed in turns with ours.
  double aParGrava[2], aParBusca[2];
  for (int t = 0; t < 2; ++t) {
    CZelBenchValores valores;
    UI4 lChave = static_cast<UI4>(aTamanhos[t]);
    aParGrava[t] = Mede(nLotes, nGravacoes, [&] { return aPar[t].Grava(valores.Vinculo(++lChave)); });
  }

  // Ours in process: the opening of the large company, then the writes.
  std::fprintf(stderr, "medindo em processo...\n");
  // Only the start counts: load, clean-up and index.
  std::vector<double> aAberturas;
  for (int l = 0; l < nLotes * nAberturas; ++l) {
    CIExBase ie;
    const auto t0 = Relogio::now();
    const bool b = ie.Inicializa(aEmpresas[1], 1, 1) == S_OK;
    aAberturas.push_back(b ? Segundos(t0) : -1);
    ie.Finaliza();
  }
  const double dAbertura = Mediana(std::move(aAberturas));
  double dLeituraSimples = Mede(nLotes, nAberturas, [&] {
    std::ifstream f(ZelDiretorioBench() + aEmpresas[1] + "/VOVIDADI/DFIEVINC.dat", std::ios::binary);
    std::vector<char> a(static_cast<size_t>(std::filesystem::file_size(ZelDiretorioBench() + aEmpresas[1] +
                                                                       "/VOVIDADI/DFIEVINC.dat")));
    return static_cast<bool>(f.read(a.data(), static_cast<std::streamsize>(a.size())));
  });
  double aGrava[2];
  for (int t = 0; t < 2; ++t) {
    IZelDF_IEx* p = ZelBenchCria(false, aEmpresas[t], ZEL_TOLVAN_SERVIDOR);
    if (p == nullptr) return 1;
    CZelBenchValores valores;
    UI4 lChave = static_cast<UI4>(aTamanhos[t]);
    aGrava[t] = Mede(nLotes, nGravacoes, [&] { return p->GravaCamposVinculo(valores.Vinculo(++lChave)) == S_OK; });
    p->Release();
  }

  // Ours through the Tolvan server.
  std::fprintf(stderr, "medindo pelo servidor...\n");
  IZelDF_IEx* apServidor[2] = {ZelBenchCria(true, aEmpresas[0], ZEL_TOLVAN_SERVIDOR), nullptr};
  if (apServidor[0] == nullptr) {
    std::fprintf(stderr, "o servidor Tolvan nao atendeu\n");
    return 1;
  }
  // Both round trips with the same placement when one is asked for: on a VM
  // a pair on one CPU and a pair on two differ by a third.
  const bool bFixa = o.iNucleoServidor >= 0;
  cpu_set_t cpusAntes;
  sched_getaffinity(0, sizeof cpusAntes, &cpusAntes);
  if (bFixa && !(Fixa(0, Cpu(0)) && Fixa(PidDoServidor(), Cpu(o.iNucleoServidor)))) {
    std::fprintf(stderr, "a afinidade pedida falhou\n");
    return 1;
  }
  I4 bOk = 0;
  const double dKeepAlive = Mede(nLotes, nKeepAlive, [&] { return apServidor[0]->KeepAlive(&bOk) == S_OK; });
  double dEco = -1;
  {
    CZelBenchEco eco;
    if (eco.Inicia() && (!bFixa || Fixa(eco.Pid(), Cpu(o.iNucleoServidor))))
      dEco = Mede(nLotes, nKeepAlive, [&] { return eco.IdaEVolta(); });
  }
  if (bFixa) {
    Fixa(0, cpusAntes);
    Fixa(PidDoServidor(), cpusAntes);
  }
  const long pid = PidDoServidor();
  const int64_t llAntes = Residente(pid);
  apServidor[1] = ZelBenchCria(true, aEmpresas[1], ZEL_TOLVAN_SERVIDOR);
  if (apServidor[1] == nullptr) return 1;
  const int64_t llDepois = Residente(pid);
  double aGravaServidor[2], aBuscaServidor[2];
  for (int t = 0; t < 2; ++t) {
    CZelBenchValores valores;
    UI4 lChave = static_cast<UI4>(aTamanhos[t] + 10000000);
    aGravaServidor[t] =
        Mede(nLotes, nGravacoes, [&] { return apServidor[t]->GravaCamposVinculo(valores.Vinculo(++lChave)) == S_OK; });
    // Both sides read the same keys, a batch each in turn.
    CChaves chaves(aTamanhos[t], nChaves), chavesPar(aTamanhos[t], nChaves);
    std::vector<IE_VINCULO_PS> aVinculos(nChaves), aVinculosPar(nChaves);
    std::tie(aBuscaServidor[t], aParBusca[t]) = MedeEmTurnos(
        nLotes, nBuscas, [&] { return Busca(apServidor[t], chaves, aVinculos); },
        [&] {
          const bool b = aPar[t].Busca(chavesPar.Proximas(), aVinculosPar) &&
                         aVinculosPar[0].nQtdCampos == kZelBenchCampos;
          LiberaVinculos(aVinculosPar);
          return b;
        });
  }
  const int nChamadasFilho = o.bRapido ? 2 : 40;
  // One process and four in turns, a median of each: one such run lasts a
  // tenth of a second, which a slow spell of the machine can fill.
  const auto [dUm, dQuatro] =
      EmTurnos(nLotes, [&] { return ChamadasPorSegundo(1, aEmpresas[1], aTamanhos[1], nChamadasFilho, nChaves); },
               [&] { return ChamadasPorSegundo(4, aEmpresas[1], aTamanhos[1], nChamadasFilho, nChaves); });
  for (IZelDF_IEx* p : apServidor) p->Release();

  // The table.
  const double us = 1e6, ms = 1e3;
  aLinhas.push_back(Razao("KeepAlive pelo servidor / ida e volta de socket entre dois processos (us)", dKeepAlive * us,
                          dEco * us, "", dKeepAlive / dEco, false, 1.3));
  for (int t = 0; t < 2; ++t)
    aLinhas.push_back(Razao("GravaCamposVinculo em processo / SQLite, gravacoes/s, " + Mil(aTamanhos[t]) + " origens",
                            1 / aGrava[t], 1 / aParGrava[t], "", aParGrava[t] / aGrava[t], true, 1.5));
  for (int t = 0; t < 2; ++t)
    aLinhas.push_back(Razao("GravaCamposVinculo pelo servidor / SQLite, gravacoes/s, " + Mil(aTamanhos[t]) + " origens",
                            1 / aGravaServidor[t], 1 / aParGrava[t], "", aParGrava[t] / aGravaServidor[t], true, 0.8));
  for (int t = 0; t < 2; ++t)
    aLinhas.push_back(Razao("BuscaVinculosByOrigem de " + std::to_string(nChaves) + " chaves pelo servidor, " +
                                Mil(aTamanhos[t]) + " origens: SQLite / nossa (ms)",
                            aBuscaServidor[t] * ms, aParBusca[t] * ms, "", aParBusca[t] / aBuscaServidor[t], true, 3));
  aLinhas.push_back(Razao("custo de GravaCamposVinculo com " + Mil(aTamanhos[1]) + " / com " + Mil(aTamanhos[0]) +
                              " vinculos (par: SQLite)",
                          aGrava[1] / aGrava[0], aParGrava[1] / aParGrava[0], "", aGrava[1] / aGrava[0], false, 1.2));
  aLinhas.push_back(Razao("abertura da empresa com " + Mil(aTamanhos[1]) + " vinculos (ms; par: leitura simples)",
                          dAbertura * ms, dLeituraSimples * ms, "", dAbertura * ms, false, 100));
  const double dPorVinculo =
      pid > 0 && llAntes > 0 && llDepois > 0 ? static_cast<double>(llDepois - llAntes) / aTamanhos[1] : -1;
  aLinhas.push_back(Razao("memoria residente do servidor por vinculo carregado (bytes)", dPorVinculo, 0, "",
                          dPorVinculo, false, 64));
  aLinhas.push_back(Razao("BuscaVinculosByOrigem de 4 processos / de 1 (chamadas/s)", dQuatro, dUm, "",
                          dUm > 0 ? dQuatro / dUm : -1, true, 1.6));
  Imprime(aLinhas);
  return 0;
}

bool LeOpcoes(int argc, char** argv, Opcoes* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string s = argv[i];
    if (s == "--rapido") {
      o->bRapido = true;
    } else if (s == "--nucleos" && i + 1 < argc) {
      const std::string sNucleos = argv[++i];
      if (sNucleos != "um" && sNucleos != "dois") return false;
      o->iNucleoServidor = sNucleos == "um" ? 0 : 1;
    } else if (s == "--lotes" && i + 1 < argc) {
      o->nLotes = std::atoi(argv[++i]);
    } else if (s == "--origens" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%ld,%ld", &o->nPequeno, &o->nGrande) != 2) return false;
    } else {
      return false;
    }
  }
  return o->nLotes > 0 && o->nPequeno > 0 && o->nGrande > o->nPequeno;
}
}  // namespace

const std::string& ZelDiretorioBench() { return g_sDiretorio; }

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--filho") == 0)
    return Filho(argv[2], std::atoll(argv[3]), std::atoi(argv[4]), static_cast<size_t>(std::atoll(argv[5])));
  Opcoes o;
  if (!LeOpcoes(argc, argv, &o)) {
    std::fprintf(stderr, "uso: tolvan-comparacao [--origens PEQUENO,GRANDE] [--lotes N] [--rapido] [--nucleos um|dois]\n");
    return 2;
  }
  std::random_device rd;
  const auto dir = std::filesystem::temp_directory_path() / ("tolvan-comparacao-" + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  g_sDiretorio = dir.string() + "/";
  setenv("ZEL_REGISTRO_MAQUINA", (g_sDiretorio + "maquina.reg").c_str(), 1);
  setenv("ZEL_REGISTRO_USUARIO", (g_sDiretorio + "usuario.reg").c_str(), 1);
  const int iRetorno = Compara(o);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return iRetorno;
}
