// What the client library is configured with: working folder, server address, database.
#pragma once

#include <string>
#include <vector>

namespace jov {

class LibrarySettings {
 public:
  virtual ~LibrarySettings() = default;
  // The working folder, ending with "/"; downloads land there.
  virtual std::string WorkingDirectory() = 0;
  // The application server's host name or address, as configured (not checked).
  virtual std::string WebURL() = 0;
  virtual int WebPort() = 0;
  // The proxy to the server in libcurl's syntax; empty for none, whatever the environment says.
  virtual std::string Proxy() = 0;
  // The root under which the "C:\\..." folders are taken, ending with "/".
  virtual std::string DriveC() = 0;
  // The database connection string (Qt SQL provider and data source).
  virtual std::string ConnectionString() = 0;
  // What the start found wrong with its settings and folders, one log line each (Windows-1252):
  // values of clientlib.ini it rejected, an unreadable clientlib.ini, a program folder it
  // cannot write, a missing hive folder. None unless the implementation looks.
  virtual std::vector<std::string> StartProblems() { return {}; }
};

}  // namespace jov
