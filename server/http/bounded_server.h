// The HTTP server of jov-appserver: httplib's server with every request head bounded.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>

namespace appserver {

// Bounds of one request head (the request line and the header lines up to the blank line).
// A head that breaks one is answered "431" (too long a line, too many lines) or "408" (not
// whole in time) and its connection is closed; the library itself checks a line only once it
// has read the whole of it, and neither the time of a whole head nor its number of lines.
struct HeadBounds {
  std::chrono::milliseconds time{10000};
  std::size_t line_bytes = 8192;  // a line with its CR LF
  std::size_t lines = 100;        // the request line and the header lines
};

class BoundedServer : public httplib::Server {
 public:
  explicit BoundedServer(HeadBounds bounds = {}) : bounds_(bounds) {}

  // The library listens with a queue of 5 connections: an opening hour's registers connecting
  // at once would wait for their SYN to be sent again. Call after binding.
  bool SetListenBacklog(int backlog);

 private:
  // The library's keep-alive loop, with the request heads read through a bounded stream.
  bool process_and_close_socket(socket_t sock) override;

  HeadBounds bounds_;
};

}  // namespace appserver
