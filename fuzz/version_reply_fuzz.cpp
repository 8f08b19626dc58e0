// Fuzz target: any text reads as a version reply without a crash; its fields put back together
// give the reply as far as their bounds allow, no local file name it yields can leave the
// program folder, and a stamp either decodes to a valid date and time or raises Error.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/errors.h"
#include "protocol/version_reply.h"

namespace p = jov::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  const p::VersionReply parts = p::SplitVersionReply(reply);
  const std::size_t crlf = reply.find("\r\n");
  const std::size_t amp = crlf == std::string::npos ? crlf : reply.find('&', crlf + 2);
  if (amp != std::string::npos) {
    const std::string rest = reply.substr(amp + 1);
    const std::string source = crlf <= p::kMaxSourceBytes ? reply.substr(0, crlf) : "";
    if (parts.source != source || parts.list != reply.substr(crlf + 2, amp - crlf - 2) ||
        parts.flag != (rest.empty() ? "0" : rest.substr(0, p::kMaxFlagBytes))) {
      std::abort();
    }
  }
  if (parts.source.size() > p::kMaxSourceBytes || parts.flag.size() > p::kMaxFlagBytes ||
      p::ErrorReplyText(reply).size() > p::kMaxErrorTextBytes) {
    std::abort();
  }
  const std::vector<std::string> lines = p::ListLines(parts.list);
  if (lines.size() > p::kMaxListLines) std::abort();
  for (const std::string& line : lines) {
    if (line.find_first_of("\r\n") != std::string::npos) std::abort();
    const auto [name, stamp] = p::NameAndValue(line);
    const std::string local = p::LocalFileNameOf(name);
    if (!local.empty()) {
      if (!name.starts_with(local) || name.size() > p::kMaxNameBytes ||
          local.find_first_of("/\\") != std::string::npos ||
          local.find("..") != std::string::npos) {
        std::abort();
      }
      for (const char c : local) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) std::abort();
      }
    }
    try {
      const jov::DateTime t = p::DecodeStamp(stamp);
      if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
          t.second > 59 || p::EncodeStamp(t) != stamp.substr(0, p::kStampDigits)) {
        std::abort();
      }
    } catch (const jov::Error&) {
      // not a stamp
    }
  }
  return 0;
}
