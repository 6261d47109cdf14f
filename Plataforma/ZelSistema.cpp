#include "ZelSistema.h"

#include <malloc.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

uint64_t ZelRelogioNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000ull + static_cast<uint64_t>(ts.tv_nsec);
}

uint64_t GetTickCount64() { return ZelRelogioNs() / 1'000'000u; }

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

void Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    sched_yield();
    return;
  }
  timespec ts{static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void GetLocalTime(SYSTEMTIME* pst) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t{};
  localtime_r(&ts.tv_sec, &t);
  pst->wYear = static_cast<WORD>(t.tm_year + 1900);
  pst->wMonth = static_cast<WORD>(t.tm_mon + 1);
  pst->wDayOfWeek = static_cast<WORD>(t.tm_wday);
  pst->wDay = static_cast<WORD>(t.tm_mday);
  pst->wHour = static_cast<WORD>(t.tm_hour);
  pst->wMinute = static_cast<WORD>(t.tm_min);
  // A leap second reads as the last ordinary second, as the original never shows 60.
  pst->wSecond = static_cast<WORD>(t.tm_sec > 59 ? 59 : t.tm_sec);
  pst->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000L);
}

DWORD GetCurrentThreadId() { return static_cast<DWORD>(gettid()); }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

std::string ZelCaminhoPrograma() {
  std::vector<char> buf(256);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    buf.resize(buf.size() * 2);
  }
}

std::string ZelNomeUsuario() {
  uid_t uid = geteuid();
  long nSugerido = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(nSugerido > 0 ? static_cast<size_t>(nSugerido) : 1024);
  for (;;) {
    passwd pw{};
    passwd* pResultado = nullptr;
    int r = getpwuid_r(uid, &pw, buf.data(), buf.size(), &pResultado);
    if (r == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (r == 0 && pResultado != nullptr && pw.pw_name != nullptr && *pw.pw_name != '\0') return pw.pw_name;
    return std::to_string(uid);
  }
}

namespace {
// The "kB" value of one "Campo:" line of a /proc file, in bytes; -1 when absent.
int64_t LeCampoKb(const char* szArquivo, const char* szCampo) {
  std::ifstream f(szArquivo);
  std::string sLinha;
  size_t nCampo = std::strlen(szCampo);
  while (std::getline(f, sLinha)) {
    if (sLinha.compare(0, nCampo, szCampo) == 0 && sLinha.size() > nCampo && sLinha[nCampo] == ':') {
      return std::strtoll(sLinha.c_str() + nCampo + 1, nullptr, 10) * 1024;
    }
  }
  return -1;
}

}  // namespace

ZelMemoria ZelLeMemoria() {
  ZelMemoria m{};
  m.llTotal = LeCampoKb("/proc/meminfo", "MemTotal");
  m.llDisponivel = LeCampoKb("/proc/meminfo", "MemAvailable");
  m.llPrivada = LeCampoKb("/proc/self/status", "RssAnon");
  if (m.llTotal < 0) m.llTotal = 0;
  if (m.llDisponivel < 0) m.llDisponivel = 0;
  if (m.llPrivada < 0) m.llPrivada = 0;
  return m;
}

std::string ZelVersaoQuatroNumeros(const char* sz) {
  long v[4] = {0, 0, 0, 0};
  const char* p = sz != nullptr ? sz : "";
  for (int i = 0; i < 4; ++i) {
    if (*p < '0' || *p > '9') break;
    char* fim = nullptr;
    v[i] = std::min(std::strtol(p, &fim, 10), static_cast<long>(INT_MAX));
    p = fim;
    if (*p != '.') break;
    ++p;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", static_cast<int>(v[0]), static_cast<int>(v[1]),
                static_cast<int>(v[2]), static_cast<int>(v[3]));
  return buf;
}

std::string ZelVersaoPrograma() {
#ifdef TOLVAN_VERSAO
  return ZelVersaoQuatroNumeros(TOLVAN_VERSAO);
#else
  return ZelVersaoQuatroNumeros("");
#endif
}

std::string ZelVersaoSO() {
  utsname u{};
  if (uname(&u) != 0) return ZelVersaoQuatroNumeros("");
  return ZelVersaoQuatroNumeros(u.release);
}

std::string ZelTextoErroSO(LONG lErro) {
  struct Texto {
    LONG lErro;
    const char* sz;
  };
  // The errors this layer reports, in Windows-1252.
  static constexpr Texto kTextos[] = {
      {ERROR_SUCCESS, "A opera\xE7\xE3o foi conclu\xED" "da com \xEAxito."},
      {ERROR_INVALID_FUNCTION, "Fun\xE7\xE3o incorreta."},
      {ERROR_FILE_NOT_FOUND, "O sistema n\xE3o pode encontrar o arquivo especificado."},
      {ERROR_PATH_NOT_FOUND, "O sistema n\xE3o pode encontrar o caminho especificado."},
      {ERROR_TOO_MANY_OPEN_FILES, "O sistema n\xE3o pode abrir o arquivo."},
      {ERROR_ACCESS_DENIED, "Acesso negado."},
      {ERROR_INVALID_HANDLE, "O identificador \xE9 inv\xE1lido."},
      {ERROR_NOT_ENOUGH_MEMORY, "N\xE3o h\xE1 armazenamento suficiente dispon\xEDvel para processar este comando."},
      {ERROR_INVALID_DATA, "Os dados s\xE3o inv\xE1lidos."},
      {ERROR_OUTOFMEMORY, "N\xE3o h\xE1 armazenamento suficiente dispon\xEDvel para concluir esta opera\xE7\xE3o."},
      {ERROR_CURRENT_DIRECTORY, "O diret\xF3rio n\xE3o pode ser removido."},
      {ERROR_NOT_SAME_DEVICE, "O sistema n\xE3o pode mover o arquivo para uma unidade de disco diferente."},
      {ERROR_NO_MORE_FILES, "N\xE3o h\xE1 mais arquivos."},
      {ERROR_WRITE_PROTECT, "A m\xED" "dia est\xE1 protegida contra grava\xE7\xE3o."},
      {ERROR_SEEK, "A unidade n\xE3o pode localizar uma \xE1rea ou trilha espec\xED" "fica no disco."},
      {ERROR_WRITE_FAULT, "O sistema n\xE3o pode gravar no dispositivo especificado."},
      {ERROR_READ_FAULT, "O sistema n\xE3o pode ler a partir do dispositivo especificado."},
      {ERROR_SHARING_VIOLATION,
       "O arquivo j\xE1 est\xE1 sendo usado por outro processo."},
      {ERROR_LOCK_VIOLATION, "O processo n\xE3o pode acessar o arquivo porque outro processo bloqueou uma parte do "
                             "arquivo."},
      {ERROR_HANDLE_EOF, "Fim do arquivo alcan\xE7" "ado."},
      {ERROR_HANDLE_DISK_FULL, "O disco est\xE1 cheio."},
      {ERROR_FILE_EXISTS, "O arquivo existe."},
      {ERROR_INVALID_PARAMETER, "O par\xE2metro est\xE1 incorreto."},
      {ERROR_BROKEN_PIPE, "O pipe foi finalizado."},
      {ERROR_DISK_FULL, "N\xE3o h\xE1 espa\xE7o suficiente no disco."},
      {ERROR_INSUFFICIENT_BUFFER, "A \xE1rea de dados passada para uma chamada de sistema \xE9 muito pequena."},
      {ERROR_INVALID_NAME, "A sintaxe do nome do arquivo, do nome do diret\xF3rio ou do r\xF3tulo do volume est\xE1 "
                           "incorreta."},
      {ERROR_WAIT_NO_CHILDREN, "N\xE3o h\xE1 processos filho para os quais esperar."},
      {ERROR_DIR_NOT_EMPTY, "O diret\xF3rio n\xE3o est\xE1 vazio."},
      {ERROR_BUSY, "O recurso solicitado est\xE1 em uso."},
      {ERROR_ALREADY_EXISTS, "N\xE3o \xE9 poss\xEDvel criar um arquivo j\xE1 existente."},
      {ERROR_FILENAME_EXCED_RANGE, "O nome do arquivo ou a extens\xE3o \xE9 muito grande."},
      {ERROR_MORE_DATA, "H\xE1 mais dados dispon\xEDveis."},
      {ERROR_NOT_OWNER, "Tentativa de liberar mutex que n\xE3o pertence ao chamador."},
      {ERROR_IO_DEVICE, "A solicita\xE7\xE3o n\xE3o p\xF4" "de ser realizada devido a um erro de dispositivo de "
                        "E/S."},
      {ERROR_TIMEOUT, "A opera\xE7\xE3o retornou porque o per\xEDodo de tempo limite expirou."},
  };
  for (const Texto& t : kTextos)
    if (t.lErro == lErro) return t.sz;
  return {};
}

void ZelDevolveMemoriaLivre() { malloc_trim(0); }

void ZelGuardaMemoriaEntreChamadas() {
  constexpr int kGuardado = 32 << 20;
  // Fixed thresholds: below them a buffer comes from the heap and its pages
  // stay for the next; only what lies free beyond kGuardado goes back.
  mallopt(M_MMAP_THRESHOLD, kGuardado);
  mallopt(M_TRIM_THRESHOLD, kGuardado);
}

void ZelPreferePaginasGrandes(void* p, size_t nBytes) {
  constexpr uintptr_t kGrande = uintptr_t{2} << 20;
  if (nBytes < kGrande) return;
  // Rounded outwards: the allocator's header puts the buffer just past a
  // boundary, and rounding inwards would leave a whole large page of small
  // ones at each end. Only a hint: without it nothing but speed changes.
  const auto uiInicio = reinterpret_cast<uintptr_t>(p) & ~(kGrande - 1);
  const auto uiFim = (reinterpret_cast<uintptr_t>(p) + nBytes + kGrande - 1) & ~(kGrande - 1);
  madvise(reinterpret_cast<void*>(uiInicio), uiFim - uiInicio, MADV_HUGEPAGE);
}

std::vector<long> ZelProcessosComAmbiente(const std::string& sEntrada) {
  const std::string sProcurada = std::string(1, '\0') + sEntrada + '\0';
  std::vector<long> a;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string sNome = e.path().filename().string();
    if (sNome.empty() || sNome.find_first_not_of("0123456789") != std::string::npos) continue;
    const long pid = std::stol(sNome);
    if (pid == getpid()) continue;
    std::ifstream f(e.path() / "environ", std::ios::binary);
    const std::string sAmbiente =
        '\0' + std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (sAmbiente.find(sProcurada) != std::string::npos) a.push_back(pid);
  }
  return a;
}
