#include "tests/fakes/call_log.h"

namespace jov::testing {

int CallLog::IndexOf(const std::string& text) const {
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].find(text) != std::string::npos) return static_cast<int>(i);
  }
  return -1;
}

int CallLog::Count(const std::string& text) const {
  int count = 0;
  for (const std::string& call : calls) count += call.find(text) != std::string::npos ? 1 : 0;
  return count;
}

}  // namespace jov::testing
