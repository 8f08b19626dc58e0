// Fuzz target: any text is either a release statement or refused with a reason, never a crash;
// a statement taken has the shape its reader promises and is written back as one that reads
// the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/file_names.h"
#include "protocol/release.h"

namespace p = jov::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const p::Parsed<p::Release> read = p::ReadRelease(text);
  if (read.ok() != read.why.empty()) std::abort();
  if (!read.ok()) return 0;
  const p::Release& release = *read.value;
  if (release.version < 1 || release.size < 0 || !p::SafeFileName(release.file) ||
      release.deltas.size() > p::kMaxReleaseDeltas) {
    std::abort();
  }
  for (const p::ReleaseDelta& delta : release.deltas) {
    if (!p::IsDeltaName(delta.file) || delta.file != p::DeltaNameOf(release.file, delta.from)) {
      std::abort();
    }
  }
  const std::string written = p::WriteRelease(release);
  if (written.size() > p::kMaxReleaseBytes) return 0;
  const p::Parsed<p::Release> again = p::ReadRelease(written);
  if (!again.ok() || !(*again.value == release)) std::abort();
  return 0;
}
