#include "server/fleet/fleet_store.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <future>
#include <regex>

#include "platform/cp1252.h"
#include "platform/database_qt.h"
#include "platform/errors.h"
#include "protocol/report.h"
#include "server/fleet/fleet_schema.h"

namespace appserver::fleet {
namespace {

using nlohmann::json;

constexpr std::size_t kMaxQueue = 4096;              // jobs waiting for the store thread
constexpr std::size_t kMaxBatch = 512;               // reports written in one transaction
constexpr auto kMaxWait = std::chrono::seconds(15);  // a request's wait for its job
// The statements of a schema file: each ends with ";" at a line end; "--" lines are comments.
std::vector<std::string> Statements(const std::string& schema) {
  std::vector<std::string> statements;
  std::string current;
  std::size_t start = 0;
  while (start < schema.size()) {
    std::size_t end = schema.find('\n', start);
    if (end == std::string::npos) end = schema.size();
    const std::string line = schema.substr(start, end - start);
    start = end + 1;
    if (line.rfind("--", 0) == 0) continue;
    current += line + "\n";
    if (!line.empty() && line.back() == ';') {
      statements.push_back(current);
      current.clear();
    }
  }
  return statements;
}

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace

std::optional<Report> CheckReport(const std::string& text, std::string& why) {
  const jov::protocol::Parsed<jov::protocol::Report> parsed = jov::protocol::ReadReport(text);
  if (!parsed.ok()) {
    why = parsed.why;
    return std::nullopt;
  }
  const jov::protocol::Report& report = *parsed.value;
  return Report{report.filial, report.caixa,
                std::string(jov::protocol::OutcomeText(report.outcome)),
                jov::protocol::WriteReport(report)};
}

std::string ConnectionString(const std::string& fleet_db) {
  if (jov::cp1252::UpperAscii(fleet_db).rfind("PROVIDER=", 0) == 0) return fleet_db;
  return "Provider=QSQLITE;Data Source=" + fleet_db;
}

struct Store::Job {
  std::optional<Report> report;  // nothing: a read
  std::promise<Result> stored;
  std::promise<std::optional<Snapshot>> snapshot;
};

Store::Store(const std::string& connection_string, std::function<void(const std::string&)> log)
    : connection_string_(connection_string), log_(std::move(log)) {
  std::promise<void> ready;
  std::future<void> started = ready.get_future();
  thread_ = std::thread([this, &ready] {
    jov::DatabaseQt db;
    try {
      db.Connect(connection_string_);
      const bool sqlite =
          jov::cp1252::UpperAscii(jov::ParseConnectionString(connection_string_)["PROVIDER"]) !=
          "QPSQL";
      if (sqlite) {
        // One writer, many readers; a power cut loses at most the last transactions.
        db.Query("PRAGMA journal_mode=WAL", {});
        db.Query("PRAGMA synchronous=NORMAL", {});
      }
      for (const std::string& statement : Statements(sqlite ? kSqliteSchema : kPostgresqlSchema)) {
        db.Query(statement, {});
      }
    } catch (...) {
      ready.set_exception(std::current_exception());
      return;
    }
    ready.set_value();
    Serve(db);
  });
  try {
    started.get();
  } catch (...) {
    thread_.join();
    throw;
  }
}

Store::~Store() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool Store::Enqueue(const std::shared_ptr<Job>& job) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stop_ || queue_.size() >= kMaxQueue) return false;
    queue_.push_back(job);
  }
  wake_.notify_one();
  return true;
}

Store::Result Store::Add(Report report) {
  auto job = std::make_shared<Job>();
  job->report = std::move(report);
  std::future<Result> result = job->stored.get_future();
  if (!Enqueue(job)) return Result::kBusy;
  if (result.wait_for(kMaxWait) != std::future_status::ready) return Result::kBusy;
  return result.get();
}

std::optional<Snapshot> Store::Read() {
  auto job = std::make_shared<Job>();
  std::future<std::optional<Snapshot>> result = job->snapshot.get_future();
  if (!Enqueue(job)) return std::nullopt;
  if (result.wait_for(kMaxWait) != std::future_status::ready) return std::nullopt;
  return result.get();
}

void Store::Serve(jov::Database& db) {
  const std::string upsert =
      "INSERT INTO fleet_register (filial, caixa, received, report) "
      "VALUES (:filial, :caixa, :received, :report) ON CONFLICT (filial, caixa) "
      "DO UPDATE SET received = excluded.received, report = excluded.report";
  const std::string insert =
      "INSERT INTO fleet_report (filial, caixa, received, outcome, report) "
      "VALUES (:filial, :caixa, :received, :outcome, :report)";
  // Only the newest kHistory reports of the register stay.
  const std::string trim =
      "DELETE FROM fleet_report WHERE filial = :filial AND caixa = :caixa AND id <= "
      "(SELECT id FROM fleet_report WHERE filial = :filial2 AND caixa = :caixa2 "
      "ORDER BY id DESC LIMIT 1 OFFSET " +
      std::to_string(kHistory) + ")";
  for (;;) {
    std::vector<std::shared_ptr<Job>> writes;
    std::vector<std::shared_ptr<Job>> reads;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_ && queue_.empty()) return;
      while (!queue_.empty() && writes.size() < kMaxBatch) {
        auto& list = queue_.front()->report ? writes : reads;
        list.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
    }
    if (!writes.empty()) {
      Result result = Result::kStored;
      try {
        if (!db.IsConnected()) throw jov::Error("not connected");
        db.Query("BEGIN", {});
        const std::string received = std::to_string(Now());
        for (const auto& job : writes) {
          const Report& r = *job->report;
          db.Query(upsert, {{"filial", r.filial},
                            {"caixa", r.caixa},
                            {"received", received},
                            {"report", r.json}});
          db.Query(insert, {{"filial", r.filial},
                            {"caixa", r.caixa},
                            {"received", received},
                            {"outcome", r.outcome},
                            {"report", r.json}});
          db.Query(trim, {{"filial", r.filial},
                          {"caixa", r.caixa},
                          {"filial2", r.filial},
                          {"caixa2", r.caixa}});
        }
        db.Query("COMMIT", {});
      } catch (const std::exception& error) {
        result = Result::kFailed;
        Failed(db, error.what());
      }
      for (const auto& job : writes) job->stored.set_value(result);
    }
    for (const auto& job : reads) {
      std::optional<Snapshot> snapshot;
      try {
        snapshot = ReadAll(db);
      } catch (const std::exception& error) {
        Failed(db, error.what());
      }
      job->snapshot.set_value(std::move(snapshot));
    }
  }
}

void Store::Failed(jov::Database& db, const std::string& why) {
  log_("fleet store: " + why);
  try {
    db.Query("ROLLBACK", {});
  } catch (const std::exception&) {
  }
  // A database server that went away is connected to again for the next jobs.
  try {
    db.Connect(connection_string_);
  } catch (const std::exception& error) {
    log_("fleet store: " + std::string(error.what()));
  }
}

Snapshot Store::ReadAll(jov::Database& db) {
  Snapshot snapshot;
  for (const jov::DbRow& row :
       db.Query("SELECT filial, caixa, received, report FROM fleet_register ORDER BY filial, caixa",
                {})) {
    Register entry;
    entry.filial = row.at("FILIAL").value_or("");
    entry.caixa = row.at("CAIXA").value_or("");
    entry.received = std::stoll(row.at("RECEIVED").value_or("0"));
    // The stored text is what the protocol writer made of a report this server took.
    json report = json::parse(row.at("REPORT").value_or(""), nullptr, false);
    if (report.is_object()) entry.report = std::move(report);
    snapshot.registers.push_back(std::move(entry));
  }
  const auto failed = db.Query(
      "SELECT COUNT(*) AS n FROM (SELECT DISTINCT filial, caixa FROM fleet_report "
      "WHERE outcome = 'failed' AND received >= :since) AS t",
      {{"since", std::to_string(Now() - 24 * 3600)}});
  if (!failed.empty()) snapshot.failed_last_day = std::stoi(failed[0].at("N").value_or("0"));
  return snapshot;
}

}  // namespace appserver::fleet
