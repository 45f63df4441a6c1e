// Errors as values inside the engine: what failed, the operating system's
// error number when there is one, and whether a retry can help.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace download {

// What kind of step failed. The connection loop decides from the kind
// alone whether to retry: refused replies are final, everything that
// touches the network is worth another try.
enum class ErrorKind {
  Resolve,    // the host name could not be resolved
  Connect,    // the TCP connection could not be established in time
  Send,       // the request could not be sent in time
  Receive,    // the reply stopped, timed out or ended early
  Refused,    // the reply was understood and is not acceptable
  File,       // the local file could not be created or written
  Stopped,    // a stop request ended the wait
};

struct Error {
  ErrorKind kind;
  int osError = 0;   // errno or its platform equivalent; 0 when none
  std::string what;  // a short text for the status log

  bool retryable() const {
    return kind == ErrorKind::Resolve || kind == ErrorKind::Connect ||
           kind == ErrorKind::Send || kind == ErrorKind::Receive;
  }
};

// Either a value or an Error. Small on purpose: the engine only needs to
// hand a failure up a few frames to the place that turns it into an event.
template <typename T> class Result {
public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T &value() { return std::get<0>(state_); }
  const T &value() const { return std::get<0>(state_); }
  T &operator*() { return value(); }
  const T &operator*() const { return value(); }
  T *operator->() { return &value(); }
  const T *operator->() const { return &value(); }

  const Error &error() const { return std::get<1>(state_); }

private:
  std::variant<T, Error> state_;
};

// A result that carries no value on success.
struct Done {};
using Status = Result<Done>;

inline Status success() { return Done{}; }

} // namespace download
