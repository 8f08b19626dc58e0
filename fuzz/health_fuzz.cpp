// Fuzz target: any text is either a health event or refused with a reason, never a crash; an
// event taken is written back as one that reads the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/health.h"

namespace p = jov::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const p::Parsed<p::HealthEvent> read = p::ReadHealthEvent(text);
  if (read.ok() != read.why.empty()) std::abort();
  if (!read.ok()) return 0;
  const std::string written = p::WriteHealthEvent(*read.value);
  if (written.size() > p::kMaxHealthBytes) return 0;
  const p::Parsed<p::HealthEvent> again = p::ReadHealthEvent(written);
  if (!again.ok() || !(*again.value == *read.value)) std::abort();
  return 0;
}
