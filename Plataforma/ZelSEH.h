// Machine faults inside a guarded body become structured exception codes:
// SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGTRAP raised while the calling thread
// runs ZelExecutaProtegido unwind (siglongjmp) to it on an alternate signal
// stack, so a stack overflow is caught too. Outside a guarded body the
// previous disposition of the signal runs.
#pragma once

#include <functional>
#include <string>

#include "ZelCom.h"

constexpr DWORD EXCEPTION_ACCESS_VIOLATION = 0xC0000005;
constexpr DWORD EXCEPTION_ARRAY_BOUNDS_EXCEEDED = 0xC000008C;
constexpr DWORD EXCEPTION_BREAKPOINT = 0x80000003;
constexpr DWORD EXCEPTION_DATATYPE_MISALIGNMENT = 0x80000002;
constexpr DWORD EXCEPTION_FLT_DENORMAL_OPERAND = 0xC000008D;
constexpr DWORD EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008E;
constexpr DWORD EXCEPTION_FLT_INEXACT_RESULT = 0xC000008F;
constexpr DWORD EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090;
constexpr DWORD EXCEPTION_FLT_OVERFLOW = 0xC0000091;
constexpr DWORD EXCEPTION_FLT_STACK_CHECK = 0xC0000092;
constexpr DWORD EXCEPTION_FLT_UNDERFLOW = 0xC0000093;
constexpr DWORD EXCEPTION_GUARD_PAGE = 0x80000001;
constexpr DWORD EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001D;
constexpr DWORD EXCEPTION_IN_PAGE_ERROR = 0xC0000006;
constexpr DWORD EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094;
constexpr DWORD EXCEPTION_INT_OVERFLOW = 0xC0000095;
constexpr DWORD EXCEPTION_INVALID_DISPOSITION = 0xC0000026;
constexpr DWORD EXCEPTION_INVALID_HANDLE = 0xC0000008;
constexpr DWORD EXCEPTION_NONCONTINUABLE_EXCEPTION = 0xC0000025;
constexpr DWORD EXCEPTION_PRIV_INSTRUCTION = 0xC0000096;
constexpr DWORD EXCEPTION_SINGLE_STEP = 0x80000004;
constexpr DWORD EXCEPTION_STACK_OVERFLOW = 0xC00000FD;

struct ZelFalhaMaquina {
  DWORD dwCodigo = 0;  // EXCEPTION_* code
  std::string sPilha;  // one line per frame: module, function, offset
};

// Runs the body. Returns true when it ended normally (a C++ exception that
// leaves the body passes through unchanged); false after a machine fault,
// with *pFalha filled. Guards nest.
bool ZelExecutaProtegido(const std::function<void()>& corpo, ZelFalhaMaquina* pFalha);
