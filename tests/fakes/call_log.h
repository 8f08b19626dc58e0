// The record of calls that every fake appends to, in the order the calls happened.
#pragma once

#include <string>
#include <vector>

namespace jov::testing {

struct CallLog {
  std::vector<std::string> calls;  // "area.Operation detail"

  void Add(std::string call) { calls.push_back(std::move(call)); }
  // Index of the first call containing the text; -1 when none does.
  int IndexOf(const std::string& text) const;
  bool Contains(const std::string& text) const { return IndexOf(text) >= 0; }
  int Count(const std::string& text) const;
};

}  // namespace jov::testing
