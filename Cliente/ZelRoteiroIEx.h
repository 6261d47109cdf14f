// Test support: one fixed sequence of calls covering all 24 methods (results,
// S_FALSE, failures after partial output, null and empty arrays), written out
// field by field. Every array the calls return is freed on the way, so a run
// that leaves task-allocator blocks behind has a fault. Written by hand, not
// from the interface's description, so that a fault in the description shows.
#pragma once

#include <string>

#include "ZelDF_IEx.h"

std::string ZelRoteiroIEx(IZelDF_IEx* p);
