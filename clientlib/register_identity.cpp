#include "clientlib/register_identity.h"

#include <exception>
#include <utility>

#include "platform/data_packet.h"
#include "platform/file_bytes.h"

namespace jov {
namespace {

// A header's value: printable ASCII only, bounded.
std::string HeaderSafe(const std::string& text) {
  std::string out = text.substr(0, 64);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
  }
  return out;
}

// The codes of the program folder's data files, the point-of-sale's first; empty when neither
// names them.
std::string IdentityFromFiles(const std::string& dir) {
  for (const char* file : {"/Mercato.cds", "/cdsFilialCaixa.cds"}) {
    try {
      const Dataset data = ParseDataPacket(ReadFileBytes(dir + file, 1 << 20), dir + file);
      if (data.rows.empty()) continue;
      const auto& row = data.rows.front();
      const auto filial = row.find("CDFILIAL");
      const auto caixa = row.find("CDCAIXA");
      if (filial == row.end() || caixa == row.end() || !filial->second || !caixa->second ||
          filial->second->empty() || caixa->second->empty()) {
        continue;
      }
      return HeaderSafe(*filial->second) + "/" + HeaderSafe(*caixa->second);
    } catch (const std::exception&) {
      // a missing or unreadable file names nobody
    }
  }
  return {};
}

}  // namespace

RegisterIdentity::RegisterIdentity(std::string program_dir)
    : program_dir_(std::move(program_dir)) {}

void RegisterIdentity::Set(const std::string& filial, const std::string& caixa) {
  const std::lock_guard<std::mutex> lock(mutex_);
  known_ = true;
  value_ = filial.empty() || caixa.empty() ? std::string()
                                           : HeaderSafe(filial) + "/" + HeaderSafe(caixa);
}

std::string RegisterIdentity::Value() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!known_) {
    value_ = IdentityFromFiles(program_dir_);
    known_ = !value_.empty();
  }
  return value_;
}

}  // namespace jov
