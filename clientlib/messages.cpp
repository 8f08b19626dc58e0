#include "clientlib/messages.h"

namespace jov {

std::string TMessages::Msg(const std::string& key) const {
  for (const std::string& line : Messages) {
    const auto bar = line.find('|');
    if (bar != std::string::npos && line.compare(0, bar, key) == 0 && bar == key.size()) {
      return line.substr(bar + 1);
    }
  }
  return {};
}

}  // namespace jov
