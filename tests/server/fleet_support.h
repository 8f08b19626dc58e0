// Registers' update reports for tests of the fleet, and how a register sends one.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "server/sign/signing.h"

namespace jov::testing {

// A report of the shape "ReportUpdate" takes: the register's programs with their stamps
// ("YYYYMMDDHHMMSS"), and a failure when reason is not empty.
nlohmann::json FleetReport(const std::string& filial, const std::string& caixa,
                           const std::vector<std::pair<std::string, std::string>>& files,
                           const std::string& outcome = "nothing", const std::string& reason = "");

// A health event of the shape "ReportHealth" takes: the program ended by the signal.
nlohmann::json FleetHealth(const std::string& filial, const std::string& caixa,
                           const std::string& name, int signal);

// The object's text signed as a register signs it: "key" and "counter" added, then the
// signature of that text as its last member.
std::string Signed(nlohmann::json object, const jov::sign::SigningKey& key, std::int64_t counter);

// POSTs the text as "ReportUpdate"'s one argument; the status (0: no answer) and the body.
std::pair<int, std::string> SendReport(int port, const std::string& text);
// The same for "ReportHealth".
std::pair<int, std::string> SendHealth(int port, const std::string& text);

// GET of the path with the header "Authorization: Bearer <token>" unless the token is empty.
std::pair<int, std::string> GetFleet(int port, const std::string& path,
                                     const std::string& token = "");

}  // namespace jov::testing
