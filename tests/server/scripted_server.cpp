#include "tests/server/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace jov::testing {

int Listener(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  ::listen(fd, 16);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  port = ntohs(address.sin_port);
  return fd;
}

bool Send(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::string Answer(int status, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) +
         " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

bool Trickle(int fd, const std::string& bytes, std::chrono::milliseconds pause,
             std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (const char c : bytes) {
    if (std::chrono::steady_clock::now() >= end || !Send(fd, std::string(1, c))) return false;
    std::this_thread::sleep_for(pause);
  }
  return true;
}

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
  listener_ = Listener(port_);
  thread_ = std::thread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
  for (int fd : stalled_) ::close(fd);
}

std::vector<std::string> ScriptedServer::requests() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void ScriptedServer::Serve() {
  while (!stop_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, 20) <= 0) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // A client that stops reading ends a flooding script instead of blocking it until the
    // kernel gives the connection up.
    const timeval limit{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    ++connections_;
    if (Converse(fd)) ::close(fd);
  }
}

// Returns true when the connection is done with and may be closed.
bool ScriptedServer::Converse(int fd) {
  std::string pending;
  while (!stop_) {
    const std::size_t end = pending.find("\r\n\r\n");
    if (end == std::string::npos) {
      pollfd waiting{fd, POLLIN, 0};
      if (::poll(&waiting, 1, 20) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return true;
      pending.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    std::size_t length = 0;
    const auto at = pending.find("Content-Length: ");
    if (at != std::string::npos && at < end) length = std::stoul(pending.substr(at + 16));
    if (pending.size() < end + 4 + length) {
      char buffer[4096];
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return true;
      pending.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    const std::string request = pending.substr(0, end + 4 + length);
    pending.erase(0, request.size());
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    switch (script_(fd, request)) {
      case kGoOn:
        break;
      case kClose:
        return true;
      case kStall:
        stalled_.push_back(fd);
        return false;
    }
  }
  return true;
}

}  // namespace jov::testing
