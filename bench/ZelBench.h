// The benchmark run's own directory (with its registry files), ending in '/'.
#pragma once

#include <string>

const std::string& ZelDiretorioBench();
