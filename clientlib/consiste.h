// Consiste: small checks and helpers of the client library.
#pragma once

#include <string>

namespace Consiste {

template <typename T>
T iif(bool condition, T when_true, T when_false) {
  return condition ? when_true : when_false;
}

// A code shorter than width is left-padded with "0"; one at or over the width is unchanged.
std::string Ajusta(const std::string& code, int width);

// Checks a remote result: an "EXCEPT" reply raises with the server's text (from its eighth
// character on); otherwise returns the data packet it carries.
std::string CheckResultServ(const std::string& result, bool raise, int flags);

}  // namespace Consiste
