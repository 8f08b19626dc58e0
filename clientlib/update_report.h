// What a register tells the chain's server about the executable update of each start.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "clientlib/http_channel.h"
#include "protocol/report.h"

namespace jov {

class PendingHealth;
class RegisterKey;
class Session;

// One start's update. Texts are Windows-1252.
struct UpdateReport {
  std::string filial;
  std::string caixa;
  std::string host;
  std::string launcher;  // the launcher's version
  std::string started;   // ISO 8601 with the register's offset
  double seconds = 0;    // how long the update took
  protocol::Outcome outcome = protocol::Outcome::kNothing;
  std::vector<std::string> installed;                          // file names
  std::optional<std::pair<std::string, std::string>> failure;  // file, reason in Portuguese
};

// The local time now in ISO 8601 with its offset from UTC ("2026-12-09T12:00:00-03:00").
std::string IsoLocalNow();

// The report as the JSON text "ReportUpdate" takes (protocol::WriteReport: plain ASCII, texts
// cut to the bounds the server takes, the reason's control characters replaced), with "files":
// for each of names present in program_dir, its name, stamp (its last-write time as
// YYYYMMDDHHNNSS, local time), size and SHA-256, and its installed version as the program
// folder's records have it (clientlib/versions.h; null when none is recorded or the records
// cannot be read). Reads each file once (up to 1 GiB); one that cannot be read is left out.
// Blocks on the disk.
std::string ReportJson(const UpdateReport& report, const std::string& program_dir,
                       const std::vector<std::string>& names);

// The report ReportJson writes, before it is written (the same reads of the disk).
protocol::Report ReportOf(const UpdateReport& report, const std::string& program_dir,
                          const std::vector<std::string>& names);

// Where a report goes: the application server and the proxy (libcurl's syntax; empty: none).
struct ReportTarget {
  std::string host;
  int port = 0;
  std::string proxy;
};

// What a register adds to its reports: its key, with which each is signed (none: unsigned), and
// the health events the server has not taken yet, which each carries and which are dropped once
// the server has taken the report.
struct ReportSigning {
  RegisterKey* key = nullptr;
  PendingHealth* pending = nullptr;
};

// Sends a start's report to the application server off the caller's thread, once: one
// attempt, within the bounds of any call, and nothing said of how it went.
class UpdateReporter {
 public:
  virtual ~UpdateReporter() = default;
  virtual void Send(const UpdateReport& report, const ReportTarget& target,
                    const std::string& program_dir, const std::vector<std::string>& names) = 0;
};

// The real one: each report on a thread of its own, over a channel with a stall state of its
// own, so that a slow report never makes a later call of the start fail. Send makes the
// report's codes the session's register identity and gives a report without a host the
// session's host name. Destroying it gives a report still in flight two seconds to finish,
// then ends it within a second, and waits for its thread. session and what signing points to
// must outlive it.
class ThreadedUpdateReporter : public UpdateReporter {
 public:
  explicit ThreadedUpdateReporter(Session& session, HttpAppServerChannel::Timeouts timeouts = {},
                                  ReportSigning signing = {})
      : session_(session), timeouts_(timeouts), signing_(signing) {}
  ~ThreadedUpdateReporter() override;
  void Send(const UpdateReport& report, const ReportTarget& target, const std::string& program_dir,
            const std::vector<std::string>& names) override;
  // Waits for the reports sent so far (tests, benchmarks).
  void Wait();

 private:
  Session& session_;
  const HttpAppServerChannel::Timeouts timeouts_;
  const ReportSigning signing_;
  std::atomic<bool> cancel_{false};
  std::mutex mutex_;
  std::condition_variable done_;
  int running_ = 0;
  std::vector<std::thread> threads_;
};

}  // namespace jov
