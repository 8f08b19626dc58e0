// In-memory fakes of the platform interfaces: a setup API, a record of calls, injectable
// failures.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <set>

#include "platform/clock.h"
#include "platform/database.h"
#include "platform/dataset_files.h"
#include "platform/dialogs.h"
#include "platform/file_system.h"
#include "platform/host_path.h"
#include "platform/process_table.h"
#include "platform/program_launcher.h"
#include "platform/registry.h"
#include "platform/taskbar.h"
#include "tests/fakes/call_log.h"

namespace jov::testing {

class FakeProcessTable : public ProcessTable {
 public:
  explicit FakeProcessTable(CallLog& log) : log_(log) {}
  int Add(const std::string& exe_name);  // returns the new pid
  void Remove(int pid);
  std::vector<ProcessEntry> running;
  std::vector<int> terminated;
  std::set<int> refuse_terminate;  // pids whose termination fails
  bool fail_snapshot = false;      // Snapshot returns nothing
  bool terminate_removes = true;   // a terminated process leaves the table
  std::vector<ProcessEntry> Snapshot() override;
  bool Terminate(const ProcessEntry& process) override;

 private:
  CallLog& log_;
  int next_pid_ = 1000;
};

class FakeProgramLauncher : public ProgramLauncher {
 public:
  struct Start {
    std::string kind;  // "ShellExecute", "WinExec" or "WinExecAndWait"
    std::string program;
    std::string parameters;
  };
  explicit FakeProgramLauncher(CallLog& log) : log_(log) {}
  std::vector<Start> starts;
  std::function<void(const Start&)> on_start;  // e.g. make TASKKILL end a fake process
  bool wait_result = true;
  void ShellExecute(const std::string& program, const std::string& parameters) override;
  void WinExec(const std::string& command_line) override;
  bool WinExecAndWait(const std::string& command_line, int timeout_ms) override;

 private:
  CallLog& log_;
};

// Files in memory: paths are plain strings; a folder exists once created or once a file
// below it is written.
class FakeFileSystem : public FileSystem {
 public:
  explicit FakeFileSystem(CallLog& log) : log_(log) {}
  std::map<std::string, std::string> files;  // path -> bytes
  std::set<std::string> directories;         // without trailing "/"
  std::map<std::string, DateTime> times;
  std::set<std::string> read_only;                    // appending fails
  std::set<std::string> undeletable;                  // deleting fails
  std::map<std::string, std::string> move_errors;     // source path -> system text
  std::set<std::string> unwritable_dirs;              // folders that cannot be created
  std::map<std::string, std::string> replace_errors;  // target path -> system text

  void AddFile(const std::string& path, const std::string& bytes = {});
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  bool ForceDirectories(const std::string& path) override;
  void AppendToFile(const std::string& path, std::string_view bytes) override;
  bool DeleteFile(const std::string& path) override;
  std::vector<DirEntry> ListDirectory(const std::string& dir) override;
  void MoveReplace(const std::string& from, const std::string& to) override;
  std::optional<DateTime> LastWriteTime(const std::string& path) override;
  void SetLastWriteTime(const std::string& path, const DateTime& last_write) override;
  void ReplaceFile(const std::string& from, const std::string& to,
                   const std::optional<DateTime>& last_write = std::nullopt) override;

 private:
  CallLog& log_;
};

class FakeRegistry : public Registry {
 public:
  struct Value {
    bool is_string = true;
    std::string text;
    std::int32_t number = 0;
  };
  explicit FakeRegistry(CallLog& log) : log_(log) {}
  // key (upper case) -> value name (upper case) -> value
  std::map<std::string, std::map<std::string, Value>> keys;
  int writes = 0;
  int fail_on_write = 0;  // the Nth write (1-based) throws; 0 never
  bool fail_open = false;
  bool OpenKey(const std::string& key, bool create) override;
  bool ValueExists(const std::string& key, const std::string& name) override;
  std::string ReadString(const std::string& key, const std::string& name) override;
  std::int32_t ReadInteger(const std::string& key, const std::string& name) override;
  void WriteString(const std::string& key, const std::string& name,
                   const std::string& value) override;
  void WriteInteger(const std::string& key, const std::string& name, std::int32_t value) override;
  bool DeleteValue(const std::string& key, const std::string& name) override;

 private:
  Value* Find(const std::string& key, const std::string& name);
  void CountWrite(const std::string& name);
  CallLog& log_;
};

class FakeClock : public Clock {
 public:
  explicit FakeClock(CallLog& log) : log_(log) {}
  DateTime now{2026, 12, 8, 10, 30, 15};
  int slept_ms = 0;
  std::function<void(int)> on_sleep;  // lets a test change the world while "sleeping"
  DateTime Now() override { return now; }
  void Sleep(int milliseconds) override;

 private:
  CallLog& log_;
};

// Dialogs answered from a script; every message shown is recorded.
class FakeDialogs : public Dialogs {
 public:
  explicit FakeDialogs(CallLog& log) : log_(log) {}
  std::deque<bool> answers;         // Confirm answers in order; No when the script runs out
  std::vector<std::string> shown;   // "Confirm: text", "Notify3: text", "Show: ", "Error: "
  bool throw_on_exception = false;  // ShowException itself fails
  bool Confirm(const std::string& text) override;
  void Notify(const std::string& text, int kind) override;
  void ShowMessage(const std::string& text) override;
  void ShowException(const std::string& text) override;

 private:
  CallLog& log_;
};

class FakeDatabase : public Database {
 public:
  explicit FakeDatabase(CallLog& log) : log_(log) {}
  std::vector<DbRow> rows;  // what every query returns
  bool fail_connect = false;
  bool fail_query = false;
  std::string last_connection_string;
  std::string last_sql;
  std::map<std::string, std::string> last_params;
  void Connect(const std::string& connection_string) override;
  bool IsConnected() override { return connected_; }
  void Disconnect() override { connected_ = false; }
  std::vector<DbRow> Query(const std::string& sql,
                           const std::map<std::string, std::string>& params) override;

 private:
  CallLog& log_;
  bool connected_ = false;
};

class FakeDatasetFiles : public DatasetFiles {
 public:
  explicit FakeDatasetFiles(CallLog& log) : log_(log) {}
  std::map<std::string, Dataset> stored;
  bool fail_save = false;
  Dataset Load(const std::string& path) override;
  void Save(const std::string& path, const Dataset& data) override;

 private:
  CallLog& log_;
};

class FakeTaskbar : public Taskbar {
 public:
  explicit FakeTaskbar(CallLog& log) : log_(log) {}
  bool fail = false;  // Hide throws
  void Hide() override;

 private:
  CallLog& log_;
};

class FakeHostPath : public HostPath {
 public:
  std::string path = "/caixa/JOV.EXE";
  std::string ExecutablePath() override { return path; }
};

}  // namespace jov::testing
