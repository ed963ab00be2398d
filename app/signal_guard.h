#pragma once

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "files/output.h"

namespace mek {

// While it lives, the signals that end a process (SIGINT, TERM, HUP, QUIT,
// USR1, USR2, ALRM, XCPU and VTALRM) are taken by a thread of its own,
// unless the process started with them ignored (nohup, trap ''), which stays
// so. A signal that finds an output being written stops it (no temporary
// file is left, standard output is cut back) and ends the process by the
// same signal, as if it had not been caught. A commit under way is let
// finish first; the run then ends before anything else starts, and its
// status tells the truth: when every file had been converted, the signal
// changes nothing. With `nameConverted` (several files in place), the files
// converted before the signal are told on standard error ("NAME:
// converted"), so that a retry can leave them out. Built before any other
// thread starts and before any output is opened; threads started later
// inherit the blocked signals.
class SignalGuard final : public OutputWatcher {
 public:
  explicit SignalGuard(bool nameConverted);
  ~SignalGuard();
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

  // The output being written now, and its end (only while it is the one).
  void attach(Output* output) override;
  void detach(const Output* output) override;
  // After each file: whether it was converted, and whether it was the last.
  void finished(const char* name, bool converted, bool last);
  // For tests: when MEK_TEST_SIGNAL is "POINT:NUMBER" and `point` is POINT,
  // sends signal NUMBER to the process and waits until the guard's thread
  // has it. The points are "temporary" (a temporary file was made), "write"
  // (the first output bytes), "commit" (the new file is flushed, before it
  // takes the target's name) and, without waiting, "ended" (the guard is
  // going, every file done).
  void testSignal(const char* point) override;
  // Takes the signals sent to this thread alone (they wait while it blocks
  // them), then ends the process by a signal that came meanwhile, unless
  // `everyFileConverted`.
  void settle(bool everyFileConverted);

 private:
  static void* watch(void* self);
  void take(int signal);  // under mutex_
  [[noreturn]] void die(int signal);

  sigset_t signals_;
  sigset_t previous_;
  pthread_t thread_{};
  bool started_ = false;
  bool name_converted_ = false;
  std::atomic<int> received_{0};  // signals the watcher has had
  std::mutex mutex_;
  bool stopping_ = false;
  Output* output_ = nullptr;
  bool done_ = false;  // no file is left to convert
  int pending_ = 0;    // a signal that came while nothing could be stopped
  std::vector<std::string> converted_;
};

}  // namespace mek
