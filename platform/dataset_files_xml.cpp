#include "platform/dataset_files_xml.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/data_packet.h"
#include "platform/errors.h"

namespace jov {
namespace {

std::string SystemText(int error) { return std::strerror(error); }

}  // namespace

Dataset DatasetFilesXml::Load(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error("Cannot open " + path + ": " + SystemText(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw Error("Cannot read " + path + ": not a regular file");
  }
  std::string text;
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      throw Error("Cannot read " + path + ": " + SystemText(error));
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxDataPacketBytes) {
      ::close(fd);
      throw Error(path + ": data packet larger than " + std::to_string(kMaxDataPacketBytes) +
                  " bytes");
    }
  }
  ::close(fd);
  return ParseDataPacket(text, path);
}

void DatasetFilesXml::Save(const std::string& path, const Dataset& data) {
  const std::string text = WriteDataPacket(data);
  // Written beside the file and renamed over it: a failure leaves the old file whole.
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw Error("Cannot create " + path + ": " + SystemText(errno));
  auto fail = [&](const char* what, int error) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw Error(std::string("Cannot ") + what + " " + path + ": " + SystemText(error));
  };
  struct stat old {};
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  if (::fchmod(fd, mode) != 0) fail("create", errno);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail("write", errno);
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) fail("write", errno);
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    throw Error("Cannot write " + path + ": " + SystemText(error));
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    throw Error("Cannot replace " + path + ": " + SystemText(error));
  }
}

}  // namespace jov
