#include <cstdio>

#include "tools/wincmd/tools.h"

namespace wincmd {

int Taskkill(int, char**) {
  std::fprintf(stderr, "taskkill: not built yet\n");
  return 1;
}

}  // namespace wincmd
