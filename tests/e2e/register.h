// A whole register in a temporary folder, as the demo makes one: the built program folder,
// stand-in sibling programs, table CAIXA on SQLite, the registry hive, and optionally the
// reference application server on loopback.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/server/server_support.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {

struct RegisterOptions {
  std::string caixa = "001";  // "001" opens by hand, "002" by itself (sql/sqlite/caixa.sql)
  // Another branch gets a row in table CAIXA of a register that opens by hand.
  std::string filial = "0001";
  bool data_file = true;                 // "Mercato.cds" with the branch and register above
  bool server = true;                    // jov-appserver; false: a port nothing listens on
  std::vector<std::string> server_args;  // extra jov-appserver arguments ("--ask")
  int standin_seconds = 1;               // how long the stand-in "JovTab.exe" runs
  std::string ini_extra;                 // more of clientlib.ini ("[Update]\nPublicKey=...\n")
};

class TestRegister {
 public:
  explicit TestRegister(const RegisterOptions& options);
  ~TestRegister();

  const std::string& root() const { return dir_.path(); }
  std::string program() const { return dir_.path() + "/caixa"; }
  std::string updates() const { return dir_.path() + "/updates"; }
  // Writes bytes to root()/relative, creating folders; returns the full path.
  std::string Write(const std::string& relative, const std::string& bytes) const {
    return dir_.Write(relative, bytes);
  }
  // Points clientlib.ini at host:port (after the constructor has pointed it at its own).
  void PointAt(const std::string& host, int port);
  // Starts JOV.EXE on the display (":N"); its standard error goes to root()/launcher.err.
  std::unique_ptr<Process> Launch(const std::string& display,
                                  const std::vector<std::string>& env = {});
  // Bytes of this month's update log (Windows-1252); empty while there is none.
  std::string UpdateLog() const;
  // The lines the stand-ins wrote, "<name> [arg]...", without their time stamps.
  std::vector<std::string> StandinCalls() const;
  std::string Hive() const { return TempDir::Read(dir_.path() + "/HKLM.reg"); }

 private:
  void WriteIni(const std::string& host, int port);
  RegisterOptions options_;
  TempDir dir_;
  std::unique_ptr<AppServer> server_;
};

// Whether Xvfb, xdotool and sqlite3 are there (the install script brings them).
bool HaveRealWindowTools();

}  // namespace jov::testing
