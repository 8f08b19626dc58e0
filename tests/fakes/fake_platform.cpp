#include "tests/fakes/fake_platform.h"

#include <algorithm>

#include "platform/cp1252.h"
#include "platform/errors.h"

namespace jov::testing {

int FakeProcessTable::Add(const std::string& exe_name) {
  running.push_back({++next_pid_, exe_name, {}});
  return next_pid_;
}

void FakeProcessTable::Remove(int pid) {
  std::erase_if(running, [pid](const ProcessEntry& e) { return e.pid == pid; });
}

std::vector<ProcessEntry> FakeProcessTable::Snapshot() {
  log_.Add("processes.Snapshot");
  return fail_snapshot ? std::vector<ProcessEntry>{} : running;
}

bool FakeProcessTable::Terminate(const ProcessEntry& process) {
  const int pid = process.pid;
  log_.Add("processes.Terminate " + std::to_string(pid));
  if (refuse_terminate.count(pid)) return false;
  terminated.push_back(pid);
  if (terminate_removes) Remove(pid);
  return true;
}

void FakeProgramLauncher::ShellExecute(const std::string& program, const std::string& parameters) {
  log_.Add("programs.ShellExecute " + program + " " + parameters);
  starts.push_back({"ShellExecute", program, parameters});
  if (on_start) on_start(starts.back());
}

void FakeProgramLauncher::WinExec(const std::string& command_line) {
  log_.Add("programs.WinExec " + command_line);
  starts.push_back({"WinExec", command_line, ""});
  if (on_start) on_start(starts.back());
}

bool FakeProgramLauncher::WinExecAndWait(const std::string& command_line, int timeout_ms) {
  log_.Add("programs.WinExecAndWait " + command_line + " " + std::to_string(timeout_ms));
  starts.push_back({"WinExecAndWait", command_line, ""});
  if (on_start) on_start(starts.back());
  return wait_result;
}

namespace {

std::string Parent(const std::string& path) {
  std::string p = path;
  while (!p.empty() && p.back() == '/') p.pop_back();
  const auto slash = p.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? "/" : p.substr(0, slash);
}

std::string NoTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

void FakeFileSystem::AddFile(const std::string& path, const std::string& bytes) {
  files[path] = bytes;
  for (std::string dir = Parent(path); dir != "/"; dir = Parent(dir)) directories.insert(dir);
}

bool FakeFileSystem::FileExists(const std::string& path) { return files.count(path) > 0; }

bool FakeFileSystem::DirectoryExists(const std::string& path) {
  const std::string dir = NoTrailingSlash(path);
  return dir == "/" || directories.count(dir) > 0;
}

bool FakeFileSystem::ForceDirectories(const std::string& path) {
  log_.Add("files.ForceDirectories " + path);
  for (std::string dir = NoTrailingSlash(path); dir != "/"; dir = Parent(dir)) {
    if (unwritable_dirs.count(dir)) return false;
  }
  for (std::string dir = NoTrailingSlash(path); dir != "/"; dir = Parent(dir)) {
    directories.insert(dir);
  }
  return true;
}

void FakeFileSystem::AppendToFile(const std::string& path, std::string_view bytes) {
  log_.Add("files.AppendToFile " + path);
  const auto refused = [&](const std::string& why) {
    return IoError("Cannot open " + path + ": " + why, Cause::kCannotOpen,
                   {.subject = path, .detail = why});
  };
  if (read_only.count(path)) throw refused("Permission denied");
  if (!DirectoryExists(Parent(path))) throw refused("No such file or directory");
  files[path] += bytes;
}

bool FakeFileSystem::DeleteFile(const std::string& path) {
  log_.Add("files.DeleteFile " + path);
  if (undeletable.count(path) || !files.count(path)) return false;
  files.erase(path);
  return true;
}

std::vector<DirEntry> FakeFileSystem::ListDirectory(const std::string& dir) {
  log_.Add("files.ListDirectory " + dir);
  std::vector<DirEntry> entries;
  const std::string folder = NoTrailingSlash(dir);
  for (const auto& [path, bytes] : files) {
    if (Parent(path) == folder) entries.push_back({path.substr(path.find_last_of('/') + 1), false});
  }
  for (const std::string& sub : directories) {
    if (Parent(sub) == folder && sub != folder) {
      entries.push_back({sub.substr(sub.find_last_of('/') + 1), true});
    }
  }
  return entries;
}

void FakeFileSystem::MoveReplace(const std::string& from, const std::string& to) {
  log_.Add("files.MoveReplace " + from + " -> " + to);
  if (auto it = move_errors.find(from); it != move_errors.end()) {
    throw IoError("Cannot move " + from + ": " + it->second, Cause::kCannotMove,
                  {.subject = from, .other = to, .detail = it->second});
  }
  auto it = files.find(from);
  if (it == files.end()) {
    throw IoError("Cannot move " + from + ": No such file or directory", Cause::kCannotMove,
                  {.subject = from, .other = to, .detail = "No such file or directory"});
  }
  files[to] = it->second;
  if (times.count(from)) times[to] = times[from];
  files.erase(from);
}

void FakeFileSystem::ReplaceFile(const std::string& from, const std::string& to,
                                 const std::optional<DateTime>& last_write) {
  log_.Add("files.ReplaceFile " + from + " -> " + to +
           (last_write ? " at " + FormatDateTime(*last_write) : std::string()));
  const auto failure = [&](const std::string& path, Cause cause, const std::string& why) {
    return IoError(
        (cause == Cause::kCannotOpen ? "Cannot open " : "Cannot replace ") + path + ": " + why,
        cause, {.subject = path, .detail = why});
  };
  if (auto it = replace_errors.find(to); it != replace_errors.end()) {
    throw failure(to, Cause::kCannotReplace, it->second);
  }
  auto it = files.find(from);
  if (it == files.end()) throw failure(from, Cause::kCannotOpen, "No such file or directory");
  if (DirectoryExists(to)) throw failure(to, Cause::kCannotReplace, "Is a directory");
  files[to] = it->second;
  times.erase(to);
  if (times.count(from)) times[to] = times[from];
  if (last_write) times[to] = *last_write;
}

void FakeFileSystem::SetLastWriteTime(const std::string& path, const DateTime& last_write) {
  log_.Add("files.SetLastWriteTime " + path + " at " + FormatDateTime(last_write));
  if (!files.count(path)) throw IoError("Cannot set the time of " + path + ": No such file");
  times[path] = last_write;
}

std::optional<DateTime> FakeFileSystem::LastWriteTime(const std::string& path) {
  if (!files.count(path)) return std::nullopt;
  auto it = times.find(path);
  return it == times.end() ? DateTime{2000, 1, 1} : it->second;
}

FakeRegistry::Value* FakeRegistry::Find(const std::string& key, const std::string& name) {
  auto k = keys.find(cp1252::UpperAscii(key));
  if (k == keys.end()) return nullptr;
  auto v = k->second.find(cp1252::UpperAscii(name));
  return v == k->second.end() ? nullptr : &v->second;
}

void FakeRegistry::CountWrite(const std::string& name) {
  ++writes;
  if (fail_on_write != 0 && writes == fail_on_write) {
    throw Error("Cannot write registry value " + name);
  }
}

bool FakeRegistry::OpenKey(const std::string& key, bool create) {
  log_.Add("registry.OpenKey " + key);
  if (fail_open) return false;
  if (create) keys[cp1252::UpperAscii(key)];
  return keys.count(cp1252::UpperAscii(key)) > 0;
}

bool FakeRegistry::ValueExists(const std::string& key, const std::string& name) {
  return Find(key, name) != nullptr;
}

std::string FakeRegistry::ReadString(const std::string& key, const std::string& name) {
  Value* v = Find(key, name);
  if (v == nullptr || !v->is_string) throw Error("Invalid data type for '" + name + "'");
  return v->text;
}

std::int32_t FakeRegistry::ReadInteger(const std::string& key, const std::string& name) {
  Value* v = Find(key, name);
  if (v == nullptr || v->is_string) throw Error("Invalid data type for '" + name + "'");
  return v->number;
}

void FakeRegistry::WriteString(const std::string& key, const std::string& name,
                               const std::string& value) {
  log_.Add("registry.WriteString " + name + "=" + value);
  if (fail_open || !keys.count(cp1252::UpperAscii(key))) {
    throw Error("Failed to set data for '" + name + "'");
  }
  CountWrite(name);
  keys[cp1252::UpperAscii(key)][cp1252::UpperAscii(name)] = Value{true, value, 0};
}

void FakeRegistry::WriteInteger(const std::string& key, const std::string& name,
                                std::int32_t value) {
  log_.Add("registry.WriteInteger " + name + "=" + std::to_string(value));
  if (fail_open || !keys.count(cp1252::UpperAscii(key))) {
    throw Error("Failed to set data for '" + name + "'");
  }
  CountWrite(name);
  keys[cp1252::UpperAscii(key)][cp1252::UpperAscii(name)] = Value{false, {}, value};
}

bool FakeRegistry::DeleteValue(const std::string& key, const std::string& name) {
  log_.Add("registry.DeleteValue " + name);
  auto k = keys.find(cp1252::UpperAscii(key));
  return k != keys.end() && k->second.erase(cp1252::UpperAscii(name)) > 0;
}

void FakeTaskbar::Hide() {
  log_.Add("taskbar.Hide");
  if (fail) throw Error("Cannot hide the taskbar: window gone");
}

void FakeClock::Sleep(int milliseconds) {
  log_.Add("clock.Sleep " + std::to_string(milliseconds));
  slept_ms += milliseconds;
  if (on_sleep) on_sleep(milliseconds);
}

bool FakeDialogs::Confirm(const std::string& text) {
  log_.Add("dialogs.Confirm " + text);
  shown.push_back("Confirm: " + text);
  if (answers.empty()) return false;
  const bool answer = answers.front();
  answers.pop_front();
  return answer;
}

void FakeDialogs::Notify(const std::string& text, int kind) {
  log_.Add("dialogs.Notify" + std::to_string(kind) + " " + text);
  shown.push_back("Notify" + std::to_string(kind) + ": " + text);
}

void FakeDialogs::ShowMessage(const std::string& text) {
  log_.Add("dialogs.ShowMessage " + text);
  shown.push_back("Show: " + text);
}

void FakeDialogs::ShowException(const std::string& text) {
  log_.Add("dialogs.ShowException " + text);
  shown.push_back("Error: " + text);
  if (throw_on_exception) throw Error("error display failed: " + text);
}

void FakeDatabase::Connect(const std::string& connection_string) {
  log_.Add("database.Connect " + connection_string);
  last_connection_string = connection_string;
  if (fail_connect) throw Error("Cannot connect to database: refused");
  connected_ = true;
}

std::vector<DbRow> FakeDatabase::Query(const std::string& sql,
                                       const std::map<std::string, std::string>& params) {
  log_.Add("database.Query");
  last_sql = sql;
  last_params = params;
  if (fail_query) throw Error("Statement failed: no such column");
  return rows;
}

Dataset FakeDatasetFiles::Load(const std::string& path) {
  log_.Add("datasets.Load " + path);
  auto it = stored.find(path);
  if (it == stored.end()) throw Error("Cannot open " + path);
  return it->second;
}

void FakeDatasetFiles::Save(const std::string& path, const Dataset& data) {
  log_.Add("datasets.Save " + path);
  if (fail_save) throw Error("Cannot create " + path + ": Permission denied");
  stored[path] = data;
}

}  // namespace jov::testing
