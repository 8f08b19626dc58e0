#include "server/http/bounded_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace appserver {
namespace {

using Clock = std::chrono::steady_clock;

// Waits at most ms for the events; true when they came.
bool Wait(int fd, short events, int ms) {
  pollfd entry{fd, events, 0};
  for (;;) {
    const int n = ::poll(&entry, 1, std::max(ms, 0));
    if (n >= 0) return n > 0;
    if (errno != EINTR) return false;
  }
}

void Address(bool peer, int fd, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  const int got = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size)
                       : ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  if (got != 0) return;
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
  }
  ip = text;
}

// One connection's socket as the library's stream. While a request head is being read it
// counts the bytes it hands out: a line too long, one line too many or the head's time run
// out ends the head with an answer of its own, and whatever the library then writes is
// dropped (it would answer 400, or nothing).
class BoundedStream : public httplib::Stream {
 public:
  BoundedStream(int fd, const HeadBounds& bounds, std::chrono::milliseconds read_timeout,
                std::chrono::milliseconds write_timeout)
      : fd_(fd), bounds_(bounds), read_timeout_(read_timeout), write_timeout_(write_timeout) {}

  // The next request's head starts now.
  void BeginHead() {
    in_head_ = true;
    head_deadline_ = Clock::now() + bounds_.time;
    line_bytes_ = 0;
    blank_ = true;
    lines_ = 0;
  }
  bool broken() const { return broken_; }
  bool HasBuffered() const { return start_ < end_; }

  bool is_readable() const override {
    return HasBuffered() || Wait(fd_, POLLIN, static_cast<int>(read_timeout_.count()));
  }
  bool is_writable() const override {
    return Wait(fd_, POLLOUT, static_cast<int>(write_timeout_.count()));
  }

  ssize_t read(char* ptr, size_t size) override {
    if (broken_) return -1;
    if (!HasBuffered() && !Fill()) return -1;
    std::size_t take = std::min(size, end_ - start_);
    if (in_head_) {
      for (std::size_t i = 0; i < take; ++i) {
        if (!Count(buffer_[start_ + i])) return Refuse(431, "Request Header Fields Too Large");
        if (!in_head_) {
          take = i + 1;
          break;
        }
      }
    }
    std::memcpy(ptr, buffer_ + start_, take);
    start_ += take;
    return static_cast<ssize_t>(take);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (broken_) return static_cast<ssize_t>(size);
    return Send(ptr, size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    Address(true, fd_, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    Address(false, fd_, ip, port);
  }
  socket_t socket() const override { return fd_; }

 private:
  // Reads what the socket has into the empty buffer; false on time-out, end or error.
  bool Fill() {
    auto wait = read_timeout_;
    if (in_head_) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(head_deadline_ - Clock::now());
      if (left <= std::chrono::milliseconds(0)) {
        Refuse(408, "Request Timeout");
        return false;
      }
      wait = std::min(wait, left);
    }
    if (!Wait(fd_, POLLIN, static_cast<int>(wait.count()))) {
      if (in_head_ && Clock::now() >= head_deadline_) Refuse(408, "Request Timeout");
      return false;
    }
    ssize_t n;
    do {
      n = ::recv(fd_, buffer_, sizeof buffer_, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    start_ = 0;
    end_ = static_cast<std::size_t>(n);
    return true;
  }

  // Takes one byte of the head; false when it breaks a bound.
  bool Count(char byte) {
    if (++line_bytes_ > bounds_.line_bytes) return false;
    if (byte != '\n') {
      if (byte != '\r') blank_ = false;
      return true;
    }
    if (blank_ && lines_ > 0) {
      in_head_ = false;  // the blank line that ends the head
      return true;
    }
    line_bytes_ = 0;
    blank_ = true;
    return ++lines_ <= bounds_.lines;
  }

  // Answers the broken head and ends the connection's requests; -1 for the library's read.
  ssize_t Refuse(int status, const char* reason) {
    if (!broken_) {
      const std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                                 "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
      Send(answer.data(), answer.size());
      broken_ = true;
    }
    return -1;
  }

  ssize_t Send(const char* ptr, size_t size) {
    if (!Wait(fd_, POLLOUT, static_cast<int>(write_timeout_.count()))) return -1;
    ssize_t n;
    do {
      n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  int fd_;
  HeadBounds bounds_;
  std::chrono::milliseconds read_timeout_;
  std::chrono::milliseconds write_timeout_;
  char buffer_[4096];
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  bool in_head_ = false;
  bool broken_ = false;
  Clock::time_point head_deadline_;
  std::size_t line_bytes_ = 0;  // of the current line, its line end included
  bool blank_ = true;           // the current line has had nothing but CR so far
  std::size_t lines_ = 0;
};

std::chrono::milliseconds Millis(time_t sec, time_t usec) {
  return std::chrono::milliseconds(sec * 1000 + usec / 1000);
}

}  // namespace

bool BoundedServer::SetListenBacklog(int backlog) {
  const socket_t sock = svr_sock_;
  // listen() again on a listening socket changes only its queue length.
  return sock != INVALID_SOCKET && ::listen(sock, backlog) == 0;
}

bool BoundedServer::process_and_close_socket(socket_t sock) {
  BoundedStream stream(sock, bounds_, Millis(read_timeout_sec_, read_timeout_usec_),
                       Millis(write_timeout_sec_, write_timeout_usec_));
  bool ok = false;
  for (std::size_t count = keep_alive_max_count_; count > 0; --count) {
    // An idle connection is let go after the keep-alive time, and at once when the server
    // stops.
    bool ready = stream.HasBuffered();
    const auto idle_end = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
    while (!ready && svr_sock_ != INVALID_SOCKET && Clock::now() < idle_end) {
      ready = Wait(sock, POLLIN, 100);
    }
    if (!ready || svr_sock_ == INVALID_SOCKET) break;
    stream.BeginHead();
    bool closed = false;
    ok = process_request(stream, count == 1, closed, nullptr);
    if (!ok || closed || stream.broken()) break;
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

}  // namespace appserver
