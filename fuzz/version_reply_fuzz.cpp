// Fuzz target: any text reads as a version reply without a crash; its fields put back together
// give the reply, no local file name it yields can leave the program folder, and a stamp
// either decodes to a valid date and time or raises Error.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "clientlib/version_reply.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  const jov::VersionReply parts = jov::SplitVersionReply(reply);
  const std::size_t crlf = reply.find("\r\n");
  const std::size_t amp = crlf == std::string::npos ? crlf : reply.find('&', crlf + 2);
  if (amp != std::string::npos) {
    const std::string rest = reply.substr(amp + 1);
    if (parts.source != reply.substr(0, crlf) ||
        parts.list != reply.substr(crlf + 2, amp - crlf - 2) ||
        parts.flag != (rest.empty() ? "0" : rest)) {
      std::abort();
    }
  }
  for (const std::string& line : jov::ListLines(parts.list)) {
    if (line.find_first_of("\r\n") != std::string::npos) std::abort();
    const auto [name, stamp] = jov::NameAndValue(line);
    const std::string local = jov::LocalFileNameOf(name);
    if (!local.empty()) {
      if (!name.starts_with(local) || local.find_first_of("/\\") != std::string::npos ||
          local.find("..") != std::string::npos) {
        std::abort();
      }
      for (const char c : local) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) std::abort();
      }
    }
    try {
      const jov::DateTime t = jov::DecodeStamp(stamp);
      if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
          t.second > 59) {
        std::abort();
      }
    } catch (const jov::Error&) {
      // not a stamp
    }
  }
  return 0;
}
