// What a bounded reader of the protocol gives: the typed value, or why it refused the text.
#pragma once

#include <optional>
#include <string>

namespace jov::protocol {

template <typename T>
struct Parsed {
  std::optional<T> value;  // set when the text was taken
  std::string why;         // set when it was refused

  bool ok() const { return value.has_value(); }
};

}  // namespace jov::protocol
