#pragma once
// Injected time: wall clock, monotonic clock and sleeper, so that tests never wait.

#include <mutex>
#include <vector>

#include "platform/date.h"

namespace korvel {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Date now() const = 0;
  // Seconds on a clock that never jumps; only differences mean anything.
  virtual double monotonicSeconds() const = 0;
};

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void sleep(double seconds) = 0;
};

class SystemClock final : public Clock {
 public:
  Date now() const override;
  double monotonicSeconds() const override;
};

class SystemSleeper final : public Sleeper {
 public:
  void sleep(double seconds) override;
};

// A clock that moves only when told to; thread-safe.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(Date start = Date::fromUnix(1772633700)) : now_(start) {}
  Date now() const override;
  double monotonicSeconds() const override;
  void set(Date date);
  void advance(double seconds);

 private:
  mutable std::mutex mutex_;
  Date now_;
  double monotonic_ = 1000;
};

// A sleeper that records each request and, when given a clock, advances it instead of waiting.
class RecordingSleeper final : public Sleeper {
 public:
  explicit RecordingSleeper(ManualClock* clock = nullptr) : clock_(clock) {}
  void sleep(double seconds) override;
  std::vector<double> sleeps() const;

 private:
  ManualClock* clock_;
  mutable std::mutex mutex_;
  std::vector<double> sleeps_;
};

}  // namespace korvel
