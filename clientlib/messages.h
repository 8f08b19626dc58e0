// TMessages: a message catalogue whose lines are a key, "|" and a text.
#pragma once

#include <string>
#include <vector>

namespace jov {

class TMessages {
 public:
  std::vector<std::string> Messages;  // Windows-1252 lines "key|text"
  // The text of the first line whose key equals key exactly; empty when there is none.
  std::string Msg(const std::string& key) const;
};

}  // namespace jov
