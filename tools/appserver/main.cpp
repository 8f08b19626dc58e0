// jov-appserver: the reference application server (placeholder until it is built).
#include <cstdio>

int main() {
  std::fprintf(stderr, "jov-appserver: not built yet\n");
  return 1;
}
