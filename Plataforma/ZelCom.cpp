#include "ZelCom.h"

#include <pthread.h>
#include <sys/random.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

std::string GuidParaTexto(const GUID& g) {
  char sz[40];
  std::snprintf(sz, sizeof sz, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return sz;
}

namespace {
int ValorHex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool TextoParaGuid(std::string_view t, GUID* pGuid) {
  if (t.size() == 38) {
    if (t.front() != '{' || t.back() != '}') return false;
    t = t.substr(1, 36);
  }
  if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') return false;
  uint8_t b[16];
  size_t n = 0;
  for (size_t i = 0; i < t.size();) {
    if (t[i] == '-') {
      ++i;
      continue;
    }
    int h = ValorHex(t[i]), l = ValorHex(t[i + 1]);
    if (h < 0 || l < 0) return false;
    b[n++] = static_cast<uint8_t>(h * 16 + l);
    i += 2;
  }
  if (pGuid == nullptr) return true;
  pGuid->Data1 = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
  pGuid->Data2 = static_cast<uint16_t>((b[4] << 8) | b[5]);
  pGuid->Data3 = static_cast<uint16_t>((b[6] << 8) | b[7]);
  std::memcpy(pGuid->Data4, b + 8, 8);
  return true;
}

HRESULT CoCreateGuid(GUID* pGuid) {
  if (pGuid == nullptr) return E_INVALIDARG;
  // Every bit from the system's random source: GUIDs of different processes
  // must not collide in the log lines.
  auto* p = reinterpret_cast<uint8_t*>(pGuid);
  for (size_t n = 0; n < sizeof(GUID);) {
    ssize_t r = getrandom(p + n, sizeof(GUID) - n, 0);
    if (r > 0) {
      n += static_cast<size_t>(r);
    } else if (errno != EINTR) {
      return E_FAIL;
    }
  }
  pGuid->Data3 = static_cast<uint16_t>((pGuid->Data3 & 0x0FFF) | 0x4000);
  pGuid->Data4[0] = static_cast<uint8_t>((pGuid->Data4[0] & 0x3F) | 0x80);
  return S_OK;
}

namespace {
// The counts are kept per thread: a shared counter took a locked add per
// block, and a read handing out 3,000 blocks spent a tenth of its server time
// there, more when several threads allocate at once. Only the owning thread
// writes its counts, so plain loads and stores suffice; readers add them up.
struct Contagens {
  std::atomic<int64_t> nBlocos{0};
  std::atomic<uint64_t> nBytes{0};
};

struct Registro {
  std::mutex m;
  std::vector<Contagens*> aVivas;
  Contagens aposentadas;  // counts of threads that have ended
};

// Never destroyed: threads may still allocate while statics are destroyed.
// Held across fork, so that a child never inherits it locked by a thread it
// does not have.
Registro& RegistroContagens() {
  static Registro* p = [] {
    auto* r = new Registro;
    pthread_atfork([] { RegistroContagens().m.lock(); }, [] { RegistroContagens().m.unlock(); },
                   [] { RegistroContagens().m.unlock(); });
    return r;
  }();
  return *p;
}

template <class T>
void Soma(std::atomic<T>& a, T n) {
  a.store(a.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
}

struct ContagensDaThread {
  Contagens c;
  ContagensDaThread() {
    Registro& r = RegistroContagens();
    std::lock_guard<std::mutex> l(r.m);
    r.aVivas.push_back(&c);
  }
  ~ContagensDaThread();
};

thread_local bool t_bEncerrada = false;

ContagensDaThread::~ContagensDaThread() {
  Registro& r = RegistroContagens();
  std::lock_guard<std::mutex> l(r.m);
  r.aVivas.erase(std::find(r.aVivas.begin(), r.aVivas.end(), &c));
  Soma(r.aposentadas.nBlocos, c.nBlocos.load(std::memory_order_relaxed));
  Soma(r.aposentadas.nBytes, c.nBytes.load(std::memory_order_relaxed));
  t_bEncerrada = true;
}

Contagens& ContasDaThread() {
  thread_local ContagensDaThread t;
  return t.c;
}

// The calling thread's counts; a thread past its own (another thread-local's
// destructor freeing a block) counts with the ended threads, under the lock.
template <class F>
void Conta(F f) {
  if (!t_bEncerrada) {
    f(ContasDaThread());
    return;
  }
  Registro& r = RegistroContagens();
  std::lock_guard<std::mutex> l(r.m);
  f(r.aposentadas);
}

template <class T>
T Total(std::atomic<T> Contagens::*pm) {
  Registro& r = RegistroContagens();
  std::lock_guard<std::mutex> l(r.m);
  T n = (r.aposentadas.*pm).load(std::memory_order_relaxed);
  for (const Contagens* c : r.aVivas) n += (c->*pm).load(std::memory_order_relaxed);
  return n;
}
}  // namespace

void* CoTaskMemAlloc(size_t cb) {
  void* pv = std::malloc(cb == 0 ? 1 : cb);
  Conta([&](Contagens& c) {
    Soma(c.nBytes, uint64_t{cb});
    if (pv != nullptr) Soma(c.nBlocos, int64_t{1});
  });
  return pv;
}

void CoTaskMemFree(void* pv) {
  if (pv == nullptr) return;
  Conta([](Contagens& c) { Soma(c.nBlocos, int64_t{-1}); });
  std::free(pv);
}

int64_t CoTaskMemBlocosVivos() { return Total(&Contagens::nBlocos); }
uint64_t CoTaskMemBytesPedidos() { return Total(&Contagens::nBytes); }
