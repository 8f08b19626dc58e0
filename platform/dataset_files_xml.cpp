#include "platform/dataset_files_xml.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/atomic_file.h"
#include "platform/cp1252.h"
#include "platform/data_packet.h"
#include "platform/errors.h"
#include "platform/file_text.h"
#include "platform/system_text.h"

namespace jov {

Dataset DatasetFilesXml::Load(const std::string& path) {
  const FileText file = ReadFileText(path, kMaxDataPacketBytes);
  if (file.error == EINVAL) {  // a FIFO, a device: never waited on, never read
    throw Error("Cannot read " + path + ": not a regular file", Cause::kNotRegular,
                {.subject = path});
  }
  if (file.error != 0) {
    const std::string why = SystemErrorText(file.error);
    throw Error("Cannot open " + path + ": " + why, Cause::kCannotOpenFile,
                {.subject = path, .detail = why});
  }
  if (file.too_large) {
    throw Error(
        path + ": data packet larger than " + std::to_string(kMaxDataPacketBytes) + " bytes",
        Cause::kPacketTooLarge,
        {.subject = path, .number = static_cast<std::int64_t>(kMaxDataPacketBytes)});
  }
  return ParseDataPacket(file.text, path);
}

void DatasetFilesXml::Save(const std::string& path, const Dataset& data) {
  const std::string text = WriteDataPacket(data);
  // A failure leaves the old file whole; a new file gets 0644, a replaced one keeps its bits.
  struct stat old {};
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  WriteFileAtomically(path, text, mode);
}

}  // namespace jov
