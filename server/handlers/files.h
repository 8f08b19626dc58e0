// The files the server hands out: archives of the updates folder and their signatures.
#pragma once

#include <optional>
#include <string>

namespace appserver {

// "*.zip" and "*.sig", in any letter case.
bool IsArchiveName(const std::string& name);
bool IsSignatureName(const std::string& name);

// True when path lies inside folder, both as they resolve now.
bool Inside(const std::string& path, const std::string& folder);

}  // namespace appserver
