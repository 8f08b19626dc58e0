// Which registers a rollout's waves reach: a pure function of the waves and the register.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace appserver::rollout {

inline constexpr std::size_t kMaxWaves = 32;
inline constexpr std::size_t kMaxWaveBytes = 1024;

// A wave is either a share "P%" (P a whole number from 0 to 100) or one branch code or
// several joined by "," (each 1 to 32 letters or digits).
bool ValidWave(std::string_view wave);

// The register's point in the shares: the first 8 hex digits of SHA-256("FILIAL/CAIXA") as a
// number, mod 100. A register is in "P%" when its point is below P.
int SharePoint(std::string_view filial, std::string_view caixa);

// Whether the register is in this one wave (a wave that is not valid holds nobody).
bool InWave(std::string_view wave, std::string_view filial, std::string_view caixa);

// Whether the register is in any of the waves up to and including the one at index reached
// (waves are cumulative).
bool Reached(const std::vector<std::string>& waves, int reached, std::string_view filial,
             std::string_view caixa);

}  // namespace appserver::rollout
