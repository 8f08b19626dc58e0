// The files the server hands out: archives of the updates folder and their signatures.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

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

// The regular files lying directly in folder whose names accepts takes, each with what lstat
// says of it, in the folder's order; none when it cannot be read. Links are passed over. Blocks
// while the folder is listed.
std::vector<std::pair<std::string, struct stat>> RegularFiles(
    const std::string& folder, bool (*accepts)(const std::string& name));

// A short text (16 hex digits) that changes whenever a file lying directly in the updates folder
// is added, removed or changed (its name, size or modification time). The download source the
// server gives carries it ("/files/@<generation>/"), so that a shop's cache, which keeps a file
// for five minutes, never hands out a file replaced since: a new generation is a new address.
// Blocks while the folder is listed.
std::string UpdatesGeneration(const std::string& updates);

// True when path lies inside folder, both as they resolve now.
bool Inside(const std::string& path, const std::string& folder);

}  // namespace appserver
