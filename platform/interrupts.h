#pragma once
// Noticing the user's request to stop (SIGINT from Ctrl-C, SIGTERM), so that long work can hand
// back what it holds and remove its scratch files instead of dying mid-way.

namespace korvel {

// While an instance lives, SIGINT and SIGTERM set its flag instead of ending the process; the
// previous handlers come back when it is destroyed. A second signal of the same kind ends the
// process at once, for the user who does not want to wait. One instance at a time.
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool interrupted() const;
  // The signal that arrived, 0 while none has.
  int signalNumber() const;
  // The customary exit code of a program stopped by that signal: 128 + its number (130, 143).
  int exitCode() const { return 128 + signalNumber(); }
  // Becomes readable once a signal has arrived, for waits that poll file descriptors.
  int wakeDescriptor() const;
};

}  // namespace korvel
