#include "ZelDataBaseFacade.h"

std::mutex& ZelTravaGravacaoDataBase() {
  static auto* p = new std::mutex;
  return *p;
}
