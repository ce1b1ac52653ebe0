#pragma once
// Result<T>: a value or a typed error carrying one user-facing sentence, plus TRY.

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace korvel {

enum class ErrorCode { NotFound, InvalidInput, Io, Corrupt, Network, Timeout, Denied, Cancelled };

const char* errorCodeName(ErrorCode code);

struct Error {
  ErrorCode code = ErrorCode::Io;
  std::string message;  // one full sentence, shown to the user as is
  // What the operating system said and about which path ("Could not open /x: Permission
  // denied."), kept when a caller replaces the message with its own sentence. Diagnostic only:
  // two errors with the same code and sentence are the same refusal.
  std::string detail;
  bool operator==(const Error& other) const { return code == other.code && message == other.message; }
};

inline Error makeError(ErrorCode code, std::string message) { return Error{code, std::move(message), {}}; }

// The refusal `message`, carrying the code and the operating system's detail of `cause`.
inline Error rephrased(const Error& cause, std::string message) {
  return Error{cause.code, std::move(message), cause.detail};
}

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  // Rvalue access hands the value out by value, so `for (auto& x : *f())` and the like never
  // refer into a temporary that has already gone.
  T value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const& { return std::get<1>(state_); }
  Error error() && { return std::get<1>(std::move(state_)); }

  T valueOr(T fallback) const& { return ok() ? value() : std::move(fallback); }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)) {}

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  void value() const {}

  const Error& error() const& { return *error_; }
  Error error() && { return std::move(*error_); }

 private:
  std::optional<Error> error_;
};

using Status = Result<void>;

inline Status okStatus() { return {}; }

}  // namespace korvel

// Unwraps a Result or returns its error from the enclosing function (a GNU statement expression).
#define TRY(expr)                                          \
  ({                                                       \
    auto&& korvel_try_result_ = (expr);                    \
    if (!korvel_try_result_.ok())                          \
      return std::move(korvel_try_result_).error();        \
    std::move(korvel_try_result_).value();                 \
  })
