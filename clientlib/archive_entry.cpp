#include "clientlib/archive_entry.h"

#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "clientlib/http_transport.h"
#include "platform/cp1252.h"
#include "platform/errors.h"

namespace jov {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

std::string ZipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

}  // namespace

void UnpackEntry(int archive_fd, const std::string& archive_name, const std::string& entry_name,
                 std::int64_t max_bytes, const std::function<void(std::int64_t size)>& reserve,
                 const std::function<void(const char* data, std::size_t size)>& out) {
  const std::string fail = "Cannot unpack " + entry_name + " from " + archive_name + ": ";
  const auto failure = [&](const std::string& why, Cause cause) {
    return Error(fail + why, cause,
                 {.subject = entry_name, .number = max_bytes, .file = entry_name});
  };
  constexpr Cause damaged = Cause::kArchiveCorrupt;
  // libzip closes what it is given; the caller keeps its own descriptor.
  const int copy = ::dup(archive_fd);
  if (copy < 0) throw failure(std::strerror(errno), damaged);
  int code = 0;
  // No ZIP_CHECKCONS: archives written to a pipe would be refused, and the CRC check of the
  // whole entry already catches a damaged one.
  zip_t* opened = zip_fdopen(copy, ZIP_RDONLY, &code);
  if (opened == nullptr) {
    ::close(copy);
    throw failure("not a usable zip archive (" + ZipErrorText(code) + ")", Cause::kArchiveNotZip);
  }
  const std::unique_ptr<zip_t, decltype(&zip_discard)> archive(opened, &zip_discard);
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  zip_int64_t index = -1;
  for (zip_int64_t i = 0; i < count && index < 0; ++i) {
    const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (name != nullptr && cp1252::EqualsIgnoringAsciiCase(name, entry_name)) index = i;
  }
  if (index < 0) {
    throw failure("the archive has no entry " + entry_name, Cause::kArchiveNoEntry);
  }
  const auto entry = static_cast<zip_uint64_t>(index);
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(archive.get(), entry, 0, &stat) != 0) {
    throw failure(zip_strerror(archive.get()), damaged);
  }
  constexpr Cause too_large = Cause::kProgramTooLarge;
  if ((stat.valid & ZIP_STAT_SIZE) != 0) {
    if (stat.size > static_cast<zip_uint64_t>(max_bytes)) {
      throw failure("the entry has " + std::to_string(stat.size) +
                        " bytes, more than the limit of " + SizeText(max_bytes),
                    too_large);
    }
    if (reserve) reserve(static_cast<std::int64_t>(stat.size));
  }
  zip_file_t* file = zip_fopen_index(archive.get(), entry, 0);
  if (file == nullptr) {
    throw failure("the entry cannot be read: " + std::string(zip_strerror(archive.get())), damaged);
  }
  std::unique_ptr<zip_file_t, decltype(&zip_fclose)> reader(file, &zip_fclose);
  std::vector<char> buffer(kChunk);
  std::int64_t written = 0;
  constexpr Cause crc = Cause::kArchiveCrc;
  for (;;) {
    const zip_int64_t n = zip_fread(file, buffer.data(), buffer.size());
    if (n < 0) {
      const bool bad_crc = zip_error_code_zip(zip_file_get_error(file)) == ZIP_ER_CRC;
      throw failure(bad_crc ? std::string("CRC error in the entry")
                            : "the entry cannot be read: " + std::string(zip_file_strerror(file)),
                    bad_crc ? crc : damaged);
    }
    if (n == 0) break;
    // A size that lies cannot make the file grow without end.
    if (written + n > max_bytes) {
      throw failure("the entry is larger than the limit of " + SizeText(max_bytes), too_large);
    }
    out(buffer.data(), static_cast<std::size_t>(n));
    written += n;
  }
  const int closing = zip_fclose(reader.release());
  if (closing != 0) {
    throw failure(closing == ZIP_ER_CRC ? std::string("CRC error in the entry")
                                        : "the entry cannot be read: " + ZipErrorText(closing),
                  closing == ZIP_ER_CRC ? crc : damaged);
  }
}

}  // namespace jov
