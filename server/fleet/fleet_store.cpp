#include "server/fleet/fleet_store.h"

#include <algorithm>
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
#include "server/fleet/register_signature.h"

namespace appserver::fleet {
namespace {

using nlohmann::json;

constexpr std::size_t kMaxQueue = 4096;              // jobs waiting for the store thread
constexpr std::size_t kMaxBatch = 512;               // reports written in one transaction
constexpr auto kMaxWait = std::chrono::seconds(15);  // a request's wait for its job

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace

std::optional<Report> CheckReport(const std::string& text, std::string& why) {
  const jov::protocol::Parsed<jov::protocol::Report> parsed = jov::protocol::ReadReport(text);
  if (!parsed.ok()) {
    why = parsed.why;
    return std::nullopt;
  }
  // The register signed the UTF-8 text it sent; the call's arguments arrive in Windows-1252.
  const bool signature_ok = SignedBy(parsed.value->signer.key, jov::cp1252::ToUtf8(text));
  return Report{*parsed.value, jov::protocol::WriteReport(*parsed.value), signature_ok};
}

std::optional<Health> CheckHealth(const std::string& text, std::string& why) {
  const jov::protocol::Parsed<jov::protocol::HealthEvent> parsed =
      jov::protocol::ReadHealthEvent(text);
  if (!parsed.ok()) {
    why = parsed.why;
    return std::nullopt;
  }
  const bool signature_ok = SignedBy(parsed.value->signer.key, jov::cp1252::ToUtf8(text));
  return Health{*parsed.value, jov::protocol::WriteHealthEvent(*parsed.value), signature_ok};
}

std::string ConnectionString(const std::string& fleet_db) {
  if (jov::cp1252::UpperAscii(fleet_db).rfind("PROVIDER=", 0) == 0) return fleet_db;
  return "Provider=QSQLITE;Data Source=" + fleet_db;
}

std::string StampDigits(const std::string& stamp) {
  std::string digits;
  for (const char c : stamp) {
    if (c >= '0' && c <= '9' && digits.size() < 14) digits += c;
  }
  return digits;
}

struct Store::Job {
  std::optional<Report> report;
  std::optional<Health> health;
  std::optional<Acceptance> acceptance;
  std::optional<View> view;  // set: a read
  Newest newest;
  std::promise<Result> stored;
  std::promise<std::optional<Snapshot>> snapshot;
};

namespace {

// The register's row of fleet_key.
struct Pinned {
  std::string key;
  std::int64_t counter = 0;
  bool accepted = false;
  std::string pending_key;
  std::int64_t pending_counter = 0;
  bool shown_verified = false;
};

std::int64_t Number(const std::optional<std::string>& text) {
  return text && !text->empty() ? std::stoll(*text) : 0;
}

// Keeps the programs (names and stamps) of the report a register shows, as one text.
void KeepFiles(jov::Database& db, const std::string& filial, const std::string& caixa,
               const std::vector<std::pair<std::string, std::string>>& programs) {
  std::map<std::string, std::string> stamps;
  for (const auto& [name, stamp] : programs) {
    const auto [at_name, added] = stamps.emplace(jov::cp1252::UpperAscii(name), StampDigits(stamp));
    if (!added) at_name->second = std::min(at_name->second, StampDigits(stamp));
  }
  std::string files;
  for (const auto& [name, stamp] : stamps) files += name + "=" + stamp + "\n";
  db.Query(
      "INSERT INTO fleet_files (filial, caixa, files) VALUES (:filial, :caixa, :files) "
      "ON CONFLICT (filial, caixa) DO UPDATE SET files = excluded.files",
      {{"filial", filial}, {"caixa", caixa}, {"files", files}});
}

// A fleet kept before its programs were is given them once, from the reports it shows.
void FillFiles(jov::Database& db) {
  const auto kept = db.Query("SELECT COUNT(*) AS n FROM fleet_files", {});
  if (kept.empty() || Number(kept[0].at("N")) != 0) return;
  db.Query("BEGIN", {});
  for (const jov::DbRow& row : db.Query("SELECT filial, caixa, report FROM fleet_register", {})) {
    const json report = json::parse(row.at("REPORT").value_or(""), nullptr, false);
    std::vector<std::pair<std::string, std::string>> files;
    const auto list = report.is_object() ? report.find("files") : report.end();
    if (report.is_object() && list != report.end() && list->is_array()) {
      for (const json& file : *list) {
        if (file.is_object() && file.value("name", json()).is_string() &&
            file.value("stamp", json()).is_string()) {
          files.emplace_back(file["name"].get<std::string>(), file["stamp"].get<std::string>());
        }
      }
    }
    KeepFiles(db, row.at("FILIAL").value_or(""), row.at("CAIXA").value_or(""), files);
  }
  db.Query("COMMIT", {});
}

// Whether a line "NAME=STAMP" of files names a program of newest with an older stamp (or one
// that is not 14 digits).
bool AnyBehind(const Newest& newest, const std::string& files) {
  std::size_t start = 0;
  while (start < files.size()) {
    std::size_t end = files.find('\n', start);
    if (end == std::string::npos) end = files.size();
    const std::string line = files.substr(start, end - start);
    start = end + 1;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const auto found = newest.find(line.substr(0, eq));
    const std::string stamp = line.substr(eq + 1);
    if (found != newest.end() && (stamp.size() != 14 || stamp < found->second)) return true;
  }
  return false;
}

// What one write does to the trust of its register, decided before anything is written.
struct Trust {
  bool verified = false;
  std::optional<Pinned> pinned;  // the row before
  std::optional<Pinned> after;   // the row to write; nothing: unchanged
};

// The statements of the writes of one transaction, on the store's thread.
class Writer {
 public:
  Writer(jov::Database& db, const StoreSettings& settings, std::int64_t now)
      : db_(db), settings_(settings), now_(now), received_(std::to_string(now)) {
    const auto rows = db_.Query("SELECT COUNT(*) AS n FROM fleet_register", {});
    registers_ = rows.empty() ? 0 : Number(rows[0].at("N"));
  }

  Store::Result Add(const Report& report, bool& verified) {
    const std::string& filial = report.parsed.filial;
    const std::string& caixa = report.parsed.caixa;
    const bool known = Known(filial, caixa);
    if (!known && registers_ >= settings_.max_registers) return Store::Result::kTooMany;
    const Trust trust = Decide(filial, caixa, report.parsed.signer, report.signature_ok);
    if (settings_.report_interval > 0) {
      const auto last = db_.Query(std::string("SELECT MAX(received) AS last FROM ") +
                                      (trust.verified ? "fleet_report" : "fleet_unverified") +
                                      " WHERE filial = :filial AND caixa = :caixa",
                                  {{"filial", filial}, {"caixa", caixa}});
      if (!last.empty() && last[0].at("LAST") &&
          now_ - Number(last[0].at("LAST")) < settings_.report_interval) {
        return Store::Result::kTooSoon;
      }
    }
    Apply(filial, caixa, trust);
    verified = trust.verified;
    const std::string table = verified ? "fleet_report" : "fleet_unverified";
    db_.Query("INSERT INTO " + table +
                  " (filial, caixa, received, outcome, report) "
                  "VALUES (:filial, :caixa, :received, :outcome, :report)",
              {{"filial", filial},
               {"caixa", caixa},
               {"received", received_},
               {"outcome", std::string(jov::protocol::OutcomeText(report.parsed.outcome))},
               {"report", report.json}});
    Trim(table, filial, caixa);
    // An unverified report is shown only for a register that never sent a verified one.
    const bool shown_verified = trust.pinned && trust.pinned->shown_verified;
    if (verified || !shown_verified) Show(report, verified, trust);
    if (!known) ++registers_;
    for (const jov::protocol::HealthEvent& event : report.parsed.health) {
      InsertHealth(event, jov::protocol::WriteHealthEvent(event), verified);
    }
    return Store::Result::kStored;
  }

  Store::Result Add(const Health& health, bool& verified) {
    const std::string& filial = health.parsed.filial;
    const std::string& caixa = health.parsed.caixa;
    // Events of registers the fleet does not know would let anyone fill it; a register's
    // first event goes again with its next report, which makes it known.
    if (!Known(filial, caixa)) return Store::Result::kUnknown;
    const Trust trust = Decide(filial, caixa, health.parsed.signer, health.signature_ok);
    Apply(filial, caixa, trust);
    verified = trust.verified;
    InsertHealth(health.parsed, health.json, verified);
    return Store::Result::kStored;
  }

  void Accept(const Acceptance& acceptance) {
    if (acceptance.filial.empty()) {
      db_.Query("UPDATE fleet_key SET accepted = 1 WHERE accepted = 0", {});
      return;
    }
    const std::map<std::string, std::string> at = {{"filial", acceptance.filial},
                                                   {"caixa", acceptance.caixa}};
    // The new key takes over from the highest counter it signed, so that what it signed
    // before cannot be sent again.
    db_.Query(
        "UPDATE fleet_key SET public_key = pending_key, counter = pending_counter, "
        "pending_key = NULL, pending_counter = NULL WHERE filial = :filial AND caixa = :caixa "
        "AND pending_key IS NOT NULL",
        at);
    db_.Query("UPDATE fleet_key SET accepted = 1 WHERE filial = :filial AND caixa = :caixa", at);
  }

 private:
  bool Known(const std::string& filial, const std::string& caixa) {
    return !db_.Query("SELECT 1 AS k FROM fleet_register WHERE filial = :filial AND caixa = :caixa",
                      {{"filial", filial}, {"caixa", caixa}})
                .empty();
  }

  std::optional<Pinned> PinnedOf(const std::string& filial, const std::string& caixa) {
    const auto rows = db_.Query(
        "SELECT public_key, counter, accepted, pending_key, pending_counter, shown_verified "
        "FROM fleet_key WHERE filial = :filial AND caixa = :caixa",
        {{"filial", filial}, {"caixa", caixa}});
    if (rows.empty()) return std::nullopt;
    const jov::DbRow& row = rows[0];
    return Pinned{row.at("PUBLIC_KEY").value_or(""), Number(row.at("COUNTER")),
                  Number(row.at("ACCEPTED")) != 0,   row.at("PENDING_KEY").value_or(""),
                  Number(row.at("PENDING_COUNTER")), Number(row.at("SHOWN_VERIFIED")) != 0};
  }

  Trust Decide(const std::string& filial, const std::string& caixa,
               const jov::protocol::Signer& signer, bool signature_ok) {
    Trust trust;
    trust.pinned = PinnedOf(filial, caixa);
    if (!signature_ok || !signer.counter) return trust;
    const std::int64_t counter = *signer.counter;
    if (!trust.pinned) {
      // First sight: the key is the register's from now on, shown for an operator to accept.
      trust.verified = true;
      trust.after = Pinned{signer.key, counter, false, "", 0, false};
      return trust;
    }
    Pinned after = *trust.pinned;
    if (signer.key == after.key) {
      if (counter <= after.counter) return trust;  // sent again, or made up
      trust.verified = true;
      after.counter = counter;
    } else if (signer.key == after.pending_key) {
      after.pending_counter = std::max(after.pending_counter, counter);
    } else {
      after.pending_key = signer.key;
      after.pending_counter = counter;
    }
    trust.after = after;
    return trust;
  }

  void Apply(const std::string& filial, const std::string& caixa, const Trust& trust) {
    if (!trust.after) return;
    const Pinned& p = *trust.after;
    const std::map<std::string, std::string> values = {
        {"filial", filial},
        {"caixa", caixa},
        {"key", p.key},
        {"counter", std::to_string(p.counter)},
        {"accepted", p.accepted ? "1" : "0"},
        {"pending_key", p.pending_key},
        {"pending_counter", std::to_string(p.pending_counter)},
        {"shown", p.shown_verified ? "1" : "0"}};
    if (!trust.pinned) {
      db_.Query(
          "INSERT INTO fleet_key (filial, caixa, public_key, counter, accepted, pending_key, "
          "pending_counter, shown_verified) VALUES (:filial, :caixa, :key, :counter, :accepted, "
          "NULLIF(:pending_key, ''), :pending_counter, :shown)",
          values);
      return;
    }
    db_.Query(
        "UPDATE fleet_key SET public_key = :key, counter = :counter, accepted = :accepted, "
        "pending_key = NULLIF(:pending_key, ''), pending_counter = :pending_counter, "
        "shown_verified = :shown WHERE filial = :filial AND caixa = :caixa",
        values);
  }

  // The report becomes the one the register shows.
  void Show(const Report& report, bool verified, const Trust& trust) {
    const std::string& filial = report.parsed.filial;
    const std::string& caixa = report.parsed.caixa;
    const std::map<std::string, std::string> at = {{"filial", filial}, {"caixa", caixa}};
    db_.Query(
        "INSERT INTO fleet_register (filial, caixa, received, report) "
        "VALUES (:filial, :caixa, :received, :report) ON CONFLICT (filial, caixa) "
        "DO UPDATE SET received = excluded.received, report = excluded.report",
        {{"filial", filial}, {"caixa", caixa}, {"received", received_}, {"report", report.json}});
    if (verified && !(trust.pinned && trust.pinned->shown_verified)) {
      db_.Query("UPDATE fleet_key SET shown_verified = 1 WHERE filial = :filial AND caixa = :caixa",
                at);
    }
    std::vector<std::pair<std::string, std::string>> files;
    for (const jov::protocol::ReportedFile& file : report.parsed.files) {
      files.emplace_back(file.name, file.stamp);
    }
    KeepFiles(db_, filial, caixa, files);
  }

  void InsertHealth(const jov::protocol::HealthEvent& event, const std::string& json,
                    bool verified) {
    db_.Query(
        "INSERT INTO fleet_health (filial, caixa, received, verified, name, event) "
        "VALUES (:filial, :caixa, :received, :verified, :name, :event)",
        {{"filial", event.filial},
         {"caixa", event.caixa},
         {"received", received_},
         {"verified", verified ? "1" : "0"},
         {"name", event.name},
         {"event", json}});
    Trim("fleet_health", event.filial, event.caixa);
  }

  // Only the newest kHistory rows of the register stay.
  void Trim(const std::string& table, const std::string& filial, const std::string& caixa) {
    db_.Query("DELETE FROM " + table +
                  " WHERE filial = :filial AND caixa = :caixa AND id <= (SELECT id FROM " + table +
                  " WHERE filial = :filial2 AND caixa = :caixa2 ORDER BY id DESC LIMIT 1 OFFSET " +
                  std::to_string(kHistory) + ")",
              {{"filial", filial}, {"caixa", caixa}, {"filial2", filial}, {"caixa2", caixa}});
  }

  jov::Database& db_;
  const StoreSettings& settings_;
  const std::int64_t now_;
  const std::string received_;
  std::int64_t registers_ = 0;
};

}  // namespace

Store::Store(const std::string& connection_string, std::function<void(const std::string&)> log,
             StoreSettings settings)
    : connection_string_(connection_string), log_(std::move(log)), settings_(std::move(settings)) {
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
      for (const std::string& statement :
           SchemaStatements(sqlite ? kSqliteSchema : kPostgresqlSchema)) {
        db.Query(statement, {});
      }
      FillFiles(db);
      // Keys given at the start pin registers that have none yet, accepted already.
      for (const auto& [name, key] : settings_.keys) {
        const auto slash = name.find('/');
        db.Query(
            "INSERT INTO fleet_key (filial, caixa, public_key, counter, accepted, "
            "shown_verified) VALUES (:filial, :caixa, :key, 0, 1, 0) "
            "ON CONFLICT (filial, caixa) DO NOTHING",
            {{"filial", name.substr(0, slash)}, {"caixa", name.substr(slash + 1)}, {"key", key}});
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

Store::Result Store::Wait(const std::shared_ptr<Job>& job) {
  std::future<Result> result = job->stored.get_future();
  if (!Enqueue(job)) return Result::kBusy;
  if (result.wait_for(kMaxWait) != std::future_status::ready) return Result::kBusy;
  return result.get();
}

Store::Result Store::Add(Report report) {
  auto job = std::make_shared<Job>();
  job->report = std::move(report);
  return Wait(job);
}

Store::Result Store::Add(Health health) {
  auto job = std::make_shared<Job>();
  job->health = std::move(health);
  return Wait(job);
}

Store::Result Store::Accept(const Acceptance& acceptance) {
  auto job = std::make_shared<Job>();
  job->acceptance = acceptance;
  return Wait(job);
}

std::optional<Snapshot> Store::Read(const View& view, const Newest& newest) {
  auto job = std::make_shared<Job>();
  job->view = view;
  job->newest = newest;
  std::future<std::optional<Snapshot>> result = job->snapshot.get_future();
  if (!Enqueue(job)) return std::nullopt;
  if (result.wait_for(kMaxWait) != std::future_status::ready) return std::nullopt;
  return result.get();
}

void Store::Serve(jov::Database& db) {
  for (;;) {
    std::vector<std::shared_ptr<Job>> writes;
    std::vector<std::shared_ptr<Job>> reads;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_ && queue_.empty()) return;
      while (!queue_.empty() && writes.size() < kMaxBatch) {
        auto& list = queue_.front()->view ? reads : writes;
        list.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
    }
    if (!writes.empty()) {
      std::vector<Result> results(writes.size(), Result::kStored);
      std::vector<bool> verified(writes.size(), false);
      bool failed = false;
      try {
        if (!db.IsConnected()) throw jov::Error("not connected");
        db.Query("BEGIN", {});
        Writer writer(db, settings_, Now());
        for (std::size_t i = 0; i < writes.size(); ++i) {
          const Job& job = *writes[i];
          bool trusted = false;
          if (job.report) results[i] = writer.Add(*job.report, trusted);
          if (job.health) results[i] = writer.Add(*job.health, trusted);
          if (job.acceptance) writer.Accept(*job.acceptance);
          verified[i] = trusted;
        }
        db.Query("COMMIT", {});
      } catch (const std::exception& error) {
        failed = true;
        Failed(db, error.what());
      }
      for (std::size_t i = 0; i < writes.size(); ++i) {
        writes[i]->stored.set_value(failed ? Result::kFailed : results[i]);
      }
      if (!failed) Observe(writes, results, verified);
    }
    for (const auto& job : reads) {
      std::optional<Snapshot> snapshot;
      try {
        snapshot = ReadView(db, *job->view, job->newest);
      } catch (const std::exception& error) {
        Failed(db, error.what());
      }
      job->snapshot.set_value(std::move(snapshot));
    }
  }
}

void Store::Observe(const std::vector<std::shared_ptr<Job>>& writes,
                    const std::vector<Result>& results, const std::vector<bool>& verified) {
  for (std::size_t i = 0; i < writes.size(); ++i) {
    if (results[i] != Result::kStored) continue;
    const Job& job = *writes[i];
    try {
      if (job.report && settings_.on_report) settings_.on_report(job.report->parsed, verified[i]);
      if (job.report && settings_.on_health) {
        for (const auto& event : job.report->parsed.health) settings_.on_health(event, verified[i]);
      }
      if (job.health && settings_.on_health) settings_.on_health(job.health->parsed, verified[i]);
    } catch (const std::exception& error) {
      log_("fleet store: an observer failed: " + std::string(error.what()));
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

Snapshot Store::ReadView(jov::Database& db, const View& view, const Newest& newest) {
  Snapshot snapshot;
  const auto count = [&db](const std::string& sql, const std::map<std::string, std::string>& p) {
    const auto rows = db.Query(sql, p);
    return rows.empty() ? 0 : static_cast<int>(Number(rows[0].at("N")));
  };
  const std::int64_t now = Now();
  snapshot.total = count("SELECT COUNT(*) AS n FROM fleet_register", {});
  snapshot.unseen = count("SELECT COUNT(*) AS n FROM fleet_register WHERE received < :since",
                          {{"since", std::to_string(now - kNotSeenSeconds)}});
  snapshot.pending = count(
      "SELECT COUNT(*) AS n FROM fleet_key WHERE accepted = 0 OR pending_key IS NOT NULL", {});
  // The failures of verified reports, and those of registers that never signed.
  const std::string since = std::to_string(now - 24 * 3600);
  snapshot.failed_last_day = count(
      "SELECT COUNT(*) AS n FROM (SELECT filial, caixa FROM fleet_report "
      "WHERE outcome = 'failed' AND received >= :since UNION SELECT u.filial, u.caixa FROM "
      "fleet_unverified u WHERE u.outcome = 'failed' AND u.received >= :since2 AND NOT EXISTS "
      "(SELECT 1 FROM fleet_key k WHERE k.filial = u.filial AND k.caixa = u.caixa)) AS t",
      {{"since", since}, {"since2", since}});
  // A register is current when none of its programs is behind the newest archive; registers
  // with the same programs are counted together.
  for (const jov::DbRow& row :
       db.Query("SELECT files, COUNT(*) AS n FROM fleet_files GROUP BY files", {})) {
    if (!AnyBehind(newest, row.at("FILES").value_or(""))) {
      snapshot.current += static_cast<int>(Number(row.at("N")));
    }
  }
  for (const jov::DbRow& row :
       db.Query("SELECT DISTINCT filial FROM fleet_register ORDER BY filial", {})) {
    snapshot.branches.push_back(row.at("FILIAL").value_or(""));
  }

  std::string where = " WHERE 1 = 1";
  std::map<std::string, std::string> params;
  if (!view.branch.empty()) {
    where += " AND r.filial = :branch";
    params["branch"] = view.branch;
  }
  if (view.pending) where += " AND (k.accepted = 0 OR k.pending_key IS NOT NULL)";
  const std::string from =
      " FROM fleet_register r LEFT JOIN fleet_key k ON k.filial = r.filial AND k.caixa = r.caixa";
  snapshot.matching = count("SELECT COUNT(*) AS n" + from + where, params);
  const int pages = std::max(1, (snapshot.matching + kPageRows - 1) / kPageRows);
  snapshot.page = std::clamp(view.page, 0, pages - 1);
  const auto rows = db.Query(
      "SELECT r.filial, r.caixa, r.received, r.report, k.accepted, k.pending_key, "
      "k.shown_verified" +
          from + where + " ORDER BY r.filial, r.caixa LIMIT " + std::to_string(kPageRows) +
          " OFFSET " + std::to_string(snapshot.page * kPageRows),
      params);
  for (const jov::DbRow& row : rows) {
    Register entry;
    entry.filial = row.at("FILIAL").value_or("");
    entry.caixa = row.at("CAIXA").value_or("");
    entry.received = Number(row.at("RECEIVED"));
    // The stored text is what the protocol writer made of a report this server took.
    json report = json::parse(row.at("REPORT").value_or(""), nullptr, false);
    if (report.is_object()) entry.report = std::move(report);
    entry.verified = Number(row.at("SHOWN_VERIFIED")) != 0;
    entry.is_new = row.at("ACCEPTED").has_value() && Number(row.at("ACCEPTED")) == 0;
    entry.pending_key = row.at("PENDING_KEY").value_or("");
    for (const jov::DbRow& event :
         db.Query("SELECT verified, event FROM fleet_health WHERE filial = :filial AND "
                  "caixa = :caixa ORDER BY id DESC LIMIT " +
                      std::to_string(kHealthShown),
                  {{"filial", entry.filial}, {"caixa", entry.caixa}})) {
      json parsed = json::parse(event.at("EVENT").value_or(""), nullptr, false);
      if (!parsed.is_object()) continue;
      parsed["verified"] = Number(event.at("VERIFIED")) != 0;
      entry.health.push_back(std::move(parsed));
    }
    snapshot.registers.push_back(std::move(entry));
  }
  return snapshot;
}

std::vector<std::string> SchemaStatements(const std::string& schema) {
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

}  // namespace appserver::fleet
