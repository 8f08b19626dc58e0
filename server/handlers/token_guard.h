// Slows down the guessing of the fleet token: wrong tries are counted per client address, and
// an address past its share of a minute is refused until the minute ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace appserver {

class TokenGuard {
 public:
  static constexpr int kWrongPerMinute = 10;
  static constexpr std::size_t kAddresses = 10000;  // addresses remembered at most

  // Whether the address is refused now (seconds since 1970). Any thread; never blocks long.
  bool Refused(const std::string& address, std::int64_t now);
  // Counts a wrong token from the address.
  void Wrong(const std::string& address, std::int64_t now);

 private:
  struct Tries {
    std::int64_t since = 0;  // the minute's start
    int wrong = 0;
  };
  std::mutex mutex_;
  std::map<std::string, Tries> tries_;
};

}  // namespace appserver
