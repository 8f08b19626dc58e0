// Patches from an earlier program file to a new one, as the registers apply them: one zstd
// frame made with the earlier file as its prefix (zstd's "--patch-from").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace jov::sign {

// The patch that turns old_program's bytes into new_program's: long-distance matching on, a
// window that spans both, the new file's size in the frame. Never fails but for memory
// (std::bad_alloc) or a file larger than kMaxArchiveBytes (Error).
std::string MakeDeltaBytes(std::string_view old_program, std::string_view new_program);

// Reads both program files (each bounded by kMaxArchiveBytes) and writes the patch to out
// through a temporary, flushed and renamed. Returns the patch's size in bytes. Throws IoError
// naming the file that cannot be read or written. Blocks; an 8 MiB program takes about a second.
std::int64_t MakeDelta(const std::string& old_program, const std::string& new_program,
                       const std::string& out);

}  // namespace jov::sign
