// The exception types through which the launcher signals failures.
#pragma once

#include <stdexcept>
#include <string>

namespace jov {

// Base of every failure the launcher raises; the message names the thing and the cause.
// A failure that reaches the register's log may also carry its reason: the cause in
// Portuguese (Windows-1252), naming the program file or folder concerned, never a temporary.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
  Error(const std::string& message, std::string reason)
      : std::runtime_error(message), reason_(std::move(reason)) {}
  // Empty when the failure was raised without one.
  const std::string& reason() const noexcept { return reason_; }

 private:
  std::string reason_;
};

// An input/output failure (a file that cannot be created, opened, written or moved).
class IoError : public Error {
 public:
  using Error::Error;
};

// The silent abort: ends an event handler without the default error display showing it.
class Abort : public Error {
 public:
  Abort() : Error("Operation aborted") {}
};

// The reason a failure gives for the log: its own, or else its message after "falha: ".
inline std::string ReasonOf(const std::exception& failure) {
  if (const auto* error = dynamic_cast<const Error*>(&failure); error && !error->reason().empty()) {
    return error->reason();
  }
  return std::string("falha: ") + failure.what();
}

}  // namespace jov
