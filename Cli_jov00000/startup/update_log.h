// The monthly update log in the staging folder, for support staff to read on the register.
#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/file_system.h"

namespace Cli_jov00000 {

// "Log_Baixa" + MMYY + ".txt" in dir (which ends with "/").
std::string LogFileName(const std::string& dir, const jov::DateTime& now);

// Appends one CR LF line: the text " " bare, any other text after the time stamp and " - ".
// Creates missing folders; opens, writes and closes the file per call. Throws IoError.
void AppendUpdateLog(jov::FileSystem& files, jov::Clock& clock, const std::string& dir,
                     const std::string& text);

}  // namespace Cli_jov00000
