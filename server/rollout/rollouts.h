// Rollouts: a candidate build of a program reaching the registers wave by wave, kept in the
// fleet database so that every server on it sees and acts on the same state.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/health.h"
#include "protocol/report.h"
#include "server/rollout/db_thread.h"

namespace jov::sign {
class SigningKey;
}

namespace appserver::rollout {

// The folders under the updates folder: the candidates the operator puts there, the released
// files a finished rollout replaced, and the releases that undo a rollout.
inline constexpr const char* kCandidates = "candidatos";
inline constexpr const char* kPrevious = "anteriores";
inline constexpr const char* kUndone = "desfeitos";

inline constexpr std::size_t kMaxReasons = 10;
inline constexpr std::int64_t kSeenWindow = 7 * 24 * 3600;  // a register counts this long

// One rollout as it stands.
struct Rollout {
  std::string file;          // the program file, as the operator named it
  std::int64_t version = 0;  // the candidate's release
  std::string state;         // "running", "halted", "done" or "undone"
  std::vector<std::string> waves;
  int wave = 0;  // the index of the current wave
  std::int64_t wave_started = 0;
  double halt_at = 0;
  int soak_minutes = 0;
  int installed = 0;  // registers that installed the candidate
  int failed = 0;     // registers that failed it
  int waiting = 0;    // registers of the waves reached, seen lately, that told neither yet
  std::vector<std::string> reasons;  // the latest failures' reasons, newest first
};

struct StartRequest {
  std::string file;
  std::vector<std::string> waves;
  double halt_at = 0;
  int soak_minutes = 0;
};

enum class Action { kHalt, kResume, kAdvance, kUndo };

// An operator's action answered: status 200 with the rollout, or a 4xx/5xx with the reason.
struct Answer {
  int status = 200;
  std::string reason;
  std::optional<Rollout> rollout;
};

// What a register is offered of a program.
enum class Offer { kReleased, kCandidate, kUndo };

struct Settings {
  std::string connection_string;                     // the fleet database's
  std::string updates;                               // the updates folder
  std::shared_ptr<const jov::sign::SigningKey> key;  // null: no undo
  std::function<std::int64_t()> now;                 // seconds since 1970
  std::function<void(const std::string&)> log;       // one line per action and failure
  std::chrono::milliseconds tick = std::chrono::minutes(1);
};

// Safe from any thread: every call runs on the rollouts' own database thread and waits for it
// (at most 15 s). Calls that read or change the database answer 503 / nothing / the released
// offer when it fails or is busy.
class Rollouts {
 public:
  // Connects and creates the tables that are missing. Throws jov::Error when it cannot.
  explicit Rollouts(Settings settings);

  // A register's report or health event, counted only when verified: the candidate of a
  // running rollout installed (a file of the report at its version) or failed (the report's
  // failure of that file, a health event of it at its version) by a register of the waves
  // reached; then the rollout halts past its halt_at, or moves on when its wave is complete.
  void Observe(const jov::protocol::Report& report, bool verified);
  void Observe(const jov::protocol::HealthEvent& event, bool verified);
  // Moves every running rollout whose wave is complete and soaked on (also run periodically).
  void Tick();

  // A new rollout of the candidate in <updates>/candidatos/ (its ".release" gives the version);
  // 400 for a wrong request, 404 with no candidate, 409 while one of that file runs or halts.
  Answer Start(const StartRequest& request);
  // 404 for no rollout of that file, 409 for an action its state does not allow (and for
  // undo without a signing key).
  Answer Act(const std::string& file, Action action);
  // Every rollout, by file; nothing when the database failed.
  std::optional<std::vector<Rollout>> List();
  // What the register is offered of the program file.
  Offer OfferTo(const std::string& file, const std::string& filial, const std::string& caixa);
  // The archive names lying in the candidates folder.
  std::vector<std::string> Candidates() const;

  const std::string& updates() const { return settings_.updates; }

 private:
  Settings settings_;
  std::unique_ptr<DbThread> db_;  // last: its thread ends before the rest goes
};

}  // namespace appserver::rollout
