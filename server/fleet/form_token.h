// The fleet page's anti-forgery token: what a form of the page posts beside the fleet token, so
// that a page of elsewhere cannot make an operator's browser act.
#pragma once

#include <cstdint>
#include <string>

namespace appserver::fleet {

inline constexpr std::int64_t kFormTokenSeconds = 12 * 60 * 60;

// "<issued>.<HMAC-SHA256 of it, keyed with the fleet token, in hex>": made from the fleet token
// and the time alone, so that every server sharing the fleet token takes it and none keeps a
// list. now is seconds since 1970.
std::string IssueFormToken(const std::string& fleet_token, std::int64_t now);

// Whether form_token was issued with this fleet token less than kFormTokenSeconds before now
// (and not more than a minute after it, for servers whose clocks differ). Compares in constant
// time. False for an empty fleet token.
bool FormTokenValid(const std::string& fleet_token, const std::string& form_token,
                    std::int64_t now);

}  // namespace appserver::fleet
