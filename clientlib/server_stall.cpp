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

std::string& Reason() {
  static std::string reason;
  return reason;
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

void NoteServerStall(const std::string& why, const std::string& reason) {
  std::lock_guard<std::mutex> lock(Guard());
  if (Stalled()) return;
  Stalled() = true;
  Cause() = why;
  Reason() = reason;
}

std::string ServerStallCause() {
  std::lock_guard<std::mutex> lock(Guard());
  return Cause();
}

std::string ServerStallReason() {
  std::lock_guard<std::mutex> lock(Guard());
  return Reason();
}

void ResetServerStall() {
  std::lock_guard<std::mutex> lock(Guard());
  Stalled() = false;
  Cause().clear();
  Reason().clear();
}

}  // namespace jov
