#include <cstdio>

#include "tools/wincmd/tools.h"

namespace wincmd {

int Ping(int, char**) {
  std::fprintf(stderr, "ping: not built yet\n");
  return 1;
}

}  // namespace wincmd
