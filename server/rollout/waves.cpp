#include "server/rollout/waves.h"

#include <cctype>

#include "server/sign/signing.h"

namespace appserver::rollout {
namespace {

bool IsShare(std::string_view wave) { return !wave.empty() && wave.back() == '%'; }

// The P of "P%", or -1 when the text is not such a share.
int ShareOf(std::string_view wave) {
  if (!IsShare(wave) || wave.size() < 2 || wave.size() > 4) return -1;
  int value = 0;
  for (const char c : wave.substr(0, wave.size() - 1)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    value = value * 10 + (c - '0');
  }
  return value <= 100 ? value : -1;
}

bool ValidBranch(std::string_view code) {
  if (code.empty() || code.size() > 32) return false;
  for (const char c : code) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Calls visit with each code of a branch list, in order, until it returns true.
template <typename Visit>
bool AnyBranch(std::string_view wave, Visit visit) {
  for (;;) {
    const std::size_t comma = wave.find(',');
    if (visit(wave.substr(0, comma))) return true;
    if (comma == std::string_view::npos) return false;
    wave.remove_prefix(comma + 1);
  }
}

}  // namespace

bool ValidWave(std::string_view wave) {
  if (wave.size() > kMaxWaveBytes) return false;
  if (IsShare(wave)) return ShareOf(wave) >= 0;
  return !AnyBranch(wave, [](std::string_view code) { return !ValidBranch(code); });
}

int SharePoint(std::string_view filial, std::string_view caixa) {
  std::string key(filial);
  key += '/';
  key += caixa;
  const std::string hex = jov::sign::Sha256Hex(key).substr(0, 8);
  return static_cast<int>(std::stoul(hex, nullptr, 16) % 100);
}

bool InWave(std::string_view wave, std::string_view filial, std::string_view caixa) {
  if (!ValidWave(wave)) return false;
  if (IsShare(wave)) return SharePoint(filial, caixa) < ShareOf(wave);
  return AnyBranch(wave, [&](std::string_view code) { return code == filial; });
}

bool Reached(const std::vector<std::string>& waves, int reached, std::string_view filial,
             std::string_view caixa) {
  for (int i = 0; i <= reached && i < static_cast<int>(waves.size()); ++i) {
    if (InWave(waves[static_cast<std::size_t>(i)], filial, caixa)) return true;
  }
  return false;
}

}  // namespace appserver::rollout
