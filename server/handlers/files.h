// The files the server hands out: archives of the updates folder and their signatures.
#pragma once

#include <optional>
#include <string>

#include "server/http/message.h"

namespace appserver {

struct Context;

// "*.zip" and "*.sig", in any letter case.
bool IsArchiveName(const std::string& name);
bool IsSignatureName(const std::string& name);

// GET of a file lying directly in the subfolder of the updates folder, served as UpdateFile
// serves the released files but never signed on the fly: a rollout's files come signed.
http::Response ServeFile(const Context& context, const http::Request& request,
                         const std::string& subfolder);

// True when path lies inside folder, both as they resolve now.
bool Inside(const std::string& path, const std::string& folder);

}  // namespace appserver
