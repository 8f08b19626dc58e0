#include "protocol/version_reply.h"

#include <algorithm>
#include <cstdio>

#include "platform/cp1252.h"
#include "platform/errors.h"

namespace jov::protocol {

std::string WriteVersionReply(std::string_view source, const std::vector<VersionEntry>& entries,
                              bool ask) {
  std::string reply = std::string(source) + "\r\n";
  for (const VersionEntry& entry : entries) reply += entry.name + "=" + entry.stamp + "\r\n";
  return reply + "&" + (ask ? "1" : "0");
}

std::string WriteErrorReply(std::string_view text) { return "EXCEPT " + std::string(text); }

VersionReply SplitVersionReply(std::string_view reply) {
  VersionReply parts;
  std::string_view rest = reply;
  const std::size_t crlf = rest.find("\r\n");
  if (crlf != std::string_view::npos && crlf <= kMaxSourceBytes) {
    parts.source = std::string(rest.substr(0, crlf));
  }
  rest.remove_prefix(std::min(rest.size(), crlf == std::string_view::npos ? 1 : crlf + 2));
  const std::size_t amp = rest.find('&');
  if (amp != std::string_view::npos) {
    parts.list = std::string(rest.substr(0, amp));
    rest.remove_prefix(amp + 1);
  }
  parts.flag = rest.empty() ? "0" : std::string(rest.substr(0, kMaxFlagBytes));
  return parts;
}

bool IsErrorReply(std::string_view reply) { return reply.starts_with("EXCEPT"); }

std::string ErrorReplyText(std::string_view reply) {
  return reply.size() > 7 ? std::string(reply.substr(7, kMaxErrorTextBytes)) : std::string();
}

std::vector<std::string> ListLines(std::string_view list) {
  std::vector<std::string> lines;
  const std::string_view whole = list.substr(0, list.find('\0'));
  std::size_t start = 0;
  while (start < whole.size() && lines.size() < kMaxListLines) {
    const std::size_t end = whole.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(whole.substr(start));
      break;
    }
    lines.emplace_back(whole.substr(start, end - start));
    start = end + 1;
    if (whole[end] == '\r' && start < whole.size() && whole[start] == '\n') ++start;
  }
  return lines;
}

std::pair<std::string, std::string> NameAndValue(std::string_view line) {
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return {};
  return {std::string(line.substr(0, eq)), std::string(line.substr(eq + 1))};
}

std::string EncodeStamp(const DateTime& value) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", value.year, value.month, value.day,
                value.hour, value.minute, value.second);
  return text;
}

DateTime DecodeStamp(std::string_view stamp) {
  const auto invalid = [&] {
    const std::string shown = cp1252::ForLog(stamp, 100);
    return Error("'" + shown + "' is not a valid time stamp", Cause::kStampInvalid,
                 {.detail = shown});
  };
  if (stamp.size() < kStampDigits) throw invalid();
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

}  // namespace jov::protocol
