// Many small reads of one file at once. Where the kernel offers io_uring, a
// thread's reads go through a ring of its own, a few hundred per system
// call; elsewhere each is one pread. On a machine whose hypervisor shadows
// page tables, the first touch of a mapped page costs several times such a
// read, so reads at random places in a large file are cheaper this way than
// through a view that has not touched their pages yet. A touch maps the
// cached pages around it too, so the next reads there take the view.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ZelArquivo.h"

struct ZelTrecho {
  uint64_t llOffset = 0;
  uint32_t nBytes = 0;
  char* pDestino = nullptr;
  bool bLido = false;  // set: the whole piece was read
};

// Reads every piece of the open file into its destination; returns how many
// were read whole. A piece that runs past the file's end, or fails, is not: its
// destination may hold part of it.
size_t ZelLeTrechos(CFile& arq, ZelTrecho* aTrechos, size_t nTrechos);

// Whether the calling thread may use its ring (tests take the other way).
void ZelLeTrechosPorAnel(bool bUsa);
// System calls the calling thread has made for its reads so far.
uint64_t ZelLeTrechosChamadas();
