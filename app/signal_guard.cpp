#include "app/signal_guard.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/output.h"
#include "files/quoting.h"

namespace mek {
namespace {

constexpr int kGuarded[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,  SIGUSR1,
                            SIGUSR2, SIGALRM, SIGXCPU, SIGVTALRM};

// The signal that MEK_TEST_SIGNAL asks for at `point`, or 0.
int testSignalAt(const char* point) {
  const char* wanted = std::getenv("MEK_TEST_SIGNAL");
  if (wanted == nullptr) return 0;
  const char* colon = std::strchr(wanted, ':');
  const std::size_t length = std::strlen(point);
  if (colon == nullptr || static_cast<std::size_t>(colon - wanted) != length ||
      std::strncmp(wanted, point, length) != 0) {
    return 0;
  }
  return std::atoi(colon + 1);
}

}  // namespace

SignalGuard::SignalGuard(bool nameConverted) : name_converted_(nameConverted) {
  sigemptyset(&signals_);
  int any = 0;
  for (int signal : kGuarded) {
    struct sigaction now {};
    if (sigaction(signal, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) {
      sigaddset(&signals_, signal);
      any = signal;
    }
  }
  pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
  if (any != 0) {
    // The watcher needs little stack; a small one keeps runs under a tight
    // address-space limit possible.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, std::size_t{256} << 10);
    started_ = pthread_create(&thread_, &attributes, &SignalGuard::watch, this) == 0;
    pthread_attr_destroy(&attributes);
  }
}

SignalGuard::~SignalGuard() {
  if (started_) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    // Wakes the watcher, which sees that it is stopping and returns.
    for (int signal : kGuarded) {
      if (sigismember(&signals_, signal) == 1) {
        pthread_kill(thread_, signal);
        break;
      }
    }
    pthread_join(thread_, nullptr);
  }
  // For tests: a signal once the watcher has gone ("ended").
  if (const int signal = testSignalAt("ended"); signal != 0) kill(getpid(), signal);
  // Once every file is done, a signal that comes now changes nothing: it
  // stays blocked while the process ends with its own status.
  if (!done_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void* SignalGuard::watch(void* self) {
  auto& guard = *static_cast<SignalGuard*>(self);
  for (;;) {
    int signal = 0;
    if (sigwait(&guard.signals_, &signal) != 0) continue;
    ++guard.received_;
    std::lock_guard<std::mutex> lock(guard.mutex_);
    if (guard.stopping_) return nullptr;
    guard.take(signal);
  }
}

void SignalGuard::take(int signal) {
  if (output_ != nullptr) {
    if (!output_->interrupt()) die(signal);
  } else if (!done_) {
    die(signal);  // between files: nothing is at stake
  }
  pending_ = signal;  // the text was complete: the main thread decides
}

void SignalGuard::attach(Output* output) {
  std::lock_guard<std::mutex> lock(mutex_);
  output_ = output;
}

void SignalGuard::detach(const Output* output) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (output_ == output) output_ = nullptr;
}

void SignalGuard::finished(const char* name, bool converted, bool last) {
  std::lock_guard<std::mutex> lock(mutex_);
  output_ = nullptr;
  if (converted && name_converted_) converted_.emplace_back(name);
  done_ = last;
}

void SignalGuard::settle(bool everyFileConverted) {
  sigset_t pending;
  if (sigpending(&pending) == 0) {
    for (int signal : kGuarded) {
      if (sigismember(&signals_, signal) != 1 || sigismember(&pending, signal) != 1) continue;
      const struct timespec now {};
      const int got = sigtimedwait(&signals_, nullptr, &now);
      if (got <= 0) break;
      std::lock_guard<std::mutex> lock(mutex_);
      take(got);
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_ != 0 && !everyFileConverted) die(pending_);
}

void SignalGuard::die(int signal) {
  for (const std::string& name : converted_) {
    std::fprintf(stderr, "%s: converted\n", labelText(name).c_str());
  }
  std::fflush(stderr);
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
  _exit(128 + signal);
}

void SignalGuard::testSignal(const char* point) {
  const int signal = testSignalAt(point);
  if (signal == 0) return;
  const int before = received_;
  kill(getpid(), signal);
  if (sigismember(&signals_, signal) != 1) return;  // ignored
  // As if the signal came at this point: the watcher acts on it meanwhile.
  for (int i = 0; i < 500 && received_ == before; ++i) usleep(10000);
  usleep(100000);
}

}  // namespace mek
