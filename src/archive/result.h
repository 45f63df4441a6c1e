// Error values for the ZIP component: what failed, on which path, and the
// system's error code.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace archive {

// One failure. `code` is the system's error number (errno on POSIX, the
// last-error value on Windows), or 0 when the failure is a rule of the
// component itself, such as a size that does not match.
struct Error {
  int code = 0;
  std::string operation;
  std::string path;
};

// The outcome of an operation that gives no value: success or an Error.
class [[nodiscard]] Status {
public:
  Status() = default;
  Status(Error error) : error_(std::move(error)) {}

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }
  // Only valid when !ok().
  const Error &error() const { return *error_; }

private:
  std::optional<Error> error_;
};

// A value or the Error that kept it from being made.
template <class T> class [[nodiscard]] Result {
public:
  Result(T value) : state_(std::move(value)) {}
  Result(Error error) : state_(std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  // Only valid when ok().
  T &value() { return std::get<0>(state_); }
  const T &value() const { return std::get<0>(state_); }
  // Only valid when !ok().
  const Error &error() const { return std::get<1>(state_); }
  Status status() const { return ok() ? Status() : Status(error()); }

private:
  std::variant<T, Error> state_;
};

} // namespace archive
