// System and manual implementations of the time interfaces.

#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace korvel {

Date SystemClock::now() const {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return Date::fromUnix(std::chrono::duration<double>(since).count());
}

double SystemClock::monotonicSeconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void SystemSleeper::sleep(double seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

Date ManualClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

double ManualClock::monotonicSeconds() const {
  std::lock_guard lock(mutex_);
  return monotonic_;
}

void ManualClock::set(Date date) {
  std::lock_guard lock(mutex_);
  now_ = date;
}

void ManualClock::advance(double seconds) {
  std::lock_guard lock(mutex_);
  now_ = now_.adding(seconds);
  monotonic_ += seconds;
}

void RecordingSleeper::sleep(double seconds) {
  {
    std::lock_guard lock(mutex_);
    sleeps_.push_back(seconds);
  }
  if (clock_) clock_->advance(seconds);
}

std::vector<double> RecordingSleeper::sleeps() const {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

}  // namespace korvel
