// Reading one program file out of a zip archive that is held open by its descriptor.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace jov {

// Writes the entry named entry_name (compared without regard to ASCII case; entry names are
// never used as paths) of the zip archive open at archive_fd to out, in pieces, and returns
// only once the whole entry was read and its CRC checked. An entry declared or found larger
// than max_bytes is refused; reserve hears the declared size before the first piece (it may
// throw to refuse it). archive_fd stays open and is read from its start; its offset moves.
// Throws Error "Cannot unpack <entry> from <archive name>: <cause>" with a Portuguese reason
// naming the entry; what out or reserve throw comes out unchanged.
void UnpackEntry(int archive_fd, const std::string& archive_name, const std::string& entry_name,
                 std::int64_t max_bytes, const std::function<void(std::int64_t size)>& reserve,
                 const std::function<void(const char* data, std::size_t size)>& out);

}  // namespace jov
