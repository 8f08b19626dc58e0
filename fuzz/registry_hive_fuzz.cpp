// Fuzz target: any input either parses as a hive or raises Error; what parses writes back to
// a text that parses to the same hive.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/errors.h"
#include "platform/registry_hive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  jov::hive::Hive parsed;
  try {
    parsed = jov::hive::Parse(input, "fuzz.reg");
  } catch (const jov::Error&) {
    return 0;
  }
  const std::string text = jov::hive::Serialize(parsed);
  if (jov::hive::Serialize(jov::hive::Parse(text, "rewritten.reg")) != text) std::abort();
  return 0;
}
