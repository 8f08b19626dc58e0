// Applying a release's patch (one zstd frame made with the installed program file as its
// prefix) to rebuild the new program file in memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace jov {

// The new program file: delta decoded against old_program. Nothing, with the cause in English
// in why, when the delta is not one whole zstd frame, does not state its content size, states
// more than max_size bytes, needs a window wider than old_program plus max_size, or does not
// decode (a corrupt frame, a wrong checksum, the wrong old file). Memory: old_program, the
// result (at most max_size) and zstd's window state. Never throws but std::bad_alloc.
std::optional<std::string> ApplyDelta(std::string_view old_program, std::string_view delta,
                                      std::int64_t max_size, std::string* why = nullptr);

}  // namespace jov
