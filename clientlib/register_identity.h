// Which register a start speaks for, as the X-Jov-Register header gives it.
#pragma once

#include <mutex>
#include <string>

namespace jov {

// The register's branch and register codes, "<CDFILIAL>/<CDCAIXA>"; bytes that a header cannot
// hold become "?". Until Set is called, the codes of "Mercato.cds", or else of
// "cdsFilialCaixa.cds", in the program folder are taken (read once, at the first Value that
// finds them). Thread-safe; Value may block on the disk until the codes are found.
class RegisterIdentity {
 public:
  explicit RegisterIdentity(std::string program_dir);
  // The codes for every later request; an empty one clears the identity.
  void Set(const std::string& filial, const std::string& caixa);
  // The value in force, empty while the codes are not known.
  std::string Value() const;

 private:
  const std::string program_dir_;
  mutable std::mutex mutex_;
  mutable bool known_ = false;  // by Set, or found in a file
  mutable std::string value_;
};

}  // namespace jov
