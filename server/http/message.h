// The server's requests and answers as plain values: handlers read and make these, and never
// see a socket.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace appserver::http {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Request {
  std::string method;
  std::string path;   // percent-decoded, without the query
  std::string query;  // as it came, after the "?"
  Headers headers;
  std::string body;
  std::string peer;  // the client's address, without its port
  std::string tail;  // the part of the path after the route's prefix (set by the router)

  // The value of the first header of that name (any case); empty when there is none.
  std::string Header(const std::string& name) const;
  // The percent-decoded value of the query parameter; nothing when it is missing.
  std::optional<std::string> Param(const std::string& name) const;
};

// An open file descriptor; closed when the last owner goes.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int fd) : fd_(fd) {}
  FileHandle(FileHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle();
  int get() const { return fd_; }

 private:
  int fd_ = -1;
};

// length bytes of the open file from offset. The engine sends them with pread and stops
// (closing the connection, the answer short of its length) when the file's size or
// modification time, as fstat of this descriptor sees them, differ from opened.
struct FileBody {
  FileHandle file;
  struct stat opened {};
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

struct Response {
  int status = 200;
  Headers headers;  // Content-Length is the engine's
  std::string body;
  std::optional<FileBody> file;  // set: sent instead of body

  // An answer of the text with the Content-Type.
  static Response Text(int status, std::string text, const std::string& type = "text/plain");
  void Set(const std::string& name, const std::string& value);
  // The value of the header of that name (any case); empty when there is none.
  std::string Header(const std::string& name) const;
};

// "%41" and "+" (in queries) decoded; a "%" without two hex digits is kept as it is.
std::string PercentDecode(const std::string& text, bool plus_is_space);
// Every byte but letters, digits and "-._~" as "%XX", for a query's value.
std::string PercentEncode(const std::string& text);

// Seconds since 1970 UTC as an HTTP date, "Sun, 06 Nov 1994 08:49:37 GMT", whatever the locale.
std::string HttpDate(std::int64_t seconds);
// The seconds of an HTTP date in that one form; nothing for any other text (the older forms
// included), a wrong weekday, or a date or time that does not exist.
std::optional<std::int64_t> ParseHttpDate(const std::string& text);

}  // namespace appserver::http
