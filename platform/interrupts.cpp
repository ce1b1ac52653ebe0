// Signal handlers that only record the signal: an atomic number and a byte in a self-pipe, the
// two things a handler may safely touch.

#include "platform/interrupts.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace korvel {
namespace {

// A signal handler has no way to reach an object, so the state it writes is process-wide.
std::atomic<int> receivedSignal{0};
int wakePipe[2] = {-1, -1};
struct sigaction previousInterrupt;
struct sigaction previousTerminate;

void record(int signal) {
  int expected = 0;
  receivedSignal.compare_exchange_strong(expected, signal);
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakePipe[1], &byte, 1);
}

}  // namespace

InterruptWatch::InterruptWatch() {
  receivedSignal = 0;
  (void)::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK);
  struct sigaction action {};
  action.sa_handler = record;
  sigemptyset(&action.sa_mask);
  // Back to the default after the first one, so a second Ctrl-C stops the program at once; other
  // system calls carry on undisturbed, since waits watch the wake descriptor instead.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  ::sigaction(SIGINT, &action, &previousInterrupt);
  ::sigaction(SIGTERM, &action, &previousTerminate);
}

InterruptWatch::~InterruptWatch() {
  ::sigaction(SIGINT, &previousInterrupt, nullptr);
  ::sigaction(SIGTERM, &previousTerminate, nullptr);
  for (int& descriptor : wakePipe) {
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
  }
}

bool InterruptWatch::interrupted() const { return receivedSignal.load() != 0; }

int InterruptWatch::signalNumber() const { return receivedSignal.load(); }

int InterruptWatch::wakeDescriptor() const { return wakePipe[0]; }

}  // namespace korvel
