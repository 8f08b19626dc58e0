// Reading a whole file into memory, bounded, for files that are checked or signed as a whole.
#pragma once

#include <cstddef>
#include <string>

namespace jov {

// The bytes of the regular file at path. Throws IoError naming the file when it cannot be
// opened or read, is not a regular file, or holds more than limit bytes (a file that grows
// past the limit while being read is refused as well). Blocks only on the read.
std::string ReadFileBytes(const std::string& path, std::size_t limit);

// The same for the regular file open at fd, read from its start whatever its offset (the
// offset is left as it was); name is the file's name for messages.
std::string ReadFdBytes(int fd, std::size_t limit, const std::string& name);

}  // namespace jov
