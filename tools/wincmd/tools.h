// The Windows system tools that the launcher runs by command line, one function each.
#pragma once

namespace wincmd {

// Each takes the arguments after the tool's name and returns the process exit code.
// Output is Windows-1252, as the Windows tool prints it on a Brazilian-Portuguese system.
int Ping(int argc, char** argv);
int Icacls(int argc, char** argv);
int Taskkill(int argc, char** argv);
int Cmd(int argc, char** argv);
int Net(int argc, char** argv);

}  // namespace wincmd
