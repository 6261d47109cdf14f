// The floor of a local-server call: a child process that answers frames of a
// KeepAlive's sizes over a socket pair and does nothing else (raw reads and
// writes, as the child of a threaded process must).
#pragma once

#include <sys/types.h>

class CZelBenchEco {
 public:
  CZelBenchEco() = default;
  ~CZelBenchEco();
  CZelBenchEco(const CZelBenchEco&) = delete;
  CZelBenchEco& operator=(const CZelBenchEco&) = delete;

  bool Inicia();
  // One request and its whole reply.
  bool IdaEVolta();
  pid_t Pid() const { return m_pid; }

 private:
  int m_fd = -1;
  pid_t m_pid = -1;
};
