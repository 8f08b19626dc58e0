// The fleet: the registers' update reports and health events, checked, kept through Qt SQL
// with whether each was verified, and read back a page at a time.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/health.h"
#include "protocol/report.h"

namespace jov {
class Database;
}

namespace appserver::fleet {

inline constexpr std::size_t kMaxReportBytes = 64 * 1024;
inline constexpr int kHistory = 100;    // reports (and health events) kept per register
inline constexpr int kPageRows = 200;   // registers on one page of /fleet and /fleet.json
inline constexpr int kHealthShown = 3;  // latest health events shown per register
inline constexpr int kDefaultMaxRegisters = 20000;
inline constexpr int kDefaultReportInterval = 60;  // seconds between two reports kept
inline constexpr std::int64_t kNotSeenSeconds = 3 * 24 * 3600;

// A report that has the shape of "ReportUpdate"'s argument, as it is stored.
struct Report {
  jov::protocol::Report parsed;
  std::string json;  // the known fields only, ASCII (everything else escaped)
  // The text's signature verifies under parsed.signer.key (which says nothing yet of whether
  // that key is the register's).
  bool signature_ok = false;
};

// A health event that has the shape of "ReportHealth"'s argument.
struct Health {
  jov::protocol::HealthEvent parsed;
  std::string json;
  bool signature_ok = false;
};

// The report in text (UTF-8 JSON, or Windows-1252 as a register may write it), its signature
// checked; nothing, with the reason in why, when it is larger than kMaxReportBytes or not of
// the shape.
std::optional<Report> CheckReport(const std::string& text, std::string& why);
// The same for a health event.
std::optional<Health> CheckHealth(const std::string& text, std::string& why);

// The report a register shows: its last verified one, or its last one when it never sent a
// verified one.
struct Register {
  std::string filial;
  std::string caixa;
  std::int64_t received = 0;  // server clock, seconds since 1970
  nlohmann::json report;
  bool verified = false;
  bool is_new = false;                 // first seen with its key; not yet accepted by an operator
  std::string pending_key;             // another key signed for it; not trusted until accepted
  std::vector<nlohmann::json> health;  // its latest health events, newest first
};

// Which registers a view asks for.
struct View {
  std::string branch;    // empty: every branch
  int page = 0;          // from 0, kPageRows registers a page
  bool pending = false;  // only registers waiting for an operator (new or with another key)
};

// The newest archive stamp ("YYYYMMDDHHMMSS") of each program the server offers, by the
// program's name upper-cased ("JOVTAB.EXE" for "JovTab.exe.zip").
using Newest = std::map<std::string, std::string>;

// The first 14 digits of a stamp as a register writes it ("2026-12-01T10:00:00" too).
std::string StampDigits(const std::string& stamp);

struct Snapshot {
  std::vector<Register> registers;  // the view's page, by branch, then register
  int matching = 0;                 // registers of the view, on every page
  int page = 0;
  int total = 0;                      // registers of the whole fleet
  int current = 0;                    // on the newest version of every program
  int unseen = 0;                     // no report for 3 days
  int pending = 0;                    // waiting for an operator
  int failed_last_day = 0;            // registers with a failed report in the 24 h before now
  std::vector<std::string> branches;  // every branch, for the filter
};

// An operator's acceptance: the register's new key (or, first seen, the register itself);
// with an empty filial, every register first seen that waits.
struct Acceptance {
  std::string filial;
  std::string caixa;
};

// The connection string of --fleet-db: one given as "Provider=...;..." as it is, any other
// text as the path of an SQLite file.
std::string ConnectionString(const std::string& fleet_db);

struct StoreSettings {
  int max_registers = kDefaultMaxRegisters;
  int report_interval = kDefaultReportInterval;  // seconds; 0: every report is kept
  // Keys pinned before any report ("FILIAL/CAIXA" to the base64 key), for registers that have
  // none yet.
  std::map<std::string, std::string> keys;
  // Called on the store's thread after the transaction that stored it is committed, with
  // whether it was verified; also for each health event a report carries. May be empty.
  std::function<void(const jov::protocol::Report&, bool verified)> on_report;
  std::function<void(const jov::protocol::HealthEvent&, bool verified)> on_health;
};

// The store: one thread owns the database connection (Qt SQL connections belong to the thread
// that opened them) and takes the jobs of the server's threads from a bounded queue, writing
// all the reports that wait in one transaction. A signed report or event is verified when its
// key is the one pinned to its register (the first seen, or one an operator accepted) and its
// counter is above the last verified one; an unverified one is kept apart and never replaces
// the verified state.
class Store {
 public:
  // Connects and creates the tables that are missing (sqlite_schema or postgresql_schema,
  // by the provider). Throws jov::Error when it cannot.
  // log takes one line about a failure of the database (the jobs it failed are answered).
  Store(const std::string& connection_string, std::function<void(const std::string&)> log,
        StoreSettings settings = {});
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // kBusy: the queue is full or the store did not come to the job within the wait; kFailed:
  // the database refused it; kTooMany: a new register past max_registers; kTooSoon: the
  // register's last report of the same trust came less than report_interval ago; kUnknown: an
  // event of a register that never reported (its next report carries it again).
  enum class Result { kStored, kBusy, kFailed, kTooMany, kTooSoon, kUnknown };
  // Stores the report as received now. Blocks the caller until it is stored (at most 15 s).
  Result Add(Report report);
  // Stores the event as received now; neither kTooMany nor kTooSoon.
  Result Add(Health health);
  // Trusts what the operator accepted; kStored also when nothing waited.
  Result Accept(const Acceptance& acceptance);
  // A page of the fleet as it is now; nothing when the store is busy or the database failed.
  std::optional<Snapshot> Read(const View& view, const Newest& newest);

 private:
  struct Job;
  Result Wait(const std::shared_ptr<Job>& job);
  bool Enqueue(const std::shared_ptr<Job>& job);
  void Serve(jov::Database& db);
  // Tells the observers what the committed writes stored.
  void Observe(const std::vector<std::shared_ptr<Job>>& writes, const std::vector<Result>& results,
               const std::vector<bool>& verified);
  void Failed(jov::Database& db, const std::string& why);
  Snapshot ReadView(jov::Database& db, const View& view, const Newest& newest);

  std::string connection_string_;
  std::function<void(const std::string&)> log_;
  StoreSettings settings_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Job>> queue_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace appserver::fleet
