// The exception types through which the launcher signals failures.
#pragma once

#include <stdexcept>
#include <string>

namespace jov {

// Base of every failure the launcher raises; the message names the thing and the cause.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
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

}  // namespace jov
