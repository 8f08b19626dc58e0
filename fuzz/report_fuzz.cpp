// Fuzz target: any text is either a report or refused with a reason, never a crash; a report
// taken is written back as one that reads the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/report.h"

namespace p = jov::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const p::Parsed<p::Report> read = p::ReadReport(text);
  if (read.ok() != read.why.empty()) std::abort();
  if (!read.ok()) return 0;
  const std::string written = p::WriteReport(*read.value);
  // Escaping may grow a report near the bound past it.
  if (written.size() > p::kMaxReportBytes) return 0;
  const p::Parsed<p::Report> again = p::ReadReport(written);
  if (!again.ok() || !(*again.value == *read.value)) std::abort();
  return 0;
}
