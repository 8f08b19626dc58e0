#include "platform/dataset_files_xml.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/data_packet.h"
#include "platform/errors.h"
#include "platform/file_text.h"
#include "platform/system_text.h"

namespace jov {
namespace {}  // namespace

Dataset DatasetFilesXml::Load(const std::string& path) {
  const FileText file = ReadFileText(path, kMaxDataPacketBytes);
  if (file.error == EINVAL) throw Error("Cannot read " + path + ": not a regular file");
  if (file.error != 0) throw Error("Cannot open " + path + ": " + SystemErrorText(file.error));
  if (file.too_large) {
    throw Error(path + ": data packet larger than " + std::to_string(kMaxDataPacketBytes) +
                " bytes");
  }
  return ParseDataPacket(file.text, path);
}

void DatasetFilesXml::Save(const std::string& path, const Dataset& data) {
  const std::string text = WriteDataPacket(data);
  // Written beside the file and renamed over it: a failure leaves the old file whole.
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw Error("Cannot create " + path + ": " + SystemErrorText(errno));
  auto fail = [&](const char* what, int error) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw Error(std::string("Cannot ") + what + " " + path + ": " + SystemErrorText(error));
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
    throw Error("Cannot write " + path + ": " + SystemErrorText(error));
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    throw Error("Cannot replace " + path + ": " + SystemErrorText(error));
  }
}

}  // namespace jov
