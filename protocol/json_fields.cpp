#include "protocol/json_fields.h"

#include <cmath>
#include <limits>

#include "platform/cp1252.h"

namespace jov::protocol::json_fields {
namespace {

// Walks the text without building anything, refusing it at the first value nested deeper than
// the bound or at its first syntax error.
class DepthCheck : public nlohmann::json_sax<Json> {
 public:
  explicit DepthCheck(int max_depth) : max_depth_(max_depth) {}
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return ++depth_ <= max_depth_; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return --depth_ >= 0; }
  bool start_array(std::size_t) override { return ++depth_ <= max_depth_; }
  bool end_array() override { return --depth_ >= 0; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  int max_depth_;
  int depth_ = 0;
};

bool Digits(std::string_view text, std::size_t from, std::size_t count) {
  if (from + count > text.size()) return false;
  for (std::size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

}  // namespace

std::optional<Json> ParseBounded(std::string_view text, std::size_t max_bytes, int max_depth) {
  if (text.size() > max_bytes) return std::nullopt;
  try {
    DepthCheck check(max_depth);
    if (!Json::sax_parse(text.begin(), text.end(), &check)) return std::nullopt;
    Json json = Json::parse(text.begin(), text.end(), nullptr, false);
    if (json.is_discarded()) return std::nullopt;
    return json;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<Json> ParseUtf8OrCp1252(std::string_view text, std::size_t max_bytes, int max_depth) {
  if (text.size() > max_bytes) return std::nullopt;
  std::optional<Json> json = ParseBounded(text, max_bytes, max_depth);
  // Windows-1252 grows in UTF-8; the bound is on what was sent.
  if (!json) json = ParseBounded(cp1252::ToUtf8(text), 3 * max_bytes, max_depth);
  return json;
}

std::string Dump(const OrderedJson& json) {
  return json.dump(-1, ' ', true, OrderedJson::error_handler_t::replace);
}

std::string CutUtf8(std::string_view text, std::size_t max) {
  if (text.size() <= max) return std::string(text);
  std::size_t cut = max;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut));
}

bool IsText(const Json& value, std::size_t max, bool allow_empty) {
  if (!value.is_string()) return false;
  const auto& text = value.get_ref<const std::string&>();
  return text.size() <= max && (allow_empty || !text.empty());
}

bool IsCode(const Json& value) {
  if (!IsText(value, kMaxCodeBytes, false)) return false;
  for (const char c : value.get_ref<const std::string&>()) {
    if (c < 0x21 || c > 0x7E || c == '/') return false;
  }
  return true;
}

bool IsSha256(const Json& value, bool any_case) {
  if (!value.is_string()) return false;
  const auto& text = value.get_ref<const std::string&>();
  if (text.size() != 64) return false;
  for (const char c : text) {
    const bool lower = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    if (!lower && !(any_case && c >= 'A' && c <= 'F')) return false;
  }
  return true;
}

bool IsIsoTime(const Json& value) {
  if (!IsText(value, 40)) return false;
  const std::string_view t = value.get_ref<const std::string&>();
  if (!(Digits(t, 0, 4) && t.size() > 19 && t[4] == '-' && Digits(t, 5, 2) && t[7] == '-' &&
        Digits(t, 8, 2) && t[10] == 'T' && Digits(t, 11, 2) && t[13] == ':' && Digits(t, 14, 2) &&
        t[16] == ':' && Digits(t, 17, 2))) {
    return false;
  }
  std::size_t at = 19;
  if (t[at] == '.') {
    std::size_t digits = 0;
    while (Digits(t, at + 1 + digits, 1)) ++digits;
    if (digits < 1 || digits > 9) return false;
    at += 1 + digits;
  }
  const std::string_view zone = t.substr(at);
  if (zone == "Z") return true;
  if (zone.empty() || (zone[0] != '+' && zone[0] != '-') || !Digits(zone, 1, 2)) return false;
  return zone.size() == 3 || (zone.size() == 5 && Digits(zone, 3, 2)) ||
         (zone.size() == 6 && zone[3] == ':' && Digits(zone, 4, 2));
}

bool IsSeconds(const Json& value) {
  if (!value.is_number()) return false;
  const double seconds = value.get<double>();
  return std::isfinite(seconds) && seconds >= 0;
}

std::optional<std::int64_t> Count(const Json& value) {
  if (!value.is_number_unsigned()) return std::nullopt;
  const auto number = value.get<std::uint64_t>();
  if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(number);
}

std::optional<std::int64_t> PositiveInteger(const Json& value) {
  const std::optional<std::int64_t> number = Count(value);
  return number && *number > 0 ? number : std::nullopt;
}

}  // namespace jov::protocol::json_fields
