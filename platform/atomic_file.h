// Replacing a file whole: the new content goes to a temporary beside it, is flushed and
// renamed over it, so that a crash or a failure leaves either the old file or the new one.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

namespace jov {

// Creates a temporary file in path's folder, lets fill(fd) write the content, gives the file
// mode, flushes it to disk, renames it over path and flushes the folder (best effort: a folder
// that cannot be flushed is no failure, the rename is done). Blocks on the disk. On any
// failure, fill's exceptions included, the temporary is removed, path is untouched and the
// exception goes on; the platform's own failures raise IoError "Cannot write <name>: <cause>"
// or "Cannot replace <name>: <cause>", name defaulting to path.
void ReplaceFileThrough(const std::string& path, mode_t mode, const std::function<void(int)>& fill,
                        const std::string& name = {});

// ReplaceFileThrough with bytes as the content.
void WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                         const std::string& name = {});

}  // namespace jov
