// Replacing a file whole: the new content goes to a temporary beside it, is flushed and
// renamed over it, so that a crash or a failure leaves either the old file or the new one.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace jov {

// A file written under a temporary name, made final by Commit. Until then nothing else is
// touched; destroyed without a Commit, it removes its temporary. Blocks on the disk.
class PendingFile {
 public:
  // Creates the temporary temp_prefix + six random characters (private, close-on-exec). name
  // says what is being written, for messages. Throws IoError "Cannot write <name>: <cause>".
  PendingFile(const std::string& temp_prefix, std::string name);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Writes all the bytes; throws IoError naming the file.
  void Write(std::string_view bytes);
  // Gives the file its mode (and last-write time, when given), flushes it, renames it over
  // target (in the same folder as the temporary) and flushes the folder (best effort: a
  // folder that cannot be flushed is no failure). Throws IoError "Cannot write <name>: ..."
  // or "Cannot replace <name>: ..."; then target is as it was and the temporary is gone.
  void Commit(const std::string& target, mode_t mode,
              const std::optional<timespec>& last_write = std::nullopt);

 private:
  std::string name_;
  std::string path_;
  int fd_ = -1;
};

// Creates a temporary file in path's folder, lets fill(fd) write the content, and commits it
// over path with mode (and last_write, when given), as PendingFile does. On any failure,
// fill's exceptions included, the temporary is removed, path is untouched and the exception
// goes on; the platform's own failures raise IoError "Cannot write <name>: <cause>" or
// "Cannot replace <name>: <cause>", name defaulting to path.
void ReplaceFileThrough(const std::string& path, mode_t mode, const std::function<void(int)>& fill,
                        const std::string& name = {},
                        const std::optional<timespec>& last_write = std::nullopt);

// ReplaceFileThrough with bytes as the content.
void WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                         const std::string& name = {});

// The prefix of this program's temporaries for path, to which six random characters are
// added: ".<file name>.jov-tmp-" in path's folder. No operator names a file so, which is what
// lets a start remove whatever a cut-short write left without asking.
std::string TemporaryPrefix(const std::string& path);

// Whether a bare file name is one of the temporaries made from TemporaryPrefix: a leading dot,
// a name, ".jov-tmp-" and six characters.
bool IsOwnTemporary(std::string_view file_name);

}  // namespace jov
