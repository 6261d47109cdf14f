#include "ZelMutexNomeado.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <unordered_map>

#include "ZelCrc.h"
#include "ZelSistema.h"
#include "ZelTempo.h"

// The shared segment. Zero-filled when created, so kLivre is its first state.
struct CZelMutexNomeado::Memoria {
  std::atomic<uint32_t> estado;
  pthread_mutex_t mutex;
};

namespace {
constexpr uint32_t kLivre = 0;
constexpr uint32_t kIniciando = 1;
constexpr uint32_t kPronto = 2;

static_assert(std::atomic<uint32_t>::is_always_lock_free, "the flag is shared between processes");

LONG ErroDeErrno(int e) {
  switch (e) {
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
    case ENOSPC:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    default:
      return ERROR_INVALID_HANDLE;
  }
}

bool IniciaMutex(pthread_mutex_t* pMutex) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 && pthread_mutex_init(pMutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  return ok;
}

// One mapping per name for the life of the process. A held robust mutex is
// linked by address into its owner thread's robust list, which the kernel
// walks when the thread ends; unmapping it while held would corrupt that list.
struct Mapeamentos {
  std::mutex trava;
  std::unordered_map<std::string, void*> porNome;
};
Mapeamentos& TodosMapeamentos() {
  static Mapeamentos* p = new Mapeamentos;  // never destroyed: threads may outlive static destructors
  return *p;
}

// Opens (creating if needed) and maps nBytes of the object; ERROR_SUCCESS or why not.
// Segments are never unlinked: another process may be about to open the name,
// and one that opened it before an unlink would hold a different mutex.
LONG MapeiaSegmento(const std::string& sObjeto, size_t nBytes, void** ppSegmento) {
  int fd = shm_open(sObjeto.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 && errno == EEXIST) fd = shm_open(sObjeto.c_str(), O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return ErroDeErrno(errno);
  // Every opener sizes it: a creator that died before ftruncate would otherwise
  // leave an empty object, and growing zero-fills, so a second call changes nothing.
  struct stat st{};
  if (fstat(fd, &st) != 0 ||
      (st.st_size < static_cast<off_t>(nBytes) && ftruncate(fd, static_cast<off_t>(nBytes)) != 0)) {
    LONG l = ErroDeErrno(errno);
    close(fd);
    return l;
  }
  void* p = mmap(nullptr, nBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  int e = errno;
  close(fd);
  if (p == MAP_FAILED) return ErroDeErrno(e);
  *ppSegmento = p;
  return ERROR_SUCCESS;
}

// Whoever claims the free segment first initialises the mutex; the others wait
// (bounded) for it to be published. Usually the claimer is its creator; one
// that died in between leaves the name unusable (ERROR_TIMEOUT) until reboot.
LONG IniciaOuEspera(std::atomic<uint32_t>* pEstado, pthread_mutex_t* pMutex) {
  uint32_t esperado = kLivre;
  if (pEstado->compare_exchange_strong(esperado, kIniciando, std::memory_order_acq_rel)) {
    if (!IniciaMutex(pMutex)) {
      pEstado->store(kLivre, std::memory_order_release);
      return ERROR_INVALID_HANDLE;
    }
    pEstado->store(kPronto, std::memory_order_release);
    return ERROR_SUCCESS;
  }
  uint64_t limite = ZelRelogioNs() + uint64_t{ZelTempoMs(ZelTempo::kEsperaIniciacaoMutexNomeado)} * 1'000'000u;
  while (pEstado->load(std::memory_order_acquire) != kPronto) {
    if (ZelRelogioNs() > limite) return ERROR_TIMEOUT;
    sched_yield();
  }
  return ERROR_SUCCESS;
}
}  // namespace

// Names may hold spaces and braces and be long, so the object is named by a
// checksum; the uid keeps each user's mutexes apart.
std::string ZelObjetoMutexNomeado(const std::string& sNome) {
  char sz[64];
  std::snprintf(sz, sizeof sz, "/zelmtx-%u-%016llx", static_cast<unsigned>(geteuid()),
                static_cast<unsigned long long>(ZelCrc64(sNome)));
  return sz;
}

LONG ZelExcluiMutexNomeado(const std::string& sNome) {
  if (shm_unlink(ZelObjetoMutexNomeado(sNome).c_str()) == 0) return ERROR_SUCCESS;
  return errno == ENOENT ? ERROR_FILE_NOT_FOUND : ErroDeErrno(errno);
}

CZelMutexNomeado::CZelMutexNomeado(const std::string& sNome) {
  std::string sObjeto = ZelObjetoMutexNomeado(sNome);
  Mapeamentos& m = TodosMapeamentos();
  std::lock_guard<std::mutex> lock(m.trava);
  auto it = m.porNome.find(sObjeto);
  if (it != m.porNome.end()) {
    m_pMemoria = static_cast<Memoria*>(it->second);
    return;
  }
  void* pSegmento = nullptr;
  m_lErro = MapeiaSegmento(sObjeto, sizeof(Memoria), &pSegmento);
  if (m_lErro != ERROR_SUCCESS) return;
  auto* p = static_cast<Memoria*>(pSegmento);
  m_lErro = IniciaOuEspera(&p->estado, &p->mutex);
  if (m_lErro != ERROR_SUCCESS) {
    munmap(pSegmento, sizeof(Memoria));
    return;
  }
  m.porNome.emplace(sObjeto, pSegmento);
  m_pMemoria = p;
}

// The mapping stays (see Mapeamentos); ownership stays with the thread, as
// closing a handle to an owned mutex leaves it owned on the original.
CZelMutexNomeado::~CZelMutexNomeado() = default;

DWORD CZelMutexNomeado::Espera(DWORD dwMilissegundos) {
  m_lErroEspera = ERROR_SUCCESS;
  if (m_pMemoria == nullptr) {
    m_lErroEspera = ERROR_INVALID_HANDLE;
    return WAIT_FAILED;
  }
  pthread_mutex_t* pMutex = &m_pMemoria->mutex;
  int r;
  if (dwMilissegundos == INFINITE) {
    r = pthread_mutex_lock(pMutex);
  } else if (dwMilissegundos == 0) {
    r = pthread_mutex_trylock(pMutex);
  } else {
    timespec limite{};
    clock_gettime(CLOCK_MONOTONIC, &limite);
    limite.tv_sec += static_cast<time_t>(dwMilissegundos / 1000);
    limite.tv_nsec += static_cast<long>(dwMilissegundos % 1000) * 1000000L;
    if (limite.tv_nsec >= 1000000000L) {
      limite.tv_sec += 1;
      limite.tv_nsec -= 1000000000L;
    }
    r = pthread_mutex_clocklock(pMutex, CLOCK_MONOTONIC, &limite);
  }
  switch (r) {
    case 0:
      return WAIT_OBJECT_0;
    case EOWNERDEAD:
      // The caller owns it now; marking it consistent keeps it usable after release.
      pthread_mutex_consistent(pMutex);
      return WAIT_ABANDONED;
    case ETIMEDOUT:
    case EBUSY:
      return WAIT_TIMEOUT;
    default:
      m_lErroEspera = ErroDeErrno(r);
      return WAIT_FAILED;
  }
}

bool CZelMutexNomeado::Libera() {
  if (m_pMemoria == nullptr) return false;
  return pthread_mutex_unlock(&m_pMemoria->mutex) == 0;
}
