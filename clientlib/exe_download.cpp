#include "clientlib/exe_download.h"

#include <dirent.h>
#include <fcntl.h>
#include <httplib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>

#include "clientlib/archive_signature.h"
#include "clientlib/client_ini.h"
#include "clientlib/download_progress.h"
#include "clientlib/server_stall.h"
#include "platform/cp1252.h"
#include "platform/errors.h"

namespace jov {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunk = 64 * 1024;
constexpr std::int64_t kSignatureLimit = 4096;

std::string SystemText(int error) { return std::strerror(error); }

std::string Span(std::chrono::milliseconds span) {
  const auto ms = span.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string Limit(std::int64_t bytes) {
  return bytes % (1 << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
                                : std::to_string(bytes) + " bytes";
}

// Text from outside, fit for a message and a log line: no control bytes, not too long.
std::string Printable(const std::string& text) {
  std::string out = text.substr(0, 300);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return out;
}

bool IsAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string PercentEncoded(unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  return {'%', kHex[c >> 4], kHex[c & 15]};
}

// A file name as one path segment: everything but the unreserved characters is encoded.
std::string EncodeName(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (IsAsciiAlnum(static_cast<char>(c)) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += PercentEncoded(c);
    }
  }
  return out;
}

// A request target that cannot break the request line: blanks, control bytes and bytes
// above 127 are encoded; the rest, "%" included, is sent as given.
std::string EncodeTarget(const std::string& target) {
  std::string out;
  for (unsigned char c : target) {
    if (c <= 0x20 || c >= 0x7f) {
      out += PercentEncoded(c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out.empty() || out.front() != '/' ? "/" + out : out;
}

struct Url {
  std::string scheme;  // "http" or "https"
  std::string host;    // an IPv6 literal keeps its brackets
  int port = 0;
  std::string target;  // path and query, from "/"
  std::string Origin() const { return scheme + "://" + host + ":" + std::to_string(port); }
};

// An absolute http or https URL; nothing when it is anything else.
std::optional<Url> ParseUrl(const std::string& text) {
  const std::size_t mark = text.find("://");
  if (mark == std::string::npos) return std::nullopt;
  Url url;
  url.scheme = cp1252::LowerAscii(text.substr(0, mark));
  if (url.scheme != "http" && url.scheme != "https") return std::nullopt;
  const std::size_t start = mark + 3;
  const std::size_t end = std::min(text.find_first_of("/?#", start), text.size());
  const std::string authority = text.substr(start, end - start);
  std::string port;
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    if (close == std::string::npos || close == 1) return std::nullopt;
    for (char c : authority.substr(1, close - 1)) {
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') {
        return std::nullopt;
      }
    }
    url.host = authority.substr(0, close + 1);
    const std::string after = authority.substr(close + 1);
    if (!after.empty() && after.front() != ':') return std::nullopt;
    if (!after.empty()) port = after.substr(1);
  } else {
    const std::size_t colon = authority.find(':');
    url.host = authority.substr(0, colon);
    if (colon != std::string::npos) port = authority.substr(colon + 1);
    if (url.host.empty()) return std::nullopt;
    for (char c : url.host) {
      if (!IsAsciiAlnum(c) && c != '-' && c != '.' && c != '_') return std::nullopt;
    }
  }
  url.port = url.scheme == "https" ? 443 : 80;
  if (!port.empty()) {
    const auto [last, error] = std::from_chars(port.data(), port.data() + port.size(), url.port);
    if (error != std::errc{} || last != port.data() + port.size() || url.port < 1 ||
        url.port > 65535) {
      return std::nullopt;
    }
  }
  const std::string rest = text.substr(end);
  url.target = EncodeTarget(rest.substr(0, rest.find('#')));
  return url;
}

// An absolute path with its "." and ".." segments resolved, as a browser resolves them.
std::string WithoutDotSegments(const std::string& path) {
  std::vector<std::string> kept;
  std::size_t start = 1;
  for (;;) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string segment = path.substr(start, end - start);
    const bool last = end == path.size();
    if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
    } else if (segment != ".") {
      kept.push_back(segment);
    }
    if (last) {
      if (segment == "." || segment == "..") kept.emplace_back();
      break;
    }
    start = end + 1;
  }
  std::string out;
  for (const std::string& segment : kept) out += "/" + segment;
  return out.empty() ? "/" : out;
}

// Where a redirect's Location leads from base: an absolute URL, "//host...", "/path",
// "?query" or a path beside the current one.
std::optional<Url> Resolve(const Url& base, const std::string& location) {
  if (location.empty()) return std::nullopt;
  if (location.starts_with("//")) return ParseUrl(base.scheme + ":" + location);
  const std::size_t colon = location.find(':');
  if (colon != std::string::npos && colon < location.find_first_of("/?#") &&
      std::isalpha(static_cast<unsigned char>(location.front()))) {
    return ParseUrl(location);  // another scheme than http and https gives nothing
  }
  Url url = base;
  const std::string path = base.target.substr(0, base.target.find('?'));
  std::string target;
  if (location.starts_with('/')) {
    target = location;
  } else if (location.starts_with('?')) {
    target = path + location;
  } else {
    target = path.substr(0, path.rfind('/') + 1) + location;
  }
  target = target.substr(0, target.find('#'));
  const std::size_t query = std::min(target.find('?'), target.size());
  url.target = EncodeTarget(WithoutDotSegments(target.substr(0, query)) + target.substr(query));
  return url;
}

std::int64_t FreeSpace(const ExeDownloadSettings& s) {
  if (s.free_space) return s.free_space(s.working_directory);
  struct statvfs fs {};
  // A folder whose space cannot be told lets the writes tell.
  if (::statvfs(s.working_directory.c_str(), &fs) != 0) {
    return std::numeric_limits<std::int64_t>::max();
  }
  const unsigned long long bytes =
      static_cast<unsigned long long>(fs.f_bavail) * static_cast<unsigned long long>(fs.f_frsize);
  return bytes > static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max())
             ? std::numeric_limits<std::int64_t>::max()
             : static_cast<std::int64_t>(bytes);
}

// A file under a unique hidden name in the working folder, removed when it goes out of scope
// unless Install moved it to its final name.
class TempFile {
 public:
  // fail begins every message: "Cannot download X ...: ".
  TempFile(const ExeDownloadSettings& s, const std::string& stem, std::string fail)
      : settings_(s), fail_(std::move(fail)) {
    path_ = s.working_directory + "." + stem + "-XXXXXX";
    fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
    if (fd_ < 0) {
      const int error = errno;
      path_.clear();
      throw IoError(fail_ + "cannot create a file in " + s.working_directory + ": " +
                    SystemText(error));
    }
    room_ = FreeSpace(s);
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }
  std::int64_t size() const { return written_; }

  // Refuses, before writing a byte, a file of the given size that the folder cannot hold.
  void Reserve(std::int64_t bytes, const std::string& what) {
    if (bytes > room_) room_ = FreeSpace(settings_);
    if (bytes > room_) {
      throw IoError(fail_ + "no space left in " + settings_.working_directory + ": " + what +
                    " needs " + std::to_string(bytes) + " bytes, " + std::to_string(room_) +
                    " are free");
    }
  }

  void Write(const char* data, std::size_t size) {
    // The free space is asked again only once what was measured is used up.
    if (written_ + static_cast<std::int64_t>(size) - measured_at_ > room_) {
      room_ = FreeSpace(settings_);
      measured_at_ = written_;
      if (static_cast<std::int64_t>(size) > room_) ThrowNoSpace();
    }
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == ENOSPC || errno == EDQUOT)) ThrowNoSpace();
      if (n <= 0) throw IoError(fail_ + "cannot write " + path_ + ": " + SystemText(errno));
      data += n;
      size -= static_cast<std::size_t>(n);
      written_ += n;
    }
  }

  // Flushes and closes the file; it stays until the end of the scope.
  void Close() {
    const int fd = fd_;
    fd_ = -1;
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
      throw IoError(fail_ + "cannot write " + path_ + ": " + SystemText(errno));
    }
  }

  // Gives the file mode, flushes it and renames it to target, replacing what is there.
  void Install(const std::string& target, mode_t mode) {
    if (::fchmod(fd_, mode) != 0) {
      throw IoError(fail_ + "cannot write " + path_ + ": " + SystemText(errno));
    }
    Close();
    if (::rename(path_.c_str(), target.c_str()) != 0) {
      throw IoError(fail_ + "cannot replace " + target + ": " + SystemText(errno));
    }
    path_.clear();
    // The rename lasts once the folder is flushed; a folder that cannot be is no failure.
    const int dir = ::open(settings_.working_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
  }

 private:
  [[noreturn]] void ThrowNoSpace() const {
    throw IoError(fail_ + "no space left in " + settings_.working_directory + " after " +
                  std::to_string(written_) + " bytes");
  }

  const ExeDownloadSettings& settings_;
  std::string fail_;
  std::string path_;
  int fd_ = -1;
  std::int64_t written_ = 0;
  std::int64_t room_ = 0;         // free bytes when last measured
  std::int64_t measured_at_ = 0;  // written_ then
};

// What a 200 answer's body is given to. Either may throw to end the download.
struct BodyHandlers {
  // The headers arrived; length is the Content-Length, -1 when the server does not say.
  std::function<void(std::int64_t length)> start;
  std::function<void(const char* data, std::size_t size)> data;
};

std::int64_t ContentLength(const httplib::Response& response) {
  if (!response.has_header("Content-Length") || response.has_header("Transfer-Encoding")) {
    return -1;
  }
  const std::string text = response.get_header_value("Content-Length");
  std::int64_t length = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
  return error == std::errc{} && end == text.data() + text.size() ? length : -1;
}

bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Why a request ended without its whole answer; stalled tells whether it ran out of time.
std::string Cause(httplib::Error error, const ExeDownloadSettings& s, Clock::duration since_byte,
                  int status, std::int64_t received, std::int64_t length, bool& stalled) {
  // A wait is taken as run out a little before its nominal end: timers are not exact.
  const auto ran_out = [](Clock::duration took, std::chrono::milliseconds limit) {
    return took * 10 >= limit * 9;
  };
  switch (error) {
    case httplib::Error::Connection:
    case httplib::Error::ConnectionTimeout:
      if (ran_out(since_byte, s.connect_timeout) || error == httplib::Error::ConnectionTimeout) {
        stalled = true;
        return "no connection within " + Span(s.connect_timeout);
      }
      return "the connection was refused or the host is unreachable";
    case httplib::Error::Read:
      if (ran_out(since_byte, s.stall_timeout)) {
        stalled = true;
        return "no data for " + Span(s.stall_timeout);
      }
      if (status == 0) return "the connection closed before an answer came";
      return "the connection closed after " + std::to_string(received) +
             (length >= 0 ? " of " + std::to_string(length) : std::string()) + " bytes";
    case httplib::Error::Write:
      return "the connection failed while sending the request";
    case httplib::Error::SSLConnection:
      return "the secure connection could not be set up";
    case httplib::Error::SSLServerVerification:
      return "the server's certificate is not trusted";
    case httplib::Error::SSLLoadingCerts:
      return "the certificate authorities cannot be loaded";
    case httplib::Error::Compression:
      return "the answer cannot be decompressed";
    default:
      return httplib::to_string(error);
  }
}

// GETs url_text, following redirects. A 200 answer's body goes to handlers, and 200 is
// returned once it is whole; any other final status is returned without reading its body.
// Throws Error "Cannot download <what> from <url>: <cause>" when no whole answer comes (and
// notes a stall when one ran out of time); what a handler throws comes out unchanged.
int Get(const std::string& url_text, const ExeDownloadSettings& s, const std::string& what,
        const BodyHandlers& handlers) {
  const std::string fail = "Cannot download " + what + " from " + Printable(url_text) + ": ";
  std::optional<Url> url = ParseUrl(url_text);
  if (!url) throw Error(fail + "not an http or https address");
  const auto started = Clock::now();
  for (int hop = 0;; ++hop) {
    httplib::Client client(url->Origin());
    if (!client.is_valid()) throw Error(fail + "the address cannot be used");
    client.set_url_encode(false);
    client.set_keep_alive(false);
    client.set_follow_location(false);
    client.set_connection_timeout(s.connect_timeout);
    client.set_read_timeout(s.stall_timeout);
    client.set_write_timeout(s.stall_timeout);
    if (url->scheme == "https") {
      client.enable_server_certificate_verification(true);
      if (!s.ca_file.empty()) client.set_ca_cert_path(s.ca_file);
    }
    int status = 0;
    std::string location;
    std::exception_ptr failure;
    std::int64_t received = 0;
    std::int64_t length = -1;
    auto last_byte = Clock::now();
    const auto on_response = [&](const httplib::Response& response) {
      last_byte = Clock::now();
      status = response.status;
      if (status != 200) {
        location = response.get_header_value("Location");
        return false;
      }
      length = ContentLength(response);
      try {
        handlers.start(length);
      } catch (...) {
        failure = std::current_exception();
        return false;
      }
      return true;
    };
    const auto on_data = [&](const char* data, std::size_t size) {
      last_byte = Clock::now();
      received += static_cast<std::int64_t>(size);
      try {
        if (last_byte - started > s.total_timeout) {
          const std::string cause = "not complete after " + Span(s.total_timeout);
          NoteServerStall("the download of " + what + ": " + cause);
          throw Error(fail + cause);
        }
        handlers.data(data, size);
      } catch (...) {
        failure = std::current_exception();
        return false;
      }
      return true;
    };
    const httplib::Result result =
        client.Get(url->target, httplib::Headers{}, on_response, on_data);
    if (failure) std::rethrow_exception(failure);
    if (status == 200 && result) return 200;
    if (status == 0 || status == 200 || result.error() != httplib::Error::Canceled) {
      bool stalled = false;
      const std::string cause =
          Cause(result.error(), s, Clock::now() - last_byte, status, received, length, stalled);
      if (stalled) NoteServerStall("the download of " + what + ": " + cause);
      throw Error(fail + cause);
    }
    if (!IsRedirect(status)) return status;
    if (hop >= s.max_redirects) {
      throw Error(fail + "more than " + std::to_string(s.max_redirects) + " redirects");
    }
    const std::string from_scheme = url->scheme;
    url = Resolve(*url, location);
    if (!url) {
      throw Error(fail + "redirected to \"" + Printable(location) +
                  "\", which is not an http or https address");
    }
    // What came over a checked connection does not go on over an unchecked one.
    if (from_scheme == "https" && url->scheme != "https") {
      throw Error(fail + "redirected from https to \"" + Printable(location) + "\"");
    }
  }
}

// Ends the progress of one file on every path once it has begun.
struct ProgressScope {
  DownloadProgress* progress = nullptr;
  bool begun = false;
  std::int64_t reported = 0;
  ~ProgressScope() {
    if (begun) progress->End();
  }
};

std::string ZipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

// Writes the entry named local of the archive at archive_path (its name compared without
// regard to ASCII case, never used as a path) to working folder + local, whole and CRC-checked.
void Unpack(const std::string& archive_path, const std::string& local, const ExeDownloadSettings& s,
            const std::string& archive_name) {
  const std::string fail = "Cannot unpack " + local + " from " + archive_name + ": ";
  int code = 0;
  // No ZIP_CHECKCONS: archives written to a pipe would be refused, and the CRC check of the
  // whole entry already catches a damaged one.
  zip_t* opened = zip_open(archive_path.c_str(), ZIP_RDONLY, &code);
  if (opened == nullptr)
    throw Error(fail + "not a usable zip archive (" + ZipErrorText(code) + ")");
  const std::unique_ptr<zip_t, decltype(&zip_discard)> archive(opened, &zip_discard);
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  zip_int64_t index = -1;
  for (zip_int64_t i = 0; i < count && index < 0; ++i) {
    const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (name != nullptr && cp1252::EqualsIgnoringAsciiCase(name, local)) index = i;
  }
  if (index < 0) throw Error(fail + "the archive has no entry " + local);
  const auto entry = static_cast<zip_uint64_t>(index);
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(archive.get(), entry, 0, &stat) != 0) {
    throw Error(fail + zip_strerror(archive.get()));
  }
  TempFile out(s, local + ".unpack", fail);
  if ((stat.valid & ZIP_STAT_SIZE) != 0) {
    if (stat.size > static_cast<zip_uint64_t>(s.max_bytes)) {
      throw Error(fail + "the entry has " + std::to_string(stat.size) +
                  " bytes, more than the limit of " + Limit(s.max_bytes));
    }
    out.Reserve(static_cast<std::int64_t>(stat.size), "the entry");
  }
  zip_file_t* file = zip_fopen_index(archive.get(), entry, 0);
  if (file == nullptr)
    throw Error(fail + "the entry cannot be read: " + zip_strerror(archive.get()));
  std::unique_ptr<zip_file_t, decltype(&zip_fclose)> reader(file, &zip_fclose);
  std::vector<char> buffer(kChunk);
  for (;;) {
    const zip_int64_t n = zip_fread(file, buffer.data(), buffer.size());
    if (n < 0) {
      const zip_error_t* error = zip_file_get_error(file);
      throw Error(fail +
                  (zip_error_code_zip(error) == ZIP_ER_CRC
                       ? std::string("CRC error in the entry")
                       : "the entry cannot be read: " + std::string(zip_file_strerror(file))));
    }
    if (n == 0) break;
    // A size that lies cannot make the file grow without end.
    if (out.size() + n > s.max_bytes) {
      throw Error(fail + "the entry is larger than the limit of " + Limit(s.max_bytes));
    }
    out.Write(buffer.data(), static_cast<std::size_t>(n));
  }
  const int closing = zip_fclose(reader.release());
  if (closing != 0) {
    throw Error(fail + (closing == ZIP_ER_CRC
                            ? std::string("CRC error in the entry")
                            : "the entry cannot be read: " + ZipErrorText(closing)));
  }
  out.Install(s.working_directory + local, 0755);
}

// Removes the temporaries of local that downloads cut short (by a power cut) left behind, once
// they are older than any download can last, so that they cannot fill the folder over time
// nor touch a download running now.
void RemoveOldTemporaries(const ExeDownloadSettings& s, const std::string& local) {
  DIR* dir = ::opendir(s.working_directory.c_str());
  if (dir == nullptr) return;
  const auto age = std::chrono::duration_cast<std::chrono::seconds>(
      s.total_timeout + s.stall_timeout + std::chrono::hours(1));
  const time_t before = ::time(nullptr) - static_cast<time_t>(age.count());
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    bool ours = false;
    for (const char* kind : {".download-", ".unpack-"}) {
      const std::string prefix = "." + local + kind;
      ours = ours || (name.size() == prefix.size() + 6 && name.starts_with(prefix));
    }
    const std::string path = s.working_directory + name;
    struct stat st {};
    if (ours && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime < before) {
      ::unlink(path.c_str());
    }
  }
  ::closedir(dir);
}

void DownloadExeFile(const std::string& name, const std::string& source,
                     const ExeDownloadSettings& s, DownloadProgress* progress) {
  const std::string local = LocalFileNameOf(name);
  if (local.empty()) {
    throw Error("Cannot download " + Printable(name) + ": not the name of a program archive");
  }
  const std::string url = source + EncodeName(name);
  const std::string fail = "Cannot download " + name + " from " + Printable(url) + ": ";
  // A register whose working folder was never made still updates; when it cannot be made, the
  // temporary file's failure below says why.
  std::error_code not_made;
  std::filesystem::create_directories(s.working_directory, not_made);
  RemoveOldTemporaries(s, local);
  TempFile archive(s, local + ".download", fail);
  ProgressScope shown{progress};
  const int status = Get(
      url, s, name,
      {[&](std::int64_t length) {
         if (length > s.max_bytes) {
           throw Error(fail + "the archive has " + std::to_string(length) +
                       " bytes, more than the limit of " + Limit(s.max_bytes));
         }
         if (length > 0) archive.Reserve(length, "the archive");
         if (progress != nullptr) {
           progress->Begin(local, length);
           shown.begun = true;
         }
       },
       [&](const char* data, std::size_t size) {
         if (archive.size() + static_cast<std::int64_t>(size) > s.max_bytes) {
           throw Error(fail + "the archive is larger than the limit of " + Limit(s.max_bytes));
         }
         archive.Write(data, size);
         if (shown.begun && archive.size() - shown.reported >= static_cast<std::int64_t>(kChunk)) {
           shown.reported = archive.size();
           progress->Advance(shown.reported);
         }
       }});
  if (status != 200) throw Error(fail + "the server answered HTTP " + std::to_string(status));
  if (shown.begun && shown.reported != archive.size()) progress->Advance(archive.size());
  archive.Close();

  if (!s.public_key.empty()) {
    const std::string sig_url = url + ".sig";
    const std::string sig_fail =
        "Cannot download " + name + ".sig from " + Printable(sig_url) + ": ";
    std::string signature;
    const int sig_status = Get(sig_url, s, name + ".sig",
                               {[&](std::int64_t length) {
                                  if (length > kSignatureLimit) {
                                    throw Error(sig_fail + "the signature is larger than 4 KiB");
                                  }
                                },
                                [&](const char* data, std::size_t size) {
                                  if (signature.size() + size > kSignatureLimit) {
                                    throw Error(sig_fail + "the signature is larger than 4 KiB");
                                  }
                                  signature.append(data, size);
                                }});
    if (sig_status != 200) {
      throw SignatureError("Cannot install " + name + ": no signature at " + Printable(sig_url));
    }
    VerifyArchiveSignature(archive.path(), signature, s.public_key);
  }
  Unpack(archive.path(), local, s, name);
}

}  // namespace

ExeDownloadSettings ExeDownloadSettingsFromIni(const ClientIni& ini) {
  ExeDownloadSettings s;
  s.working_directory = ini.working_directory;
  s.max_bytes = ini.max_download_mb << 20;
  s.public_key = ini.public_key;
  return s;
}

std::string LocalFileNameOf(const std::string& server_name) {
  const std::size_t zip = cp1252::UpperAscii(server_name).find(".ZIP");
  if (zip == std::string::npos || zip == 0) return {};
  const std::string local = server_name.substr(0, zip);
  if (local.find_first_of("/\\") != std::string::npos || local.find("..") != std::string::npos ||
      local.find('\0') != std::string::npos) {
    return {};
  }
  return local;
}

void DownloadExeFiles(const std::vector<std::string>& server_lines, const std::string& source,
                      const ExeDownloadSettings& settings, DownloadProgress* progress) {
  const auto refuse_after_stall = [](const std::string& what) {
    if (ServerHasStalled()) {
      throw Error("Cannot download " + what + ": the server stopped answering earlier (" +
                  ServerStallCause() + ")");
    }
  };
  refuse_after_stall("from " + Printable(source));
  for (const std::string& line : server_lines) {
    const std::string name = line.substr(0, line.find('='));
    // A server lists an archive's signature like an archive (its name begins with the
    // archive's); it comes with its archive, not as a program file of its own.
    if (cp1252::UpperAscii(name).ends_with(".ZIP.SIG")) continue;
    refuse_after_stall(Printable(name));
    DownloadExeFile(name, source, settings, progress);
  }
}

void SettingsDownloader::GetExeFile(const std::vector<std::string>& /*local_paths*/,
                                    const std::vector<std::string>& server_lines,
                                    const std::string& source, bool& flag) {
  DownloadExeFiles(server_lines, source, settings_, nullptr);
  flag = true;
}

}  // namespace jov
