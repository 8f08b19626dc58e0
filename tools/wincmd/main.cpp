// wincmd: one binary, installed under several names; the name it is started by picks the tool.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/wincmd/tools.h"

namespace {

struct Tool {
  const char* name;
  int (*run)(int, char**);
};

constexpr Tool kTools[] = {
    {"ping", wincmd::Ping},   {"icacls", wincmd::Icacls}, {"TASKKILL", wincmd::Taskkill},
    {"cmd.exe", wincmd::Cmd}, {"cmd", wincmd::Cmd},       {"net", wincmd::Net},
};

int Dispatch(const char* name, int argc, char** argv) {
  for (const Tool& tool : kTools) {
    if (strcasecmp(tool.name, name) == 0) return tool.run(argc, argv);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const char* invoked = argc > 0 ? argv[0] : "wincmd";
  const char* slash = std::strrchr(invoked, '/');
  const char* name = slash ? slash + 1 : invoked;
  int code = Dispatch(name, argc - 1, argv + 1);
  if (code >= 0) return code;
  // Called as "wincmd TOOL ARGS...".
  if (argc > 1) {
    code = Dispatch(argv[1], argc - 2, argv + 2);
    if (code >= 0) return code;
  }
  std::fprintf(stderr, "uso: wincmd {ping|icacls|TASKKILL|cmd.exe|net} ARGUMENTOS...\n");
  return 2;
}
