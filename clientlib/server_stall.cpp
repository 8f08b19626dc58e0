#include "clientlib/server_stall.h"

namespace jov {

bool ServerStall::Stalled() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return stalled_;
}

void ServerStall::Note(const std::string& why, const std::string& reason) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (stalled_) return;
  stalled_ = true;
  cause_ = why;
  reason_ = reason;
}

std::string ServerStall::Cause() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return cause_;
}

std::string ServerStall::Reason() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return reason_;
}

}  // namespace jov
