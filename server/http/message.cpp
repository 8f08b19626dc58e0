#include "server/http/message.h"

#include <unistd.h>

#include <cctype>

#include "platform/cp1252.h"

namespace appserver::http {

std::string Request::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (jov::cp1252::EqualsIgnoringAsciiCase(key, name)) return value;
  }
  return {};
}

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

}  // namespace appserver::http
