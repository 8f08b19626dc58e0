#include "server/rollout/rollouts.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/atomic_file.h"
#include "platform/cp1252.h"
#include "platform/database_qt.h"
#include "platform/errors.h"
#include "platform/file_bytes.h"
#include "platform/file_text.h"
#include "protocol/file_names.h"
#include "protocol/release.h"
#include "server/fleet/fleet_schema.h"
#include "server/rollout/rollout_schema.h"
#include "server/rollout/waves.h"
#include "server/sign/signing.h"

namespace appserver::rollout {
namespace {

using jov::Database;
using jov::DbRow;
using Register = std::pair<std::string, std::string>;

constexpr std::int64_t kUndoDays = 30;  // how long the release that undoes a rollout is valid
constexpr int kMaxSoakMinutes = 366 * 24 * 60;

std::string Key(const std::string& file) { return jov::cp1252::UpperAscii(file); }

std::string Column(const DbRow& row, const char* name) {
  const auto found = row.find(name);
  return found == row.end() ? std::string() : found->second.value_or("");
}

std::int64_t Integer(const DbRow& row, const char* name) {
  const std::string text = Column(row, name);
  return text.empty() ? 0 : std::stoll(text);
}

Rollout FromRow(const DbRow& row) {
  Rollout r;
  r.file = Column(row, "FILE");
  r.version = Integer(row, "VERSION");
  r.state = Column(row, "STATE");
  const nlohmann::json waves = nlohmann::json::parse(Column(row, "WAVES"), nullptr, false);
  if (waves.is_array()) {
    for (const auto& wave : waves) {
      if (wave.is_string()) r.waves.push_back(wave.get<std::string>());
    }
  }
  r.wave = static_cast<int>(Integer(row, "WAVE"));
  r.wave_started = Integer(row, "WAVE_STARTED");
  r.halt_at = std::stod(Column(row, "HALT_AT").empty() ? "0" : Column(row, "HALT_AT"));
  r.soak_minutes = static_cast<int>(Integer(row, "SOAK_MINUTES"));
  return r;
}

const char* const kSelect =
    "SELECT file, version, state, waves, wave, wave_started, halt_at, soak_minutes FROM rollout";

std::optional<Rollout> Load(Database& db, const std::string& file) {
  const auto rows = db.Query(std::string(kSelect) + " WHERE name = :name", {{"name", Key(file)}});
  if (rows.empty()) return std::nullopt;
  return FromRow(rows.front());
}

std::vector<Rollout> LoadAll(Database& db) {
  std::vector<Rollout> all;
  for (const DbRow& row : db.Query(std::string(kSelect) + " ORDER BY name", {})) {
    all.push_back(FromRow(row));
  }
  return all;
}

std::map<std::string, std::string> Which(const Rollout& r) {
  return {{"name", Key(r.file)}, {"version", std::to_string(r.version)}};
}

// Fills in the counts and the latest reasons.
void Count(Database& db, Rollout& r) {
  r.installed = r.failed = 0;
  r.reasons.clear();
  for (const DbRow& row : db.Query("SELECT outcome, COUNT(*) AS n FROM rollout_outcome "
                                   "WHERE name = :name AND version = :version GROUP BY outcome",
                                   Which(r))) {
    // "excused": a failure from before the operator resumed the rollout.
    const std::string outcome = Column(row, "OUTCOME");
    if (outcome == "excused") continue;
    (outcome == "installed" ? r.installed : r.failed) += static_cast<int>(Integer(row, "N"));
  }
  for (const DbRow& row : db.Query(
           "SELECT filial, caixa, reason FROM rollout_outcome WHERE name = :name AND "
           "version = :version AND outcome <> 'installed' ORDER BY reported DESC, filial, caixa "
           "LIMIT " +
               std::to_string(kMaxReasons),
           Which(r))) {
    // Kept as Windows-1252, which the database connection passes through unchanged.
    r.reasons.push_back(Column(row, "FILIAL") + "/" + Column(row, "CAIXA") + ": " +
                        jov::cp1252::ToUtf8(Column(row, "REASON")));
  }
}

// Sets the state (and wave) when the rollout is still as r says; true when this call did it,
// so that of several servers acting at once one acts.
bool Move(Database& db, const Rollout& r, const std::string& state, int wave, std::int64_t now) {
  auto params = Which(r);
  params.insert({{"state", state},
                 {"wave", std::to_string(wave)},
                 {"now", std::to_string(wave == r.wave ? r.wave_started : now)},
                 {"was", r.state},
                 {"was_wave", std::to_string(r.wave)}});
  return !db.Query(
                "UPDATE rollout SET state = :state, wave = :wave, wave_started = :now "
                "WHERE name = :name AND version = :version AND state = :was AND "
                "wave = :was_wave RETURNING name",
                params)
              .empty();
}

// The regular file directly in folder named name in any letter case; empty when none.
std::string FindFile(const std::string& folder, const std::string& name) {
  std::string found;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return found;
  while (const dirent* entry = ::readdir(dir)) {
    struct stat st {};
    if (jov::cp1252::EqualsIgnoringAsciiCase(entry->d_name, name) &&
        ::lstat((folder + "/" + entry->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      found = entry->d_name;
      // The exact name, when it is there, wins over its look-alikes.
      if (found == name) break;
    }
  }
  ::closedir(dir);
  return found;
}

void MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    throw jov::IoError("Cannot create " + path + ": " + std::strerror(errno));
  }
}

const char* const kCompanions[] = {".sig", ".release.sig", ".release", ""};

// The candidate becomes the released archive: the released one and its companions are kept
// (as hard links) in <updates>/anteriores/, then each companion of the candidate and last the
// archive are renamed over the released ones, so that a download under way keeps its file
// and the next one finds the new set.
void Promote(const std::string& updates, const std::string& file) {
  const std::string archive = file + ".zip";
  const std::string candidates = updates + "/" + kCandidates;
  const std::string candidate = FindFile(candidates, archive);
  if (candidate.empty()) throw jov::IoError("no " + archive + " in " + candidates);
  const std::string released = FindFile(updates, archive);
  const std::string target = released.empty() ? candidate : released;
  if (!released.empty()) {
    const std::string previous = updates + "/" + kPrevious;
    MakeFolder(previous);
    for (const char* suffix : kCompanions) {
      const std::string from = updates + "/" + released + suffix;
      const std::string kept = previous + "/" + released + suffix;
      if (::access(from.c_str(), F_OK) != 0) continue;
      ::unlink(kept.c_str());
      if (::link(from.c_str(), kept.c_str()) != 0) {
        throw jov::IoError("Cannot keep " + from + " in " + previous + ": " + std::strerror(errno));
      }
    }
  }
  for (const char* suffix : kCompanions) {
    const std::string from = candidates + "/" + candidate + suffix;
    const std::string to = updates + "/" + target + suffix;
    if (::access(from.c_str(), F_OK) != 0) {
      // A companion the candidate lacks must not stay behind from the replaced archive.
      ::unlink(to.c_str());
      continue;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
      throw jov::IoError("Cannot move " + from + " to " + to + ": " + std::strerror(errno));
    }
  }
}

// The release that undoes the rollout: a copy of the released archive in <updates>/desfeitos/,
// signed as release version + 1 (a register takes no release below the one it installed).
void WriteUndo(const Settings& settings, const Rollout& r, std::int64_t now) {
  const std::string archive = r.file + ".zip";
  const std::string released = FindFile(settings.updates, archive);
  if (released.empty()) throw jov::Error("there is no released " + archive + " to go back to");
  const std::string folder = settings.updates + "/" + kUndone;
  MakeFolder(folder);
  const std::string copy = folder + "/" + archive;
  jov::WriteFileAtomically(
      copy, jov::ReadFileBytes(settings.updates + "/" + released, jov::sign::kMaxArchiveBytes),
      0644);
  jov::sign::SignRelease(copy, r.version + 1, now + kUndoDays * 24 * 3600, *settings.key);
}

std::string Outcomes(const Rollout& r) {
  return std::to_string(r.failed) + " of " + std::to_string(r.installed + r.failed) + " failed";
}

// The file's name without a ".zip" it may carry (a failure may name the archive).
std::string ProgramOf(const std::string& name) {
  const std::string local = jov::protocol::NameBeforeZip(name);
  return local.empty() ? name : local;
}

bool SameFile(const std::string& a, const std::string& b) {
  return jov::cp1252::EqualsIgnoringAsciiCase(ProgramOf(a), b);
}

std::string HowItEnded(const jov::protocol::HealthEvent& event) {
  return event.signal ? "ended by signal " + std::to_string(*event.signal) + " after " +
                            std::to_string(static_cast<long>(event.seconds)) + " s"
                      : "exited with " + std::to_string(event.exit.value_or(0)) + " after " +
                            std::to_string(static_cast<long>(event.seconds)) + " s";
}

// What one register told of a program: "installed", "failed" (its update failed) or
// "crashed" (the program ended badly), with the reason.
struct Heard {
  std::string filial;
  std::string caixa;
  std::string outcome;
  std::string reason;
};

std::vector<Heard> HeardOf(const jov::protocol::HealthEvent& event, const Rollout& r) {
  if (!SameFile(event.name, r.file) || event.version != r.version) return {};
  return {{event.filial, event.caixa, "crashed", event.name + " " + HowItEnded(event)}};
}

std::vector<Heard> HeardOf(const jov::protocol::Report& report, const Rollout& r) {
  std::vector<Heard> heard;
  if (report.failure && SameFile(report.failure->file, r.file)) {
    heard.push_back({report.filial, report.caixa, "failed", report.failure->reason});
  } else {
    for (const auto& file : report.files) {
      if (SameFile(file.name, r.file) && file.version == r.version) {
        heard.push_back({report.filial, report.caixa, "installed", ""});
        break;
      }
    }
  }
  for (const auto& event : report.health) {
    for (Heard& h : HeardOf(event, r)) heard.push_back(std::move(h));
  }
  return heard;
}

class Engine {
 public:
  Engine(const Settings& settings, Database& db) : s_(settings), db_(db), now_(settings.now()) {}

  // Records what the register told of each rollout of the waves it is in, then halts or
  // moves on the running ones.
  template <typename Told>
  void Observe(const Told& told) {
    db_.Query(
        "INSERT INTO rollout_seen (filial, caixa, seen) VALUES (:filial, :caixa, :now) "
        "ON CONFLICT (filial, caixa) DO UPDATE SET seen = excluded.seen",
        {{"filial", told.filial}, {"caixa", told.caixa}, {"now", std::to_string(now_)}});
    for (Rollout& r : LoadAll(db_)) {
      if (r.state == "done" || !Reached(r.waves, r.wave, told.filial, told.caixa)) continue;
      const std::vector<Heard> heard = HeardOf(told, r);
      for (const Heard& h : heard) Record(r, h);
      if (!heard.empty() && r.state == "running") Evaluate(r);
    }
  }

  void Tick() {
    for (Rollout& r : LoadAll(db_)) {
      if (r.state == "running") Evaluate(r);
    }
  }

  // The next wave, or the release of the candidate after the last. False when another
  // server moved the rollout first.
  bool Step(const Rollout& r, const std::string& why) {
    const int next = r.wave + 1;
    if (next < static_cast<int>(r.waves.size())) {
      if (!Move(db_, r, r.state, next, now_)) return false;
      Log(r, "wave " + std::to_string(next + 1) + " of " + std::to_string(r.waves.size()) + " (" +
                 r.waves[static_cast<std::size_t>(next)] + ") begins: " + why);
      return true;
    }
    if (!Move(db_, r, "done", r.wave, now_)) return false;
    try {
      Promote(s_.updates, r.file);
      Log(r, "done: " + why + "; the candidate is the released " + r.file + ".zip");
    } catch (const jov::Error& error) {
      Log(r, "done: " + why + "; but the candidate could not be released: " + error.what());
    }
    return true;
  }

  void Log(const Rollout& r, const std::string& line) {
    if (s_.log) s_.log("rollout " + r.file + " " + std::to_string(r.version) + ": " + line);
  }

  std::int64_t now() const { return now_; }

 private:
  void Record(const Rollout& r, const Heard& h) {
    auto params = Which(r);
    params.insert({{"filial", h.filial},
                   {"caixa", h.caixa},
                   {"outcome", h.outcome},
                   {"reason", jov::cp1252::FromUtf8(h.reason).substr(0, 1000)},
                   {"now", std::to_string(now_)}});
    // A later install replaces a failed update, never a program that crashed.
    db_.Query(
        "INSERT INTO rollout_outcome (name, version, filial, caixa, outcome, reason, reported) "
        "VALUES (:name, :version, :filial, :caixa, :outcome, :reason, :now) "
        "ON CONFLICT (name, version, filial, caixa) DO UPDATE SET outcome = excluded.outcome, "
        "reason = excluded.reason, reported = excluded.reported WHERE "
        "rollout_outcome.outcome <> 'crashed' OR excluded.outcome <> 'installed'",
        params);
  }

  // Halts past halt_at; otherwise moves on when every register of the waves reached that was
  // seen lately installed the candidate and the wave has soaked.
  void Evaluate(Rollout& r) {
    Count(db_, r);
    if (r.failed >= 1 && static_cast<double>(r.failed) / (r.installed + r.failed) > r.halt_at) {
      if (Move(db_, r, "halted", r.wave, now_)) Log(r, "halted: " + Outcomes(r));
      return;
    }
    if (now_ - r.wave_started < static_cast<std::int64_t>(r.soak_minutes) * 60) return;
    std::set<Register> installed;
    for (const DbRow& row :
         db_.Query("SELECT filial, caixa FROM rollout_outcome WHERE name = :name AND "
                   "version = :version AND outcome = 'installed'",
                   Which(r))) {
      installed.emplace(Column(row, "FILIAL"), Column(row, "CAIXA"));
    }
    for (const DbRow& row : db_.Query("SELECT filial, caixa FROM rollout_seen WHERE seen >= :since",
                                      {{"since", std::to_string(now_ - kSeenWindow)}})) {
      const Register seen{Column(row, "FILIAL"), Column(row, "CAIXA")};
      if (Reached(r.waves, r.wave, seen.first, seen.second) && !installed.contains(seen)) return;
    }
    Step(r, "every register of the wave installed it (" + Outcomes(r) + ")");
  }

  const Settings& s_;
  Database& db_;
  std::int64_t now_;
};

Answer Refused(int status, std::string reason) { return Answer{status, std::move(reason), {}}; }

}  // namespace

Rollouts::Rollouts(Settings settings) : settings_(std::move(settings)) {
  const std::string provider =
      jov::cp1252::UpperAscii(jov::ParseConnectionString(settings_.connection_string)["PROVIDER"]);
  const char* schema = provider == "QPSQL" ? kPostgresqlSchema : kSqliteSchema;
  db_ = std::make_unique<DbThread>(
      settings_.connection_string,
      [schema](Database& db) {
        for (const std::string& statement : fleet::SchemaStatements(schema))
          db.Query(statement, {});
      },
      settings_.tick,
      [this](Database& db) {
        try {
          Engine(settings_, db).Tick();
        } catch (const std::exception& error) {
          if (settings_.log) settings_.log("rollouts: " + std::string(error.what()));
        }
      });
}

void Rollouts::Observe(const jov::protocol::Report& report, bool verified) {
  // Only a report the register signed counts: anyone can send one in its name.
  if (!verified) return;
  const Settings* settings = &settings_;
  try {
    db_->Run<bool>([settings, report](Database& db) {
      Engine(*settings, db).Observe(report);
      return true;
    });
  } catch (const std::exception& error) {
    if (settings_.log) settings_.log("rollouts: " + std::string(error.what()));
  }
}

void Rollouts::Observe(const jov::protocol::HealthEvent& event, bool verified) {
  if (!verified) return;
  const Settings* settings = &settings_;
  try {
    db_->Run<bool>([settings, event](Database& db) {
      Engine(*settings, db).Observe(event);
      return true;
    });
  } catch (const std::exception& error) {
    if (settings_.log) settings_.log("rollouts: " + std::string(error.what()));
  }
}

void Rollouts::Tick() {
  const Settings* settings = &settings_;
  try {
    db_->Run<bool>([settings](Database& db) {
      Engine(*settings, db).Tick();
      return true;
    });
  } catch (const std::exception& error) {
    if (settings_.log) settings_.log("rollouts: " + std::string(error.what()));
  }
}

Answer Rollouts::Start(const StartRequest& request) {
  if (!jov::protocol::SafeFileName(request.file) || jov::protocol::IsArchiveName(request.file)) {
    return Refused(400, "file must be a program file name, such as JovTab.exe");
  }
  if (request.waves.empty() || request.waves.size() > kMaxWaves ||
      !std::all_of(request.waves.begin(), request.waves.end(),
                   [](const std::string& wave) { return ValidWave(wave); })) {
    return Refused(400, "waves must be 1 to " + std::to_string(kMaxWaves) +
                            " waves, each a share such as \"10%\" or branch codes joined by \",\"");
  }
  if (!std::isfinite(request.halt_at) || request.halt_at < 0 || request.halt_at > 1) {
    return Refused(400, "halt_at must be a number from 0 to 1");
  }
  if (request.soak_minutes < 0 || request.soak_minutes > kMaxSoakMinutes) {
    return Refused(
        400, "soak_minutes must be a whole number from 0 to " + std::to_string(kMaxSoakMinutes));
  }
  const std::string folder = settings_.updates + "/" + kCandidates;
  const std::string archive = FindFile(folder, request.file + ".zip");
  if (archive.empty()) {
    return Refused(404, "no candidate " + request.file + ".zip in the folder " + kCandidates);
  }
  const jov::FileText text =
      jov::ReadFileText(folder + "/" + archive + ".release", jov::protocol::kMaxReleaseBytes);
  if (text.error != 0 || text.too_large) {
    return Refused(409, "the candidate has no release statement " + archive + ".release");
  }
  const auto release = jov::protocol::ReadRelease(text.text);
  if (!release.ok()) {
    return Refused(
        409, "the candidate's release statement is refused: " + jov::cp1252::ToUtf8(release.why));
  }
  if (!jov::cp1252::EqualsIgnoringAsciiCase(release.value->file, request.file)) {
    return Refused(409, "the candidate's release statement is of " + release.value->file);
  }
  // A statement left from another build would be refused by every register of the wave.
  try {
    const std::string bytes =
        jov::ReadFileBytes(folder + "/" + archive, jov::sign::kMaxArchiveBytes);
    if (static_cast<std::int64_t>(bytes.size()) != release.value->size ||
        jov::sign::Sha256Hex(bytes) != release.value->sha256) {
      return Refused(409, "the candidate's release statement is of another archive");
    }
  } catch (const jov::Error& error) {
    return Refused(409, "the candidate cannot be read: " + std::string(error.what()));
  }
  Rollout r;
  r.file = request.file;
  r.version = release.value->version;
  r.state = "running";
  r.waves = request.waves;
  r.halt_at = request.halt_at;
  r.soak_minutes = request.soak_minutes;
  const Settings* settings = &settings_;
  try {
    const std::optional<Answer> answer = db_->Run<Answer>([settings, r](Database& db) mutable {
      Engine engine(*settings, db);
      r.wave_started = engine.now();
      auto params = Which(r);
      db.Query("DELETE FROM rollout WHERE name = :name AND state IN ('done', 'undone')",
               {{"name", params["name"]}});
      params.insert({{"file", r.file},
                     {"waves", nlohmann::json(r.waves).dump()},
                     {"halt_at", std::to_string(r.halt_at)},
                     {"soak", std::to_string(r.soak_minutes)},
                     {"now", std::to_string(r.wave_started)}});
      const bool inserted =
          !db.Query(
                 "INSERT INTO rollout (name, file, version, state, waves, wave, wave_started, "
                 "halt_at, soak_minutes, started) VALUES (:name, :file, :version, 'running', "
                 ":waves, 0, :now, :halt_at, :soak, :now) ON CONFLICT (name) DO NOTHING "
                 "RETURNING name",
                 params)
               .empty();
      if (!inserted) return Refused(409, "a rollout of " + r.file + " is under way");
      db.Query("DELETE FROM rollout_outcome WHERE name = :name AND version = :version", Which(r));
      std::string waves;
      for (const std::string& wave : r.waves) waves += (waves.empty() ? "" : " ") + wave;
      engine.Log(r, "started: waves " + waves + ", halt at " + std::to_string(r.halt_at) +
                        ", soak " + std::to_string(r.soak_minutes) + " min");
      return Answer{200, "", r};
    });
    if (answer) return *answer;
  } catch (const std::exception& error) {
    if (settings_.log) settings_.log("rollouts: " + std::string(error.what()));
  }
  return Refused(503, "the rollouts' database is busy or failed");
}

Answer Rollouts::Act(const std::string& file, Action action) {
  const Settings* settings = &settings_;
  try {
    const std::optional<Answer> answer = db_->Run<Answer>([settings, file,
                                                           action](Database& db) -> Answer {
      Engine engine(*settings, db);
      std::optional<Rollout> r = Load(db, file);
      if (!r) return Refused(404, "no rollout of " + file);
      const auto refuse = [&](const char* wanted) {
        return Refused(409, "the rollout of " + r->file + " is " + r->state + ", not " + wanted);
      };
      bool moved = false;
      switch (action) {
        case Action::kHalt:
          if (r->state != "running") return refuse("running");
          moved = Move(db, *r, "halted", r->wave, engine.now());
          if (moved) engine.Log(*r, "halted by the operator");
          break;
        case Action::kResume:
          if (r->state != "halted") return refuse("halted");
          moved = Move(db, *r, "running", r->wave, engine.now());
          if (moved) {
            // The failures that halted it are the operator's judgement now: only new ones
            // count towards the next halt (their reasons stay listed).
            db.Query(
                "UPDATE rollout_outcome SET outcome = 'excused' WHERE name = :name AND "
                "version = :version AND outcome IN ('failed', 'crashed')",
                Which(*r));
            engine.Log(*r, "resumed by the operator");
          }
          break;
        case Action::kAdvance:
          if (r->state != "running") return refuse("running");
          moved = engine.Step(*r, "advanced by the operator");
          break;
        case Action::kUndo:
          if (r->state != "running" && r->state != "halted") {
            return refuse("running or halted");
          }
          if (!settings->key) {
            return Refused(409,
                           "undo needs a signing key: start the server with "
                           "--signing-key to sign the release that undoes it");
          }
          try {
            WriteUndo(*settings, *r, engine.now());
          } catch (const jov::Error& error) {
            engine.Log(*r, "cannot undo: " + std::string(error.what()));
            return Refused(409, "cannot undo: " + std::string(error.what()));
          }
          moved = Move(db, *r, "undone", r->wave, engine.now());
          if (moved) {
            Count(db, *r);
            engine.Log(*r, "undone by the operator: release " + std::to_string(r->version + 1) +
                               " of the previous build offered to the " +
                               std::to_string(r->installed) + " registers that installed it");
          }
          break;
      }
      if (!moved) return Refused(409, "the rollout of " + file + " changed meanwhile");
      r = Load(db, file);
      if (!r) return Refused(404, "no rollout of " + file);
      Count(db, *r);
      return Answer{200, "", r};
    });
    if (answer) return *answer;
  } catch (const std::exception& error) {
    if (settings_.log) settings_.log("rollouts: " + std::string(error.what()));
  }
  return Refused(503, "the rollouts' database is busy or failed");
}

std::optional<std::vector<Rollout>> Rollouts::List() {
  const Settings* settings = &settings_;
  try {
    return db_->Run<std::vector<Rollout>>([settings](Database& db) {
      std::vector<Rollout> all = LoadAll(db);
      const auto seen = db.Query("SELECT filial, caixa FROM rollout_seen WHERE seen >= :since",
                                 {{"since", std::to_string(settings->now() - kSeenWindow)}});
      for (Rollout& r : all) {
        Count(db, r);
        int reached = 0;
        for (const DbRow& row : seen) {
          reached += Reached(r.waves, r.wave, Column(row, "FILIAL"), Column(row, "CAIXA"));
        }
        r.waiting = std::max(0, reached - r.installed - r.failed);
      }
      return all;
    });
  } catch (const std::exception& error) {
    if (settings_.log) settings_.log("rollouts: " + std::string(error.what()));
  }
  return std::nullopt;
}

Offer Rollouts::OfferTo(const std::string& file, const std::string& filial,
                        const std::string& caixa) {
  if (filial.empty() || caixa.empty()) return Offer::kReleased;
  try {
    return db_
        ->Run<Offer>([file, filial, caixa](Database& db) {
          const std::optional<Rollout> r = Load(db, file);
          if (!r || r->state == "done" || !Reached(r->waves, r->wave, filial, caixa)) {
            return Offer::kReleased;
          }
          if (r->state != "undone") return Offer::kCandidate;
          auto params = Which(*r);
          params.insert({{"filial", filial}, {"caixa", caixa}});
          return db.Query(
                       "SELECT outcome FROM rollout_outcome WHERE name = :name AND "
                       "version = :version AND filial = :filial AND caixa = :caixa AND "
                       "outcome = 'installed'",
                       params)
                         .empty()
                     ? Offer::kReleased
                     : Offer::kUndo;
        })
        .value_or(Offer::kReleased);
  } catch (const std::exception& error) {
    if (settings_.log) settings_.log("rollouts: " + std::string(error.what()));
  }
  return Offer::kReleased;
}

std::vector<std::string> Rollouts::Candidates() const {
  std::vector<std::string> names;
  const std::string folder = settings_.updates + "/" + kCandidates;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    struct stat st {};
    if (jov::protocol::IsArchiveName(entry->d_name) &&
        ::lstat((folder + "/" + entry->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      names.push_back(entry->d_name);
    }
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace appserver::rollout
