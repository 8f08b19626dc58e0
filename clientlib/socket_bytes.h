// How many bytes a TCP socket has received, told by the system.
#pragma once

#include <cstdint>
#include <optional>

namespace jov {

// The bytes the connected TCP socket fd has received from its peer so far (whether or not
// they were read yet); nothing when fd is no TCP socket or the system cannot tell. Never
// blocks; safe from any thread.
std::optional<std::uint64_t> TcpBytesReceived(int fd);

}  // namespace jov
