#include "clientlib/socket_bytes.h"

// linux/tcp.h alone: netinet/tcp.h's struct tcp_info lacks the byte counters.
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstddef>

namespace jov {

std::optional<std::uint64_t> TcpBytesReceived(int fd) {
  if (fd < 0) return std::nullopt;
  tcp_info info{};
  socklen_t size = sizeof info;
  if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return std::nullopt;
  // Older kernels fill a shorter structure without the counter.
  if (size < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received) {
    return std::nullopt;
  }
  return info.tcpi_bytes_received;
}

std::optional<std::uint64_t> TcpBytesTaken(int fd) {
  const std::optional<std::uint64_t> received = TcpBytesReceived(fd);
  int queued = 0;
  if (!received || ::ioctl(fd, FIONREAD, &queued) != 0 || queued < 0) return std::nullopt;
  const auto waiting = static_cast<std::uint64_t>(queued);
  return *received >= waiting ? *received - waiting : 0;
}

}  // namespace jov
