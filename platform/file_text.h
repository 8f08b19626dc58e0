// Reading a whole file into memory, bounded, for the small text files the register keeps.
#pragma once

#include <cstddef>
#include <string>

namespace jov {

struct FileText {
  std::string text;
  int error = 0;           // errno when the file could not be read (ENOENT: it does not exist)
  bool too_large = false;  // the file holds more than the limit; text is cut after the limit
};

// Reads the regular file whole, or up to just past limit bytes. A folder or another
// non-regular file gives error EISDIR or EINVAL. Never throws; blocks only on the read.
FileText ReadFileText(const std::string& path, std::size_t limit);

}  // namespace jov
