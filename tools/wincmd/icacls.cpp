#include <cstdio>

#include "tools/wincmd/tools.h"

namespace wincmd {

int Icacls(int, char**) {
  std::fprintf(stderr, "icacls: not built yet\n");
  return 1;
}

}  // namespace wincmd
