#include "server/http/message.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <ctime>

#include "platform/cp1252.h"

namespace appserver::http {

namespace {

std::string ValueOf(const Headers& headers, const std::string& name) {
  for (const auto& [key, value] : headers) {
    if (jov::cp1252::EqualsIgnoringAsciiCase(key, name)) return value;
  }
  return {};
}

}  // namespace

std::string Request::Header(const std::string& name) const { return ValueOf(headers, name); }

std::optional<std::string> Request::Param(const std::string& name) const {
  for (std::size_t start = 0; start <= query.size();) {
    std::size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string pair = query.substr(start, end - start);
    const std::size_t equals = pair.find('=');
    if (PercentDecode(pair.substr(0, equals), true) == name) {
      return equals == std::string::npos ? std::string()
                                         : PercentDecode(pair.substr(equals + 1), true);
    }
    start = end + 1;
  }
  return std::nullopt;
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FileHandle::~FileHandle() {
  if (fd_ >= 0) ::close(fd_);
}

Response Response::Text(int status, std::string text, const std::string& type) {
  Response response;
  response.status = status;
  response.body = std::move(text);
  response.Set("Content-Type", type);
  return response;
}

std::string Response::Header(const std::string& name) const { return ValueOf(headers, name); }

void Response::Set(const std::string& name, const std::string& value) {
  for (auto& [key, old] : headers) {
    if (jov::cp1252::EqualsIgnoringAsciiCase(key, name)) {
      old = value;
      return;
    }
  }
  headers.emplace_back(name, value);
}

std::string PercentDecode(const std::string& text, bool plus_is_space) {
  const auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else if (text[i] == '+' && plus_is_space) {
      out += ' ';
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string PercentEncode(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The digits at text[at, at + count) as a number; -1 when any is not a digit.
int Digits(const std::string& text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::string HttpDate(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  if (::gmtime_r(&time, &utc) == nullptr) return {};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday],
                utc.tm_mday, kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                utc.tm_sec);
  return text;
}

std::optional<std::int64_t> ParseHttpDate(const std::string& text) {
  // "Sun, 06 Nov 1994 08:49:37 GMT": 29 bytes, each separator in its place.
  if (text.size() != 29 || text.compare(3, 2, ", ") != 0 || text[7] != ' ' || text[11] != ' ' ||
      text[16] != ' ' || text[19] != ':' || text[22] != ':' || text.compare(25, 4, " GMT") != 0) {
    return std::nullopt;
  }
  std::tm utc{};
  utc.tm_mon = -1;
  for (int m = 0; m < 12; ++m) {
    if (text.compare(8, 3, kMonths[m]) == 0) utc.tm_mon = m;
  }
  utc.tm_mday = Digits(text, 5, 2);
  utc.tm_year = Digits(text, 12, 4) - 1900;
  utc.tm_hour = Digits(text, 17, 2);
  utc.tm_min = Digits(text, 20, 2);
  utc.tm_sec = Digits(text, 23, 2);
  if (utc.tm_mon < 0 || utc.tm_mday < 1 || utc.tm_year < 70 || utc.tm_hour < 0 ||
      utc.tm_hour > 23 || utc.tm_min < 0 || utc.tm_min > 59 || utc.tm_sec < 0 || utc.tm_sec > 59) {
    return std::nullopt;
  }
  const std::int64_t seconds = ::timegm(&utc);
  // timegm carries a day past the month's end into the next month: such a date does not exist.
  if (HttpDate(seconds) != text) return std::nullopt;
  return seconds;
}

}  // namespace appserver::http
