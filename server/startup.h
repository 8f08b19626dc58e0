// jov-appserver's start: its command line, its fleet token and its fleet store.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "server/handlers/app_server.h"
#include "server/http/engine.h"

namespace appserver {

struct StartOptions {
  Options options;
  http::Limits limits;
  int threads = 4;       // reading and writing every connection, however many are open
  std::string fleet_db;  // as given; empty: the default one in the state folder
  std::string token_file;
};

// The options of the command line; nothing, with why, when one is unknown, incomplete or bad.
std::optional<StartOptions> ParseCommandLine(int argc, char** argv, std::string& why);

// The token in the file, less the blanks and line ends around it; empty, with why, when it
// cannot be had.
std::string ReadToken(const std::string& path, std::string& why);

// Opens the fleet store into start.options.fleet and returns the line that says where it is
// kept ("fleet: ...", without a connection string's password); empty when a store asked for
// with --fleet-db cannot be opened. The default store (in the state folder) is only opened
// when it can be. Failures go to log.
std::string OpenFleet(StartOptions& start, const std::function<void(const std::string&)>& log);

// Opens the rollouts in the fleet's database into start.options.rollouts, when a fleet store
// was opened, with the signing key of --signing-key for undoing. False, with the cause in
// log, when they cannot be opened.
bool OpenRollouts(StartOptions& start, const std::function<void(const std::string&)>& log);

}  // namespace appserver
