#include <cstdio>

#include "tools/wincmd/tools.h"

namespace wincmd {

int Cmd(int, char**) {
  std::fprintf(stderr, "cmd: not built yet\n");
  return 1;
}

}  // namespace wincmd
