// The fleet: the registers' update reports, checked, kept through Qt SQL and read back.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace jov {
class Database;
}

namespace appserver::fleet {

inline constexpr std::size_t kMaxReportBytes = 64 * 1024;
inline constexpr int kHistory = 100;  // reports kept per register

// A report that has the shape of "ReportUpdate"'s argument, as it is stored.
struct Report {
  std::string filial;
  std::string caixa;
  std::string outcome;
  std::string json;  // the known fields only, ASCII (everything else escaped)
};

// The report in text (UTF-8 JSON, or Windows-1252 as a register may write it); nothing, with
// the reason in why, when it is larger than kMaxReportBytes or not of the shape.
std::optional<Report> CheckReport(const std::string& text, std::string& why);

// The last report of one register.
struct Register {
  std::string filial;
  std::string caixa;
  std::int64_t received = 0;  // server clock, seconds since 1970
  nlohmann::json report;
};

struct Snapshot {
  std::vector<Register> registers;  // by branch, then register
  int failed_last_day = 0;          // registers with a failed report in the 24 h before now
};

// The connection string of --fleet-db: one given as "Provider=...;..." as it is, any other
// text as the path of an SQLite file.
std::string ConnectionString(const std::string& fleet_db);

// The store: one thread owns the database connection (Qt SQL connections belong to the thread
// that opened them) and takes the jobs of the server's threads from a bounded queue, writing
// all the reports that wait in one transaction.
class Store {
 public:
  // Connects and creates the tables that are missing (sqlite_schema or postgresql_schema,
  // by the provider). Throws jov::Error when it cannot.
  // log takes one line about a failure of the database (the jobs it failed are answered).
  Store(const std::string& connection_string, std::function<void(const std::string&)> log);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  enum class Result { kStored, kBusy, kFailed };
  // Stores the report as received now; kBusy when the queue is full or the store did not
  // come to it within the wait, kFailed when the database refused it.
  Result Add(Report report);
  // The fleet as it is now; nothing when the store is busy or the database failed.
  std::optional<Snapshot> Read();

 private:
  struct Job;
  bool Enqueue(const std::shared_ptr<Job>& job);
  void Serve(jov::Database& db);
  void Failed(jov::Database& db, const std::string& why);
  Snapshot ReadAll(jov::Database& db);

  std::string connection_string_;
  std::function<void(const std::string&)> log_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Job>> queue_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace appserver::fleet
