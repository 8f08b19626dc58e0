// The health of the client programs the launcher starts: what the chain's server hears when one
// ends badly soon after its start, and what the register keeps of what the server did not take.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "clientlib/http_channel.h"
#include "clientlib/update_report.h"
#include "platform/program_ends.h"
#include "protocol/health.h"

namespace jov {

class RegisterKey;
class Session;

// The events the server has not taken yet, in <working folder>/saude.json: a JSON array of at
// most protocol::kMaxReportHealth events, replaced atomically at each change. Thread-safe; each
// call blocks on the disk.
class PendingHealth {
 public:
  explicit PendingHealth(const std::string& working_dir);
  // The events kept, oldest first. A missing or malformed file gives none; an event the
  // server's reader would refuse is left out.
  std::vector<protocol::HealthEvent> Events();
  // Adds the event, dropping the oldest past the bound. A file that cannot be written loses
  // it; nothing is said.
  void Keep(const protocol::HealthEvent& event);
  // Removes each of taken once (the server has them), keeping any event added meanwhile.
  void Drop(const std::vector<protocol::HealthEvent>& taken);

 private:
  void Write(const std::vector<protocol::HealthEvent>& events);

  const std::string path_;
  std::mutex mutex_;
};

// How long after its start a program's bad end is told.
inline constexpr std::chrono::seconds kHealthWindow{120};

// The event of an end, with name (the program's file name), stamp (its last-write time when
// started, YYYYMMDDHHNNSS local time), signal or exit, and seconds filled in: nothing when the
// program is not one of names (letter case aside), ended with exit code 0, ran longer than
// window, or was ended at the launcher's own request ("TASKKILL /F /IM JovBpl.exe" before
// entering the system or restarting the updater ends it by a signal, and is no failure).
std::optional<protocol::HealthEvent> HealthEventOf(
    const ProgramEnd& end, const std::vector<std::string>& names,
    std::chrono::milliseconds window = kHealthWindow);

// Tells the server of every bad end HealthEventOf takes: "ReportHealth" with the event's JSON
// text, signed with the register's key, on a thread of its own and over a channel with a stall
// state of its own, one attempt within the bounds of any call; an event the server does not
// take (the call failed, no answer, a stall) is kept in pending for the next start's report.
// Nothing goes to the log. Destroying it gives events in flight two seconds, then ends them
// within a second (keeping them) and waits for their threads. Every reference must outlive it.
class HealthReporter : public ProgramEndListener {
 public:
  // The installed release of a program file, when one is recorded.
  using VersionOf = std::function<std::optional<std::int64_t>(const std::string& name)>;

  // names: the client programs whose ends are told; key may be null (nothing signed).
  HealthReporter(Session& session, ReportTarget target, std::vector<std::string> names,
                 VersionOf version_of, RegisterKey* key, PendingHealth& pending,
                 HttpAppServerChannel::Timeouts timeouts = {});
  ~HealthReporter() override;
  HealthReporter(const HealthReporter&) = delete;
  HealthReporter& operator=(const HealthReporter&) = delete;

  // Takes the end on the watcher's thread; returns at once.
  void ProgramEnded(const ProgramEnd& end) override;
  // Waits for the events sent so far (tests).
  void Wait();

 private:
  void Send(protocol::HealthEvent event);

  Session& session_;
  const ReportTarget target_;
  const std::vector<std::string> names_;
  const VersionOf version_of_;
  RegisterKey* const key_;
  PendingHealth& pending_;
  const HttpAppServerChannel::Timeouts timeouts_;
  std::atomic<bool> cancel_{false};
  std::mutex mutex_;
  std::condition_variable done_;
  int running_ = 0;
  int sent_ = 0;  // events of this start: at most protocol::kMaxReportHealth get a thread
  std::vector<std::thread> threads_;
};

}  // namespace jov
