// Component-runtime basics: result codes, identities, IUnknown and the task
// allocator, with the names and values callers of the original runtime use.
#pragma once

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

using HRESULT = int32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using WORD = uint16_t;
using BYTE = uint8_t;
using BOOL = int32_t;
using ULONGLONG = uint64_t;
using LONGLONG = int64_t;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

constexpr unsigned SEVERITY_SUCCESS = 0;
constexpr unsigned SEVERITY_ERROR = 1;

constexpr unsigned FACILITY_NULL = 0;
constexpr unsigned FACILITY_RPC = 1;
constexpr unsigned FACILITY_DISPATCH = 2;
constexpr unsigned FACILITY_STORAGE = 3;
constexpr unsigned FACILITY_ITF = 4;
constexpr unsigned FACILITY_WIN32 = 7;
constexpr unsigned FACILITY_WINDOWS = 8;
constexpr unsigned ZEL_FACILITY_CR_CORE = 264;

constexpr HRESULT MAKE_HRESULT(unsigned sev, unsigned fac, unsigned code) {
  return static_cast<HRESULT>((static_cast<uint32_t>(sev) << 31) | (static_cast<uint32_t>(fac) << 16) |
                              static_cast<uint32_t>(code));
}
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr unsigned HRESULT_CODE(HRESULT hr) { return static_cast<uint32_t>(hr) & 0xFFFFu; }
constexpr unsigned HRESULT_FACILITY(HRESULT hr) { return (static_cast<uint32_t>(hr) >> 16) & 0x1FFFu; }
constexpr unsigned HRESULT_SEVERITY(HRESULT hr) { return static_cast<uint32_t>(hr) >> 31; }
constexpr HRESULT HRESULT_FROM_WIN32(LONG x) {
  return x <= 0 ? static_cast<HRESULT>(x)
                : static_cast<HRESULT>((static_cast<uint32_t>(x) & 0xFFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}
constexpr HRESULT HR(uint32_t v) { return static_cast<HRESULT>(v); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_UNEXPECTED = HR(0x8000FFFF);
constexpr HRESULT E_NOTIMPL = HR(0x80004001);
constexpr HRESULT E_NOINTERFACE = HR(0x80004002);
constexpr HRESULT E_POINTER = HR(0x80004003);
constexpr HRESULT E_ABORT = HR(0x80004004);
constexpr HRESULT E_FAIL = HR(0x80004005);
constexpr HRESULT E_ACCESSDENIED = HR(0x80070005);
constexpr HRESULT E_HANDLE = HR(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = HR(0x8007000E);
constexpr HRESULT E_INVALIDARG = HR(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = HR(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = HR(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = HR(0x80040154);
constexpr HRESULT CO_E_NOTINITIALIZED = HR(0x800401F0);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = HR(0x80080005);
constexpr HRESULT CO_E_SERVER_STOPPING = HR(0x80080008);
constexpr HRESULT RPC_E_DISCONNECTED = HR(0x80010108);
constexpr HRESULT RPC_X_NULL_REF_POINTER = HR(0x800706F4);
constexpr HRESULT RPC_X_BAD_STUB_DATA = HR(0x800706F7);
constexpr HRESULT RPC_E_CHANGED_MODE = HR(0x80010106);
constexpr HRESULT RPC_E_TOO_LATE = HR(0x80010119);
constexpr HRESULT CO_E_OBJNOTCONNECTED = HR(0x800401FD);

// Windows system error codes that the platform layer reports.
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_INVALID_FUNCTION = 1;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_INVALID_DATA = 13;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_CURRENT_DIRECTORY = 16;
constexpr LONG ERROR_NOT_SAME_DEVICE = 17;
constexpr LONG ERROR_NO_MORE_FILES = 18;
constexpr LONG ERROR_WRITE_PROTECT = 19;
constexpr LONG ERROR_SEEK = 25;
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_READ_FAULT = 30;
constexpr LONG ERROR_SHARING_VIOLATION = 32;
constexpr LONG ERROR_LOCK_VIOLATION = 33;
constexpr LONG ERROR_HANDLE_EOF = 38;
constexpr LONG ERROR_HANDLE_DISK_FULL = 39;
constexpr LONG ERROR_FILE_EXISTS = 80;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_BROKEN_PIPE = 109;
constexpr LONG ERROR_DISK_FULL = 112;
constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
constexpr LONG ERROR_INVALID_NAME = 123;
constexpr LONG ERROR_DIR_NOT_EMPTY = 145;
constexpr LONG ERROR_BUSY = 170;
constexpr LONG ERROR_ALREADY_EXISTS = 183;
constexpr LONG ERROR_FILENAME_EXCED_RANGE = 206;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_WAIT_NO_CHILDREN = 128;
constexpr LONG ERROR_NOT_OWNER = 288;
constexpr LONG ERROR_TIMEOUT = 1460;
constexpr LONG RPC_S_SERVER_TOO_BUSY = 1723;
constexpr LONG ERROR_IO_DEVICE = 1117;
constexpr LONG ERROR_CANT_RESOLVE_FILENAME = 1921;

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;

bool operator==(const GUID& a, const GUID& b);
inline bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::string GuidParaTexto(const GUID& guid);
// Accepts the form above in any letter case, with or without the braces.
bool TextoParaGuid(std::string_view texto, GUID* pGuid);
// A new random (version 4) identity.
HRESULT CoCreateGuid(GUID* pGuid);

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Interfaces carry no virtual destructor: their slot order is the contract.
struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) = 0;
  virtual HRESULT LockServer(BOOL fLock) = 0;

 protected:
  ~IClassFactory() = default;
};

// Reference counting and QueryInterface of an object that serves one
// interface I (besides IUnknown). It starts with one reference, its
// creator's; the last Release deletes it.
template <class I, const IID& iid>
class T_ZelObjetoCom : public I {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == iid) {
      *ppv = static_cast<I*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_cRef; }
  ULONG Release() override {
    ULONG n = --m_cRef;
    if (n == 0) delete this;
    return n;
  }

 protected:
  virtual ~T_ZelObjetoCom() = default;

 private:
  std::atomic<ULONG> m_cRef{1};
};

// Task allocator: blocks handed across the interface are owned by whoever
// receives them and freed with CoTaskMemFree.
void* CoTaskMemAlloc(size_t cb);
void CoTaskMemFree(void* pv);
// Blocks allocated and not yet freed in this process (for leak checks).
int64_t CoTaskMemBlocosVivos();
// Bytes asked of the task allocator in this process so far (for bound checks).
uint64_t CoTaskMemBytesPedidos();
