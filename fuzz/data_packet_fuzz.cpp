// Fuzz target: any input either reads as a data packet or raises Error; what reads writes
// back and reads again to the same dataset.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/data_packet.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  jov::Dataset first;
  try {
    first = jov::ParseDataPacket(input, "fuzz");
  } catch (const jov::Error&) {
    return 0;
  }
  const jov::Dataset second = jov::ParseDataPacket(jov::WriteDataPacket(first), "rewritten");
  if (second.rows != first.rows || second.fields.size() != first.fields.size()) std::abort();
  for (std::size_t i = 0; i < first.fields.size(); ++i) {
    const jov::DatasetField& a = first.fields[i];
    const jov::DatasetField& b = second.fields[i];
    if (a.name != b.name || a.type != b.type || a.width != b.width) std::abort();
  }
  return 0;
}
