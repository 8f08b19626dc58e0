#include "clientlib/consiste.h"

#include "platform/errors.h"

namespace Consiste {

std::string Ajusta(const std::string& code, int width) {
  if (width <= 0 || code.size() >= static_cast<std::size_t>(width)) return code;
  return std::string(static_cast<std::size_t>(width) - code.size(), '0') + code;
}

std::string CheckResultServ(const std::string& result, bool /*raise*/, int /*flags*/) {
  if (result.compare(0, 6, "EXCEPT") == 0) {
    const std::string text = result.size() > 7 ? result.substr(7) : std::string();
    throw jov::Error(text, jov::Cause::kServerError, {.detail = text});
  }
  return result;
}

}  // namespace Consiste
