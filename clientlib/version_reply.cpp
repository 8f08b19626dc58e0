#include "clientlib/version_reply.h"

#include "platform/cp1252.h"
#include "platform/errors.h"

namespace jov {

VersionReply SplitVersionReply(const std::string& reply) {
  VersionReply parts;
  std::string rest = reply;
  const std::size_t crlf = rest.find("\r\n");
  if (crlf != std::string::npos) parts.source = rest.substr(0, crlf);
  rest.erase(0, crlf == std::string::npos ? 1 : crlf + 2);
  const std::size_t amp = rest.find('&');
  if (amp != std::string::npos) {
    parts.list = rest.substr(0, amp);
    rest.erase(0, amp + 1);
  }
  parts.flag = rest.empty() ? "0" : rest;
  return parts;
}

bool IsErrorReply(const std::string& reply) { return reply.starts_with("EXCEPT"); }

std::string ErrorReplyText(const std::string& reply) {
  return reply.size() > 7 ? reply.substr(7) : std::string();
}

std::vector<std::string> ListLines(const std::string& list) {
  std::vector<std::string> lines;
  const std::string whole = list.substr(0, list.find('\0'));
  std::size_t start = 0;
  while (start < whole.size()) {
    const std::size_t end = whole.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(whole.substr(start));
      break;
    }
    lines.push_back(whole.substr(start, end - start));
    start = end + 1;
    if (whole[end] == '\r' && start < whole.size() && whole[start] == '\n') ++start;
  }
  return lines;
}

std::pair<std::string, std::string> NameAndValue(const std::string& line) {
  const std::size_t eq = line.find('=');
  if (eq == std::string::npos) return {};
  return {line.substr(0, eq), line.substr(eq + 1)};
}

std::string NameBeforeZip(const std::string& server_name) {
  const std::size_t zip = cp1252::UpperAscii(server_name).find(".ZIP");
  return zip == std::string::npos ? std::string() : server_name.substr(0, zip);
}

std::string LocalFileNameOf(const std::string& server_name) {
  const std::string local = NameBeforeZip(server_name);
  if (local.empty() || local.find_first_of("/\\") != std::string::npos ||
      local.find("..") != std::string::npos) {
    return {};
  }
  for (const char c : local) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return {};
  }
  return local;
}

DateTime DecodeStamp(const std::string& stamp) {
  const auto invalid = [&] {
    return Error("'" + cp1252::ForLog(stamp, 100) + "' is not a valid time stamp");
  };
  if (stamp.size() < 14) throw invalid();
  const auto number = [&](std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
      if (stamp[i] < '0' || stamp[i] > '9') throw invalid();
      value = value * 10 + (stamp[i] - '0');
    }
    return value;
  };
  const DateTime t{
      number(0, 4), number(4, 2), number(6, 2), number(8, 2), number(10, 2), number(12, 2), 0};
  const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0) || t.hour > 23 || t.minute > 59 ||
      t.second > 59) {
    throw invalid();
  }
  return t;
}

}  // namespace jov
