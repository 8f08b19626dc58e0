// The server's log: whole lines to standard error, one writer at a time.
#pragma once

#include <mutex>
#include <string>

namespace appserver::http {

class LineLog {
 public:
  // Writes the line and a line end, each control character replaced by "?" so that nothing
  // from a client can forge a line. Safe from any thread; blocks while another line is written.
  void Write(const std::string& line);

 private:
  std::mutex mutex_;
};

// The text with its control characters replaced by "?".
std::string Printable(const std::string& text);

}  // namespace appserver::http
