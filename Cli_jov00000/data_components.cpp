#include "Cli_jov00000/data_components.h"

#include "platform/cp1252.h"
#include "platform/errors.h"

namespace jov {

std::string TClientDataSet::FieldText(const std::string& field) const {
  const std::string key = cp1252::UpperAscii(field);
  bool defined = false;
  for (const DatasetField& f : Data.fields) defined = defined || cp1252::UpperAscii(f.name) == key;
  if (!defined) {
    throw Error("Field '" + field + "' not found", Cause::kFieldMissing, {.subject = field});
  }
  if (Data.rows.empty()) return {};
  const auto& row = Data.rows.front();
  const auto it = row.find(key);
  return it == row.end() || !it->second ? std::string() : *it->second;
}

void TADOConnection::Open() {
  if (database_.IsConnected()) return;
  if (BeforeConnect) BeforeConnect(*this);
  database_.Connect(ConnectionString);
  if (AfterConnect) AfterConnect(*this);
}

void TADOQuery::Close() {
  active_ = false;
  rows_.clear();
}

void TADOQuery::Open() {
  if (Connection == nullptr) {
    throw Error("Query has no connection", Cause::kQueryWithoutConnection);
  }
  Connection->Open();
  std::string text;
  for (const std::string& line : SQL) text += line + "\n";
  rows_ = Connection->Session().Query(text, Parameters);
  active_ = true;
}

std::string TADOQuery::FieldText(const std::string& column) const {
  if (rows_.empty()) return {};
  const auto it = rows_.front().find(cp1252::UpperAscii(column));
  if (it == rows_.front().end()) {
    throw Error("Column '" + column + "' not found", Cause::kColumnMissing, {.subject = column});
  }
  return it->second.value_or(std::string());
}

}  // namespace jov
