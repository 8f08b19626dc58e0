#include "platform/database_qt.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <iterator>

#include "platform/cp1252.h"
#include "platform/errors.h"

namespace jov {
namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Reason(const QSqlError& error) { return error.text().toStdString(); }

// The driver's failure: its text in the message, and in Windows-1252 for the log.
Error DriverFailure(const std::string& message, const QSqlError& error, Cause cause,
                    const std::string& database = {}) {
  return Error(message + Reason(error), cause,
               {.subject = database, .detail = cp1252::FromQString(error.text())});
}

}  // namespace

std::map<std::string, std::string> ParseConnectionString(const std::string& text) {
  std::map<std::string, std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto end = text.find(';', start);
    const std::string item = text.substr(start, end == std::string::npos ? end : end - start);
    const auto eq = item.find('=');
    if (eq != std::string::npos) {
      parts[cp1252::UpperAscii(Trim(item.substr(0, eq)))] = Trim(item.substr(eq + 1));
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

DatabaseQt::DatabaseQt() {
  static std::atomic<int> counter{0};
  name_ = QStringLiteral("jov-db-%1").arg(++counter);
}

DatabaseQt::~DatabaseQt() {
  Disconnect();
  QSqlDatabase::removeDatabase(name_);
}

void DatabaseQt::Connect(const std::string& connection_string) {
  Disconnect();
  auto parts = ParseConnectionString(connection_string);
  const std::string provider = cp1252::UpperAscii(parts["PROVIDER"]);
  const std::string source = parts["DATA SOURCE"];
  if (provider != "QSQLITE" && provider != "QPSQL") {
    throw Error("Database provider '" + parts["PROVIDER"] + "' is not supported",
                Cause::kSettingInvalid, {.subject = parts["PROVIDER"], .other = "Provider"});
  }
  QSqlDatabase db = QSqlDatabase::addDatabase(QString::fromStdString(provider), name_);
  if (provider == "QSQLITE") {
    db.setDatabaseName(QString::fromStdString(source));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY=0;QSQLITE_BUSY_TIMEOUT=5000"));
  } else {
    // HOST[:PORT]/DBNAME
    const auto slash = source.find('/');
    std::string host = source.substr(0, slash);
    const std::string dbname = slash == std::string::npos ? "" : source.substr(slash + 1);
    const auto colon = host.rfind(':');
    if (colon != std::string::npos) {
      db.setPort(std::atoi(host.substr(colon + 1).c_str()));
      host = host.substr(0, colon);
    }
    db.setHostName(QString::fromStdString(host));
    db.setDatabaseName(QString::fromStdString(dbname));
    db.setUserName(QString::fromStdString(parts["USER ID"]));
    db.setPassword(QString::fromStdString(parts["PASSWORD"]));
    // SSLMode= is libpq's sslmode; absent, libpq's default (prefer). No Password= lets libpq
    // take it from ~/.pgpass.
    QString options = QStringLiteral("connect_timeout=5");
    if (const std::string ssl = parts["SSLMODE"]; !ssl.empty()) {
      constexpr const char* kModes[] = {"disable", "allow",     "prefer",
                                        "require", "verify-ca", "verify-full"};
      if (std::find(std::begin(kModes), std::end(kModes), ssl) == std::end(kModes)) {
        throw Error("SSLMode '" + ssl +
                        "' is not one of disable, allow, prefer, require, verify-ca, verify-full",
                    Cause::kSettingInvalid, {.subject = ssl, .other = "SSLMode"});
      }
      options += QStringLiteral(";sslmode=") + QString::fromStdString(ssl);
    }
    db.setConnectOptions(options);
  }
  if (!db.open()) {
    throw DriverFailure("Cannot connect to database " + source + ": ", db.lastError(),
                        Cause::kDatabaseConnect, source);
  }
}

bool DatabaseQt::IsConnected() {
  return QSqlDatabase::contains(name_) && QSqlDatabase::database(name_, false).isOpen();
}

void DatabaseQt::Disconnect() {
  if (QSqlDatabase::contains(name_)) QSqlDatabase::database(name_, false).close();
}

std::vector<DbRow> DatabaseQt::Query(const std::string& sql,
                                     const std::map<std::string, std::string>& params) {
  if (!IsConnected()) throw Error("Database is not connected", Cause::kDatabaseNotConnected);
  QSqlQuery query(QSqlDatabase::database(name_, false));
  // Statements without parameters run directly: servers cannot prepare every statement.
  if (params.empty()) {
    if (!query.exec(cp1252::ToQString(sql))) {
      throw DriverFailure("Statement failed: ", query.lastError(), Cause::kDatabaseFailed);
    }
  } else {
    if (!query.prepare(cp1252::ToQString(sql))) {
      throw DriverFailure("Cannot prepare statement: ", query.lastError(), Cause::kDatabaseFailed);
    }
    for (const auto& [name, value] : params) {
      query.bindValue(QStringLiteral(":") + QString::fromStdString(name), cp1252::ToQString(value));
    }
    if (!query.exec()) {
      throw DriverFailure("Statement failed: ", query.lastError(), Cause::kDatabaseFailed);
    }
  }
  std::vector<DbRow> rows;
  while (query.next()) {
    DbRow row;
    const QSqlRecord record = query.record();
    for (int i = 0; i < record.count(); ++i) {
      const std::string column = cp1252::UpperAscii(record.fieldName(i).toStdString());
      const QVariant value = query.value(i);
      row[column] = value.isNull()
                        ? std::nullopt
                        : std::optional<std::string>(cp1252::FromQString(value.toString()));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace jov
