// jov-appserver's start: its command line, its fleet token and its fleet store.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "server/fleet/fleet_store.h"
#include "server/handlers/app_server.h"
#include "server/http/engine.h"

namespace appserver {

struct StartOptions {
  Options options;
  http::Limits limits;
  int threads = 4;       // reading and writing every connection, however many are open
  std::string fleet_db;  // as given; empty: the default one in the state folder
  std::string token_file;
  std::string keys_file;       // --fleet-keys: registers' keys pinned before any report
  fleet::StoreSettings store;  // the observers are the caller's to set
};

// The options of the command line; nothing, with why, when one is unknown, incomplete or bad.
std::optional<StartOptions> ParseCommandLine(int argc, char** argv, std::string& why);

inline constexpr std::size_t kMinTokenChars = 16;

// The token in the file, less the blanks and line ends around it; empty, with why, when it
// cannot be had, when group or others may read the file, or when it is shorter than
// kMinTokenChars.
std::string ReadToken(const std::string& path, std::string& why);

// The keys of a --fleet-keys file: lines "FILIAL/CAIXA KEY" (KEY the base64 of a 32-byte
// Ed25519 public key); blank lines and lines starting with "#" are skipped. Nothing, with why
// naming the line, when a line is not such.
std::optional<std::map<std::string, std::string>> ReadFleetKeys(const std::string& path,
                                                                std::string& why);

// Opens the fleet store into start.options.fleet, and the rollouts kept in its database into
// start.options.rollouts (with the signing key of --signing-key for undoing), the store telling
// the rollouts of every report and health event it keeps. Returns the line that says where the
// fleet is kept ("fleet: ...", without a connection string's password); empty when a store
// asked for with --fleet-db, or the rollouts, cannot be opened. The default store (in the state
// folder) is only opened when it can be. Failures go to log.
std::string OpenFleet(StartOptions& start, const std::function<void(const std::string&)>& log);

}  // namespace appserver
