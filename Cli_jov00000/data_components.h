// The form's data-access components: client datasets, a database connection and a query.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/database.h"
#include "platform/dataset_files.h"

namespace jov {

struct TStringField {
  std::string FieldName;
  int Size = 0;
};

// An in-memory dataset that loads from and saves to a dataset file.
class TClientDataSet {
 public:
  std::vector<const TStringField*> FieldDefs;  // fields defined on the form
  Dataset Data;

  // The text of the field in the first row; throws Error when the field is missing.
  std::string FieldText(const std::string& field) const;
};

// A database connection whose string and session are set by its handlers at connect time.
class TADOConnection {
 public:
  explicit TADOConnection(Database& database) : database_(database) {}
  std::string Provider = "MSDAORA";
  bool LoginPrompt = false;
  std::string ConnectionString;
  std::function<void(TADOConnection&)> BeforeConnect;
  std::function<void(TADOConnection&)> AfterConnect;

  bool Connected() { return database_.IsConnected(); }
  // Runs BeforeConnect, connects, runs AfterConnect; throws when the connection fails.
  void Open();
  Database& Session() { return database_; }

 private:
  Database& database_;
};

// A parameterised query over a connection; opening connects when needed.
class TADOQuery {
 public:
  TADOConnection* Connection = nullptr;
  std::vector<std::string> SQL;
  std::map<std::string, std::string> Parameters;

  void Close();
  void Open();
  bool Active() const { return active_; }
  // The text of the column in the current (first) row; empty when there is no row.
  std::string FieldText(const std::string& column) const;

 private:
  bool active_ = false;
  std::vector<DbRow> rows_;
};

}  // namespace jov
