// How many bytes a TCP socket has received and how many of them its reader has taken.
#pragma once

#include <cstdint>
#include <optional>

namespace jov {

// The bytes the connected TCP socket fd has received from its peer so far (whether or not
// they were read yet); nothing when fd is no TCP socket or the system cannot tell. Never
// blocks; safe from any thread.
std::optional<std::uint64_t> TcpBytesReceived(int fd);

// Of those, the bytes the socket's reader has taken out of the system's receive queue: what
// was received less what still waits to be read. Nothing when the system cannot tell.
// Never blocks; safe from any thread.
std::optional<std::uint64_t> TcpBytesTaken(int fd);

}  // namespace jov
