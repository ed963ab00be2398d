#include "app/signal_guard.h"

#include <signal.h>

#include "app/output.h"

namespace mek {

SignalGuard::SignalGuard(Output& output) : output_(output) {
  sigemptyset(&signals_);
  sigaddset(&signals_, SIGINT);
  sigaddset(&signals_, SIGTERM);
  sigaddset(&signals_, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
  started_ = pthread_create(&thread_, nullptr, &SignalGuard::watch, this) == 0;
}

SignalGuard::~SignalGuard() {
  if (started_) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    // Wakes the watcher, which sees that it is stopping and returns.
    pthread_kill(thread_, SIGTERM);
    pthread_join(thread_, nullptr);
  }
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void* SignalGuard::watch(void* self) {
  auto& guard = *static_cast<SignalGuard*>(self);
  int signal = 0;
  if (sigwait(&guard.signals_, &signal) != 0) return nullptr;
  {
    std::lock_guard<std::mutex> lock(guard.mutex_);
    if (guard.stopping_) return nullptr;
  }
  guard.output_.abandon();
  // Ends the process the way the signal would have: its default action.
  struct sigaction dflt {};
  dflt.sa_handler = SIG_DFL;
  sigemptyset(&dflt.sa_mask);
  sigaction(signal, &dflt, nullptr);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(signal);
  return nullptr;
}

}  // namespace mek
