#include <cstdio>

#include "tools/wincmd/tools.h"

namespace wincmd {

int Net(int, char**) {
  std::fprintf(stderr, "net: not built yet\n");
  return 1;
}

}  // namespace wincmd
