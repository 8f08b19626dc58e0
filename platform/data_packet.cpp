#include "platform/data_packet.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/cp1252.h"
#include "platform/errors.h"

namespace jov {
namespace {

// Nesting deeper than this is refused, so that the reader's recursion stays bounded.
constexpr int kMaxDepth = 32;
constexpr std::size_t kMaxFields = 4096;
// Elements of one packet: each costs some hundred bytes in memory whatever its text, so that
// a packet of tiny elements near the size limit would take gigabytes. Far above what a
// dataset of a register holds (a million rows).
constexpr std::size_t kMaxElements = std::size_t{1} << 20;
// Up to this many attributes an element's repeats are found by comparing with each before;
// beyond it through a hash set, so that many attributes still cost linear time.
constexpr std::size_t kLinearAttributes = 16;

enum class Encoding { kUtf8, kCp1252, kLatin1 };

struct Node {
  std::string name;                                        // Windows-1252
  std::vector<std::pair<std::string, std::string>> attrs;  // name, value (Windows-1252)
  std::vector<Node> children;
  std::size_t offset = 0;  // where the start tag begins
};

// A Unicode character in Windows-1252; characters the code page lacks become "?".
void AppendCodePoint(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else {
    std::string utf8;
    cp1252::AppendUtf8(utf8, cp);
    out += cp1252::FromUtf8(utf8);
  }
}

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool IsNameChar(unsigned char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool SameName(std::string_view a, std::string_view b) {
  return cp1252::UpperAscii(a) == cp1252::UpperAscii(b);
}

class Reader {
 public:
  Reader(std::string_view text, const std::string& source) : in_(text), source_(source) {}

  Node ReadDocument() {
    if (in_.size() > kMaxDataPacketBytes) {
      throw Error(
          source_ + ": data packet larger than " + std::to_string(kMaxDataPacketBytes) + " bytes",
          Cause::kPacketTooLarge,
          {.subject = source_, .number = static_cast<std::int64_t>(kMaxDataPacketBytes)});
    }
    bool bom = false;
    if (in_.substr(0, 3) == "\xEF\xBB\xBF") {
      bom = true;
      pos_ = 3;
    } else if (in_.substr(0, 2) == "\xFE\xFF" || in_.substr(0, 2) == "\xFF\xFE") {
      Fail("UTF-16 text is not supported");
    }
    if (in_.substr(pos_, 5) == "<?xml" && pos_ + 5 < in_.size() && IsBlank(in_[pos_ + 5])) {
      ReadDeclaration();
    }
    if (bom && encoding_ != Encoding::kUtf8) Fail("a UTF-8 byte order mark with another encoding");
    SkipMisc();
    if (pos_ >= in_.size()) Fail("no root element");
    if (in_[pos_] != '<') Fail("text before the root element");
    Node root = ReadElement(1);
    SkipMisc();
    if (pos_ < in_.size()) Fail("content after the root element");
    return root;
  }

  [[noreturn]] void FailAt(std::size_t offset, const std::string& what) const {
    offset = std::min(offset, in_.size());
    std::size_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < offset; ++i) {
      if (in_[i] == '\n') {
        ++line;
        line_start = i + 1;
      }
    }
    const std::string line_text = std::to_string(line);
    const std::string column = std::to_string(offset - line_start + 1);
    throw Error(source_ + ": malformed data packet: " + what + " (line " + line_text + ", column " +
                    column + ")",
                Cause::kPacketMalformed,
                {.subject = source_, .other = column, .number = static_cast<std::int64_t>(line)});
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const { FailAt(pos_, what); }

  bool AtEnd() const { return pos_ >= in_.size(); }
  char Peek() const { return pos_ < in_.size() ? in_[pos_] : '\0'; }
  bool LookingAt(std::string_view s) const { return in_.substr(pos_, s.size()) == s; }

  void Expect(char c, const std::string& what) {
    if (Peek() != c || AtEnd()) Fail("expected " + what);
    ++pos_;
  }

  void SkipBlanks() {
    while (!AtEnd() && IsBlank(in_[pos_])) ++pos_;
  }

  void ReadDeclaration() {
    pos_ += 5;
    bool version = false;
    while (true) {
      SkipBlanks();
      if (LookingAt("?>")) {
        pos_ += 2;
        break;
      }
      if (AtEnd()) Fail("unterminated XML declaration");
      const std::string name = ReadName();
      SkipBlanks();
      Expect('=', "\"=\" in the XML declaration");
      SkipBlanks();
      const std::string value = ReadPlainQuoted();
      const std::string key = cp1252::LowerAscii(name);
      if (key == "version") {
        if (value.empty() || value[0] != '1') Fail("unsupported XML version " + value);
        version = true;
      } else if (key == "encoding") {
        const std::string enc = cp1252::UpperAscii(value);
        if (enc == "UTF-8" || enc == "UTF8") {
          encoding_ = Encoding::kUtf8;
        } else if (enc == "WINDOWS-1252" || enc == "CP1252") {
          encoding_ = Encoding::kCp1252;
        } else if (enc == "ISO-8859-1" || enc == "ISO8859-1" || enc == "LATIN1") {
          encoding_ = Encoding::kLatin1;
        } else {
          Fail("unsupported encoding " + value);
        }
      } else if (key != "standalone") {
        Fail("unknown item " + name + " in the XML declaration");
      }
    }
    if (!version) Fail("XML declaration without a version");
  }

  // A quoted value of the declaration: ASCII, no references.
  std::string ReadPlainQuoted() {
    const char quote = Peek();
    if (quote != '"' && quote != '\'') Fail("expected a quoted value");
    const std::size_t start = ++pos_;
    while (!AtEnd() && in_[pos_] != quote) {
      const auto c = static_cast<unsigned char>(in_[pos_]);
      if (c < 0x20 || c >= 0x80 || c == '<') Fail("bad character in the XML declaration");
      ++pos_;
    }
    if (AtEnd()) Fail("unterminated quoted value");
    return std::string(in_.substr(start, pos_++ - start));
  }

  // Whitespace, comments and processing instructions between elements.
  void SkipMisc() {
    while (true) {
      SkipBlanks();
      if (LookingAt("<!--")) {
        SkipComment();
      } else if (LookingAt("<?")) {
        const std::size_t end = in_.find("?>", pos_ + 2);
        if (end == std::string_view::npos) Fail("unterminated processing instruction");
        pos_ = end + 2;
      } else if (LookingAt("<!")) {
        Fail("document type declarations and CDATA are not supported");
      } else {
        return;
      }
    }
  }

  void SkipComment() {
    const std::size_t end = in_.find("--", pos_ + 4);
    if (end == std::string_view::npos) Fail("unterminated comment");
    if (end + 2 >= in_.size() || in_[end + 2] != '>') FailAt(end, "\"--\" inside a comment");
    pos_ = end + 3;
  }

  std::string ReadName() {
    if (AtEnd() || !IsNameStart(static_cast<unsigned char>(in_[pos_]))) Fail("expected a name");
    const std::size_t start = pos_;
    bool ascii = true;
    while (!AtEnd() && IsNameChar(static_cast<unsigned char>(in_[pos_]))) {
      ascii = ascii && static_cast<unsigned char>(in_[pos_]) < 0x80;
      ++pos_;
    }
    std::string name;
    if (ascii) {
      name.assign(in_.substr(start, pos_ - start));  // name characters below 128 are as they are
    } else {
      for (std::size_t i = start; i < pos_;) AppendChar(name, i, pos_);
    }
    // "?" is no name character: here it stands for one that Windows-1252 lacks, and two
    // different names would read the same.
    if (name.find('?') != std::string::npos) {
      FailAt(start, "a name with a character Windows-1252 lacks");
    }
    return name;
  }

  // Decodes one character of the input at i (advancing i) into Windows-1252.
  void AppendChar(std::string& out, std::size_t& i, std::size_t limit) {
    const auto c = static_cast<unsigned char>(in_[i]);
    if (c < 0x20 && c != '\t' && c != '\r' && c != '\n') FailAt(i, "control character");
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      return;
    }
    if (encoding_ == Encoding::kCp1252) {
      out += static_cast<char>(c);
      ++i;
      return;
    }
    if (encoding_ == Encoding::kLatin1) {
      AppendCodePoint(out, c);
      ++i;
      return;
    }
    int extra = 0;
    char32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      FailAt(i, "invalid UTF-8");
    }
    if (i + static_cast<std::size_t>(extra) >= limit) FailAt(i, "truncated UTF-8 sequence");
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(in_[i + k]);
      if ((next & 0xC0) != 0x80) FailAt(i, "invalid UTF-8");
      cp = (cp << 6) | (next & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      FailAt(i, "invalid UTF-8");
    }
    AppendCodePoint(out, cp);
    i += static_cast<std::size_t>(extra) + 1;
  }

  void AppendReference(std::string& out) {
    const std::size_t start = pos_;
    const std::size_t end = in_.find(';', pos_);
    if (end == std::string_view::npos || end - pos_ > 12) Fail("unterminated reference");
    const std::string_view ref = in_.substr(pos_ + 1, end - pos_ - 1);
    pos_ = end + 1;
    if (ref == "lt") {
      out += '<';
    } else if (ref == "gt") {
      out += '>';
    } else if (ref == "amp") {
      out += '&';
    } else if (ref == "quot") {
      out += '"';
    } else if (ref == "apos") {
      out += '\'';
    } else if (ref.size() >= 2 && ref[0] == '#') {
      const bool hex = ref[1] == 'x';
      const std::string_view digits = ref.substr(hex ? 2 : 1);
      std::uint32_t cp = 0;
      const auto [ptr, ec] =
          std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
      if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size() || cp == 0 ||
          cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        FailAt(start, "bad character reference &" + std::string(ref) + ";");
      }
      AppendCodePoint(out, cp);
    } else {
      FailAt(start, "unknown entity &" + std::string(ref) + ";");
    }
  }

  std::string ReadAttributeValue() {
    const char quote = Peek();
    if (quote != '"' && quote != '\'') Fail("expected a quoted attribute value");
    ++pos_;
    std::string value;
    while (true) {
      if (AtEnd()) Fail("unterminated attribute value");
      const char c = in_[pos_];
      if (c == quote) {
        ++pos_;
        return value;
      }
      if (c == '<') Fail("\"<\" inside an attribute value");
      if (c == '&') {
        AppendReference(value);
      } else if (c == '\r') {
        // A line break in the text is one blank, as XML normalises attribute values.
        value += ' ';
        ++pos_;
        if (Peek() == '\n') ++pos_;
      } else if (c == '\n' || c == '\t') {
        value += ' ';
        ++pos_;
      } else {
        // A run of printable ASCII is taken as it is, at once; anything else one by one.
        const std::size_t run = pos_;
        while (pos_ < in_.size()) {
          const auto b = static_cast<unsigned char>(in_[pos_]);
          if (b < 0x20 || b >= 0x80 || b == static_cast<unsigned char>(quote) || b == '<' ||
              b == '&') {
            break;
          }
          ++pos_;
        }
        if (pos_ > run) {
          value.append(in_.substr(run, pos_ - run));
        } else {
          AppendChar(value, pos_, in_.size());
        }
      }
    }
  }

  Node ReadElement(int depth) {
    if (depth > kMaxDepth) Fail("elements nested too deeply");
    if (++elements_ > kMaxElements) Fail("more than " + std::to_string(kMaxElements) + " elements");
    Node node;
    node.offset = pos_;
    Expect('<', "\"<\"");
    node.name = ReadName();
    std::unordered_set<std::string> seen;  // filled once there are many attributes
    while (true) {
      const bool blank = !AtEnd() && IsBlank(in_[pos_]);
      SkipBlanks();
      if (AtEnd()) Fail("unterminated start tag <" + node.name + ">");
      if (LookingAt("/>")) {
        pos_ += 2;
        return node;
      }
      if (Peek() == '>') {
        ++pos_;
        break;
      }
      if (!blank) Fail("expected a blank between attributes");
      const std::size_t attr_start = pos_;
      std::string name = ReadName();
      SkipBlanks();
      Expect('=', "\"=\" after attribute " + name);
      SkipBlanks();
      std::string value = ReadAttributeValue();
      bool repeated = false;
      if (node.attrs.size() < kLinearAttributes) {
        for (const auto& [before, unused] : node.attrs) repeated = repeated || before == name;
      } else {
        if (seen.empty()) {
          for (const auto& [before, unused] : node.attrs) seen.insert(before);
        }
        repeated = !seen.insert(name).second;
      }
      if (repeated) FailAt(attr_start, "attribute " + name + " given twice");
      node.attrs.emplace_back(std::move(name), std::move(value));
    }
    while (true) {
      const std::size_t text_start = pos_;
      SkipBlanks();
      if (AtEnd()) Fail("element <" + node.name + "> is not closed");
      if (in_[pos_] != '<') FailAt(text_start, "unexpected text in <" + node.name + ">");
      if (LookingAt("</")) {
        pos_ += 2;
        const std::string closing = ReadName();
        if (closing != node.name) {
          Fail("</" + closing + "> closes <" + node.name + ">");
        }
        SkipBlanks();
        Expect('>', "\">\"");
        return node;
      }
      if (LookingAt("<!--")) {
        SkipComment();
      } else if (LookingAt("<!") || LookingAt("<?")) {
        Fail("unexpected markup in <" + node.name + ">");
      } else {
        node.children.push_back(ReadElement(depth + 1));
      }
    }
  }

  std::string_view in_;
  const std::string& source_;
  std::size_t elements_ = 0;
  std::size_t pos_ = 0;
  Encoding encoding_ = Encoding::kUtf8;
};

const std::string* Attribute(const Node& node, std::string_view name) {
  for (const auto& [key, value] : node.attrs) {
    if (SameName(key, name)) return &value;
  }
  return nullptr;
}

// The one child of that name; nullptr when there is none, an error when there are more.
Node* OnlyChild(const Reader& reader, Node& parent, std::string_view name) {
  Node* found = nullptr;
  for (Node& child : parent.children) {
    if (!SameName(child.name, name)) continue;
    if (found != nullptr) reader.FailAt(child.offset, "more than one " + std::string(name));
    found = &child;
  }
  return found;
}

// Names that differ only in ASCII letter case are the same attribute.
void CheckUniqueAttributes(const Reader& reader, const Node& node) {
  const auto& attrs = node.attrs;
  if (attrs.size() <= kLinearAttributes) {
    for (std::size_t i = 1; i < attrs.size(); ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        if (cp1252::EqualsIgnoringAsciiCase(attrs[j].first, attrs[i].first)) {
          reader.FailAt(node.offset, "attribute " + attrs[i].first + " given twice");
        }
      }
    }
    return;
  }
  std::unordered_set<std::string> seen;
  for (const auto& [name, unused] : attrs) {
    if (!seen.insert(cp1252::UpperAscii(name)).second) {
      reader.FailAt(node.offset, "attribute " + name + " given twice");
    }
  }
}

DatasetField ReadField(const Reader& reader, const Node& node) {
  CheckUniqueAttributes(reader, node);
  const std::string* name = Attribute(node, "attrname");
  if (name == nullptr || name->empty()) reader.FailAt(node.offset, "FIELD without attrname");
  const std::string* type = Attribute(node, "fieldtype");
  if (type == nullptr || type->empty()) {
    reader.FailAt(node.offset, "FIELD " + *name + " without fieldtype");
  }
  DatasetField field{*name, cp1252::LowerAscii(*type), 0};
  if (const std::string* width = Attribute(node, "WIDTH")) {
    const auto [ptr, ec] =
        std::from_chars(width->data(), width->data() + width->size(), field.width);
    if (width->empty() || ec != std::errc() || ptr != width->data() + width->size() ||
        field.width < 0) {
      reader.FailAt(node.offset, "FIELD " + *name + " has a bad WIDTH \"" + *width + "\"");
    }
  }
  return field;
}

void Escape(std::string& out, std::string_view text) {
  const std::string utf8 = cp1252::ToUtf8(text);
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      ++i;
      switch (c) {
        case '&':
          out += "&amp;";
          break;
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        case '"':
          out += "&quot;";
          break;
        case 0:
          throw Error("Cannot write a data packet: a text holds a NUL character",
                      Cause::kPacketTextHasNul);
        default:
          if (c < 0x20) {
            out += "&#" + std::to_string(c) + ";";
          } else {
            out += static_cast<char>(c);
          }
      }
      continue;
    }
    // ToUtf8 only produces well-formed sequences.
    const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
    char32_t cp = c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out += "&#" + std::to_string(static_cast<std::uint32_t>(cp)) + ";";
    i += static_cast<std::size_t>(extra) + 1;
  }
}

}  // namespace

Dataset ParseDataPacket(std::string_view xml, const std::string& source) {
  Reader reader(xml, source);
  Node root = reader.ReadDocument();
  if (!SameName(root.name, "DATAPACKET")) {
    reader.FailAt(root.offset, "the root element is " + root.name + ", not DATAPACKET");
  }
  Node* metadata = OnlyChild(reader, root, "METADATA");
  if (metadata == nullptr) reader.FailAt(root.offset, "no METADATA");
  const Node* fields = OnlyChild(reader, *metadata, "FIELDS");
  if (fields == nullptr) reader.FailAt(metadata->offset, "no FIELDS");

  Dataset data;
  std::unordered_set<std::string> keys;  // the fields' names in upper case
  for (const Node& child : fields->children) {
    if (!SameName(child.name, "FIELD")) {
      reader.FailAt(child.offset, "unexpected element " + child.name + " in FIELDS");
    }
    if (data.fields.size() >= kMaxFields) reader.FailAt(child.offset, "too many fields");
    DatasetField field = ReadField(reader, child);
    if (!keys.insert(cp1252::UpperAscii(field.name)).second) {
      reader.FailAt(child.offset, "field " + field.name + " defined twice");
    }
    data.fields.push_back(std::move(field));
  }

  Node* rowdata = OnlyChild(reader, root, "ROWDATA");
  if (rowdata == nullptr) return data;
  for (Node& row : rowdata->children) {
    if (!SameName(row.name, "ROW")) {
      reader.FailAt(row.offset, "unexpected element " + row.name + " in ROWDATA");
    }
    CheckUniqueAttributes(reader, row);
    // Only the values the row gives: a field it lacks is NULL by its absence, so that many
    // short rows under many fields cost no more than their text.
    std::map<std::string, std::optional<std::string>> values;
    for (auto& [name, value] : row.attrs) {
      std::string key = cp1252::UpperAscii(name);
      if (key == "ROWSTATE") continue;
      if (!keys.contains(key))
        reader.FailAt(row.offset, "ROW attribute " + name + " names no field");
      values.emplace(std::move(key), std::move(value));  // the tree is not read again
    }
    data.rows.push_back(std::move(values));
  }
  return data;
}

std::string WriteDataPacket(const Dataset& data) {
  std::string out = "<?xml version=\"1.0\" standalone=\"yes\"?>\n";
  out += "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>\n";
  std::unordered_set<std::string> keys;
  for (const DatasetField& field : data.fields) {
    if (!keys.insert(cp1252::UpperAscii(field.name)).second) {
      throw Error("Cannot write a data packet: field " + field.name + " is defined twice",
                  Cause::kPacketFieldTwice, {.subject = field.name});
    }
    const std::string type = field.type.empty() ? "string" : field.type;
    out += "<FIELD attrname=\"";
    Escape(out, field.name);
    out += "\" fieldtype=\"";
    Escape(out, type);
    out += "\"";
    if (field.width > 0) out += " WIDTH=\"" + std::to_string(field.width) + "\"";
    out += "/>\n";
  }
  out += "</FIELDS><PARAMS/></METADATA><ROWDATA>\n";
  for (const auto& row : data.rows) {
    out += "<ROW";
    for (const DatasetField& field : data.fields) {
      const auto it = row.find(cp1252::UpperAscii(field.name));
      if (it == row.end() || !it->second) continue;
      // A value is an attribute named after its field, so the name must be one XML allows.
      const bool ascii_start =
          !field.name.empty() && IsNameStart(static_cast<unsigned char>(field.name[0]));
      const bool name_ok = ascii_start && !SameName(field.name, "RowState") &&
                           std::all_of(field.name.begin(), field.name.end(), [](char c) {
                             return IsNameChar(static_cast<unsigned char>(c));
                           });
      if (!name_ok) {
        throw Error(
            "Cannot write a data packet: field name \"" + field.name + "\" cannot hold a value",
            Cause::kPacketFieldReserved, {.subject = field.name});
      }
      out += " " + cp1252::ToUtf8(field.name) + "=\"";
      Escape(out, *it->second);
      out += "\"";
    }
    out += "/>\n";
  }
  out += "</ROWDATA></DATAPACKET>\n";
  return out;
}

}  // namespace jov
