#include "server/http/line_log.h"

#include <cstdio>

namespace appserver::http {

std::string Printable(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

void LineLog::Write(const std::string& line) {
  const std::string printable = Printable(line) + "\n";
  const std::lock_guard<std::mutex> lock(mutex_);
  std::fwrite(printable.data(), 1, printable.size(), stderr);
  std::fflush(stderr);
}

}  // namespace appserver::http
