#pragma once

#include <pthread.h>

#include <mutex>

namespace mek {

class Output;

// While it lives, SIGINT, SIGTERM and SIGHUP are taken by a thread of their
// own, which abandons `output` (so that no temporary file is left and no
// target is damaged) and then ends the process by the same signal, as if it
// had not been caught. Threads started meanwhile inherit the blocked signals.
// Built before any other thread starts.
class SignalGuard {
 public:
  explicit SignalGuard(Output& output);
  ~SignalGuard();
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

 private:
  static void* watch(void* self);

  Output& output_;
  sigset_t signals_;
  sigset_t previous_;
  pthread_t thread_;
  bool started_ = false;
  std::mutex mutex_;
  bool stopping_ = false;
};

}  // namespace mek
