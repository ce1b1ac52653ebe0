#pragma once
// Test assertions on Result and Status that fail with the error's own sentence, where reading
// the value of a failed call would otherwise end the test with an unexplained bad access.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <source_location>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/result.h"

namespace korvel {

// Failure messages show a Result as its value or as its error, not as raw bytes.
template <class T>
void PrintTo(const Result<T>& result, std::ostream* out) {
  if (!result.ok()) {
    *out << errorCodeName(result.error().code) << " error \"" << result.error().message << "\"";
  } else if constexpr (std::is_void_v<T>) {
    *out << "ok";
  } else {
    *out << "ok " << ::testing::PrintToString(result.value());
  }
}

namespace testing {

// The value type of a Result type, as a matcher argument's type names it.
template <class ResultType>
using ResultValue = std::decay_t<decltype(std::declval<ResultType>().value())>;

// EXPECT_THAT(archive.save(meeting, folder), IsOk());
MATCHER(IsOk, negation ? "is an error" : "is ok") {
  if (arg.ok()) return true;
  *result_listener << "which failed: " << arg.error().message;
  return false;
}

// EXPECT_THAT(catalog->renewJob(id, token, now, 30), IsOkAndHolds(true)); also takes a matcher.
MATCHER_P(IsOkAndHolds, expected,
          (negation ? "is an error or holds a value that " : "is ok and holds a value that ") +
              ::testing::DescribeMatcher<const ResultValue<arg_type>&>(expected, negation)) {
  if (!arg.ok()) {
    *result_listener << "which failed: " << arg.error().message;
    return false;
  }
  return ::testing::ExplainMatchResult(expected, arg.value(), result_listener);
}

// EXPECT_THAT(MeetingTitle::validated(title), FailsWith(kInvalidTitle)); also takes a matcher.
MATCHER_P(FailsWith, message,
          (negation ? "succeeds or fails with a message that " : "fails with a message that ") +
              ::testing::DescribeMatcher<const std::string&>(message, negation)) {
  if (arg.ok()) {
    *result_listener << "which succeeded";
    return false;
  }
  return ::testing::ExplainMatchResult(message, arg.error().message, result_listener);
}

// Thrown by valueOf() after it has recorded the failure, to stop the test there.
struct FailedResult : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// For code that cannot ASSERT (initialisers, helpers that return a value): the value, or a
// failure naming the caller's line and the error's sentence, then FailedResult.
template <class T>
T valueOf(Result<T> result, std::source_location where = std::source_location::current()) {
  if (!result.ok()) {
    ADD_FAILURE_AT(where.file_name(), static_cast<int>(where.line())) << "failed: " << result.error().message;
    throw FailedResult(result.error().message);
  }
  return std::move(result).value();
}

// The same for a call whose value is not needed.
template <class T>
void requireOk(const Result<T>& result, std::source_location where = std::source_location::current()) {
  if (!result.ok()) {
    ADD_FAILURE_AT(where.file_name(), static_cast<int>(where.line())) << "failed: " << result.error().message;
    throw FailedResult(result.error().message);
  }
}

}  // namespace testing
}  // namespace korvel

#define KORVEL_RESULT_NAME_INNER_(line) korvel_result_##line
#define KORVEL_RESULT_NAME_(line) KORVEL_RESULT_NAME_INNER_(line)
#define KORVEL_ASSERT_OK_AND_ASSIGN_(result, lhs, expr)                                       \
  auto result = (expr);                                                                       \
  ASSERT_TRUE(result.ok()) << #expr << " failed: " << result.error().message;                 \
  lhs = std::move(result).value()

// ASSERT_OK_AND_ASSIGN(Dir root, Dir::openRoot(fs, path)); declares or assigns `lhs` from the
// value of `expr`, or fails the test with the error's sentence and returns.
#define ASSERT_OK_AND_ASSIGN(lhs, expr) KORVEL_ASSERT_OK_AND_ASSIGN_(KORVEL_RESULT_NAME_(__LINE__), lhs, expr)
