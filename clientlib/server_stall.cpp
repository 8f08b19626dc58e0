#include "clientlib/server_stall.h"

#include <mutex>

namespace jov {
namespace {

std::mutex& Guard() {
  static std::mutex guard;
  return guard;
}

std::string& Cause() {
  static std::string cause;
  return cause;
}

bool& Stalled() {
  static bool stalled = false;
  return stalled;
}

}  // namespace

bool ServerHasStalled() {
  std::lock_guard<std::mutex> lock(Guard());
  return Stalled();
}

void NoteServerStall(const std::string& why) {
  std::lock_guard<std::mutex> lock(Guard());
  if (Stalled()) return;
  Stalled() = true;
  Cause() = why;
}

std::string ServerStallCause() {
  std::lock_guard<std::mutex> lock(Guard());
  return Cause();
}

void ResetServerStall() {
  std::lock_guard<std::mutex> lock(Guard());
  Stalled() = false;
  Cause().clear();
}

}  // namespace jov
