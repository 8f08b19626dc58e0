#include "server/handlers/token_guard.h"

#include <iterator>

namespace appserver {

bool TokenGuard::Refused(const std::string& address, std::int64_t now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = tries_.find(address);
  return found != tries_.end() && now - found->second.since < 60 &&
         found->second.wrong >= kWrongPerMinute;
}

void TokenGuard::Wrong(const std::string& address, std::int64_t now) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (tries_.size() >= kAddresses && tries_.find(address) == tries_.end()) {
    // The minutes that ended are forgotten first; a table still full is emptied, which lets a
    // guesser of ten thousand addresses no further than ten tries each a minute.
    for (auto it = tries_.begin(); it != tries_.end();) {
      it = now - it->second.since >= 60 ? tries_.erase(it) : std::next(it);
    }
    if (tries_.size() >= kAddresses) tries_.clear();
  }
  Tries& tries = tries_[address];
  if (now - tries.since >= 60) tries = {now, 0};
  ++tries.wrong;
}

}  // namespace appserver
